// Contact cards, eight to an A4 page in two columns: print preview, or straight into a PDF.
#ifndef TW_EXPORT_CONTACTSPRINTER_H
#define TW_EXPORT_CONTACTSPRINTER_H

#include "store/pim.h"

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QString>

class QPrinter;

// Lives on its caller's stack for one command; GUI thread only.
class ContactsPrinter : public QObject {
    Q_OBJECT
public:
    explicit ContactsPrinter(QObject* parent = nullptr);
    ~ContactsPrinter() override;

    // Opens the modal print preview ("IDS_PRINT_CONTACTS") and returns when it closes, whether
    // or not the user printed.
    void printContacts(const QList<pim::_Contact>& contacts);
    // Writes the cards into a PDF file at path without a dialog. Returns the number of cards
    // drawn, or -1 when the file cannot be written (errorString() then says why).
    int printToPDF(const QList<pim::_Contact>& contacts, QString path);
    QString errorString() const { return m_error; }

    // Cards drawn by the last paint request (-1 when the printer could not be painted on).
    int cardCount() const { return m_count; }

    // Where the cards of a page go, for a page rectangle `pageWidth` device pixels wide and
    // margins in points (taken as they stand).
    struct PageLayout {
        int cardW, cardH;
        int leftX, rightX;
        int top, rowStep;
    };
    static PageLayout pageLayout(double pageWidth, double left, double top, double right);

    // One card of w x h pixels, as it stands on the page.
    static QPixmap renderCard(int w, int h, const pim::_Contact& contact);

public slots:
    // Lays all contacts out afresh on the printer's pages (the preview asks as often as it
    // needs).
    void onPaintRequested(QPrinter* printer);

private:
    QList<pim::_Contact> m_contacts;
    int m_count;
    QString m_error;
};

#endif
