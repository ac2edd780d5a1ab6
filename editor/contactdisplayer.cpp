#include "editor/contactdisplayer.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/tips.h"
#include "editor/entityeditors.h"
#include "editor/filedialogs.h"
#include "editor/photoimage.h"
#include "resources/ui/uiresources.h"

namespace {

const char* const kPhotoName = "imgPhoto";

QString field(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

// The user's own label when there is one (blanks count), else the table's text for the code
// ("Other" for a missing or non-numeric code, empty for a code the table lacks).
QString labelOf(const pim::Entity& e, const QMap<int, QString>& table) {
    const QString custom = field(e, "data3");
    if (!custom.isEmpty())
        return custom;
    return table.value(e.fields.value(QStringLiteral("data2")).toInt());
}

QString labelled(const pim::Entity& e, const QMap<int, QString>& table, const QString& value) {
    return QStringLiteral("%1:%2").arg(labelOf(e, table), value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Formatters

QString ContactDisplayer::g_phoneDisplay(const pim::Entity& e) {
    return labelled(e, pim::phoneTypeMap(), field(e, "data1"));
}

QString ContactDisplayer::g_emailDisplay(const pim::Entity& e) {
    return labelled(e, pim::emailTypeMap(), field(e, "data1"));
}

QString ContactDisplayer::g_eventDisplay(const pim::Entity& e) {
    // The calendar date as written: no zone conversion, and the time is never shown.
    const QDateTime dt = DateEntitiesEditor::parseStoredDate(field(e, "data1"));
    const QString date = dt.date().isValid()
                             ? DateEntitiesEditor::displayDate(dt.date(), QLocale::ShortFormat)
                             : QString();
    return labelled(e, pim::eventTypeMap(), date);
}

QString ContactDisplayer::g_imDisplay(const pim::Entity& e) {
    QString service = field(e, "data6");
    if (service.isEmpty())
        service = pim::imProtocolMap().value(e.fields.value(QStringLiteral("data5")).toInt());
    return QStringLiteral("%1:%2(%3)")
        .arg(labelOf(e, pim::imTypeMap()), field(e, "data1"), service);
}

QString ContactDisplayer::g_orgDisplay(const pim::Entity& e) {
    QString text = field(e, "data4");
    const QString department = field(e, "data5");
    if (!department.isEmpty())
        text += QLatin1Char(' ') + department;
    const QString company = field(e, "data1");
    if (!company.isEmpty())
        text += QLatin1Char(' ') + company;
    return labelled(e, pim::orgTypeMap(), text.trimmed());
}

QString ContactDisplayer::g_relDisplay(const pim::Entity& e) {
    return labelled(e, pim::relTypeMap(), field(e, "data1"));
}

QString ContactDisplayer::g_addrDisplay(const pim::Entity& e) {
    // Rich text: the data is escaped so that a "<" in a street cannot turn into markup.
    QString addr = e.formattedAddr().toHtmlEscaped();
    addr.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return QStringLiteral("<b>%1</b><br/>%2")
        .arg(labelOf(e, pim::addrTypeMap()).toHtmlEscaped(), addr);
}

QString ContactDisplayer::g_urlDisplay(const pim::Entity& e) {
    return labelled(e, pim::urlTypeMap(), field(e, "data1"));
}

QString ContactDisplayer::g_notesDisplay(const pim::Entity& e) {
    return field(e, "data1");
}

// ---------------------------------------------------------------------------------------------
// Pane

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

void ContactDisplayer::g_forEachSection(
    const pim::_Contact& contact,
    const std::function<void(const QString&, const QList<pim::Entity>&, Formatter)>& visit) {
    struct Section {
        const char* title;
        int type;
        Formatter formatter;
    };
    static const Section sections[] = {
        {"Phone:", pim::ENTITY_PHONE, &ContactDisplayer::g_phoneDisplay},
        {"E-Mail:", pim::ENTITY_EMAIL, &ContactDisplayer::g_emailDisplay},
        {"Date:", pim::ENTITY_EVENT, &ContactDisplayer::g_eventDisplay},
        {"IM:", pim::ENTITY_IM, &ContactDisplayer::g_imDisplay},
        {"Organization:", pim::ENTITY_ORG, &ContactDisplayer::g_orgDisplay},
        {"Relationship:", pim::ENTITY_REL, &ContactDisplayer::g_relDisplay},
        {"Address:", pim::ENTITY_ADDR, &ContactDisplayer::g_addrDisplay},
        {"Website:", pim::ENTITY_URL, &ContactDisplayer::g_urlDisplay},
        {"Notes:", pim::ENTITY_NOTES, &ContactDisplayer::g_notesDisplay},
    };
    for (const Section& s : sections) {
        QList<pim::Entity> list = contact.entities.value(s.type);
        if (s.type == pim::ENTITY_ORG && !list.isEmpty())
            list.removeFirst();
        if (!list.isEmpty())
            visit(QLatin1String(s.title), list, s.formatter);
    }
}
