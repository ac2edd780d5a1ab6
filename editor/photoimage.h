// Decoding of contact photos, shared by the display pane and the edit widget.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Pictures with more pixels than this are refused: a small file can claim a huge picture, and
// decoding it would hold the interface for seconds and take gigabytes.
constexpr qint64 kMaxPhotoPixels = 64LL * 1024 * 1024;

// The photo bytes decoded as JPEG, or as PNG when that fails. Null when neither works or the
// picture is too large.
QImage g_decodePhoto(const QByteArray& bytes);
// The same for a picture file.
QImage g_loadPhotoFile(const QString& path);
