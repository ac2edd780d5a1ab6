// The steps users run, each against its like-for-like anchor, on one generated address book per
// size (see benchbook.h): every arm in a process of its own, the arms of a round in an order
// rotated from round to round, the median and spread of the rounds printed with the load
// average of the machine while they ran.
//
//   tw_bench_ratios                       the reference size, 10,000 contacts, 5 rounds
//   TW_BENCH_SIZES=all tw_bench_ratios    2,500, 5,000, 10,000 and 20,000 and their growth (or a
//                                         list: 2500,20000)
//   TW_BENCH_ROUNDS=7 tw_bench_ratios     more rounds
//   tw_bench_ratios --prepare N DIR       only the files of one size, for running arms by hand
//   tw_bench_ratios --arm NAME N DIR      one arm alone (for a profiler)
#include "arms.h"
#include "backuparms.h"
#include "restorearms.h"

#include <QCoreApplication>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

struct Figures {
    std::vector<double> seconds, peakMb, fileMb, photoMb;
};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().split(' ').value(0).toDouble();
}

// One run of an arm in a child process; false when it failed.
bool runArm(const QString& arm, int n, const QString& dir, const QProcessEnvironment& env,
            Figures& into) {
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--arm"), arm, QString::number(n), dir});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        std::printf("  %s failed: %s\n", qPrintable(arm), child.readAllStandardError().constData());
        return false;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> kv = line.split(' ');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "seconds")
            into.seconds.push_back(kv[1].toDouble());
        else if (kv[0] == "peak_mb")
            into.peakMb.push_back(kv[1].toDouble());
        else if (kv[0] == "file_mb")
            into.fileMb.push_back(kv[1].toDouble());
        else if (kv[0] == "photo_mb")
            into.photoMb.push_back(kv[1].toDouble());
    }
    return true;
}

// The arms of one set of rounds and the load average while they ran.
struct Rounds {
    std::map<QString, Figures> arms;
    std::vector<double> loads;
};

// Rounds of a set of arms, each round in an order rotated by one.
Rounds rounds(const QStringList& arms, int n, const QString& dir, const QProcessEnvironment& env,
              int count) {
    Rounds out;
    for (int r = 0; r < count; ++r) {
        out.loads.push_back(loadAverage());
        for (int k = 0; k < arms.size(); ++k) {
            const QString& arm = arms.at((k + r) % arms.size());
            runArm(arm, n, dir, env, out.arms[arm]);
        }
    }
    out.loads.push_back(loadAverage());
    return out;
}

void printArms(const Rounds& rounds, const char* title) {
    const std::map<QString, Figures>& figures = rounds.arms;
    const std::vector<double>& loads = rounds.loads;
    const auto mm = std::minmax_element(loads.begin(), loads.end());
    std::printf("\n%s (load average %.1f to %.1f)\n", title, loads.empty() ? 0 : *mm.first,
                loads.empty() ? 0 : *mm.second);
    std::printf("  %-18s %5s %10s %10s %10s %9s\n", "arm", "runs", "median s", "min s", "max s",
                "peak MB");
    for (const auto& kv : figures) {
        const Figures& f = kv.second;
        if (f.seconds.empty())
            continue;
        const auto s = std::minmax_element(f.seconds.begin(), f.seconds.end());
        std::printf("  %-18s %5zu %10.3f %10.3f %10.3f %9.1f\n", qPrintable(kv.first),
                    f.seconds.size(), median(f.seconds), *s.first, *s.second, median(f.peakMb));
    }
}

// The ratio of the medians, which the bound is checked on, with the spread of the ratios of the
// rounds (each arm's run against its anchor's of the same round) and the load it ran under.
void printRatio(const char* what, Rounds& r, const char* ours, const char* anchor, double bound) {
    const std::vector<double>& a = r.arms[QString::fromLatin1(ours)].seconds;
    const std::vector<double>& b = r.arms[QString::fromLatin1(anchor)].seconds;
    const double mine = median(a), theirs = median(b);
    if (mine <= 0 || theirs <= 0) {
        std::printf("  %-52s    n/a\n", what);
        return;
    }
    std::vector<double> each;
    for (size_t k = 0; k < std::min(a.size(), b.size()); ++k)
        each.push_back(a[k] / b[k]);
    const auto spread = std::minmax_element(each.begin(), each.end());
    const auto load = std::minmax_element(r.loads.begin(), r.loads.end());
    const double ratio = mine / theirs;
    std::printf("  %-52s %6.2fx  rounds %.2f-%.2f, load %.1f-%.1f  (bound %.1fx) %s\n", what, ratio,
                *spread.first, *spread.second, r.loads.empty() ? 0 : *load.first,
                r.loads.empty() ? 0 : *load.second, bound, ratio <= bound ? "ok" : "MISSED");
}

// Keeps four cores busy for as long as it lives.
class Burners {
public:
    explicit Burners(int count) {
        for (int i = 0; i < count; ++i) {
            m_children.emplace_back(new QProcess);
            m_children.back()->start(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("--burn")});
            m_children.back()->waitForStarted();
        }
    }
    ~Burners() {
        for (auto& p : m_children) {
            p->kill();
            p->waitForFinished();
        }
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_children;
};

// The simulated phone, in a process of its own, serving n contacts of its own generator with
// a photo of 30 KB on every other one, as the book has: it refuses record files of the size of
// this book's (its guard against hostile files), so it cannot serve the book itself.
class Phone {
public:
    bool start(const QString& dir, int n, const QStringList& extra = {},
               const QString& socketName = QStringLiteral("mux")) {
        m_socket = dir + QLatin1Char('/') + socketName;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Each session copies the phone's records (hundreds of megabytes of photos) on a
        // thread of its own. With glibc's arena per thread and its trimming, a session now and
        // then faulted in fresh memory, which made the anchor twice as slow at random (1.2 to
        // 2.6 s in one series). One arena whose memory is kept makes every session alike;
        // what the phone sends is the same.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MALLOC_ARENA_MAX"), QStringLiteral("1"));
        env.insert(QStringLiteral("MALLOC_TRIM_THRESHOLD_"), QStringLiteral("17179869184"));
        m_process.setProcessEnvironment(env);
        QStringList args = {
            "--socket",      m_socket,      "--udid",        "00008030-0000BE7C40000001",
            "--name",        "Bench Phone", "--contacts",    QString::number(n),
            "--photo-bytes", "30000",       "--photo-every", "2"};
        m_process.start(QStringLiteral(TW_FAKE_IPHONE), args + extra);
        return m_process.waitForStarted(5000) && m_process.waitForReadyRead(60000);
    }
    QString address() const { return QStringLiteral("UNIX:") + m_socket; }
    ~Phone() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    QString m_socket;
};

qint64 folderBytes(const QString& path) {
    qint64 total = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// The rounds of the arms on a quiet machine, then with four more cores kept busy.
void quietAndBusy(const QStringList& arms, int n, const QString& dir,
                  const QProcessEnvironment& env, int count, const char* what, Rounds& quiet,
                  Rounds& busy) {
    quiet = rounds(arms, n, dir, env, count);
    printArms(quiet, qPrintable(QStringLiteral("%1, quiet machine").arg(QLatin1String(what))));
    {
        Burners burn(4);
        busy = rounds(arms, n, dir, env, count);
    }
    printArms(busy,
              qPrintable(QStringLiteral("%1, four more cores kept busy").arg(QLatin1String(what))));
}

struct SizeResult {
    Rounds quiet, vcardBusy, phone, busy, ios12, ios12Busy, restore;
};

SizeResult measureSize(const QString& root, int n, int count) {
    SizeResult result;
    const QString dir = QStringLiteral("%1/%2").arg(root).arg(n);
    QElapsedTimer t;
    t.start();
    // The program fixes its data folder once per process, and the window's listed database
    // goes into this size's: each size's files are written by a child of their own.
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--prepare"), QString::number(n), dir});
    if (!writer.waitForFinished(-1) || writer.exitStatus() != QProcess::NormalExit ||
        writer.exitCode() != 0) {
        std::printf("\n%d contacts: the files could not be written\n", n);
        return result;
    }
    std::printf(
        "\n== %d contacts (files written in %.1f s; vCard %.1f MB, CSV %.1f MB, encrypted "
        "backup %.1f MB)\n",
        n, t.nsecsElapsed() / 1e9, QFileInfo(arms::vcardPath(dir)).size() / 1e6,
        QFileInfo(arms::csvPath(dir)).size() / 1e6,
        folderBytes(arms::backupPath(dir, false)) / 1e6);
    Phone phone;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const bool withPhone = phone.start(dir, n);
    if (withPhone)
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), phone.address());
    else
        std::printf("  fake-iphone did not start: no phone arms\n");
    const QStringList quietArms = {"vcard-import",
                                   "vcard-bare",
                                   "csv-import",
                                   "csv-bare",
                                   "backup-import",
                                   "backup-bare",
                                   "backup-import-idx",
                                   "backup-bare-idx",
                                   "list",
                                   "list-raw",
                                   "pdf",
                                   "preview"};
    // No phone where the window lists: it would read the phone meanwhile.
    QProcessEnvironment noPhone = env;
    noPhone.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"),
                   QStringLiteral("UNIX:") + dir + QStringLiteral("/no-phone"));
    result.quiet = rounds(quietArms, n, dir, noPhone, count);
    printArms(result.quiet, "quiet machine");
    {
        Burners burn(4);
        result.vcardBusy = rounds({"vcard-import", "vcard-bare"}, n, dir, noPhone, count);
    }
    printArms(result.vcardBusy, "the vCard import, four more cores kept busy");
    if (withPhone) {
        const QStringList phoneArms = {"phone-read", "sync-receive"};
        // A session with the phone varies more from run to run than the other arms, and
        // takes two seconds: twice the rounds.
        quietAndBusy(phoneArms, n, dir, env, 2 * count, "the phone read", result.phone,
                     result.busy);
    }
    // libimobiledevice's own receive speaks only the older device link: against a phone on
    // iOS 12, our read and our sync layer beside it.
    Phone old;
    if (old.start(dir, n, {"--ios", "12"}, QStringLiteral("mux-ios12"))) {
        QProcessEnvironment oldEnv = env;
        oldEnv.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), old.address());
        const QStringList oldArms = {"phone-read", "sync-receive", "idevice-receive"};
        quietAndBusy(oldArms, n, dir, oldEnv, 2 * count, "a phone on iOS 12", result.ios12,
                     result.ios12Busy);
    }
    // The restore's phone starts empty and each run of either arm empties it first.
    Phone target;
    if (target.start(dir, 0, {"--control", arms::restoreControlPath(dir), "--batch-size", "500"},
                     QStringLiteral("mux-restore"))) {
        QProcessEnvironment targetEnv = env;
        targetEnv.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), target.address());
        result.restore = rounds({"restore", "restore-send"}, n, dir, targetEnv, count);
        printArms(result.restore, "the restore to an empty phone");
    }
    auto& q = result.quiet;
    std::printf("\n  ratios of medians at %d contacts\n", n);
    printRatio("vCard import / bare writes of the same rows", q, "vcard-import", "vcard-bare", 1.5);
    printRatio("  the same, four more cores busy", result.vcardBusy, "vcard-import", "vcard-bare",
               1.5);
    printRatio("CSV import / bare writes of the same rows", q, "csv-import", "csv-bare", 1.5);
    printRatio("encrypted backup import / one-pass read, bare writes", q, "backup-import",
               "backup-bare", 1.5);
    printRatio("  the same, with the record-id indexes", q, "backup-import-idx", "backup-bare-idx",
               1.5);
    printRatio("list in the window / raw query of the same columns", q, "list", "list-raw", 1.3);
    printRatio("phone read / our sync layer's receive", result.phone, "phone-read", "sync-receive",
               1.3);
    printRatio("  the same, four more cores busy", result.busy, "phone-read", "sync-receive", 1.3);
    printRatio("phone read / libimobiledevice's receive (iOS 12)", result.ios12, "phone-read",
               "idevice-receive", 1.3);
    printRatio("  the same, four more cores busy", result.ios12Busy, "phone-read",
               "idevice-receive", 1.3);
    printRatio("our receive / libimobiledevice's (iOS 12)", result.ios12, "sync-receive",
               "idevice-receive", 1.0);
    printRatio("  the same, four more cores busy", result.ios12Busy, "sync-receive",
               "idevice-receive", 1.0);
    printRatio("restore / the same records sent over one session", result.restore, "restore",
               "restore-send", 1.5);
    const Figures& restore = result.restore.arms[QStringLiteral("restore")];
    if (!restore.peakMb.empty()) {
        std::printf("  %-52s %6.0f MB peak, %.0f MB of photos sent\n", "restore memory",
                    median(restore.peakMb), median(restore.photoMb));
    }
    const Figures& pdf = q.arms[QStringLiteral("pdf")];
    if (!pdf.seconds.empty()) {
        const double s = median(pdf.seconds), mb = median(pdf.fileMb);
        // Its bounds are set for a book of 10,000 contacts; the file grows with the book.
        const char* verdict = n != 10000         ? "(bounds 2 s, 30 MB at 10000)"
                              : s < 2 && mb < 30 ? "(bounds 2 s, 30 MB) ok"
                                                 : "(bounds 2 s, 30 MB) MISSED";
        std::printf("  %-52s %6.2f s, %.1f MB file, %.0f MB peak  %s\n",
                    "PDF through the export worker", s, mb, median(pdf.peakMb), verdict);
    }
    const Figures& preview = q.arms[QStringLiteral("preview")];
    if (!preview.seconds.empty()) {
        const double mb = median(preview.peakMb);
        std::printf("  %-52s %6.2f s, %.0f MB peak  (bound 300 MB) %s\n",
                    "print preview, turned and scrolled to the end", median(preview.seconds), mb,
                    mb < 300 ? "ok" : "MISSED");
    }
    return result;
}

QList<int> sizes() {
    const QByteArray env = qgetenv("TW_BENCH_SIZES");
    if (env == "all")
        return {2500, 5000, 10000, 20000};
    QList<int> out;
    for (const QByteArray& s : env.split(',')) {
        if (s.toInt() > 0)
            out << s.toInt();
    }
    return out.isEmpty() ? QList<int>{10000} : out;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 2 && QByteArray(argv[1]) == "--burn") {
        volatile unsigned long long x = 0;
        for (;;)
            x = x + 1;
    }
    if (argc == 5 && QByteArray(argv[1]) == "--arm") {
        const QString arm = QString::fromLocal8Bit(argv[2]);
        const QString dir = QString::fromLocal8Bit(argv[4]);
        if (arm == QLatin1String("list"))
            qputenv("HOME", QFile::encodeName(arms::homePath(dir)));
        QApplication app(argc, argv);
        return arms::run(arm, QByteArray(argv[3]).toInt(), dir);
    }
    QApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--prepare")
        return arms::prepare(QString::fromLocal8Bit(argv[3]), QByteArray(argv[2]).toInt()) ? 0 : 1;
    QTemporaryDir root;
    const int count = std::max(5, qEnvironmentVariableIntValue("TW_BENCH_ROUNDS"));
    const QList<int> ns = sizes();
    std::printf("Like-for-like steps, %d rounds per size, every arm a process of its own\n", count);
    std::map<int, SizeResult> all;
    for (int n : ns)
        all[n] = measureSize(root.path(), n, count);
    if (ns.size() > 1) {
        const int a = ns.first(), b = ns.last();
        std::printf(
            "\nGrowth from %d to %d contacts (time per contact, %d = 1.00; linear within "
            "1.25)\n",
            a, b, a);
        auto growth = [&](std::map<QString, Figures>& small, std::map<QString, Figures>& large,
                          const char* suffix) {
            for (const auto& kv : large) {
                const double s = median(small[kv.first].seconds);
                const double l = median(kv.second.seconds);
                if (s <= 0 || l <= 0)
                    continue;
                const double g = (l / b) / (s / a);
                std::printf("  %-20s %6.2f %s\n", qPrintable(kv.first + QLatin1String(suffix)), g,
                            g <= 1.25 ? "linear" : "GROWS FASTER");
            }
        };
        growth(all[a].quiet.arms, all[b].quiet.arms, "");
        growth(all[a].vcardBusy.arms, all[b].vcardBusy.arms, " (busy)");
        growth(all[a].phone.arms, all[b].phone.arms, "");
        growth(all[a].busy.arms, all[b].busy.arms, " (busy)");
        growth(all[a].restore.arms, all[b].restore.arms, "");
        // The restore's memory beyond a fixed amount: what it grows by per photo byte it sends.
        Figures& small = all[a].restore.arms[QStringLiteral("restore")];
        Figures& large = all[b].restore.arms[QStringLiteral("restore")];
        const double photos = median(large.photoMb) - median(small.photoMb);
        if (photos > 0) {
            const double perPhoto = (median(large.peakMb) - median(small.peakMb)) / photos;
            std::printf("  %-20s %6.2f MB per MB of photos sent (bound 2.00) %s\n",
                        "restore peak memory", perPhoto, perPhoto <= 2 ? "ok" : "MISSED");
        }
    }
    return 0;
}
