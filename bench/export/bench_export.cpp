// Card output for 2,000 and 10,000 contacts, every other one with a real JPEG photo of about
// 30 KB, read from a contact database as the window lists it (photos fetched as drawn): PDF
// export time, file size and peak memory, and the print preview's peak memory (portrait, then
// switched to landscape and scrolled to the end, as a user would).
// Each case runs in a fresh child process of this program, so that its peak resident memory is
// its own.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <map>
#include <sys/resource.h>

#include "../benchphoto.h"
#include "export/cardpreview.h"
#include "export/contactsprinter.h"
#include "store/combinerule.h"
#include "store/localdb.h"
#include "store/photofetch.h"

namespace {

// CPU time of this process (user and system), which a busy machine inflates less than the
// elapsed time.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The peak resident memory of this process image (VmHWM): unlike getrusage's maximum, it does
// not carry over the parent's size at the fork that started this child.
double peakMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

pim::Entity entity(std::initializer_list<std::pair<const char*, QVariant>> fields) {
    pim::Entity e;
    for (const auto& f : fields)
        e.fields.insert(QString::fromLatin1(f.first), f.second);
    return e;
}

// An address book as phones hold them: every contact with a name and phones, most with an
// e-mail, many with an address or a company, every other one with a photo of about 30 KB.
QList<pim::_Contact> addressBook(int n) {
    QList<pim::_Contact> list;
    for (int i = 0; i < n; ++i) {
        pim::_Contact c;
        c._id = quint64(i + 1);
        c.fullName = QStringLiteral("Given%1 Family%2").arg(i).arg(i % 977);
        for (int k = 0; k < 1 + i % 3; ++k)
            c.entities[pim::ENTITY_PHONE] << entity(
                {{"data1", QStringLiteral("+1 555 %1 %2").arg(i).arg(k)}, {"data2", k + 1}});
        if (i % 4 != 0)
            c.entities[pim::ENTITY_EMAIL]
                << entity({{"data1", QStringLiteral("user%1@example.com").arg(i)}});
        if (i % 3 == 0)
            c.entities[pim::ENTITY_ADDR]
                << entity({{"data4", QStringLiteral("%1 Long Street").arg(i)},
                           {"data7", "Springfield"},
                           {"data9", "12345"},
                           {"data2", 1}});
        if (i % 5 == 0)
            c.entities[pim::ENTITY_ORG]
                << entity({{"data1", "Example Corp"}, {"data4", "Engineer"}});
        if (i % 7 == 0)
            c.entities[pim::ENTITY_EVENT] << entity({{"data1", "1980-01-31"}, {"data2", 3}});
        if (benchphoto::hasPhoto(i))
            c.entities[pim::ENTITY_PHOTO] << entity({{"data15", benchphoto::forContact(i)}});
        list << c;
    }
    return list;
}

// The book stored in a contact database, as the window prints it: read back with the node's
// list query. Made once per size and kept for every case and run.
QString storedBook(const QString& dir, int n) {
    const QString path = QStringLiteral("%1/book-%2.db").arg(dir).arg(n);
    if (QFileInfo::exists(path))
        return path;
    LocalDb db(path + ".part", QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    db.beginBulkEdit(n);
    for (pim::_Contact c : addressBook(n)) {
        c._id = 0;
        db.insertContactBase(c);
        for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
            for (pim::Entity& e : it.value())
                db.insertEntity(c._id, it.key(), e);
        }
    }
    db.endEdit(true);
    db.close();
    QFile::rename(path + ".part", path);
    return path;
}

// The child: one case, its figures on stdout as "key value" lines.
int runCase(const QString& which, const QString& dbPath) {
    // As the window holds it: photos are read on the fetch's own connection.
    const QSharedPointer<LocalDb> db(
        new LocalDb(dbPath, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
    const QList<pim::_Contact> contacts = db->contacts();
    std::printf("start_mb %.1f\n", peakMb());
    QElapsedTimer t;
    const double cpu0 = cpuSeconds();
    if (which == QLatin1String("pdf")) {
        QTemporaryDir dir;
        const QString path = dir.filePath("cards.pdf");
        t.start();
        const int cards =
            ContactsPrinter::writePdfThrow(contacts, path, nullptr, g_photoFetch(db.data()));
        std::printf("seconds %.3f\nbytes %lld\ncards %d\n", t.nsecsElapsed() / 1e9,
                    QFileInfo(path).size(), cards);
    } else {
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
        // The preview as the print command opens it, drawn on screen, then switched to
        // landscape and drawn again, then scrolled to the end.
        t.start();
        CardPreview preview(&printer, contacts, g_photoFetch(db.data()));
        preview.resize(900, 700);
        preview.show();
        preview.grab();
        const int portraitPages = preview.pageCount();
        preview.setOrientation(QPageLayout::Landscape);
        preview.grab();
        for (QScrollBar* bar : preview.findChildren<QScrollBar*>()) {
            if (bar->orientation() == Qt::Vertical)
                bar->setValue(bar->maximum());
        }
        preview.grab();
        std::printf("seconds %.3f\npages %d\nlandscape_pages %d\nheld %d\ncards %d\n",
                    t.nsecsElapsed() / 1e9, portraitPages, preview.pageCount(), preview.pagesHeld(),
                    preview.cardCount());
    }
    std::printf("cpu %.3f\npeak_mb %.1f\n", cpuSeconds() - cpu0, peakMb());
    return 0;
}

std::map<QString, std::map<QString, double>> g_figures;
QTemporaryDir* g_dir = nullptr;

void childCase(benchmark::State& state, const char* which, int n) {
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--case", which, QString::number(n), storedBook(g_dir->path(), n)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            state.SkipWithError("the case failed");
            return;
        }
        std::map<QString, double>& f = g_figures[QStringLiteral("%1/%2").arg(which).arg(n)];
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> kv = line.split(' ');
            if (kv.size() == 2)
                f[QString::fromLatin1(kv[0])] = kv[1].toDouble();
        }
        state.SetIterationTime(f["seconds"]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 5 && QByteArray(argv[1]) == "--case") {
        QApplication app(argc, argv);
        // Some PDF work (font loading) is done once per process; both cases pay it alike.
        // A case run by hand makes its book where it is told when it is not there.
        const QString book = QString::fromLocal8Bit(argv[4]);
        QFileInfo where(book);
        if (!where.exists())
            storedBook(where.absolutePath(), QByteArray(argv[3]).toInt());
        return runCase(QString::fromLatin1(argv[2]), book);
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    benchmark::Initialize(&argc, argv);
    for (const char* which : {"pdf", "preview"}) {
        for (int n : {2000, 10000}) {
            benchmark::RegisterBenchmark(
                QStringLiteral("%1/%2").arg(which).arg(n).toUtf8().constData(),
                [which, n](benchmark::State& s) { childCase(s, which, n); })
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    auto fig = [](const char* c, const char* k) {
        return g_figures[QString::fromLatin1(c)][QString::fromLatin1(k)];
    };
    std::printf("\nData: every other contact with a JPEG photo of %.1f KB on average\n", [] {
        double sum = 0;
        for (int i = 0; i < 64; ++i)
            sum += benchphoto::forContact(i).size();
        return sum / 64 / 1024;
    }());
    std::printf("\n%-14s %9s %9s %10s %9s %9s\n", "case", "time s", "cpu s", "size MB", "peak MB",
                "start MB");
    for (const char* c : {"pdf/2000", "pdf/10000", "preview/2000", "preview/10000"}) {
        std::printf("%-14s %9.2f %9.2f %10.2f %9.1f %9.1f\n", c, fig(c, "seconds"), fig(c, "cpu"),
                    fig(c, "bytes") / 1e6, fig(c, "peak_mb"), fig(c, "start_mb"));
    }
    std::printf("\nratios 10,000 / 2,000 (linear is 5):\n");
    std::printf("  pdf time %.2f, pdf size %.2f, pdf memory above start %.2f\n",
                fig("pdf/10000", "seconds") / fig("pdf/2000", "seconds"),
                fig("pdf/10000", "bytes") / fig("pdf/2000", "bytes"),
                (fig("pdf/10000", "peak_mb") - fig("pdf/10000", "start_mb")) /
                    (fig("pdf/2000", "peak_mb") - fig("pdf/2000", "start_mb")));
    std::printf("  preview time %.2f, preview memory above start %.2f\n",
                fig("preview/10000", "seconds") / fig("preview/2000", "seconds"),
                (fig("preview/10000", "peak_mb") - fig("preview/10000", "start_mb")) /
                    (fig("preview/2000", "peak_mb") - fig("preview/2000", "start_mb")));
    const bool pdfOk = fig("pdf/10000", "seconds") < 2.0 && fig("pdf/10000", "bytes") < 30e6;
    const bool previewOk = fig("preview/10000", "peak_mb") < 300.0;
    std::printf("\n10,000 contacts: PDF %s (limits 2 s, 30 MB), preview %s (limit 300 MB)\n",
                pdfOk ? "OK" : "TOO SLOW OR LARGE", previewOk ? "OK" : "TOO LARGE");
    return 0;
}
