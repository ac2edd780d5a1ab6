#include "photofetch.h"

#include "localdb.h"

#include <exception>
#include <memory>

namespace {

QByteArray readPhoto(LocalDb* db, const pim::Entity& photo) {
    if (!db)
        return QByteArray();
    try {
        return db->photo(photo._id);
    } catch (const std::exception&) {
        return QByteArray();
    }
}

}  // namespace

bool g_photoBytesHeld(const pim::Entity& photo) {
    return photo.fields.contains(QStringLiteral("data15"));
}

QByteArray g_firstPhotoBytes(const pim::_Contact& contact, const PhotoFetch& fetch) {
    const auto it = contact.entities.constFind(pim::ENTITY_PHOTO);
    if (it == contact.entities.constEnd() || it->isEmpty())
        return QByteArray();
    const pim::Entity& photo = it->first();
    if (g_photoBytesHeld(photo))
        return photo.fields.value(QStringLiteral("data15")).toByteArray();
    return fetch ? fetch(photo) : QByteArray();
}

namespace {

// Reads photos on a connection of its own: the list and the pane read while a worker writes
// through the database's connection, whose statements belong to one thread at a time. Its page
// cache is small, since each photo passes through it once.
class PhotoReader {
public:
    explicit PhotoReader(const QString& path)
        : m_db(path, QSharedPointer<AbsContactCombineRule>()) {}
    QByteArray read(const pim::Entity& photo) {
        if (!m_db.isOpen()) {
            m_db.open_check();
            m_db.db().executeThrow("pragma cache_size=-1024");
        }
        return readPhoto(&m_db, photo);
    }

private:
    LocalDb m_db;
};

}  // namespace

PhotoFetch g_photoFetch(const QSharedPointer<LocalDb>& db) {
    if (!db)
        return PhotoFetch();
    const QWeakPointer<LocalDb> weak = db.toWeakRef();
    const auto reader = std::make_shared<PhotoReader>(db->path());
    return [weak, reader](const pim::Entity& photo) {
        // A database that left the program has no photos to show.
        if (!weak.toStrongRef())
            return QByteArray();
        try {
            return reader->read(photo);
        } catch (const std::exception&) {
            return QByteArray();
        }
    };
}

PhotoFetch g_photoFetch(LocalDb* db) {
    return [db](const pim::Entity& photo) { return readPhoto(db, photo); };
}
