#include "cardpreview.h"

#include "contactsprinter.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMap>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

// The pages one below the other, scaled to the view's width or to a zoom of the user's.
class CardPreview::PagesView : public QAbstractScrollArea {
public:
    PagesView(QPrinter* printer, const QList<pim::_Contact>& contacts, PhotoFetch fetch,
              QWidget* parent)
        : QAbstractScrollArea(parent),
          m_printer(printer),
          m_contacts(contacts),
          m_fetch(std::move(fetch)) {
        viewport()->setAutoFillBackground(false);
    }

    int pageCount() const {
        return ContactsPrinter::pageCount(m_contacts.size(), pageRect().size(), margins());
    }
    int pagesHeld() const { return m_pages.size(); }

    // 0: the page fills the view's width.
    void setZoom(double zoom) {
        m_zoom = zoom;
        relayout();
    }
    double scale() const {
        if (m_zoom > 0)
            return m_zoom;
        const double w = paper().width();
        return w > 0 ? std::max(0.05, (viewport()->width() - 2.0 * kGap) / w) : 1.0;
    }
    // After a change of the printer's page set-up.
    void relayout() {
        m_pages.clear();
        updateScrollBars();
        viewport()->update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(viewport());
        p.fillRect(viewport()->rect(), QColor(128, 128, 128));
        const double s = scale();
        const QSize pageSize = scaledPaper(s);
        const int step = pageSize.height() + kGap;
        const int top = verticalScrollBar()->value();
        const int left = kGap - horizontalScrollBar()->value();
        const int pages = pageCount();
        const int first = std::max(0, (top - kGap) / std::max(1, step));
        int last = first - 1;
        for (int i = first; i < pages; ++i) {
            const int y = kGap + i * step - top;
            if (y >= viewport()->height())
                break;
            p.drawImage(left, y, page(i, s, pageSize));
            last = i;
        }
        // Only the pages on screen stay.
        for (auto it = m_pages.begin(); it != m_pages.end();) {
            if (it.key() < first || it.key() > last)
                it = m_pages.erase(it);
            else
                ++it;
        }
    }
    void resizeEvent(QResizeEvent*) override { relayout(); }
    void scrollContentsBy(int, int) override { viewport()->update(); }

private:
    static constexpr int kGap = 12;

    QRectF paper() const { return m_printer->paperRect(QPrinter::DevicePixel); }
    QRectF pageRect() const { return m_printer->pageRect(QPrinter::DevicePixel); }
    QMarginsF margins() const { return m_printer->pageLayout().margins(QPageLayout::Point); }
    QSize scaledPaper(double s) const {
        return QSize(std::max(1, int(std::lround(paper().width() * s))),
                     std::max(1, int(std::lround(paper().height() * s))));
    }

    const QImage& page(int index, double s, const QSize& size) {
        auto it = m_pages.find(index);
        if (it != m_pages.end() && it->size() == size)
            return *it;
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(s, s);
        // The cards stand in the page rectangle, inside the printer's margins.
        p.translate(pageRect().topLeft() - paper().topLeft());
        p.setFont(QApplication::font());
        ContactsPrinter::paintPage(p, m_contacts, index, pageRect().size(), margins(), m_fetch);
        p.end();
        return *m_pages.insert(index, image);
    }

    void updateScrollBars() {
        const QSize pageSize = scaledPaper(scale());
        const int height = pageCount() * (pageSize.height() + kGap) + kGap;
        verticalScrollBar()->setRange(0, std::max(0, height - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
        verticalScrollBar()->setSingleStep(std::max(1, pageSize.height() / 20));
        const int width = pageSize.width() + 2 * kGap;
        horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
        horizontalScrollBar()->setPageStep(viewport()->width());
    }

    QPrinter* m_printer;
    const QList<pim::_Contact>& m_contacts;
    PhotoFetch m_fetch;
    double m_zoom = 0;
    QMap<int, QImage> m_pages;
};

CardPreview::CardPreview(QPrinter* printer, const QList<pim::_Contact>& contacts, PhotoFetch fetch,
                         QWidget* parent)
    : QDialog(parent), m_printer(printer), m_contacts(contacts) {
    m_view = new PagesView(printer, m_contacts, std::move(fetch), this);
    auto* bar = new QHBoxLayout;
    auto button = [this, bar](const QString& text, const std::function<void()>& action) {
        auto* b = new QToolButton(this);
        b->setText(text);
        connect(b, &QToolButton::clicked, this, action);
        bar->addWidget(b);
        return b;
    };
    button(tr("Fit width"), [this] { m_view->setZoom(0); });
    button(tr("Zoom in"), [this] { m_view->setZoom(m_view->scale() * 1.25); });
    button(tr("Zoom out"), [this] { m_view->setZoom(m_view->scale() / 1.25); });
    button(tr("Portrait"), [this] { setOrientation(QPageLayout::Portrait); });
    button(tr("Landscape"), [this] { setOrientation(QPageLayout::Landscape); });
    m_pages = new QLabel(this);
    bar->addWidget(m_pages);
    bar->addStretch(1);
    button(tr("Print"), [this] { print(); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    updatePageLabel();
}

CardPreview::~CardPreview() = default;

int CardPreview::pageCount() const {
    return m_view->pageCount();
}

int CardPreview::pagesHeld() const {
    return m_view->pagesHeld();
}

void CardPreview::setOrientation(QPageLayout::Orientation orientation) {
    m_printer->setPageOrientation(orientation);
    m_view->relayout();
    updatePageLabel();
}

void CardPreview::updatePageLabel() {
    m_pages->setText(tr("%n page(s)", nullptr, pageCount()));
}

void CardPreview::print() {
    QPrintDialog dialog(m_printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    emit printRequested(m_printer);
    accept();
}
