// HTML (and Word) export: one XHTML page with a "photos" folder of contact pictures beside it.
#ifndef TW_EXPORT_HTMLEXPORT_H
#define TW_EXPORT_HTMLEXPORT_H

#include "absexport.h"

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

class HtmlExport : public AbsExport {
public:
    // Creates the "photos" folder inside outDir (and outDir itself); a failure is left to
    // show when the page is opened. Picture files are written completely or throw.
    explicit HtmlExport(QDir outDir);
    ~HtmlExport() override;

    QByteArray initialize(const QList<pim::_Contact>& contacts) override;
    QByteArray ct2Bytes(const pim::_Contact& contact) override;
    QByteArray uninitialize() override;

    QDir photosDirectory() const { return photosDir; }
    // Removes the pictures this export wrote, and the "photos" folder when it made it.
    void removeWritten();

private:
    // File name (inside photosDir) for the contact's photo, or "contact.png" when it has none
    // that decodes; writes the picture file.
    QString savePhoto(const pim::_Contact& contact);

    // Writes one picture file completely or throws with the system's text.
    void writePicture(const QString& name, const QByteArray& bytes);

    QDir photosDir;
    bool madePhotosDir = false;
    QStringList written;
    // Picture files written by this export under each row id, so that the next contact with
    // that id gets a fresh name without a search through the names already taken.
    QHash<unsigned long long, int> photosPerId;
};

#endif
