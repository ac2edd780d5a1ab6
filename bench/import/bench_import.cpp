// Throughput of the vCard and CSV readers beside other parsers. Prints MB/s and ratios; the
// figures are for reading, not pass/fail. Whole imports against bare writes of the same rows are
// tw_bench_ratios' arms.
#include "import/csvhelper.h"
#include "import/qvcardparser.h"
#include "import/vcardimport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#ifdef TW_HAVE_KCONTACTS
#include <KContacts/VCardConverter>
#endif

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "bench/benchphoto.h"

#include <QVector>

namespace {

const char* const kFirst[] = {"James",  "Mary", "Jürgen", "Zoë",    "Wei",  "Aisha",
                              "Carlos", "Olga", "Kenji",  "Fatima", "Liam", "Sofía"};
const char* const kLast[] = {"Smith",     "Müller", "García", "Nguyen", "O'Brien", "Kowalski",
                             "Johansson", "Rossi",  "Tanaka", "Dubois", "Novak",   "Silva"};

// With photos: every other card carries a real JPEG of about 30 KB.
QByteArray makeVcf(int cards, bool photos) {
    QVector<QByteArray> photoTexts;
    if (photos) {
        for (int k = 0; k < 64; ++k)
            photoTexts << QVCardParser::encodeBase64(benchphoto::forContact(k), 74);
    }
    QByteArray out;
    out.reserve(cards * (photos ? 21000 : 480));
    for (int i = 0; i < cards; ++i) {
        const QByteArray first = kFirst[i % 12], last = kLast[(i / 12) % 12];
        const QByteArray n = QByteArray::number(i);
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += "N:" + last + n + ";" + first + ";;;\r\n";
        out += "FN:" + first + " " + last + n + "\r\n";
        out += "ORG:Example Corp " + QByteArray::number(i % 97) +
               ";Sales\r\nTITLE:Account Manager\r\n";
        out += "TEL;TYPE=cell:+1 555 " + QByteArray::number(1000000 + i) + "\r\n";
        out += "item1.TEL;TYPE=work,voice:+1 555 " + QByteArray::number(2000000 + i) + "\r\n";
        out += "item1.X-ABLabel:office\r\n";
        out += "EMAIL;TYPE=INTERNET;TYPE=work:person." + n + "@example.com\r\n";
        out += "ADR;TYPE=home:;;" + n + " Main Street;Springfield;IL;62701;USA\r\n";
        out += "BDAY:19" + QByteArray::number(50 + i % 50) + "-0" + QByteArray::number(1 + i % 9) +
               "-1" + QByteArray::number(i % 10) + "\r\n";
        out += "NOTE:Met at the conference in " + QByteArray::number(2000 + i % 20) +
               "\\, follow up about the renewal.\r\n";
        out += "URL;TYPE=work:https://example.com/people/" + n + "\r\n";
        if (photos && benchphoto::hasPhoto(i))
            out += "PHOTO;ENCODING=b;TYPE=JPEG:" + photoTexts.at(i % photoTexts.size()) + "\r\n";
        out += "END:VCARD\r\n";
    }
    return out;
}

QByteArray makeCsv(int rows) {
    QByteArray out =
        "First Name,Last Name,Company,Job Title,Mobile Phone,Home Phone,Business Phone,"
        "E-mail Address,Home Street,Home City,Home Postal Code,Home Country,Notes\r\n";
    for (int i = 0; i < rows; ++i) {
        const QByteArray n = QByteArray::number(i);
        QStringList cells{QString::fromUtf8(kFirst[i % 12]),
                          QString::fromUtf8(kLast[(i / 12) % 12]) + n,
                          "Example Corp, Inc.",
                          "Engineer",
                          "+1 555 " + n,
                          "+1 555 1" + n,
                          "+1 555 2" + n,
                          "p" + n + "@example.com",
                          n + " Main Street",
                          "Springfield",
                          "62701",
                          "USA",
                          "Said \"hi\" at the\nconference"};
        QStringList line;
        for (const QString& c : cells)
            line << csvhelper::formatCell(c);
        out += line.join(",").toUtf8() + "\r\n";
    }
    return out;
}

// Best of `reps` runs, in seconds.
double best(int reps, const std::function<void()>& f) {
    double b = 1e9;
    for (int i = 0; i < reps; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        b = std::min(b, t.nsecsElapsed() / 1e9);
    }
    return b;
}

double mbps(qint64 bytes, double secs) {
    return secs > 0 ? bytes / 1e6 / secs : 0;
}

// Runs a Python snippet that times itself and prints seconds; -1 when it cannot run.
double pythonSeconds(const QString& script, const QString& file) {
    QProcess p;
    p.start("/usr/bin/python3", {"-c", script, file});
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::printf("  (python peer failed: %s)\n", p.readAllStandardError().constData());
        return -1;
    }
    return p.readAllStandardOutput().trimmed().toDouble();
}

const char* const kVobjectScript =
    "import sys, time, vobject\n"
    "text = open(sys.argv[1], encoding='utf-8').read()\n"
    "t = time.perf_counter()\n"
    "n = sum(1 for _ in vobject.readComponents(text))\n"
    "print(time.perf_counter() - t)\n";

const char* const kPyCsvScript =
    "import sys, time, csv\n"
    "best = 1e9\n"
    "for _ in range(3):\n"
    "    t = time.perf_counter()\n"
    "    with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
    "        n = sum(1 for _ in csv.reader(f))\n"
    "    best = min(best, time.perf_counter() - t)\n"
    "print(best)\n";

void ratio(const char* what, double ours, double peer, double want, bool higherIsBetter) {
    if (peer <= 0) {
        std::printf("  %-58s n/a\n", what);
        return;
    }
    const double r = higherIsBetter ? ours / peer : ours / peer;
    const bool ok = higherIsBetter ? r >= want : r <= want;
    std::printf("  %-58s %7.2fx  (target %s %.1fx) %s\n", what, r,
                higherIsBetter ? ">=" : "<=", want, ok ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    auto save = [&](const QByteArray& data, const char* name) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return f.fileName();
    };
    const QByteArray vcf = makeVcf(10000, false);
    const QString vcfPath = save(vcf, "plain.vcf");
    const QByteArray vcfPhotos = makeVcf(10000, true);
    const QByteArray csv = makeCsv(50000);
    const QString photoPath = save(vcfPhotos, "photos.vcf");
    const QString csvPath = save(csv, "rows.csv");
    std::printf(
        "Files: %.2f MB vCard (10,000 cards), %.2f MB with photos, %.2f MB CSV (50,000 rows)\n\n",
        vcf.size() / 1e6, vcfPhotos.size() / 1e6, csv.size() / 1e6);

    struct {
        const char* label;
        const QByteArray* data;
        QString path;
    } files[] = {{"10k cards", &vcf, vcfPath}, {"10k cards + photos", &vcfPhotos, photoPath}};
    for (const auto& f : files) {
        std::printf("vCard parse, %s\n", f.label);
        int cards = 0;
        const double parseOnly = best(5, [&] { cards = QVCardParser::parse(*f.data).size(); });
        std::printf("  QVCardParser::parse          %8.1f MB/s  (%d cards; tokenizer and cards)\n",
                    mbps(f.data->size(), parseOnly), cards);
        // Like with like: KContacts parses into addressees, so ours is parse and mapping into
        // contacts.
        const double ours = best(5, [&] {
            cards = 0;
            for (const auto& c : QVCardParser::parse(*f.data))
                cards += VCardImport::cardToContact(c).entities.isEmpty() ? 0 : 1;
        });
        std::printf("  parse and map into contacts  %8.1f MB/s  (%d cards)\n",
                    mbps(f.data->size(), ours), cards);
        double kde = -1;
#ifdef TW_HAVE_KCONTACTS
        KContacts::VCardConverter conv;
        int kcards = 0;
        kde = best(2, [&] { kcards = conv.parseVCards(*f.data).size(); });
        std::printf("  KContacts parseVCards        %8.1f MB/s  (%d cards)\n",
                    mbps(f.data->size(), kde), kcards);
#else
        std::printf("  KContacts parseVCards        not built (libkf5contacts-dev absent)\n");
#endif
        const double vob = pythonSeconds(kVobjectScript, f.path);
        if (vob > 0)
            std::printf("  python3 vobject              %8.1f MB/s\n", mbps(f.data->size(), vob));
        ratio("parse and map vs KContacts parse into addressees", mbps(f.data->size(), ours),
              mbps(f.data->size(), kde), 1.0, true);
        ratio("parse and map vs vobject", mbps(f.data->size(), ours), mbps(f.data->size(), vob),
              10.0, true);
        std::printf("\n");
    }

    std::printf("CSV rows, 50,000\n");
    int rows = 0;
    const double ourCsv = best(3, [&] {
        QFile file(csvPath);
        file.open(QIODevice::ReadOnly);
        QStringList row;
        bool first = true;
        rows = 0;
        for (;;) {
            row.clear();
            const bool more = csvhelper::utf8CSVRow(row, &file, first);
            first = false;
            if (!more)
                break;
            ++rows;
        }
    });
    std::printf("  csvhelper::utf8CSVRow        %8.1f MB/s  (%d rows)\n", mbps(csv.size(), ourCsv),
                rows);
    const double pyCsv = pythonSeconds(kPyCsvScript, csvPath);
    if (pyCsv > 0)
        std::printf("  python3 csv.reader           %8.1f MB/s\n", mbps(csv.size(), pyCsv));
    ratio("throughput vs python csv", mbps(csv.size(), ourCsv), mbps(csv.size(), pyCsv), 1.0, true);

    return 0;
}
