// HTML (and Word) export: one XHTML page, with its contact pictures in a folder beside it named
// after the page ("contacts_files" beside "contacts.html").
#ifndef TW_EXPORT_HTMLEXPORT_H
#define TW_EXPORT_HTMLEXPORT_H

#include "absexport.h"

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

class HtmlExport : public AbsExport {
public:
    // Creates the pictures folder beside the page at pagePath (the page itself is the export
    // worker's to write); a failure shows when the first picture is written. Picture files are
    // written completely or throw.
    explicit HtmlExport(const QString& pagePath);
    ~HtmlExport() override;

    QByteArray initialize(const QList<pim::_Contact>& contacts) override;
    QByteArray ct2Bytes(const pim::_Contact& contact) override;
    QByteArray uninitialize() override;

    // The pictures folder's name for a page: its name without the last suffix, then "_files"
    // (the name shortened when the whole would be too long for the folder).
    static QString photosFolderName(const QString& pagePath);

    // Removes the pictures this export wrote, and the pictures folder when it made it.
    void removeWritten();

private:
    // File name (inside photosDir) for the contact's photo, or "contact.png" when it has none
    // that decodes; writes the picture file.
    QString savePhoto(const pim::_Contact& contact);

    // Writes one picture file completely or throws with the system's text.
    void writePicture(const QString& name, const QByteArray& bytes);

    QDir photosDir;
    QString photosRef;  // the folder as the page refers to it: percent-encoded, HTML-escaped
    bool madePhotosDir = false;
    QStringList written;
    // Picture files written by this export under each row id, so that the next contact with
    // that id gets a fresh name without a search through the names already taken.
    QHash<unsigned long long, int> photosPerId;
};

#endif
