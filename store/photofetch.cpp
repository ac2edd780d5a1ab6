#include "photofetch.h"

#include "localdb.h"

#include <exception>

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

PhotoFetch g_photoFetch(const QSharedPointer<LocalDb>& db) {
    const QWeakPointer<LocalDb> weak = db.toWeakRef();
    return [weak](const pim::Entity& photo) {
        const QSharedPointer<LocalDb> strong = weak.toStrongRef();
        return readPhoto(strong.data(), photo);
    };
}

PhotoFetch g_photoFetch(LocalDb* db) {
    return [db](const pim::Entity& photo) { return readPhoto(db, photo); };
}
