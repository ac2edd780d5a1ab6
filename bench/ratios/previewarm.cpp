#include "previewarm.h"

#include "arms.h"

#include "export/cardpreview.h"
#include "store/combinerule.h"
#include "store/localdb.h"
#include "store/photofetch.h"

#include <QElapsedTimer>
#include <QPrinter>
#include <QScrollBar>

#include <cstdio>

namespace arms {

// Drawn on screen, switched to landscape and drawn again, then scrolled to the end, as a user
// would; photos are read as each card is drawn.
int previewArm(const QString& stored) {
    const QSharedPointer<LocalDb> db(
        new LocalDb(stored, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
    const QList<pim::_Contact> contacts = db->contacts();
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
    QElapsedTimer t;
    t.start();
    CardPreview preview(&printer, contacts, g_photoFetch(db));
    preview.resize(900, 700);
    preview.show();
    preview.grab();
    preview.setOrientation(QPageLayout::Landscape);
    preview.grab();
    for (QScrollBar* bar : preview.findChildren<QScrollBar*>()) {
        if (bar->orientation() == Qt::Vertical)
            bar->setValue(bar->maximum());
    }
    preview.grab();
    const double s = t.nsecsElapsed() / 1e9;
    if (preview.cardCount() != contacts.size() || preview.pageCount() == 0) {
        std::fprintf(stderr, "the preview holds %d cards of %d\n", preview.cardCount(),
                     int(contacts.size()));
        return 1;
    }
    report(s);
    return 0;
}

}  // namespace arms
