#include "arms.h"

#include "backuparms.h"
#include "benchbook.h"
#include "previewarm.h"
#include "restorearms.h"

#include "app/mainwindow.h"
#include "app/mainwindow_form.h"
#include "app/ui/updatecheck.h"
#include "device/mobiledevice_sync.h"
#include "device/workers/iossynctopcthread.h"
#include "export/pdfexportthread.h"
#include "import/csvimport.h"
#include "import/importrun.h"
#include "import/vcardimport.h"
#include "platform/webservice/webservice.h"
#include "store/combinerule.h"
#include "store/localdb.h"
#include "store/photofetch.h"
#include "tests/messageboxhook.h"
#include "ui/progressform.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilesync.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTreeView>

#include <csignal>
#include <cstdio>
#include <vector>

namespace arms {

namespace {

const char* const kUdid = "00008030-0000BE7C40000001";

QSharedPointer<AbsContactCombineRule> localRule() {
    return QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule);
}

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

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

// A whole import as the user runs it: read, parse, map, merge and store in one edit.
int importArm(bool csv, const QString& file, const QString& target) {
    QFile::remove(target);
    LocalDb db(target, localRule());
    db.create();
    QuietReporter r;
    VCardImport vcard;
    CSVImport csvImport;
    AbsImport& importer = csv ? static_cast<AbsImport&>(csvImport) : vcard;
    QElapsedTimer t;
    t.start();
    g_runImport(importer, file, db, r);
    const double s = t.nsecsElapsed() / 1e9;
    if (r.failed) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(r.result));
        return 1;
    }
    report(s);
    return 0;
}

// One stored value as SQLite holds it, its bytes already in memory.
struct Cell {
    int kind = SQLITE_NULL;
    QByteArray bytes;
    sqlite3_int64 number = 0;
};

struct Row {
    int type = 0;
    QByteArray src;
    Cell data[15];
};

struct Person {
    QByteArray src, name;
    std::vector<Row> rows;
};

void bind(sqlite3_stmt* st, int i, const Cell& c) {
    switch (c.kind) {
        case SQLITE_TEXT:
            sqlite3_bind_text(st, i, c.bytes.constData(), c.bytes.size(), SQLITE_STATIC);
            break;
        case SQLITE_BLOB:
            sqlite3_bind_blob(st, i, c.bytes.constData(), c.bytes.size(), SQLITE_STATIC);
            break;
        case SQLITE_INTEGER:
            sqlite3_bind_int64(st, i, c.number);
            break;
        default:
            sqlite3_bind_null(st, i);
    }
}

std::vector<Person> readStored(const QString& path) {
    std::vector<Person> people;
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "select _id,src_id,full_name from contact order by _id", -1, &st,
                       nullptr);
    std::vector<sqlite3_int64> ids;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ids.push_back(sqlite3_column_int64(st, 0));
        Person p;
        p.src = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)),
                           sqlite3_column_bytes(st, 1));
        p.name = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)),
                            sqlite3_column_bytes(st, 2));
        people.push_back(std::move(p));
    }
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db,
                       "select contact_id,type,src_id,data1,data2,data3,data4,data5,data6,data7,"
                       "data8,data9,data10,data11,data12,data13,data14,data15 from data order "
                       "by _id",
                       -1, &st, nullptr);
    QHash<sqlite3_int64, size_t> at;
    for (size_t k = 0; k < ids.size(); ++k)
        at.insert(ids[k], k);
    while (sqlite3_step(st) == SQLITE_ROW) {
        Row row;
        row.type = sqlite3_column_int(st, 1);
        row.src = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)),
                             sqlite3_column_bytes(st, 2));
        for (int k = 0; k < 15; ++k) {
            Cell& c = row.data[k];
            c.kind = sqlite3_column_type(st, 3 + k);
            if (c.kind == SQLITE_INTEGER)
                c.number = sqlite3_column_int64(st, 3 + k);
            else if (c.kind != SQLITE_NULL)
                c.bytes = QByteArray(static_cast<const char*>(sqlite3_column_blob(st, 3 + k)),
                                     sqlite3_column_bytes(st, 3 + k));
        }
        people[at.value(sqlite3_column_int64(st, 0))].rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return people;
}

}  // namespace

// The floor of an import: the rows it stored, their values in memory as UTF-8, written through
// prepared statements in one transaction into the same empty database, with one name look-up
// per contact as any merge needs, and the indexes the store's bulk edit defers built at the end.
int bareWritesArm(const QString& stored, const QString& target,
                  const std::function<bool()>& readFirst) {
    const std::vector<Person> people = readStored(stored);
    QFile::remove(target);
    LocalDb(target, localRule()).create();
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(target).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    QElapsedTimer t;
    t.start();
    if (readFirst && !readFirst()) {
        sqlite3_close(db);
        return 1;
    }
    sqlite3_exec(db,
                 "pragma cache_size=-65536; create index if not exists "
                 "index_contacts_full_name_nocase on contact(full_name collate nocase)",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::vector<QByteArray> deferred;
    {
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db,
                           "select name,sql from sqlite_master where type='index' and name in "
                           "('index_data_data','index_data_src_id','index_contacts_full_name',"
                           "'index_contacts_src_id') and sql is not null",
                           -1, &q, nullptr);
        std::vector<QByteArray> names;
        while (sqlite3_step(q) == SQLITE_ROW) {
            names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
            deferred.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 1)));
        }
        sqlite3_finalize(q);
        for (const QByteArray& name : names)
            sqlite3_exec(db, ("drop index " + name).constData(), nullptr, nullptr, nullptr);
    }
    sqlite3_stmt *look = nullptr, *contact = nullptr, *data = nullptr;
    sqlite3_prepare_v2(db, "select _id from contact where full_name collate nocase = ? limit 1", -1,
                       &look, nullptr);
    sqlite3_prepare_v2(db, "insert into contact(src_id,full_name) values(?,?)", -1, &contact,
                       nullptr);
    sqlite3_prepare_v2(db,
                       "insert into data(contact_id,type,src_id,data1,data2,data3,data4,data5,"
                       "data6,data7,data8,data9,data10,data11,data12,data13,data14,data15) "
                       "values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                       -1, &data, nullptr);
    for (const Person& p : people) {
        sqlite3_bind_text(look, 1, p.name.constData(), p.name.size(), SQLITE_STATIC);
        sqlite3_step(look);
        sqlite3_reset(look);
        sqlite3_bind_text(contact, 1, p.src.constData(), p.src.size(), SQLITE_STATIC);
        sqlite3_bind_text(contact, 2, p.name.constData(), p.name.size(), SQLITE_STATIC);
        sqlite3_step(contact);
        sqlite3_reset(contact);
        const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
        for (const Row& r : p.rows) {
            sqlite3_bind_int64(data, 1, id);
            sqlite3_bind_int(data, 2, r.type);
            sqlite3_bind_text(data, 3, r.src.constData(), r.src.size(), SQLITE_STATIC);
            for (int k = 0; k < 15; ++k)
                bind(data, 4 + k, r.data[k]);
            sqlite3_step(data);
            sqlite3_reset(data);
        }
    }
    for (const QByteArray& sql : deferred)
        sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const double s = t.nsecsElapsed() / 1e9;
    sqlite3_finalize(look);
    sqlite3_finalize(contact);
    sqlite3_finalize(data);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        return 1;
    report(s);
    return 0;
}

namespace {

// The window as the program is: clicking the database's node until its list is filled.
int listArm(int n) {
    MainWindow w;
    w.resize(1000, 600);
    w.show();
    QApplication::processEvents();
    ItemModelMainTree& tree = w.treeModel();
    ItemModelMainTree::_ItemNode* node = nullptr;
    for (auto* child : tree.localDbRoot()->children) {
        if (child->name == QLatin1String(listedDbName()))
            node = child;
    }
    if (!node)
        return 1;
    QElapsedTimer t;
    t.start();
    w.form()->treeMain->setCurrentIndex(tree.indexOfItemNode(node));
    const double read = t.nsecsElapsed() / 1e9;
    QApplication::processEvents();  // the first paint of the list
    const double s = t.nsecsElapsed() / 1e9;
    std::printf("read_s %.6f\npaint_s %.6f\n", read, s - read);
    if (w.contactsModel().size() != n) {
        std::fprintf(stderr, "listed %d of %d\n", w.contactsModel().size(), n);
        return 1;
    }
    report(s);
    return 0;
}

// The store's list query stepped on bare SQLite, every column it reads taken as text.
int rawQueryArm(const QString& path) {
    QElapsedTimer t;
    t.start();
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db,
        "select d._id,d.type,d.contact_id,d.src_id,d.data1,d.data2,d.data3,d.data4,d.data5,"
        "d.data6,d.data7,d.data8,d.data9,d.data10,d.data11,d.data12,d.data13,d.data14,"
        "c.full_name,c.src_id as csrc_id from data as d inner join contact as c on "
        "d.contact_id=c._id order by contact_id asc",
        -1, &st, nullptr);
    size_t bytes = 0;
    const int columns = sqlite3_column_count(st);
    while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            sqlite3_column_text(st, c);
            bytes += size_t(sqlite3_column_bytes(st, c));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    const double s = t.nsecsElapsed() / 1e9;
    if (bytes == 0)
        return 1;
    report(s);
    return 0;
}

// The PDF as the export command writes it: the listed contacts (photos without their bytes)
// through the export worker, photos read as each card is drawn.
int pdfArm(const QString& stored, const QString& target) {
    const QSharedPointer<LocalDb> db(new LocalDb(stored, localRule()));
    const QList<pim::_Contact> contacts = db->contacts();
    QuietReporter r;
    PdfExportThread worker(contacts, target, &r);
    worker.setPhotoFetch(g_photoFetch(db));
    QElapsedTimer t;
    t.start();
    worker.start();
    worker.wait();
    const double s = t.nsecsElapsed() / 1e9;
    if (r.failed) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(r.result));
        return 1;
    }
    report(s);
    std::printf("file_mb %.2f\n", QFileInfo(target).size() / 1e6);
    QFile::remove(target);
    return 0;
}

// Our sync layer's bare receive of every record, nothing stored: the work of
// libimobiledevice's own receive below, so it leaves the phone's lockdown values alone (the
// phone read sets the tethered-sync flag on the lockdown session that starts the service).
int syncReceiveArm() {
    QElapsedTimer t;
    t.start();
    size_t n = 0;
    try {
        mobiledevice_sync_client client;
        mobiledevice_sync_start_throw(QString::fromLatin1(kUdid),
                                      _mobiledevice_sync_ctx::contacts(), client);
        mobiledevice_sync_start_recv_all_records_throw(client);
        bool more = true;
        while (more) {
            PlistCFType batch;
            more = mobiledevice_sync_record_next_throw(client, batch, nullptr);
            n += batch.dict_size();
        }
        client.free();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "receive failed: %s\n", e.what());
        return 1;
    }
    report(t.nsecsElapsed() / 1e9);
    std::printf("records %zu\n", n);
    return 0;
}

// libimobiledevice's own receive of every record, nothing stored.
int ideviceReceiveArm() {
    std::signal(SIGPIPE, SIG_IGN);  // a phone that hangs up is an error code, not an exit
    QElapsedTimer t;
    t.start();
    idevice_t device = nullptr;
    mobilesync_client_t client = nullptr;
    size_t n = 0;
    int step = 0, rc = 0;
    auto ok = [&](int code) {
        ++step;
        rc = code;
        return code == 0;
    };
    if (ok(idevice_new_with_options(&device, kUdid, IDEVICE_LOOKUP_USBMUX)) &&
        ok(mobilesync_client_start_service(device, &client, "bench"))) {
        const QByteArray now =
            QDateTime::currentDateTime().toString("yyyy-MM-ddTHH:mm:ss").toUtf8();
        mobilesync_anchors_t anchors = mobilesync_anchors_new("---", now.constData());
        mobilesync_sync_type_t type;
        uint64_t version = 0;
        char* error = nullptr;
        bool going = ok(
            mobilesync_start(client, "com.apple.Contacts", anchors, 106, &type, &version, &error));
        free(error);
        mobilesync_anchors_free(anchors);
        going = going && ok(mobilesync_get_all_records_from_device(client));
        uint8_t last = 0;
        while (going && !last) {
            plist_t entities = nullptr, actions = nullptr;
            going = ok(mobilesync_receive_changes(client, &entities, &last, &actions));
            if (entities)
                n += plist_dict_get_size(entities);
            plist_free(entities);
            plist_free(actions);
            if (going && !last)
                going = ok(mobilesync_acknowledge_changes_from_device(client));
        }
        if (going && ok(mobilesync_finish(client)))
            step = -1;
    }
    if (client)
        mobilesync_client_free(client);
    if (device)
        idevice_free(device);
    if (step != -1) {
        std::fprintf(stderr, "libimobiledevice receive failed at step %d: %d\n", step, rc);
        return 1;
    }
    report(t.nsecsElapsed() / 1e9);
    std::printf("records %zu\n", n);
    return 0;
}

// The phone read as the program runs it: every record into the phone's mirror under the
// progress dialog.
int phoneReadArm(const QString& target) {
    QFile::remove(target);
    LocalDb db(target, QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    db.create();
    QElapsedTimer t;
    t.start();
    ProgressForm form(QString(), nullptr);
    IOSSyncToPCThread worker(QString::fromLatin1(kUdid), &db, &form);
    worker.start();
    const int result = form.exec();
    worker.wait();
    const double s = t.nsecsElapsed() / 1e9;
    QFile::remove(target);
    if (result != 1)
        return 1;
    report(s);
    return 0;
}

}  // namespace

void report(double seconds) {
    std::printf("seconds %.6f\npeak_mb %.1f\n", seconds, peakMb());
}

QString vcardPath(const QString& dir) {
    return dir + QStringLiteral("/book.vcf");
}
QString csvPath(const QString& dir) {
    return dir + QStringLiteral("/book.csv");
}
QString refDbPath(const QString& dir, const char* source) {
    return dir + QStringLiteral("/stored-%1.db").arg(QLatin1String(source));
}
QString homePath(const QString& dir) {
    return dir + QStringLiteral("/home");
}
const char* listedDbName() {
    return "book.db";
}

bool prepare(const QString& dir, int n) {
    QDir().mkpath(dir);
    if (!writeFile(vcardPath(dir), benchbook::vcard(n)) ||
        !writeFile(csvPath(dir), benchbook::csv(n)))
        return false;
    // What each import stores, for its anchor; the vCard's also for the list and the PDF.
    for (const char* source : {"vcard", "csv"}) {
        const QString path = refDbPath(dir, source);
        QFile::remove(path);
        LocalDb db(path, localRule());
        db.create();
        QuietReporter r;
        VCardImport vcard;
        CSVImport csv;
        AbsImport& importer = QByteArray(source) == "csv" ? static_cast<AbsImport&>(csv) : vcard;
        g_runImport(importer, QByteArray(source) == "csv" ? csvPath(dir) : vcardPath(dir), db, r);
        if (r.failed) {
            std::fprintf(stderr, "%s import failed: %s\n", source, qPrintable(r.result));
            return false;
        }
    }
    if (!prepareBackups(dir, n))
        return false;
    // The window lists the databases of its data folder.
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(homePath(dir)));
    const QDir data = LocalDb::dbDir();
    qputenv("HOME", oldHome);
    QDir().mkpath(data.absolutePath());
    QFile::remove(data.absoluteFilePath(QLatin1String(listedDbName())));
    if (!QFile::copy(refDbPath(dir, "vcard"), data.absoluteFilePath(QLatin1String(listedDbName()))))
        return false;
    // No update check from the window.
    qputenv("HOME", QFile::encodeName(homePath(dir)));
    QDir().mkpath(QFileInfo(UpdateCheck::timestampPath()).absolutePath());
    writeFile(UpdateCheck::timestampPath(), QByteArray::number(QDateTime::currentSecsSinceEpoch()));
    qputenv("HOME", oldHome);
    return true;
}

int run(const QString& arm, int n, const QString& dir) {
    const QString scratch = dir + QStringLiteral("/run-%1.db").arg(arm);
    g_setMessageBoxHook([](QMessageBox& box) {
        std::fprintf(stderr, "box: %s\n", box.text().toUtf8().constData());
        return int(QMessageBox::Ok);
    });
    const int backupRc = runBackupArm(arm, dir);
    if (backupRc != -1)
        return backupRc;
    const int restoreRc = runRestoreArm(arm, dir);
    if (restoreRc != -1)
        return restoreRc;
    if (arm == QLatin1String("vcard-import"))
        return importArm(false, vcardPath(dir), scratch);
    if (arm == QLatin1String("csv-import"))
        return importArm(true, csvPath(dir), scratch);
    if (arm == QLatin1String("vcard-bare"))
        return bareWritesArm(refDbPath(dir, "vcard"), scratch);
    if (arm == QLatin1String("csv-bare"))
        return bareWritesArm(refDbPath(dir, "csv"), scratch);
    if (arm == QLatin1String("list")) {
        qputenv("HOME", QFile::encodeName(homePath(dir)));
        g_setWebServiceAddress(QStringLiteral("127.0.0.1:9"));
        return listArm(n);
    }
    if (arm == QLatin1String("list-raw"))
        return rawQueryArm(refDbPath(dir, "vcard"));
    if (arm == QLatin1String("pdf"))
        return pdfArm(refDbPath(dir, "vcard"), dir + QStringLiteral("/run-cards.pdf"));
    if (arm == QLatin1String("preview"))
        return previewArm(refDbPath(dir, "vcard"));
    if (arm == QLatin1String("phone-read"))
        return phoneReadArm(scratch);
    if (arm == QLatin1String("sync-receive"))
        return syncReceiveArm();
    if (arm == QLatin1String("idevice-receive"))
        return ideviceReceiveArm();
    std::fprintf(stderr, "no arm %s\n", qPrintable(arm));
    return 2;
}

}  // namespace arms
