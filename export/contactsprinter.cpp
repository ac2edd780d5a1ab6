#include "contactsprinter.h"

#include "editor/photoimage.h"
#include "resources/ui/uiresources.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>

namespace {

// Card metrics follow the card width; kept between cards so that they are computed only when
// the width changes (a preview switched to landscape lays out wider cards).
struct CardMetrics {
    int width = -1;
    int fontSize = 0;
    int lineSep = 0;
    int pattern = 0;
    int borderW = 0;
};

const CardMetrics& metricsFor(int w) {
    static CardMetrics m;
    if (m.width != w) {
        m.width = w;
        m.fontSize = 12 * w / 339;
        m.lineSep = w / 113;
        m.pattern = 10 * w / 399;
        m.borderW = 2 * w / 399;
    }
    return m;
}

QString text(const pim::Entity& e, const char* key) {
    return e.text(QLatin1String(key));
}

void setupPrinter(QPrinter& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
}

// Draws a bold italic label and, after it, its value in normal type; returns the height used.
// Leaves `font` bold italic when the value is empty, upright and normal otherwise.
int drawEntityVal(QPainter& painter, QFont& font, int x, int y, int width, QString label,
                  QString value, bool sameLine) {
    font.setWeight(QFont::Bold);
    font.setStyle(QFont::StyleItalic);
    painter.setFont(font);
    const QRect labelBox =
        painter.fontMetrics().boundingRect(QRect(x, y, width, 0), Qt::TextSingleLine, label);
    painter.drawText(labelBox, Qt::TextSingleLine, label);
    if (value.isEmpty())
        return labelBox.height();

    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    painter.setFont(font);
    const int left = labelBox.right() + 3;
    const int right = x + width - 2;
    if (sameLine) {
        const QRect valueBox(QPoint(left, labelBox.top()), QPoint(right, labelBox.bottom()));
        painter.drawText(valueBox, Qt::TextSingleLine, value);
        return labelBox.height();
    }
    const QRect valueBox = painter.fontMetrics().boundingRect(
        QRect(left, y, std::max(0, right - left + 1), 0), Qt::TextWordWrap, value);
    painter.drawText(valueBox, Qt::TextWordWrap, value);
    return valueBox.height();
}

QImage contactImage(const pim::_Contact& contact) {
    QImage image;
    const QList<pim::Entity> photos = contact.entities.value(pim::ENTITY_PHOTO);
    if (!photos.isEmpty()) {
        const QByteArray bytes =
            photos.first().fields.value(QStringLiteral("data15")).toByteArray();
        // Pictures too large to decode safely get the placeholder, like unreadable ones.
        image = g_decodePhoto(bytes);
    }
    if (image.isNull()) {
        tw_initUiResources();
        image.load(QStringLiteral(":res/empty_contact.png"));
    }
    return image;
}

}  // namespace

ContactsPrinter::ContactsPrinter(QObject* parent) : QObject(parent), m_count(0) {}

ContactsPrinter::~ContactsPrinter() {}

QPixmap ContactsPrinter::renderCard(int w, int h, const pim::_Contact& contact) {
    const CardMetrics& m = metricsFor(w);
    QPixmap pixmap(std::max(1, w), std::max(1, h));
    QPainter painter(&pixmap);
    painter.fillRect(0, 0, w, h, QColor(255, 255, 255));

    QPen border(QBrush(QColor(185, 185, 187)), m.borderW, Qt::SolidLine, Qt::SquareCap,
                Qt::BevelJoin);
    painter.setPen(border);
    painter.drawRect(
        QRect(QPoint(m.borderW / 2, m.borderW / 2), QPoint(w - 1 - m.borderW, h - 1 - m.borderW)));

    const QImage image = contactImage(contact);
    if (!image.isNull() && w >= 3) {
        painter.drawImage(m.pattern, m.pattern,
                          image.scaled(w / 3, w / 3, Qt::KeepAspectRatio, Qt::FastTransformation));
    }

    const int x = w / 3 + m.pattern + m.lineSep;
    const int width = w - x - 10;
    int y = m.pattern;
    painter.setPen(QColor(0, 0, 0));

    QFont font = QApplication::font();
    font.setPixelSize(std::max(1, m.fontSize + m.fontSize / 7));
    y += drawEntityVal(painter, font, x, y, width, contact.fullName, QString(), true) + m.lineSep;
    font.setPixelSize(std::max(1, m.fontSize));

    const QList<pim::Entity> orgs = contact.entities.value(pim::ENTITY_ORG);
    if (!orgs.isEmpty()) {
        const pim::Entity& org = orgs.first();
        QString line = text(org, "data4");
        if (!text(org, "data5").isEmpty())
            line += ' ' + text(org, "data5");
        if (!text(org, "data1").isEmpty())
            line += ' ' + text(org, "data1");
        y += drawEntityVal(painter, font, x, y, width, line.trimmed(), QString(), true) + m.lineSep;
    }

    for (const pim::Entity& e : contact.entities.value(pim::ENTITY_EVENT)) {
        if (e.fields.value(QStringLiteral("data2")).toInt() != 3)
            continue;
        const QDateTime dt = QDateTime::fromString(text(e, "data1"), Qt::ISODate);
        const QString date =
            dt.isValid() ? QLocale::system().toString(dt.date(), QLocale::ShortFormat) : QString();
        y += drawEntityVal(painter, font, x, y, width, QStringLiteral("Birthday:"), date, false) +
             m.lineSep;
        break;
    }

    QList<pim::Entity> phones = contact.entities.value(pim::ENTITY_PHONE);
    std::stable_sort(phones.begin(), phones.end(), pim::comparePhoneLess);
    const QMap<int, QString> phoneLabels = pim::phoneTypeMap();
    for (int i = 0; i < phones.size() && i < 4; ++i) {
        const pim::Entity& e = phones.at(i);
        const QString label =
            phoneLabels.value(e.fields.value(QStringLiteral("data2")).toInt()) + ':';
        y += drawEntityVal(painter, font, x, y, width, label, text(e, "data1"), true) + m.lineSep;
    }

    const QList<pim::Entity> emails = contact.entities.value(pim::ENTITY_EMAIL);
    if (!emails.isEmpty()) {
        y += drawEntityVal(painter, font, x, y, width, QStringLiteral("E-Mail:"),
                           text(emails.first(), "data1"), true) +
             m.lineSep;
    }

    const QList<pim::Entity> addrs = contact.entities.value(pim::ENTITY_ADDR);
    if (!addrs.isEmpty()) {
        drawEntityVal(painter, font, x, y, width, QStringLiteral("Address:"),
                      addrs.first().formattedAddr(), false);
    }
    painter.end();
    return pixmap;
}

ContactsPrinter::PageLayout ContactsPrinter::pageLayout(double pageWidth, double left, double top,
                                                        double right) {
    // The margins are subtracted as they stand, in points, from a width in device pixels.
    const int W = static_cast<int>(pageWidth - left - right);
    PageLayout lay;
    const int gap = W / 41;
    lay.cardW = (W - gap) / 2;
    lay.cardH = 10 * lay.cardW / 16;
    lay.leftX = static_cast<int>(left);
    lay.rightX = lay.leftX + gap + lay.cardW;
    lay.top = static_cast<int>(top);
    lay.rowStep = 45 * W / 570 + lay.cardH;
    return lay;
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
    if (m_contacts.isEmpty())
        return;

    const PageLayout lay =
        pageLayout(pageRect.width(), margins.left(), margins.top(), margins.right());
    int y = lay.top;

    for (const pim::_Contact& contact : m_contacts) {
        if (m_count > 0 && m_count % 8 == 0) {
            printer->newPage();
            y = lay.top;
        }
        const QPixmap card = renderCard(lay.cardW, lay.cardH, contact);
        if (m_count % 2 == 0) {
            painter.drawPixmap(lay.leftX, y, card);
        } else {
            painter.drawPixmap(lay.rightX, y, card);
            y += lay.rowStep;
        }
        ++m_count;
    }
}

void ContactsPrinter::printContacts(const QList<pim::_Contact>& contacts) {
    m_contacts = contacts;
    m_error.clear();
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::NativeFormat);
    if (!printer.isValid())
        printer.setOutputFormat(QPrinter::PdfFormat);
    setupPrinter(printer);

    QPrintPreviewDialog dialog(&printer);
    dialog.setFixedSize(900, 700);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setModal(true);
    dialog.setWindowTitle(tr("IDS_PRINT_CONTACTS"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            &ContactsPrinter::onPaintRequested);
    dialog.exec();
}

int ContactsPrinter::printToPDF(const QList<pim::_Contact>& contacts, QString path) {
    m_contacts = contacts;
    m_count = 0;
    m_error.clear();
    const bool existed = QFile::exists(path);
    {
        // The PDF engine gives no reason when it cannot write; find it out first, so that a
        // failure is never reported as an export.
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_error = probe.errorString();
            return -1;
        }
    }
    {
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        setupPrinter(printer);
        onPaintRequested(&printer);
    }
    if (m_count < 0) {
        if (!existed)
            QFile::remove(path);
        m_error = tr("IDS_EXPORT_PDF_FAILED");
        return -1;
    }
    return m_count;
}
