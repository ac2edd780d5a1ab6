// Contact cards in two columns, as many rows as the page takes: print preview, or a PDF file.
#ifndef TW_EXPORT_CONTACTSPRINTER_H
#define TW_EXPORT_CONTACTSPRINTER_H

#include "store/photofetch.h"
#include "store/pim.h"

#include <QList>
#include <QMarginsF>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QVector>

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class RunReporter;

// Lives on its caller's stack for one command. The preview runs on the GUI thread; the PDF
// writer may run on a worker thread.
class ContactsPrinter : public QObject {
    Q_OBJECT
public:
    explicit ContactsPrinter(QObject* parent = nullptr);
    ~ContactsPrinter() override;

    // Opens the modal print preview ("IDS_PRINT_CONTACTS") and returns when it closes, whether
    // or not the user printed. The preview draws only the pages in view.
    void printContacts(const QList<pim::_Contact>& contacts);
    // Writes the cards into a PDF file at path without a dialog. Returns the number of cards
    // drawn, or -1 when the file cannot be written (errorString() then says why; the file that
    // stood at the path is left as it was).
    int printToPDF(const QList<pim::_Contact>& contacts, QString path);
    QString errorString() const { return m_error; }

    // The PDF file, reporting progress and polling for a cancel between cards when a reporter
    // is given. Returns the number of cards, or -1 after a cancel (nothing written); throws
    // std::runtime_error with the system's text when the file cannot be written completely.
    // Photos listed without their bytes are read through `fetch`, one card at a time.
    static int writePdfThrow(const QList<pim::_Contact>& contacts, const QString& path,
                             RunReporter* reporter = nullptr,
                             const PhotoFetch& fetch = PhotoFetch());

    // The contacts that paint requests lay out (printContacts and printToPDF set them too).
    void setContacts(const QList<pim::_Contact>& contacts) { m_contacts = contacts; }
    // Reads the photos of contacts listed without their bytes, as each card is drawn.
    void setPhotoFetch(PhotoFetch fetch) { m_photoFetch = std::move(fetch); }

    // Cards drawn by the last paint request (-1 when the printer could not be painted on).
    int cardCount() const { return m_count; }

    // Card size and columns for a page rectangle `pageWidth` device pixels wide and margins in
    // points (taken as they stand), and how many rows fit its height.
    struct PageLayout {
        int cardW, cardH;
        int leftX, rightX;
        int top, rowStep;
        int rows;
    };
    static PageLayout pageLayout(QSizeF page, const QMarginsF& margins);

    // Where each of `count` cards goes: its page (from 0) and its rectangle in the page
    // rectangle's coordinates. Every card lies wholly inside its page.
    struct CardPlace {
        int page;
        QRect rect;
    };
    static QVector<CardPlace> layoutCards(int count, QSizeF page, const QMarginsF& margins);

    // Pages that `count` cards take.
    static int pageCount(int count, QSizeF page, const QMarginsF& margins);
    // Draws the cards of one page (from 0) with the painter's origin at the page rectangle's
    // top-left corner. Only that page's photos are read.
    static void paintPage(QPainter& painter, const QList<pim::_Contact>& contacts, int page,
                          QSizeF pageSize, const QMarginsF& margins, const PhotoFetch& fetch);

    // One card of w x h pixels, as it stands on the page.
    static QPixmap renderCard(int w, int h, const pim::_Contact& contact);

public slots:
    // Lays all contacts out afresh on the printer's pages (the preview asks as often as it
    // needs).
    void onPaintRequested(QPrinter* printer);

private:
    QList<pim::_Contact> m_contacts;
    PhotoFetch m_photoFetch;
    int m_count;
    QString m_error;
};

#endif
