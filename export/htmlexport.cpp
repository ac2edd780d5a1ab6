#include "htmlexport.h"

#include "ui/appinfo.h"
#include "editor/entityformatters.h"
#include "editor/photoimage.h"
#include "resources/ui/uiresources.h"

#include "exportfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>

namespace {

const char kCrLf[] = "\r\n";
const QString kDefaultPhoto = QStringLiteral("contact.png");

// Everything taken from the contact is escaped: the page's own markup stays the only markup.
QString h(const QString& text) {
    return text.toHtmlEscaped();
}

QString text(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

// One titled list, each line by the display pane's formatter for the kind. The formatters give
// plain text except the address one, which escapes its own parts around its markup.
QString entitiesHtml(QString title, const QList<pim::Entity>& entities,
                     EntityFormatters::Formatter format) {
    const bool rich = format == &EntityFormatters::g_addrDisplay;
    QString out;
    out += QLatin1String("<div style=\"margin-bottom:20px;\">") + kCrLf;
    out += QLatin1String("<h2 class=\"ent_group\">") + title + QLatin1String("</h2>") + kCrLf;
    out += QLatin1String("<ul class=\"ent_list\">") + kCrLf;
    for (const pim::Entity& e : entities)
        out += QLatin1String("<li>") + (rich ? format(e) : h(format(e))) + QLatin1String("</li>") +
               kCrLf;
    out += QLatin1String("</ul>") + kCrLf + QLatin1String("</div>") + kCrLf;
    return out;
}

}  // namespace

HtmlExport::HtmlExport(const QString& pagePath)
    : m_folder(QFileInfo(pagePath).absoluteFilePath()), photosDir(m_folder.path()) {
    tw_initUiResources();
    // A relative reference: the page and its folder can move together.
    photosRef = h(QString::fromLatin1(QUrl::toPercentEncoding(m_folder.name())));
    // Only the folder itself: the page's own folder must exist as for any other export.
    if (!photosDir.exists())
        madePhotosDir = QDir().mkdir(photosDir.absolutePath());
}

void HtmlExport::writePicture(const QString& name, const QByteArray& bytes) {
    ExportFile file(photosDir.absoluteFilePath(name));
    file.openThrow();
    file.writeThrow(bytes);
    file.commitThrow();
    if (!written.contains(name))
        written << name;
}

void HtmlExport::removeWritten() {
    for (const QString& name : written)
        photosDir.remove(name);
    written.clear();
    if (madePhotosDir)
        photosDir.rmdir(photosDir.absolutePath());
}

void HtmlExport::removeReplaced() {
    m_folder.removeReplaced(referenced);
}

HtmlExport::~HtmlExport() {}

QByteArray HtmlExport::initialize(const QList<pim::_Contact>&) {
    static const char* const head[] = {
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">",
        "<html xmlns=\"http://www.w3.org/1999/xhtml\">",
        "<head>",
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />",
        nullptr,  // title
        "<style type=\"text/css\">",
        ".photo{float:left;margin:5px;border:1px solid #A9A9A9;}",
        ".ct_name{font-size:24px;font-weight:bold;font-style:italic;margin-bottom:20px;}",
        ".ent_group{padding:0;margin:0;font-size:20px; font-weight:bold; font-style:italic}",
        ".ent_list{margin:0; padding:0; list-style:none; font-size:18px}",
        "</style></head>",
        "<body style=\"background-color:#F1F5FB\">"};
    QString out;
    for (const char* line : head) {
        if (line)
            out += QLatin1String(line);
        else
            out += QStringLiteral("<title>%1</title>").arg(h(g_productTitle()));
        out += kCrLf;
    }

    // One already there is kept: it may be what the page being replaced shows.
    if (!QFile::exists(photosDir.absoluteFilePath(kDefaultPhoto))) {
        QFile placeholder(QStringLiteral(":res/empty_contact.png"));
        if (placeholder.open(QIODevice::ReadOnly))
            writePicture(kDefaultPhoto, placeholder.readAll());
    }
    return out.toUtf8();
}

QString HtmlExport::savePhoto(const pim::_Contact& contact) {
    const QList<pim::Entity> photos = contact.entities.value(pim::ENTITY_PHOTO);
    if (photos.isEmpty())
        return kDefaultPhoto;
    const QByteArray bytes = photos.first().fields.value(QStringLiteral("data15")).toByteArray();
    if (bytes.isEmpty())
        return kDefaultPhoto;
    // Pictures too large to decode safely count as unreadable.
    const QImage image = g_decodePhoto(bytes);
    if (image.isNull())
        return kDefaultPhoto;

    // Named by the row id (digits only, so always inside the folder). Contacts that share an
    // id, such as unsaved ones, get a file each so that every card shows its own picture, and
    // a name taken in the folder (by the page being replaced) is passed over. Ids are digits
    // only, so "<id>-<n>" never stands for another id's first file.
    int& n = photosPerId[contact._id];
    QString name;
    do {
        name = QString::number(contact._id);
        if (++n > 1)
            name += QLatin1Char('-') + QString::number(n);
        name += QLatin1String(".jpg");
    } while (QFileInfo::exists(photosDir.absoluteFilePath(name)));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", -1))
        return kDefaultPhoto;
    writePicture(name, jpeg);
    return name;
}

QByteArray HtmlExport::ct2Bytes(const pim::_Contact& contact) {
    QString out;
    out += QLatin1String("<div style=\"margin-bottom:50px;\">") + kCrLf;
    const QString picture = savePhoto(contact);
    referenced.insert(picture);
    out += QStringLiteral("<img class=\"photo\" src=\"%1/%2\" width=\"128\" />")
               .arg(photosRef, picture) +
           kCrLf;
    out += QLatin1String("<div class=\"ct_name\">") + kCrLf;

    QString name = h(contact.fullName);
    const QList<pim::Entity> nicks = contact.entities.value(pim::ENTITY_NICKNAME);
    if (!nicks.isEmpty() && !text(nicks.first(), "data1").isEmpty())
        name += QLatin1String("<br/>\"") + h(text(nicks.first(), "data1")) + QLatin1Char('"');
    const QList<pim::Entity> orgs = contact.entities.value(pim::ENTITY_ORG);
    if (!orgs.isEmpty()) {
        const pim::Entity& org = orgs.first();
        if (!text(org, "data4").isEmpty())
            name += QLatin1String("<br/>") + h(text(org, "data4"));
        if (!text(org, "data5").isEmpty())
            name += QLatin1String(" - ") + h(text(org, "data5"));
        if (!text(org, "data1").isEmpty())
            name += QLatin1String("<br/>") + h(text(org, "data1"));
    }
    out += name + kCrLf + QLatin1String("</div><div style=\"clear:both\"></div>") + kCrLf;

    EntityFormatters::g_forEachSection(
        contact, [&out](const QString& title, const QList<pim::Entity>& entities,
                        EntityFormatters::Formatter format) {
            out += entitiesHtml(title, entities, format);
        });
    out += QLatin1String("</div>") + kCrLf;
    return out.toUtf8();
}

QByteArray HtmlExport::uninitialize() {
    return QByteArray("</body></html>");
}
