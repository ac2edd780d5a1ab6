// The print preview of contact cards. Pages are drawn as they come into view and dropped as
// they leave it, so an address book of any size takes the memory of the pages on screen.
#ifndef TW_EXPORT_CARDPREVIEW_H
#define TW_EXPORT_CARDPREVIEW_H

#include "store/photofetch.h"
#include "store/pim.h"

#include <QDialog>
#include <QList>
#include <QPageLayout>

class QLabel;
class QPrinter;

class CardPreview : public QDialog {
    Q_OBJECT
public:
    // The printer's page set-up is the preview's; Print asks for the printer and then sends
    // printRequested.
    CardPreview(QPrinter* printer, const QList<pim::_Contact>& contacts, PhotoFetch fetch,
                QWidget* parent = nullptr);
    ~CardPreview() override;

    int cardCount() const { return m_contacts.size(); }
    int pageCount() const;
    void setOrientation(QPageLayout::Orientation orientation);
    // Pages drawn and kept for the screen.
    int pagesHeld() const;

signals:
    // Every card to the printer the user confirmed.
    void printRequested(QPrinter* printer);

private slots:
    void print();

private:
    class PagesView;

    void updatePageLabel();

    QPrinter* m_printer;
    QList<pim::_Contact> m_contacts;
    PagesView* m_view;
    QLabel* m_pages;
};

#endif
