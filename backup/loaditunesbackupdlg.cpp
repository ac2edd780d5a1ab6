#include "loaditunesbackupdlg.h"

#include "ui/stylesheet.h"
#include "ui/tips.h"

#include <QBrush>
#include <QColor>
#include <QFileDialog>
#include <QFileInfo>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QSpacerItem>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const char* const g_columns[] = {"Name", "Backup Date", "Path"};
const char* const kBackupAccessHowTo = "http://www.tellwick.example/backup-access.html";

}  // namespace

ItemModelLoadBk::_BKItemNode::_BKItemNode(AbsTreeItemModel::_ItemNode* parent,
                                          QSharedPointer<BackupManifest> backup)
    : _ItemNode(0, backup ? backup->displayName : QString(), parent), manifest(backup) {}

ItemModelLoadBk::_BKItemNode::~_BKItemNode() = default;

ItemModelLoadBk::ItemModelLoadBk(QObject* parent) : AbsTreeItemModel(parent) {}

ItemModelLoadBk::~ItemModelLoadBk() = default;

AbsTreeItemModel::_ItemNode* ItemModelLoadBk::addBackup(QSharedPointer<BackupManifest> backup) {
    int p = roots.size();
    for (int i = 0; i < roots.size(); ++i) {
        const QDateTime rowDate = static_cast<_BKItemNode*>(roots.at(i))->manifest->info.date;
        const QDateTime newDate = backup->info.date;
        // A null date sorts before every valid date.
        const bool earlier =
            !rowDate.isValid() ? newDate.isValid() : (newDate.isValid() && rowDate < newDate);
        if (earlier) {
            p = i;
            break;
        }
    }
    beginInsertRows(QModelIndex(), p, p);
    _BKItemNode* node = new _BKItemNode(nullptr, backup);
    roots.insert(p, node);
    endInsertRows();
    return node;
}

int ItemModelLoadBk::columnCount(const QModelIndex&) const {
    return 3;
}

QVariant ItemModelLoadBk::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section <= 2)
        return QString::fromLatin1(g_columns[section]);
    return QVariant();
}

QVariant ItemModelLoadBk::data(const QModelIndex& index, int role) const {
    const _BKItemNode* node = static_cast<const _BKItemNode*>(nodeOf(index));
    if (!node || !node->manifest)
        return QVariant();
    const BackupManifest& b = *node->manifest;
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (index.column() == 0)
                return b.displayName;
            if (index.column() == 1)
                return b.info.date.isValid()
                           ? QLocale::system().toString(b.info.date, QLocale::ShortFormat)
                           : QString();
            if (index.column() == 2)
                return b.dir.absolutePath();
            return QVariant();
        case Qt::DecorationRole:
            if (index.column() == 0)
                return QPixmap(QStringLiteral(":res/iphone.png"))
                    .scaledToWidth(18, Qt::FastTransformation);
            return QVariant();
        case Qt::BackgroundRole:
            return index.row() % 2 == 0 ? QBrush(QColor(250, 250, 250, 255))
                                        : QBrush(QColor(255, 255, 255, 255));
        case Qt::SizeHintRole:
            return QSize(0, 25);
        default:
            return QVariant();
    }
}

QList<QSharedPointer<BackupManifest>> ItemModelLoadBk::backups() const {
    QList<QSharedPointer<BackupManifest>> list;
    for (const _ItemNode* n : roots)
        list.append(static_cast<const _BKItemNode*>(n)->manifest);
    return list;
}

void Ui_LoadItunesBackupDlg::setupUi(QDialog* dlg) {
    if (dlg->objectName().isEmpty())
        dlg->setObjectName(QStringLiteral("LoadItunesBackupDlg"));
    dlg->resize(600, 400);
    verticalLayout = new QVBoxLayout(dlg);
    verticalLayout->setSpacing(10);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(-1, 15, -1, 15);
    lbTitle = new QLabel(dlg);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    QSizePolicy fixedV(QSizePolicy::Preferred, QSizePolicy::Fixed);
    fixedV.setHeightForWidth(lbTitle->sizePolicy().hasHeightForWidth());
    lbTitle->setSizePolicy(fixedV);
    verticalLayout->addWidget(lbTitle);
    listBackups = new QTreeView(dlg);
    listBackups->setObjectName(QStringLiteral("listBackups"));
    listBackups->setIndentation(0);
    verticalLayout->addWidget(listBackups);
    lbAddOther = new QLabel(dlg);
    lbAddOther->setObjectName(QStringLiteral("lbAddOther"));
    QSizePolicy fixedV2(QSizePolicy::Preferred, QSizePolicy::Fixed);
    fixedV2.setHeightForWidth(lbAddOther->sizePolicy().hasHeightForWidth());
    lbAddOther->setSizePolicy(fixedV2);
    lbAddOther->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    verticalLayout->addWidget(lbAddOther);
    widget = new QWidget(dlg);
    widget->setObjectName(QStringLiteral("widget"));
    QSizePolicy fixedV3(QSizePolicy::Preferred, QSizePolicy::Fixed);
    fixedV3.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    widget->setSizePolicy(fixedV3);
    horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalSpacer = new QSpacerItem(250, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    btnLoad = new QPushButton(widget);
    btnLoad->setObjectName(QStringLiteral("btnLoad"));
    btnLoad->setStyleSheet(QStringLiteral("margin-right:15px;"));
    horizontalLayout->addWidget(btnLoad);
    btnCancel = new QPushButton(widget);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    horizontalLayout->addWidget(btnCancel);
    verticalLayout->addWidget(widget);

    retranslateUi(dlg);
    QObject::connect(btnCancel, SIGNAL(pressed()), dlg, SLOT(reject()));
}

void Ui_LoadItunesBackupDlg::retranslateUi(QDialog* dlg) {
    lbTitle->setText(
        QCoreApplication::translate("LoadItunesBackupDlg", "IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD"));
    dlg->setWindowTitle(lbTitle->text());
    lbAddOther->setText(QCoreApplication::translate(
        "LoadItunesBackupDlg", "IDS_NO_BACKUP_LISTED_THERE_CLICK_<a href=\"#\">Here</a>_ADD"));
    btnLoad->setText(QCoreApplication::translate("LoadItunesBackupDlg", "Load"));
    btnCancel->setText(QCoreApplication::translate("LoadItunesBackupDlg", "Cancel"));
}

LoadItunesBackupDlg::LoadItunesBackupDlg(QWidget* parent)
    : QDialog(parent), ui(new Ui_LoadItunesBackupDlg), movable(this), listModel(this) {
    ui->setupUi(this);
    connect(ui->lbAddOther, SIGNAL(linkActivated(QString)), this,
            SLOT(btnAddOtherClicked(QString)));
    connect(ui->btnLoad, SIGNAL(pressed()), this, SLOT(btnLoadClicked()));
    connect(ui->listBackups, SIGNAL(doubleClicked(QModelIndex)), this, SLOT(btnLoadClicked()));
    applyDialogLook(this);
    ui->listBackups->setModel(&listModel);

    for (const QDir& root : BackupManifest::iTunesBackupDirs()) {
        const QFileInfoList entries =
            root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
        for (const QFileInfo& entry : entries) {
            const QDir d(entry.absoluteFilePath());
            const bool hasIndex =
                QFile::exists(d.absoluteFilePath(QStringLiteral("Manifest.mbdb"))) ||
                QFile::exists(d.absoluteFilePath(QStringLiteral("Manifest.db")));
            if (!hasIndex || !QFile::exists(d.absoluteFilePath(QStringLiteral("Manifest.plist"))))
                continue;
            try {
                QSharedPointer<BackupManifest> b(new BackupManifest(d.absolutePath(), nullptr));
                b->readManifestInfo();
                listModel.addBackup(b);
            } catch (const std::exception& e) {
                qWarning("%s", e.what());
                Tips::error(tr("load %1 error. %2")
                                .arg(entry.absoluteFilePath(), QString::fromUtf8(e.what())));
            }
        }
    }
    ui->listBackups->setCurrentIndex(QModelIndex());
    if (listModel.rowCount() == 0)
        Tips::warning(
            tr("Can't find any backups. If you are using MacOS 10.14 or above,  please click ") +
            QStringLiteral("<a href=\"%1\">HERE</a>.").arg(QLatin1String(kBackupAccessHowTo)));
}

LoadItunesBackupDlg::~LoadItunesBackupDlg() {
    selected.reset();
    delete ui;
}

void LoadItunesBackupDlg::btnAddOtherClicked(QString) {
    const QString path = QFileDialog::getExistingDirectory(
        nullptr, QString(), QDir::home().absolutePath(), QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return;
    addOtherFolder(path);
}

void LoadItunesBackupDlg::addOtherFolder(const QString& path) {
    try {
        QSharedPointer<BackupManifest> b(new BackupManifest(path, nullptr));
        const QString md5 = b->dirPathMd5();
        for (const QSharedPointer<BackupManifest>& row : listModel.backups()) {
            if (row->dirPathMd5() == md5) {
                Tips::warning(tr("IDS_LOAD_BK_EXISTS"));
                return;
            }
        }
        b->readManifestInfo();
        AbsTreeItemModel::_ItemNode* node = listModel.addBackup(b);
        ui->listBackups->setCurrentIndex(listModel.indexOfItemNode(node));
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
        Tips::error(tr("load %1 error. %2").arg(path, QString::fromUtf8(e.what())));
    }
}

void LoadItunesBackupDlg::btnLoadClicked() {
    const auto* node = static_cast<const ItemModelLoadBk::_BKItemNode*>(
        AbsTreeItemModel::nodeOf(ui->listBackups->currentIndex()));
    if (!node) {
        Tips::warning(tr("IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP"));
        return;
    }
    selected = node->manifest;
    accept();
}

void LoadItunesBackupDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int w = event->size().width() - 80;
    QHeaderView* header = ui->listBackups->header();
    header->resizeSection(0, int(0.4 * w));
    header->resizeSection(1, int(0.25 * w));
    header->resizeSection(2, int(0.35 * w));
}
