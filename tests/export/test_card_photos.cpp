// Card photos read from a real database while the PDF is drawn: each lands on its own card, and
// the database's connection serves one reader at a time, never after the export has returned.
#include "export/contactsprinter.h"
#include "export_test_util.h"

#include "store/runreporter.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

using namespace exporttest;

namespace {

QColor photoColour(int k) {
    return QColor::fromHsv((k * 37) % 360, 255, 220);
}

QByteArray solidJpeg(const QColor& colour) {
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

// The JPEG images of a PDF written by Qt, in the order the file holds them (the order in which
// they were first drawn).
QList<QImage> pdfJpegs(const QByteArray& pdf) {
    QList<QImage> out;
    int at = 0;
    while ((at = pdf.indexOf("/Subtype /Image", at)) >= 0) {
        const int stream = pdf.indexOf("stream\n", at);
        if (stream < 0)
            break;
        const bool jpeg = pdf.mid(at, stream - at).contains("/DCTDecode");
        at = stream + 7;
        if (!jpeg)
            continue;
        const int end = pdf.indexOf("endstream", at);
        if (end < 0)
            break;
        out << QImage::fromData(pdf.mid(at, end - at), "JPEG");
    }
    return out;
}

// Whether the middle of the picture has about that colour (JPEG moves it a little).
bool looksLike(const QImage& image, const QColor& colour) {
    const QColor middle = image.pixelColor(image.width() / 2, image.height() / 2);
    return std::abs(middle.red() - colour.red()) < 24 &&
           std::abs(middle.green() - colour.green()) < 24 &&
           std::abs(middle.blue() - colour.blue()) < 24;
}

// A fetch through the database's own connection that notes readers overlapping and reads
// made after the export returned. Each read takes a little while, as a cold page cache does.
struct WatchedFetch {
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0};
    std::atomic<int> reads{0};
    std::atomic<bool> returned{false};
    std::atomic<int> late{0};

    PhotoFetch over(LocalDb* db) {
        const PhotoFetch inner = g_photoFetch(db);
        return [this, inner](const pim::Entity& photo) {
            if (returned)
                ++late;
            const int now = ++inFlight;
            int most = mostInFlight;
            while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
            }
            QThread::msleep(2);
            const QByteArray bytes = inner(photo);
            ++reads;
            --inFlight;
            return bytes;
        };
    }
};

struct CancelAfter : RunReporter {
    explicit CancelAfter(int cards) : cards(cards) {}
    int cards;
    int asked = 0;
    bool cancelled() override { return ++asked > cards; }
    void progress(QString, int, QString) override {}
    void succeed(QString) override {}
    void error(QString) override {}
};

}  // namespace

TEST(CardPhotos, EachStoredPhotoLandsOnItsOwnCardReadOneAtATime) {
    TempDb store;
    QList<pim::_Contact> book;
    for (int i = 0; i < 40; ++i) {
        // Names that sort as they are numbered; every other contact has a photo of its own colour.
        pim::_Contact c = contact(QStringLiteral("Person %1").arg(i, 2, 10, QLatin1Char('0')),
                                  {{pim::ENTITY_PHONE, ent({{"data1", "555"}, {"data2", "2"}})}});
        if (i % 2 == 0)
            c.entities[pim::ENTITY_PHOTO] << ent({{"data15", solidJpeg(photoColour(i))}});
        book << c;
    }
    const QList<pim::_Contact> listed = store.storeAndReload(book);
    ASSERT_EQ(listed.size(), 40);
    ASSERT_FALSE(g_photoBytesHeld(listed.at(0).entities.value(pim::ENTITY_PHOTO).value(0)));

    QTemporaryDir dir;
    WatchedFetch watch;
    const QString path = dir.filePath("cards.pdf");
    ASSERT_EQ(ContactsPrinter::writePdfThrow(listed, path, nullptr, watch.over(store.db.data())),
              40);
    watch.returned = true;
    EXPECT_EQ(watch.reads, 20);
    EXPECT_EQ(watch.mostInFlight, 1);

    // The file holds the photos in card order, the placeholder once at the first card without
    // one: card i shows the colour of contact i.
    const QList<QImage> images = pdfJpegs(readFile(path));
    ASSERT_EQ(images.size(), 21);
    int image = 0;
    for (int i = 0; i < 40; ++i) {
        if (i == 1) {
            ++image;  // the placeholder
            continue;
        }
        if (i % 2)
            continue;
        EXPECT_TRUE(looksLike(images.at(image), photoColour(i))) << "card " << i;
        ++image;
    }

    // A cancel while the next cards' photos are still being read: the export returns only
    // after the last read through the connection has ended.
    WatchedFetch cancelled;
    CancelAfter cancel(2);
    EXPECT_EQ(ContactsPrinter::writePdfThrow(listed, dir.filePath("c.pdf"), &cancel,
                                             cancelled.over(store.db.data())),
              -1);
    cancelled.returned = true;
    const int readsAtReturn = cancelled.reads;
    QThread::msleep(100);
    EXPECT_EQ(cancelled.late, 0);
    EXPECT_EQ(cancelled.reads, readsAtReturn);
    EXPECT_EQ(cancelled.inFlight, 0);
    EXPECT_EQ(cancelled.mostInFlight, 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("c.pdf")));
}
