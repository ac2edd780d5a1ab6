// Contact photos as phones hold them: a real JPEG of about 30 KB (a 320-pixel square with
// colour gradients and noise, which compresses like a photograph and unlike a flat colour), on
// every other contact. Every bench that stores, lists, prints or sends photos uses these.
#ifndef TW_BENCH_BENCHPHOTO_H
#define TW_BENCH_BENCHPHOTO_H

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QRandomGenerator>
#include <QVector>

namespace benchphoto {

// Every how many contacts carries a photo: one in two.
constexpr int kEvery = 2;

inline bool hasPhoto(int i) {
    return i % kEvery == 0;
}

// A JPEG of about 30 KB; each seed gives a picture of its own.
inline QByteArray jpeg(int seed) {
    const int side = 320;
    const int noise = 22;
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator rng(static_cast<quint32>(seed) + 1);
    for (int y = 0; y < side; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const int n = static_cast<int>(rng.bounded(2 * noise + 1)) - noise;
            line[x] = qRgb(qBound(0, 255 * x / side + n, 255), qBound(0, 255 * y / side + n, 255),
                           qBound(0, (seed * 37 + (x + y) / 2) % 256 + n, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

// Making a picture takes milliseconds: a bench of thousands of contacts draws from a few dozen
// pictures, each contact holding bytes of its own (a deep copy, as a decoder would leave).
inline QByteArray forContact(int i) {
    static const QVector<QByteArray> pool = [] {
        QVector<QByteArray> v;
        for (int k = 0; k < 64; ++k)
            v << jpeg(k);
        return v;
    }();
    const QByteArray& p = pool.at(i % pool.size());
    return QByteArray(p.constData(), p.size());
}

}  // namespace benchphoto

#endif
