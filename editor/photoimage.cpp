#include "photoimage.h"

#include <QBuffer>
#include <QImageReader>

namespace {

QImage readAs(QImageReader& reader) {
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPhotoPixels)
        return QImage();
    return reader.read();
}

}  // namespace

QImage g_decodePhoto(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return QImage();
    for (const char* format : {"JPEG", "PNG"}) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, format);
        const QImage img = readAs(reader);
        if (!img.isNull())
            return img;
    }
    return QImage();
}

QImage g_loadPhotoFile(const QString& path) {
    for (const char* format : {"JPEG", "PNG"}) {
        QImageReader reader(path, format);
        const QImage img = readAs(reader);
        if (!img.isNull())
            return img;
    }
    return QImage();
}
