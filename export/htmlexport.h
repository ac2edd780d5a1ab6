// HTML (and Word) export: one XHTML page, with its contact pictures in a folder beside it that
// no other page uses ("contacts_files" beside "contacts.html"; see PageFolder).
#ifndef TW_EXPORT_HTMLEXPORT_H
#define TW_EXPORT_HTMLEXPORT_H

#include "absexport.h"
#include "pagefolder.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class HtmlExport : public AbsExport {
public:
    // Creates the pictures folder beside the page at pagePath (the page itself is the export
    // worker's to write); a failure shows when the first picture is written. Picture files are
    // written completely or throw, each under a name no file in the folder has yet: a page
    // being replaced keeps its pictures until the new one is in place.
    explicit HtmlExport(const QString& pagePath);
    ~HtmlExport() override;

    QByteArray initialize(const QList<pim::_Contact>& contacts) override;
    QByteArray ct2Bytes(const pim::_Contact& contact) override;
    QByteArray uninitialize() override;

    // After a failure or a cancel: removes the pictures this export wrote, and the pictures
    // folder when it made it.
    void removeWritten();
    // Once the page is in place: removes the pictures of the page it replaced.
    void removeReplaced();

private:
    // File name (inside photosDir) for the contact's photo, or "contact.png" when it has none
    // that decodes; writes the picture file.
    QString savePhoto(const pim::_Contact& contact);

    // Writes one picture file completely or throws with the system's text.
    void writePicture(const QString& name, const QByteArray& bytes);

    PageFolder m_folder;
    QDir photosDir;
    QString photosRef;  // the folder as the page refers to it: percent-encoded, HTML-escaped
    bool madePhotosDir = false;
    QStringList written;
    QSet<QString> referenced;  // the names the page refers to
    // The last number tried for each row id's pictures, so that the next contact with that id
    // goes on from there rather than searching through the names already taken.
    QHash<unsigned long long, int> photosPerId;
};

#endif
