#include "exportrun.h"

#include "csvexport.h"
#include "htmlexport.h"
#include "txtexport.h"
#include "vcardexport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSharedPointer>

#include <stdexcept>

namespace {

QString trWorker(const char* key) {
    return QCoreApplication::translate("ExportToFileThread", key);
}

[[noreturn]] void throwFileError(const QFileDevice& file) {
    QString text = file.errorString();
    if (text.isEmpty())
        text = QFileInfo(file.fileName()).absoluteFilePath();
    throw std::runtime_error(text.toUtf8().toStdString());
}

// The save file only knows that its temporary could not be made; the target file itself tells
// why it cannot be written ("No such file or directory", "Permission denied", ...).
[[noreturn]] void throwOpenError(const QSaveFile& file) {
    const QString path = file.fileName();
    const bool existed = QFileInfo::exists(path);
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append))
        throw std::runtime_error(probe.errorString().toUtf8().toStdString());
    probe.close();
    if (!existed)
        QFile::remove(path);
    throwFileError(file);
}

void writeAll(QSaveFile& file, const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    if (file.write(bytes) != bytes.size())
        throwFileError(file);
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
    QSaveFile file;
    // Rename into place at the end only: a half-written export never stands at the path.
    file.setDirectWriteFallback(false);
    try {
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
            default: {
                // "x.html/" would otherwise give a page without a name.
                const QString folder = QDir::cleanPath(path);
                const QString name = QFileInfo(folder).fileName();
                if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
                    // No name for the folder and its page ("", "/", "."): create nothing, least
                    // of all a "photos" folder in the working or root folder. Qt's own text.
                    throw std::runtime_error(
                        QCoreApplication::translate("QFSFileEngine", "No file name specified")
                            .toUtf8()
                            .toStdString());
                }
                exporter.reset(new HtmlExport(QDir(folder)));
                QDir().mkpath(folder);
                path = QDir(folder).absoluteFilePath(QFileInfo(folder).fileName());
                break;
            }
        }
        file.setFileName(path);
        QIODevice::OpenMode mode = QIODevice::WriteOnly;
        if (type == EXPORT_TXT)
            mode |= QIODevice::Text;
        if (!file.open(mode))
            throwOpenError(file);

        writeAll(file, exporter->initialize(contacts));
        const QString status = trWorker("IDS_EXPORTING_CONTACTS_TO_FILE");
        for (int i = 1; i <= n; ++i) {
            if (reporter.cancelled()) {
                // The dialog has ended already; it gets no further word.
                file.cancelWriting();
                return;
            }
            reporter.progress(status, g_exportPercent(i, n),
                              trWorker("Contacts:%1/%2").arg(i).arg(n));
            const QByteArray bytes = exporter->ct2Bytes(contacts.at(i - 1));
            writeAll(file, bytes);
        }
        writeAll(file, exporter->uninitialize());
        // Success is reported only once the complete file stands at the path.
        if (!file.commit())
            throwFileError(file);
    } catch (const std::exception& e) {
        if (file.isOpen())
            file.cancelWriting();
        reporter.error(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        if (file.isOpen())
            file.cancelWriting();
        reporter.error(trWorker("IDS_EXPORT_UNKNOWN_ERROR"));
        return;
    }
    reporter.succeed(trWorker("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(n));
}
