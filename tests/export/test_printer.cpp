// Card printing: page layout through real PDF files, cards, and the preview dialog.
#include "export/cardpreview.h"
#include "export/contactsprinter.h"
#include "export_test_util.h"
#include "tests/timing.h"
#include "export/pdfexportthread.h"

#include "store/runreporter.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cctype>

using namespace exporttest;

namespace {

// Page count of a PDF written by Qt: the /Count of its page tree.
int pdfPages(const QByteArray& pdf) {
    const int pages = pdf.indexOf("/Type /Pages");
    const int count = pages < 0 ? -1 : pdf.indexOf("/Count", pages);
    if (count < 0)
        return -1;
    int end = count + 6;
    while (end < pdf.size() && pdf.at(end) == ' ')
        ++end;
    int digits = end;
    while (digits < pdf.size() && isdigit(static_cast<unsigned char>(pdf.at(digits))))
        ++digits;
    return digits > end ? pdf.mid(end, digits - end).toInt() : -1;
}

QList<pim::_Contact> cards(int n) {
    QList<pim::_Contact> list;
    for (int i = 0; i < n; ++i) {
        list << contact(QStringLiteral("Person %1").arg(i),
                        {{pim::ENTITY_PHONE, ent({{"data1", "555"}, {"data2", "2"}})},
                         {pim::ENTITY_ADDR, ent({{"data4", "A very long street name that wraps"},
                                                 {"data7", "Town"},
                                                 {"data2", "1"}})}});
    }
    return list;
}

// Share of pixels in a region that are not the card's white background.
double inkIn(const QImage& img, const QRect& r) {
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                ++ink;
    return double(ink) / (r.width() * r.height());
}

// `n` cards of which every other one has a photo listed without its bytes (as the store lists
// them); `fetch` reads them, counting the reads per contact.
struct ListedPhotos {
    explicit ListedPhotos(int n) {
        for (int i = 0; i < n; ++i) {
            pim::_Contact c = contact(QStringLiteral("Person %1").arg(i), {});
            c._id = quint64(i + 1);
            if (i % 2 == 0) {
                pim::Entity photo = ent({{"data4", "hash"}});
                photo._id = quint64(1000 + i);
                c.entities[pim::ENTITY_PHOTO] << photo;
            }
            list << c;
        }
        fetch = [this](const pim::Entity& photo) {
            ++reads[int(photo._id) - 1000];
            return imageBytes("JPEG", 320, 320);
        };
    }
    QList<pim::_Contact> list;
    QMap<int, int> reads;
    PhotoFetch fetch;
};

// The images a PDF written by Qt carries: width and height of each.
QList<QSize> pdfImages(const QByteArray& pdf) {
    QList<QSize> out;
    const QRegularExpression image(
        "/Subtype /Image\\s*/Width (\\d+)\\s*/Height (\\d+)[^>]{0,200}?/Filter /DCTDecode");
    // The whole file: a QByteArray alone would be cut at its first NUL byte.
    auto it = image.globalMatch(QString::fromLatin1(pdf.constData(), pdf.size()));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out << QSize(m.captured(1).toInt(), m.captured(2).toInt());
    }
    return out;
}

}  // namespace

TEST(ContactsPrinter, PdfPagesAndCounts) {
    QTemporaryDir dir;
    ContactsPrinter printer;
    const QString nine = dir.filePath("nine.pdf");
    EXPECT_EQ(printer.printToPDF(cards(9), nine), 9);
    EXPECT_EQ(pdfPages(readFile(nine)), 2);
    const QString eight = dir.filePath("eight.pdf");
    EXPECT_EQ(printer.printToPDF(cards(8), eight), 8);
    EXPECT_EQ(pdfPages(readFile(eight)), 1);
    const QString none = dir.filePath("none.pdf");
    EXPECT_EQ(printer.printToPDF({}, none), 0);
    EXPECT_TRUE(readFile(none).startsWith("%PDF"));

    // A PDF that cannot be written is reported as a failure, not as exported cards.
    writeFile(dir.filePath("file"), "x");
    EXPECT_EQ(printer.printToPDF(cards(2), dir.filePath("file/out.pdf")), -1);
    EXPECT_FALSE(printer.errorString().isEmpty());
}

TEST(ContactsPrinter, PageLayout) {
    // A 555-pixel page rectangle with 20-point margins: four rows of two 251 x 156 cards.
    const ContactsPrinter::PageLayout lay =
        ContactsPrinter::pageLayout(QSizeF(555, 800), QMarginsF(20, 20, 20, 20));
    EXPECT_EQ(lay.cardW, 251);
    EXPECT_EQ(lay.cardH, 156);
    EXPECT_EQ(lay.leftX, 20);
    EXPECT_EQ(lay.rightX, 20 + 12 + 251);
    EXPECT_EQ(lay.top, 20);
    EXPECT_EQ(lay.rowStep, 196);
    EXPECT_EQ(lay.rows, 4);
    EXPECT_EQ(lay.top + 3 * lay.rowStep, 608);
}

// Every card on exactly one page, wholly inside that page's rectangle, for the papers and
// orientations a user picks in the preview; the PDF has as many pages as the layout.
TEST(ContactsPrinter, EveryCardOnOnePageForEachPaper) {
    struct Paper {
        QPageSize::PageSizeId size;
        QPageLayout::Orientation orientation;
        int perPage;  // cards on a full page
    };
    const Paper papers[] = {{QPageSize::A4, QPageLayout::Portrait, 8},
                            {QPageSize::A4, QPageLayout::Landscape, 4},
                            {QPageSize::Letter, QPageLayout::Portrait, 6},
                            {QPageSize::Letter, QPageLayout::Landscape, 4},
                            {QPageSize::A6, QPageLayout::Landscape, 4}};
    for (const Paper& paper : papers) {
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(paper.size));
        printer.setPageOrientation(paper.orientation);
        printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
        const QSizeF page = printer.pageRect(QPrinter::DevicePixel).size();
        const QMarginsF margins = printer.pageLayout().margins(QPageLayout::Point);
        const QString what = QStringLiteral("%1 %2").arg(paper.size).arg(paper.orientation);
        for (int n : {1, 7, 18, 25}) {
            const QVector<ContactsPrinter::CardPlace> places =
                ContactsPrinter::layoutCards(n, page, margins);
            ASSERT_EQ(places.size(), n) << what.toStdString();
            QMap<int, QList<QRect>> byPage;
            for (const ContactsPrinter::CardPlace& p : places) {
                EXPECT_TRUE(QRectF(QPointF(0, 0), page).contains(p.rect)) << what.toStdString();
                for (const QRect& other : byPage.value(p.page))
                    EXPECT_FALSE(other.intersects(p.rect)) << what.toStdString();
                byPage[p.page] << p.rect;
            }
            EXPECT_EQ(byPage.size(), (n + paper.perPage - 1) / paper.perPage)
                << what.toStdString() << " " << n;
        }
    }

    // Through the real printer: the cards of every size land on the pages laid out.
    QList<pim::_Contact> mixed = cards(9);
    mixed << contact("Only Name", {}) << everyType("Everything <&>");
    for (QPageLayout::Orientation o : {QPageLayout::Portrait, QPageLayout::Landscape}) {
        QTemporaryDir dir;
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("p.pdf"));
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setPageOrientation(o);
        printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
        const QList<pim::_Contact> list = mixed;
        // The preview's request against the printer the user set up.
        ContactsPrinter preview;
        preview.setContacts(list);
        preview.onPaintRequested(&printer);
        EXPECT_EQ(preview.cardCount(), list.size());
        const int perPage = o == QPageLayout::Portrait ? 6 : 4;
        EXPECT_EQ(pdfPages(readFile(dir.filePath("p.pdf"))), (list.size() + perPage - 1) / perPage);
    }
}

TEST(ContactsPrinter, CardContent) {
    // 251 x 156: photo box 83 x 83 at (6, 6); text column from x = 91.
    const pim::_Contact nameOnly = contact("Only Name", {});
    const QImage plain = ContactsPrinter::renderCard(251, 156, nameOnly).toImage();
    ASSERT_EQ(plain.size(), QSize(251, 156));
    EXPECT_EQ(plain.pixel(0, 0), qRgb(185, 185, 187));      // border
    EXPECT_EQ(plain.pixel(125, 150), qRgb(255, 255, 255));  // background
    EXPECT_GT(inkIn(plain, QRect(6, 6, 83, 83)), 0.05);     // placeholder picture
    EXPECT_GT(inkIn(plain, QRect(91, 6, 150, 14)), 0.0);    // the name line
    EXPECT_EQ(inkIn(plain, QRect(91, 30, 150, 100)), 0.0);  // nothing else

    pim::_Contact full = cards(1).first();
    full.entities[pim::ENTITY_PHOTO].append(ent({{"data15", QByteArray("not an image")}}));
    for (int code : {3, 1, 12, 2, 0})
        full.entities[pim::ENTITY_PHONE].append(ent({{"data1", "1"}, {"data2", code}}));
    full.entities[pim::ENTITY_EVENT].append(ent({{"data1", "1980-01-31T00:00:00"}, {"data2", 3}}));
    const QImage rich = ContactsPrinter::renderCard(251, 156, full).toImage();
    EXPECT_GT(inkIn(rich, QRect(6, 6, 83, 83)), 0.05);  // undecodable photo: placeholder
    EXPECT_GT(inkIn(rich, QRect(91, 30, 150, 100)), inkIn(plain, QRect(91, 30, 150, 100)));

    // A wider card (landscape) gets metrics of its own width.
    const QImage wide = ContactsPrinter::renderCard(502, 312, nameOnly).toImage();
    EXPECT_EQ(wide.pixel(1, 1), qRgb(185, 185, 187));  // border 2 pixels wide
    EXPECT_EQ(ContactsPrinter::renderCard(251, 156, nameOnly).toImage().pixel(1, 1),
              qRgb(255, 255, 255));
}

TEST(ContactsPrinter, OversizedPhotoGetsPlaceholder) {
    // A photo claiming 100 megapixels is not decoded: the card is the one drawn without a photo.
    const QByteArray& huge = oversizedPng();
    ASSERT_LT(huge.size(), 1024 * 1024);
    const pim::_Contact plain = contact("Huge", {});
    const pim::_Contact withHuge = contact("Huge", {{pim::ENTITY_PHOTO, ent({{"data15", huge}})}});
    QElapsedTimer timer;
    timer.start();
    const QImage card = ContactsPrinter::renderCard(251, 156, withHuge).toImage();
    EXPECT_LT(timer.elapsed(), kMarginMs);
    EXPECT_TRUE(card == ContactsPrinter::renderCard(251, 156, plain).toImage());

    // A normal photo is still drawn instead of the placeholder.
    const pim::_Contact photo =
        contact("Huge", {{pim::ENTITY_PHOTO, ent({{"data15", imageBytes("PNG", 40, 40)}})}});
    const QImage drawn = ContactsPrinter::renderCard(251, 156, photo).toImage();
    EXPECT_EQ(drawn.pixel(40, 40), qRgb(200, 40, 40));
}

TEST(ContactsPrinter, PreviewLaysOutAllCards) {
    ContactsPrinter printer;
    QString title;
    QTimer::singleShot(0, [&title] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            title = w->windowTitle();
            w->close();
        }
    });
    printer.printContacts(cards(3));
    EXPECT_EQ(title, "IDS_PRINT_CONTACTS");
    EXPECT_EQ(printer.cardCount(), 3);
}

// The PDF worker's run: progress by percent, one success text, and a cancel that leaves the
// earlier file as it was.
TEST(PdfExportThread, ProgressSuccessAndCancel) {
    struct Recorder : RunReporter {
        int cancelAt = -1;
        int asked = 0;
        bool lateCancel = false;  // confirmed while the last cards were drawn
        QList<int> percents;
        QStringList succeeded, errors;
        bool cancelled() override { return ++asked == cancelAt; }
        bool cancelConfirmed() override { return lateCancel; }
        void progress(QString, int percent, QString) override { percents << percent; }
        void succeed(QString m) override { succeeded << m; }
        void error(QString m) override { errors << m; }
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("cards.pdf");
    Recorder r;
    PdfExportThread::run(cards(300), path, r);
    EXPECT_EQ(r.succeeded, QStringList({"IDS_SUC_EXPORT_300_CONTACTS_TO_FILE"}));
    EXPECT_TRUE(r.errors.isEmpty());
    EXPECT_EQ(r.percents.size(), 101);
    EXPECT_EQ(r.percents.last(), 100);
    EXPECT_EQ(pdfPages(readFile(path)), 38);

    writeFile(path, "%PDF earlier");
    Recorder rc;
    rc.cancelAt = 150;
    PdfExportThread::run(cards(300), path, rc);
    EXPECT_TRUE(rc.succeeded.isEmpty());
    EXPECT_TRUE(rc.errors.isEmpty());
    EXPECT_EQ(readFile(path), QByteArray("%PDF earlier"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"cards.pdf"}));

    // A cancel confirmed after the last card, before the file is made final: no word, and the
    // earlier file stays.
    Recorder late;
    late.lateCancel = true;
    PdfExportThread::run(cards(30), path, late);
    EXPECT_TRUE(late.succeeded.isEmpty());
    EXPECT_TRUE(late.errors.isEmpty());
    EXPECT_EQ(readFile(path), QByteArray("%PDF earlier"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"cards.pdf"}));
}

// Listed photos are read one card at a time and go into the PDF as JPEG images of the size of
// their box, never at their stored size; a contact without a photo shares the placeholder.
TEST(ContactsPrinter, PdfReadsListedPhotosAndCarriesThemAtTheirBoxSize) {
    QTemporaryDir dir;
    ListedPhotos book(20);
    const QString path = dir.filePath("photos.pdf");
    ASSERT_EQ(ContactsPrinter::writePdfThrow(book.list, path, nullptr, book.fetch), 20);
    for (int i = 0; i < 20; i += 2)
        EXPECT_EQ(book.reads.value(i), 1) << i;
    EXPECT_EQ(book.reads.size(), 10);
    const QList<QSize> images = pdfImages(readFile(path));
    // Ten photos, each fitted to the box of an A4 card at 96 dpi, and no photo larger.
    const ContactsPrinter::PageLayout lay =
        ContactsPrinter::pageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                                QMarginsF(20, 20, 20, 20), QPageLayout::Point)
                                        .paintRectPixels(96)
                                        .size(),
                                    QMarginsF(20, 20, 20, 20));
    // Ten photos and the one placeholder that every card without a photo shares, each the
    // size of the box (the test photo and the placeholder are square).
    EXPECT_EQ(images.size(), 11);
    for (const QSize& s : images)
        EXPECT_EQ(s, QSize(lay.cardW / 3, lay.cardW / 3));

    // Without a fetch, listed photos show the placeholder: the file holds no photo of theirs.
    const QString plain = dir.filePath("plain.pdf");
    ASSERT_EQ(ContactsPrinter::writePdfThrow(book.list, plain, nullptr), 20);
    EXPECT_EQ(pdfImages(readFile(plain)).size(), 1);

    // A cancel while photos are being decoded ahead stops cleanly.
    struct CancelAt : RunReporter {
        int asked = 0;
        bool cancelled() override { return ++asked == 3; }
        void progress(QString, int, QString) override {}
        void succeed(QString) override {}
        void error(QString) override {}
    } cancel;
    EXPECT_EQ(ContactsPrinter::writePdfThrow(book.list, dir.filePath("c.pdf"), &cancel, book.fetch),
              -1);
}

// The preview draws the pages in view only, reads only their photos, and lays the cards out
// again for the orientation chosen.
TEST(CardPreview, DrawsOnlyThePagesInView) {
    ListedPhotos book(200);
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
    CardPreview preview(&printer, book.list, book.fetch);
    preview.resize(900, 700);
    preview.show();
    preview.grab();
    EXPECT_EQ(preview.cardCount(), 200);
    EXPECT_EQ(preview.pageCount(), 25);
    EXPECT_GE(preview.pagesHeld(), 1);
    EXPECT_LE(preview.pagesHeld(), 2);
    // The first page's photos only.
    EXPECT_EQ(book.reads.value(0), 1);
    EXPECT_FALSE(book.reads.contains(198));
    EXPECT_LE(book.reads.size(), 8);
    // Cards were drawn: besides the white paper and the grey around it, the view shows ink.
    auto* view = preview.findChild<QAbstractScrollArea*>();
    ASSERT_NE(view, nullptr);
    const QImage shot = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int ink = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            ink +=
                shot.pixel(x, y) != qRgb(255, 255, 255) && shot.pixel(x, y) != qRgb(128, 128, 128);
    EXPECT_GT(ink, shot.width() * shot.height() / 100);

    preview.setOrientation(QPageLayout::Landscape);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_EQ(preview.pageCount(), 50);
    for (QScrollBar* bar : preview.findChildren<QScrollBar*>()) {
        if (bar->orientation() == Qt::Vertical)
            bar->setValue(bar->maximum());
    }
    preview.grab();
    EXPECT_LE(preview.pagesHeld(), 2);
    EXPECT_EQ(book.reads.value(198), 1);  // the last page's photo, read once
    EXPECT_FALSE(book.reads.contains(100));
}
