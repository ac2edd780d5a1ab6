// The copy of a phone's contacts into a local database (BackupContactsToLocalThread) against bare
// SQLite writing the same rows with the same schema and settings. Prints the ratio.
#include "device/workers/backupcontactstolocalthread.h"
#include "store/localdb.h"
#include "store/runreporter.h"

#include "bench/barewrites.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

struct NullReporter : RunReporter {
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { result = m; }
    void error(QString m) override { result = "error: " + m; }
    QString result;
};

pim::Entity ent(std::initializer_list<std::pair<const char*, QString> > kv) {
    pim::Entity e;
    for (const auto& p : kv)
        e.fields.insert(QLatin1String(p.first), p.second);
    return e;
}

// Contact i as a phone's mirror holds it: name, two numbers, e-mail, company, address, web
// page, birthday and note.
pim::_Contact phoneContact(int i) {
    const QString n = QString::number(i);
    const QString name = "Given" + n + " Family" + n;
    pim::_Contact c(0, QString::number(i + 1), name);
    c.entities[pim::ENTITY_NAME] << ent(
        {{"data1", name}, {"data2", "Given" + n}, {"data3", "Family" + n}});
    c.entities[pim::ENTITY_PHONE] << ent({{"data1", "+1 555 " + n}, {"data2", "2"}})
                                  << ent({{"data1", "+1 666 " + n}, {"data2", "3"}});
    c.entities[pim::ENTITY_EMAIL] << ent({{"data1", "p" + n + "@example.com"}, {"data2", "2"}});
    c.entities[pim::ENTITY_ORG] << ent(
        {{"data1", "Company " + QString::number(i % 97)}, {"data4", "Engineer"}});
    c.entities[pim::ENTITY_ADDR] << ent({{"data4", n + " Main Street"},
                                         {"data7", "Springfield"},
                                         {"data9", "62701"},
                                         {"data10", "USA"},
                                         {"data2", "1"}});
    c.entities[pim::ENTITY_URL] << ent({{"data1", "https://example.com/" + n}, {"data2", "1"}});
    c.entities[pim::ENTITY_EVENT] << ent(
        {{"data1", QString("19%1-0%2-1%3T00:00:00").arg(50 + i % 50).arg(1 + i % 9).arg(i % 10)},
         {"data2", "3"}});
    c.entities[pim::ENTITY_NOTES] << ent({{"data1", "Met at the conference in " + n}});
    return c;
}

double copySeconds(const QString& path, const QList<pim::_Contact>& contacts) {
    LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    NullReporter r;
    BackupContactsToLocalThread worker(contacts, &db, &r, nullptr);
    QElapsedTimer t;
    t.start();
    worker.start();
    worker.wait();
    const double s = t.nsecsElapsed() / 1e9;
    if (r.result.startsWith("error"))
        std::printf("  %s\n", r.result.toUtf8().constData());
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QList<pim::_Contact> contacts;
    for (int i = 0; i < 10000; ++i)
        contacts << phoneContact(i);
    double ours = 1e9, bare = 1e9;
    for (int rep = 0; rep < 3; ++rep) {
        const QString n = QString::number(rep);
        ours = std::min(ours, copySeconds(dir.filePath("copy" + n + ".db"), contacts));
        bare = std::min(bare, bareWriteSeconds(dir.filePath("bare" + n + ".db"), contacts));
    }
    const double r = ours / bare;
    std::printf(
        "Phone to database, 10,000 contacts: %.3f s; bare SQLite writes of the same rows "
        "%.3f s\n",
        ours, bare);
    std::printf("  %-58s %7.2fx  (target <= 1.5x) %s\n",
                "phone-to-database copy / bare SQLite writes", r, r <= 1.5 ? "ok" : "MISSED");
    return 0;
}
