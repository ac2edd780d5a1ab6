// Photos listed without their bytes, and reading those bytes where a photo is shown or written.
#pragma once

#include "pim.h"

#include <QByteArray>
#include <QSharedPointer>

#include <functional>

class LocalDb;

// Reads the bytes of a photo entity that was listed without them.
using PhotoFetch = std::function<QByteArray(const pim::Entity& photo)>;

// True when the photo entity holds its bytes ("data15"), empty ones included.
bool g_photoBytesHeld(const pim::Entity& photo);

// The bytes of the contact's first photo: those it holds, else what `fetch` reads for it. Empty
// when it has no photo, or when its bytes were not loaded and there is no fetch.
QByteArray g_firstPhotoBytes(const pim::_Contact& contact, const PhotoFetch& fetch);

// Reads from the database for as long as it exists in the program, on a connection of the
// fetch's own (so it may read on one thread while a worker writes through the database's own
// connection on another). A failed read gives no bytes: the photo shows as missing, which is
// how an unreadable one shows.
PhotoFetch g_photoFetch(const QSharedPointer<LocalDb>& db);
// Reads through the database's own connection, on the thread that uses it; the database
// outlives the fetch.
PhotoFetch g_photoFetch(LocalDb* db);
