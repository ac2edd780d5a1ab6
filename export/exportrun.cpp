#include "exportrun.h"

#include "csvexport.h"
#include "exportfile.h"
#include "htmlexport.h"
#include "txtexport.h"
#include "vcardexport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopedPointer>
#include <QSharedPointer>

#include <stdexcept>

namespace {

QString trWorker(const char* key) {
    return QCoreApplication::translate("ExportToFileThread", key);
}

}  // namespace

int g_exportPercent(int i, int n) {
    if (n <= 0)
        return 0;
    return static_cast<int>(static_cast<double>(i) / n * 100);
}

void g_runExport(const QList<pim::_Contact>& contacts, int type, QString& path,
                 ExportReporter& reporter) {
    if (type < EXPORT_VCARD || type > EXPORT_HTML) {
        reporter.error(QString());
        return;
    }
    const int n = contacts.size();
    QSharedPointer<AbsExport> exporter;
    HtmlExport* html = nullptr;
    QScopedPointer<ExportFile> file;
    // An export that does not finish leaves nothing of its own: the earlier file stays as it
    // was, and of a page's pictures only those this export wrote go (with the folder when it
    // made it).
    auto drop = [&] {
        file.reset();
        if (html)
            html->removeWritten();
    };
    auto fail = [&](const QString& text) {
        drop();
        reporter.error(text);
    };
    try {
        if (type == EXPORT_HTML) {
            // "x.html/" names the page x.html.
            path = QDir::cleanPath(path);
            const QString name = QFileInfo(path).fileName();
            if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
                // No name for the page and its pictures folder ("", "/", "."): create nothing,
                // least of all a folder in the working or root folder. Qt's own text.
                g_throwText(QCoreApplication::translate("QFSFileEngine", "No file name specified"));
            }
        }
        // The page first: where it cannot be written, no pictures folder is made either.
        file.reset(new ExportFile(path));
        file->openThrow();
        switch (type) {
            case EXPORT_VCARD:
                exporter.reset(new VCardExport);
                break;
            case EXPORT_CSV:
                exporter.reset(new CSVExport);
                break;
            case EXPORT_TXT:
                exporter.reset(new TxtExport);
                break;
            default:
                html = new HtmlExport(file->target());
                exporter.reset(html);
                break;
        }

        file->writeThrow(exporter->initialize(contacts));
        const QString status = trWorker("IDS_EXPORTING_CONTACTS_TO_FILE");
        for (int i = 1; i <= n; ++i) {
            if (reporter.cancelled()) {
                // The dialog has ended already; it gets no further word.
                drop();
                return;
            }
            reporter.progress(status, g_exportPercent(i, n),
                              trWorker("Contacts:%1/%2").arg(i).arg(n));
            file->writeThrow(exporter->ct2Bytes(contacts.at(i - 1)));
        }
        file->writeThrow(exporter->uninitialize());
        // A cancel confirmed meanwhile, or still being asked about, leaves no file.
        if (reporter.cancelConfirmed()) {
            drop();
            return;
        }
        // Success is reported only once the complete file stands at the path.
        file->commitThrow();
        // The page it replaced has gone with that: so do the pictures only it showed.
        if (html)
            html->removeReplaced();
    } catch (const std::exception& e) {
        fail(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        fail(trWorker("IDS_EXPORT_UNKNOWN_ERROR"));
        return;
    }
    reporter.succeed(trWorker("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(n));
}
