#include "contactsprinter.h"

#include "cardpreview.h"
#include "cardplan.h"
#include "cardtext.h"

#include "exportfile.h"

#include "store/runreporter.h"
#include "editor/photoimage.h"
#include "resources/ui/uiresources.h"

#include <QApplication>
#include <QBuffer>
#include <QImageReader>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QRawFont>

#include <QThreadPool>

#include <algorithm>
#include <future>
#include <map>
#include <memory>
#include <functional>
#include <malloc.h>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

// PDF output is laid out as on a screen-resolution printer.
constexpr int kPdfResolution = 96;
// Cards drawn between two write-backs of the PDF file: about a megabyte with photos.
constexpr int kCardsPerWriteBack = 256;

void setupPrinter(QPrinter& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
}

// The placeholder picture, decoded once for the process.
const QImage& placeholderImage() {
    static const QImage image = [] {
        tw_initUiResources();
        return QImage(QStringLiteral(":res/empty_contact.png"));
    }();
    return image;
}

// The photo decoded straight to the size of its box (keeping its aspect ratio): a JPEG is
// decoded at a fraction of its size, and nothing larger than the box is ever held. Null when
// it decodes neither as JPEG nor as PNG, or claims too many pixels.
QImage decodeFitted(const QByteArray& bytes, int box) {
    if (bytes.isEmpty() || box <= 0)
        return QImage();
    for (const char* format : {"JPEG", "PNG"}) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, format);
        const QSize size = reader.size();
        if (!size.isValid())
            continue;
        if (qint64(size.width()) * size.height() > kMaxPhotoPixels)
            return QImage();
        QSize fitted = size.scaled(box, box, Qt::KeepAspectRatio);
        fitted = fitted.expandedTo(QSize(1, 1));
        if (fitted != size)
            reader.setScaledSize(fitted);
        QImage image = reader.read();
        if (image.isNull())
            continue;
        if (image.size() != fitted)
            image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // Opaque pictures need no alpha: a PDF then carries them without a mask.
        if (!image.hasAlphaChannel() && image.format() != QImage::Format_RGB32)
            image = image.convertToFormat(QImage::Format_RGB32);
        return image;
    }
    return QImage();
}

// Reads the stored bytes of contacts' photos through a fetch that serves one thread at a
// time: the decoding threads take turns, and whoever holds it last has finished before the
// paint request returns.
class PhotoReader {
public:
    explicit PhotoReader(PhotoFetch fetch) : m_fetch(std::move(fetch)) {}

    static bool hasPhoto(const pim::_Contact& contact) {
        return !contact.entities.value(pim::ENTITY_PHOTO).isEmpty();
    }

    QByteArray read(const pim::_Contact& contact) {
        if (!hasPhoto(contact))
            return QByteArray();
        std::lock_guard<std::mutex> hold(m_lock);
        return g_firstPhotoBytes(contact, m_fetch);
    }

private:
    PhotoFetch m_fetch;
    std::mutex m_lock;
};

// The pictures of the cards of one layout: each photo read and decoded once, straight to its
// box, from its stored bytes (held by the contact, or read through the fetch). Reading a photo
// from the store and decoding it are most of a card's time, so the photos of the next cards
// are read and decoded on other threads while this one is drawn; only those few are held at a
// time. The placeholder is scaled once and shared by every card that shows it, so a PDF holds
// it once.
class CardImages {
public:
    CardImages(const QList<pim::_Contact>& contacts, PhotoFetch fetch, int box)
        : m_contacts(contacts),
          m_reader(std::make_shared<PhotoReader>(std::move(fetch))),
          m_box(box) {}

    // The tasks still running read through the fetch and the caller's store: both must
    // outlive them.
    ~CardImages() {
        for (auto& pending : m_pending)
            pending.second.wait();
    }
    CardImages(const CardImages&) = delete;
    CardImages& operator=(const CardImages&) = delete;

    // Has the texts of the next cards laid out on the other threads too, in copies of `fonts`,
    // for cards `width` pixels wide.
    void planTexts(const CardFonts& fonts, int width, Qt::LayoutDirection direction) {
        m_planFonts = std::make_shared<const CardFonts>(fonts.detached());
        m_planWidth = width;
        m_direction = direction;
    }

    struct Card {
        QImage picture;
        std::shared_ptr<const CardTexts> texts;  // null when not laid out ahead
    };

    // The picture of card `index`, the placeholder when it has no readable photo.
    Card forCard(int index, int lookAhead) {
        for (int i = std::max(index, m_queued); i < m_contacts.size() && i <= index + lookAhead;
             ++i)
            queue(i);
        m_queued = std::max(m_queued, index + lookAhead + 1);
        Card card;
        const auto it = m_pending.find(index);
        if (it != m_pending.end()) {
            card = it->second.get();
            m_pending.erase(it);
        } else if (index >= 0 && index < m_contacts.size()) {
            card.picture = decodeFitted(m_reader->read(m_contacts.at(index)), m_box);
        }
        // Pictures too large to decode safely get the placeholder, like unreadable ones.
        if (card.picture.isNull())
            card.picture = placeholder();
        return card;
    }

private:
    // Reads and decodes in the pool, where the card's texts are laid out too when asked for.
    // The task holds copies of what it uses.
    void queue(int index) {
        if (m_pending.count(index))
            return;
        const pim::_Contact& listed = m_contacts.at(index);
        if (!m_planFonts && !PhotoReader::hasPhoto(listed))
            return;
        const pim::_Contact contact = listed;
        const std::shared_ptr<PhotoReader> reader = m_reader;
        const int box = m_box;
        const std::shared_ptr<const CardFonts> fonts = m_planFonts;
        const int width = m_planWidth;
        const Qt::LayoutDirection direction = m_direction;
        auto task = std::make_shared<std::packaged_task<Card()> >([=] {
            Card card;
            const QByteArray bytes = reader->read(contact);
            if (!bytes.isEmpty())
                card.picture = decodeFitted(bytes, box);
            if (fonts) {
                const CardFonts own = fonts->detached();
                card.texts = std::make_shared<const CardTexts>(
                    planCard(contact, width, CardTexts(own, direction, nullptr)));
            }
            return card;
        });
        m_pending.emplace(index, task->get_future());
        QThreadPool::globalInstance()->start([task] { (*task)(); });
    }

    QImage placeholder() {
        if (m_placeholder.isNull() && !placeholderImage().isNull())
            m_placeholder = placeholderImage().scaled(m_box, m_box, Qt::KeepAspectRatio,
                                                      Qt::FastTransformation);
        return m_placeholder;
    }

    const QList<pim::_Contact>& m_contacts;
    std::shared_ptr<PhotoReader> m_reader;
    int m_box;
    int m_queued = 0;
    std::map<int, std::future<Card> > m_pending;
    QImage m_placeholder;
    std::shared_ptr<const CardFonts> m_planFonts;
    int m_planWidth = 0;
    Qt::LayoutDirection m_direction = Qt::LeftToRight;
};

// Draws one card with its top-left corner at `origin`, its texts laid out already; nothing
// leaves the card. A card whose texts all lie well inside it is drawn without a clip of its
// own: each clip costs the PDF a fresh graphics state. `fonts` are the painter's own.
void paintCard(QPainter& painter, QPoint origin, int w, int h, const QImage& picture,
               const CardTexts& texts, const CardFonts& fonts) {
    const CardMetrics m(w);

    // A card that needs its clip is drawn from a moved origin, as the clip's own coordinates:
    // the PDF then states the card's place once.
    const bool clipped = !texts.allWithin(QRect(0, 0, w, h));
    if (clipped) {
        painter.save();
        painter.translate(origin);
        painter.setClipRect(QRect(0, 0, w, h));
        origin = QPoint(0, 0);
    }
    painter.fillRect(QRect(origin, QSize(w, h)), QColor(255, 255, 255));
    QPen border(QBrush(QColor(185, 185, 187)), m.borderW, Qt::SolidLine, Qt::SquareCap,
                Qt::BevelJoin);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(
        QRect(QPoint(m.borderW / 2, m.borderW / 2), QPoint(w - 1 - m.borderW, h - 1 - m.borderW))
            .translated(origin));
    if (w >= 3 && !picture.isNull())
        painter.drawImage(origin + QPoint(m.pattern, m.pattern), picture);
    painter.setPen(QColor(0, 0, 0));
    texts.draw(painter, origin, fonts);
    if (clipped)
        painter.restore();
}

// How many photos are decoded ahead of the card being drawn.
int lookAhead() {
    return std::max(2, 2 * QThreadPool::globalInstance()->maxThreadCount());
}

// Draws the cards of `places` from `first` to `last` (inclusive) on the current page, decoding
// photos ahead up to card `aheadUntil`. False when `step` stopped it.
bool paintPlaces(QPainter& painter, const QVector<ContactsPrinter::CardPlace>& places, int first,
                 int last, int aheadUntil, const QList<pim::_Contact>& contacts, CardImages& images,
                 CardText& kept, const std::function<bool(int)>& step) {
    if (first > last)
        return true;
    const CardFonts fonts(painter, places.at(first).rect.width());
    for (int i = first; i <= last; ++i) {
        const ContactsPrinter::CardPlace& place = places.at(i);
        const int w = place.rect.width();
        const CardImages::Card card = images.forCard(i, std::min(lookAhead(), aheadUntil - i));
        if (card.texts) {
            paintCard(painter, place.rect.topLeft(), w, place.rect.height(), card.picture,
                      *card.texts, fonts);
        } else {
            paintCard(
                painter, place.rect.topLeft(), w, place.rect.height(), card.picture,
                planCard(contacts.at(i), w, CardTexts(fonts, painter.layoutDirection(), &kept)),
                fonts);
        }
        if (step && !step(i + 1))
            return false;
    }
    return true;
}

// Lays the cards out on the device's pages. `step` is called after each card with the number
// drawn so far; false stops (returns -1).
int paintCards(QPagedPaintDevice& device, QPainter& painter, QSizeF page, const QMarginsF& margins,
               const QList<pim::_Contact>& contacts, const PhotoFetch& fetch,
               const std::function<bool(int)>& step, bool textsAhead = false) {
    const QVector<ContactsPrinter::CardPlace> places =
        ContactsPrinter::layoutCards(contacts.size(), page, margins);
    if (places.isEmpty())
        return 0;
    CardImages images(contacts, fetch, std::max(1, places.first().rect.width() / 3));
    // Laying texts out is most of the drawing thread's work after the PDF's own: the next
    // cards' are laid out on the other threads meanwhile.
    if (textsAhead)
        images.planTexts(CardFonts(painter, places.first().rect.width()),
                         places.first().rect.width(), painter.layoutDirection());
    CardText kept;
    int first = 0;
    while (first < places.size()) {
        int last = first;
        while (last + 1 < places.size() && places.at(last + 1).page == places.at(first).page)
            ++last;
        if (first > 0)
            device.newPage();
        // The photos of the next page are decoded while this one is drawn.
        if (!paintPlaces(painter, places, first, last, places.size() - 1, contacts, images, kept,
                         step))
            return -1;
        first = last + 1;
    }
    return places.size();
}

// Qt's PDF engine takes two 10 MB buffers for every page it compresses. Served by mmap they
// cost a fresh mapping, its page faults and its unmapping per page: most of a long export's
// time. From the heap they are reused. Set once for the process; memory use stays the same.
void keepPageBuffersInTheHeap() {
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    });
}

// A PDF written by Qt ends with "startxref", the offset of its cross-reference table and
// "%%EOF"; a file cut short by a failed write does not.
bool pdfComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size < 32 || !file.seek(std::max<qint64>(0, size - 64)))
        return false;
    const QByteArray tail = file.readAll();
    const int at = tail.lastIndexOf("startxref");
    if (at < 0 || !tail.trimmed().endsWith("%%EOF"))
        return false;
    const QList<QByteArray> parts = tail.mid(at + 9).simplified().split(' ');
    bool ok = false;
    const qint64 xref = parts.value(0).toLongLong(&ok);
    if (!ok || xref <= 0 || xref >= size || !file.seek(xref))
        return false;
    return file.read(4) == "xref";
}

}  // namespace

ContactsPrinter::ContactsPrinter(QObject* parent) : QObject(parent), m_count(0) {}

ContactsPrinter::~ContactsPrinter() {}

QPixmap ContactsPrinter::renderCard(int w, int h, const pim::_Contact& contact) {
    QPixmap pixmap(std::max(1, w), std::max(1, h));
    QPainter painter(&pixmap);
    const QList<pim::_Contact> one{contact};
    CardImages images(one, PhotoFetch(), std::max(1, w / 3));
    CardText kept;
    const CardFonts fonts(painter, w);
    paintCard(painter, QPoint(0, 0), w, h, w >= 3 ? images.forCard(0, 0).picture : QImage(),
              planCard(contact, w, CardTexts(fonts, painter.layoutDirection(), &kept)), fonts);
    painter.end();
    return pixmap;
}

ContactsPrinter::PageLayout ContactsPrinter::pageLayout(QSizeF page, const QMarginsF& margins) {
    // The card width keeps its old proportion: the page rectangle's width less the margins,
    // in points, as they stand.
    const int W = std::max(2, static_cast<int>(page.width() - margins.left() - margins.right()));
    const int pageH = static_cast<int>(page.height());
    PageLayout lay;
    const int gap = W / 41;
    lay.cardW = std::max(1, (W - gap) / 2);
    lay.cardH = std::max(1, 10 * lay.cardW / 16);
    lay.leftX = std::max(0, static_cast<int>(margins.left()));
    lay.rightX = lay.leftX + gap + lay.cardW;
    lay.top = std::max(0, static_cast<int>(margins.top()));
    lay.rowStep = 45 * W / 570 + lay.cardH;
    if (lay.top + lay.cardH > pageH) {
        // Not even one row fits below the top margin (a short, wide paper): the card shrinks
        // to the height there is, keeping its proportion.
        lay.top = std::min(lay.top, std::max(0, pageH / 10));
        lay.cardH = std::max(1, pageH - lay.top);
        lay.cardW = std::min(lay.cardW, std::max(1, 16 * lay.cardH / 10));
        lay.cardH = std::min(lay.cardH, std::max(1, 10 * lay.cardW / 16));
        lay.rightX = lay.leftX + gap + lay.cardW;
        lay.rowStep = 45 * W / 570 + lay.cardH;
    }
    lay.rows = 1;
    while (lay.top + lay.rows * lay.rowStep + lay.cardH <= pageH)
        ++lay.rows;
    return lay;
}

QVector<ContactsPrinter::CardPlace> ContactsPrinter::layoutCards(int count, QSizeF page,
                                                                 const QMarginsF& margins) {
    QVector<CardPlace> places;
    if (count <= 0)
        return places;
    places.reserve(count);
    const PageLayout lay = pageLayout(page, margins);
    const int perPage = 2 * lay.rows;
    for (int i = 0; i < count; ++i) {
        const int onPage = i % perPage;
        const int x = onPage % 2 == 0 ? lay.leftX : lay.rightX;
        const int y = lay.top + (onPage / 2) * lay.rowStep;
        places.append({i / perPage, QRect(x, y, lay.cardW, lay.cardH)});
    }
    return places;
}

int ContactsPrinter::pageCount(int count, QSizeF page, const QMarginsF& margins) {
    if (count <= 0)
        return 0;
    const int perPage = 2 * pageLayout(page, margins).rows;
    return (count + perPage - 1) / perPage;
}

void ContactsPrinter::paintPage(QPainter& painter, const QList<pim::_Contact>& contacts, int page,
                                QSizeF pageSize, const QMarginsF& margins,
                                const PhotoFetch& fetch) {
    const PageLayout lay = pageLayout(pageSize, margins);
    const int perPage = 2 * lay.rows;
    const int first = page * perPage;
    const int last = std::min(contacts.size(), first + perPage) - 1;
    if (page < 0 || first > last)
        return;
    QVector<CardPlace> places(last + 1);
    for (int i = first; i <= last; ++i) {
        const int onPage = i - first;
        const int x = onPage % 2 == 0 ? lay.leftX : lay.rightX;
        places[i] = {page, QRect(x, lay.top + (onPage / 2) * lay.rowStep, lay.cardW, lay.cardH)};
    }
    CardImages images(contacts, fetch, std::max(1, lay.cardW / 3));
    CardText kept;
    paintPlaces(painter, places, first, last, last, contacts, images, kept, {});
}

void ContactsPrinter::onPaintRequested(QPrinter* printer) {
    m_count = 0;
    const QMarginsF margins = printer->pageLayout().margins(QPageLayout::Point);
    const QRectF pageRect = printer->pageRect(QPrinter::DevicePixel);

    QPainter painter;
    if (!painter.begin(printer)) {
        m_count = -1;
        return;
    }
    painter.setFont(QApplication::font());
    m_count = paintCards(*printer, painter, pageRect.size(), margins, m_contacts, m_photoFetch, {});
}

void ContactsPrinter::printContacts(const QList<pim::_Contact>& contacts) {
    m_contacts = contacts;
    m_error.clear();
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::NativeFormat);
    if (!printer.isValid())
        printer.setOutputFormat(QPrinter::PdfFormat);
    setupPrinter(printer);

    // A preview that draws the pages in view only: one that records every page first holds
    // the whole address book, photos and all, at print size.
    CardPreview dialog(&printer, m_contacts, m_photoFetch);
    dialog.setFixedSize(900, 700);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setModal(true);
    dialog.setWindowTitle(tr("IDS_PRINT_CONTACTS"));
    connect(&dialog, &CardPreview::printRequested, this, &ContactsPrinter::onPaintRequested);
    m_count = dialog.cardCount();
    dialog.exec();
}

int ContactsPrinter::writePdfThrow(const QList<pim::_Contact>& contacts, const QString& path,
                                   RunReporter* reporter, const PhotoFetch& fetch) {
    keepPageBuffersInTheHeap();
    ExportFile file(path);
    file.openThrow();
    const QMarginsF margins(20, 20, 20, 20);
    int count = 0;
    {
        QPdfWriter writer(file.device());
        writer.setResolution(kPdfResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, margins,
                                         QPageLayout::Point));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.checkThrow();
            g_throwText(g_systemErrorText(EIO));
        }
        painter.setFont(QApplication::font());
        const QSizeF page = writer.pageLayout().paintRectPixels(kPdfResolution).size();
        const int n = contacts.size();
        const QString status =
            QCoreApplication::translate("ExportToFileThread", "IDS_EXPORTING_CONTACTS_TO_FILE");
        int lastPercent = -1;
        const auto step = [&](int done) {
            // A file of thousands of photos takes a while to reach the disk: it goes there
            // while the next cards are drawn rather than all at the end.
            if (done % kCardsPerWriteBack == 0)
                file.startWriteBack();
            if (!reporter)
                return true;
            if (reporter->cancelled())
                return false;
            const int percent = static_cast<int>(static_cast<double>(done) / n * 100);
            if (percent != lastPercent || done == n) {
                lastPercent = percent;
                reporter->progress(
                    status, percent,
                    QCoreApplication::translate("ExportToFileThread", "Contacts:%1/%2")
                        .arg(done)
                        .arg(n));
            }
            return true;
        };
        count = paintCards(writer, painter, page, margins, contacts, fetch, step, true);
        if (count < 0)
            return -1;  // the writer is discarded with `file`
        // The PDF engine says nothing of a failed write: the device and the file's end tell.
        painter.end();
    }
    file.flushThrow();
    if (!pdfComplete(file.writingPath()))
        g_throwText(g_systemErrorText(EIO));
    // A cancel confirmed while the last cards were drawn, or still being asked about, leaves
    // the file that stood at the path as it was.
    if (reporter && reporter->cancelConfirmed())
        return -1;
    file.commitThrow();
    return count;
}

int ContactsPrinter::printToPDF(const QList<pim::_Contact>& contacts, QString path) {
    m_contacts = contacts;
    m_count = 0;
    m_error.clear();
    try {
        m_count = writePdfThrow(contacts, path, nullptr, m_photoFetch);
    } catch (const std::exception& e) {
        m_error = QString::fromUtf8(e.what());
        m_count = -1;
    }
    return m_count;
}
