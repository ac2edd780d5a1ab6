#include "contactdisplayer.h"

#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/tips.h"
#include "filedialogs.h"
#include "photoimage.h"
#include "resources/ui/uiresources.h"

namespace {

const char* const kPhotoName = "imgPhoto";

QString field(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

}  // namespace

ContactDisplayer::ContactDisplayer(QWidget* parent) : QScrollArea(parent) {
    tw_initUiResources();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The scroll area sizes the content: the viewport's width, and the height its wrapped
    // lines need at that width (a long name wraps, and the department and company below it
    // must stay visible); the scroll range follows every resize.
    setWidgetResizable(true);
    clear();
}

ContactDisplayer::~ContactDisplayer() = default;

void ContactDisplayer::replaceContent() {
    // The old content may still be on the call stack (a click that leads here), so it goes
    // later; it stays our child until then so nothing leaks if no event loop runs again.
    if (QWidget* old = takeWidget()) {
        old->hide();
        old->setParent(this);
        old->deleteLater();
    }
    m_contentWidget = new QWidget(this);
    m_contentLayout = nullptr;
}

void ContactDisplayer::clear() {
    replaceContent();
    m_shownContact = pim::_Contact();
    m_shownPhoto.clear();
    setWidget(m_contentWidget);
}

void ContactDisplayer::showContact(const pim::_Contact* contact) {
    if (!contact) {
        clear();
        return;
    }
    // Copy first: the caller's contact may live inside what is being replaced.
    const pim::_Contact shown = *contact;
    replaceContent();
    m_shownContact = shown;
    m_shownPhoto = g_firstPhotoBytes(m_shownContact, m_photoFetch);

    m_contentLayout = new QVBoxLayout(m_contentWidget);
    m_contentLayout->setContentsMargins(15, 0, 15, 15);

    auto* header = new QWidget(m_contentWidget);
    auto* headerLayout = new QHBoxLayout(header);

    auto* photo = new QLabel(header);
    photo->setAccessibleName(QLatin1String(kPhotoName));
    photo->setFixedSize(128, 128);
    photo->setStyleSheet(QStringLiteral("border:1px solid #A9A9A9;"));
    const QImage img = g_decodePhoto(m_shownPhoto);
    if (!img.isNull()) {
        photo->setPixmap(QPixmap::fromImage(img.scaledToWidth(128, Qt::FastTransformation)));
        photo->installEventFilter(this);
        photo->setCursor(Qt::PointingHandCursor);
    } else {
        photo->setPixmap(QPixmap(QStringLiteral(":res/empty_contact.png")));
    }
    headerLayout->addWidget(photo, 0, Qt::AlignTop);

    QString name = m_shownContact.fullName;
    const QList<pim::Entity> nicknames = m_shownContact.entities.value(pim::ENTITY_NICKNAME);
    if (!nicknames.isEmpty()) {
        const QString nick = field(nicknames.first(), "data1");
        if (!nick.isEmpty())
            name += QStringLiteral("\n\"") + nick + QLatin1Char('"');
    }
    const QList<pim::Entity> orgs = m_shownContact.entities.value(pim::ENTITY_ORG);
    if (!orgs.isEmpty()) {
        const QString title = field(orgs.first(), "data4");
        const QString department = field(orgs.first(), "data5");
        const QString company = field(orgs.first(), "data1");
        if (!title.isEmpty())
            name += QLatin1Char('\n') + title;
        if (!department.isEmpty())
            name += QStringLiteral(" - ") + department;
        if (!company.isEmpty())
            name += QLatin1Char('\n') + company;
    }
    auto* nameLabel = new QLabel(header);
    nameLabel->setObjectName(QStringLiteral("lbName"));
    nameLabel->setTextFormat(Qt::PlainText);  // names are data, never markup
    nameLabel->setText(name);
    nameLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    nameLabel->setWordWrap(true);
    nameLabel->setStyleSheet(QStringLiteral("font-size:21px;font-weight:bold;font-style:italic"));
    headerLayout->addWidget(nameLabel, 0, Qt::AlignTop);
    m_contentLayout->addWidget(header, 0, Qt::AlignTop);

    g_forEachSection(m_shownContact,
                     [this](const QString& title, const QList<pim::Entity>& entities,
                            Formatter formatter) { showEntities(title, entities, formatter); });

    setWidget(m_contentWidget);
}

void ContactDisplayer::showEntities(QString title, const QList<pim::Entity>& entities,
                                    Formatter formatter) {
    if (!m_contentWidget || !m_contentLayout || !formatter)
        return;
    auto* section = new QWidget(m_contentWidget);
    section->setStyleSheet(QStringLiteral("font-size:16px;"));
    auto* layout = new QVBoxLayout(section);

    auto* titleLabel = new QLabel(title, section);
    titleLabel->setStyleSheet(QStringLiteral("font-size:18px;font-style:italic;font-weight:bold;"));
    layout->addWidget(titleLabel, 0, Qt::AlignTop);

    // Only the address formatter makes markup (with its data escaped); every other line is
    // data and is shown as plain text, whatever it looks like.
    const Qt::TextFormat format =
        formatter == &ContactDisplayer::g_addrDisplay ? Qt::RichText : Qt::PlainText;
    for (const pim::Entity& e : entities) {
        auto* line = new QLabel(section);
        line->setTextFormat(format);
        line->setText(formatter(e));
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->setWordWrap(true);
        layout->addWidget(line, 0, Qt::AlignTop);
    }
    m_contentLayout->addWidget(section, 0, Qt::AlignTop);
}

bool ContactDisplayer::eventFilter(QObject* watched, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->accessibleName() != QLatin1String(kPhotoName) ||
        event->type() != QEvent::MouseButtonPress)
        return QScrollArea::eventFilter(watched, event);
    if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        savePhoto();
    return true;
}

void ContactDisplayer::savePhoto() {
    // The name is a file name in the home folder, never a path into a folder below it.
    QString name = m_shownContact.fullName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString proposed = QDir(QDir::homePath()).absoluteFilePath(name + QStringLiteral(".jpg"));
    const QString path = g_editorSaveFileName(proposed);
    if (path.isEmpty())
        return;
    // Written through a temporary file: a failed write reports its error and leaves any file
    // that was there untouched instead of truncated.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        Tips::warning(file.errorString());
        return;
    }
    if (file.write(m_shownPhoto) != m_shownPhoto.size() || !file.commit())
        Tips::warning(file.errorString());
}
