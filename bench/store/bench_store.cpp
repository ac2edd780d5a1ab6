// Store speed against raw SQLite prepared statements on the same rows. Prints the three ratios.
#include "store/localdb.h"

#include "bench/benchphoto.h"

#include <sqlite3.h>

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

QTemporaryDir& tmp() {
    static QTemporaryDir d;
    return d;
}

QSharedPointer<AbsContactCombineRule> localRule() {
    return QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule);
}

pim::Entity ent(std::initializer_list<std::pair<const char*, QString> > kv) {
    pim::Entity e;
    for (const auto& p : kv)
        e.fields.insert(QLatin1String(p.first), p.second);
    return e;
}

// Contact i with seven entities, and every other one with a photo of about 30 KB.
pim::_Contact sample(int i) {
    const QString n = QString::number(i);
    pim::_Contact c(0, QString(), "Person " + n);
    c.entities[1] << ent({{"data1", "Person " + n}, {"data2", "Person"}, {"data3", n}});
    c.entities[3] << ent({{"data1", "+1 555 " + n}, {"data2", "2"}, {"data3", ""}})
                  << ent({{"data1", "+1 666 " + n}, {"data2", "1"}, {"data3", ""}});
    c.entities[4] << ent({{"data1", "p" + n + "@example.com"}, {"data2", "1"}, {"data3", ""}});
    c.entities[10] << ent({{"data1", "Company " + n}, {"data4", "Engineer"}, {"data5", "R&D"}});
    c.entities[12] << ent(
        {{"data1", n + " Main St\nTown"}, {"data4", n + " Main St"}, {"data7", "Town"}});
    c.entities[13] << ent({{"data1", "https://example.com/" + n}, {"data2", "1"}, {"data3", ""}});
    if (benchphoto::hasPhoto(i)) {
        pim::Entity photo;
        photo.fields.insert(QStringLiteral("data15"), benchphoto::forContact(i));
        c.entities[pim::ENTITY_PHOTO] << photo;
    }
    return c;
}

QString freshDb(const QString& name) {
    const QString path = tmp().filePath(name);
    LocalDb(path, localRule()).create();
    return path;
}

void fillLocalDb(LocalDb& db, int first, int count) {
    db.beginEdit();
    for (int i = first; i < first + count; ++i) {
        pim::_Contact c = sample(i);
        db.insertContactBase(c);
        for (auto t = c.entities.begin(); t != c.entities.end(); ++t) {
            for (pim::Entity& e : t.value())
                db.insertEntity(c._id, t.key(), e);
        }
    }
    db.endEdit(true);
}

constexpr int N = 10000;

void BM_InsertLocalDb(benchmark::State& state) {
    // Contacts are built before timing, as for the raw insert.
    std::vector<pim::_Contact> contacts;
    for (int i = 0; i < N; ++i)
        contacts.push_back(sample(i));
    for (auto _ : state) {
        state.PauseTiming();
        LocalDb db(freshDb("ins_store.db"), localRule());
        db.open_check();
        std::vector<pim::_Contact> work = contacts;
        state.ResumeTiming();
        db.beginEdit();
        for (pim::_Contact& c : work) {
            db.insertContactBase(c);
            for (auto t = c.entities.begin(); t != c.entities.end(); ++t) {
                for (pim::Entity& e : t.value())
                    db.insertEntity(c._id, t.key(), e);
            }
        }
        db.endEdit(true);
        state.PauseTiming();
        work.clear();
        state.ResumeTiming();
    }
}

void BM_InsertRaw(benchmark::State& state) {
    // The same rows: per type one prepared statement over the type's columns.
    std::vector<pim::_Contact> contacts;
    for (int i = 0; i < N; ++i)
        contacts.push_back(sample(i));
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = freshDb("ins_raw.db");
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        state.ResumeTiming();
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* ic = nullptr;
        sqlite3_prepare_v2(db, "insert into contact(src_id,full_name) values(?,?)", -1, &ic,
                           nullptr);
        std::map<int, sqlite3_stmt*> stmts;
        std::map<int, QStringList> cols;
        for (const pim::_Contact& c : contacts) {
            const QByteArray name = c.fullName.toUtf8();
            sqlite3_bind_text(ic, 1, "", 0, SQLITE_TRANSIENT);
            sqlite3_bind_text(ic, 2, name.constData(), name.size(), SQLITE_TRANSIENT);
            sqlite3_step(ic);
            sqlite3_reset(ic);
            const sqlite3_int64 cid = sqlite3_last_insert_rowid(db);
            for (auto t = c.entities.begin(); t != c.entities.end(); ++t) {
                sqlite3_stmt*& st = stmts[t.key()];
                if (!st) {
                    cols[t.key()] = LocalDb::columnsOfType(t.key());
                    QStringList marks;
                    for (int k = 0; k < cols[t.key()].size(); ++k)
                        marks << "?";
                    const QByteArray sql =
                        ("insert into data(contact_id,type,src_id," + cols[t.key()].join(',') +
                         ") values(?,?,?," + marks.join(',') + ")")
                            .toUtf8();
                    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
                }
                for (const pim::Entity& e : t.value()) {
                    sqlite3_bind_int64(st, 1, cid);
                    sqlite3_bind_int(st, 2, t.key());
                    sqlite3_bind_text(st, 3, "", 0, SQLITE_TRANSIENT);
                    int i = 4;
                    for (const QString& col : cols[t.key()]) {
                        // A photo as the store writes it: its bytes, and their hash in data4.
                        if (col == QLatin1String("data15")) {
                            const QByteArray b = e.fields.value(col).toByteArray();
                            sqlite3_bind_blob(st, i++, b.constData(), b.size(), SQLITE_TRANSIENT);
                            continue;
                        }
                        const QByteArray v =
                            t.key() == pim::ENTITY_PHOTO && col == QLatin1String("data4")
                                ? e.photoHash().toUtf8()
                                : e.fields.value(col).toString().toUtf8();
                        sqlite3_bind_text(st, i++, v.constData(), v.size(), SQLITE_TRANSIENT);
                    }
                    sqlite3_step(st);
                    sqlite3_reset(st);
                    (void)sqlite3_last_insert_rowid(db);
                }
            }
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        state.PauseTiming();
        sqlite3_finalize(ic);
        for (auto& s : stmts)
            sqlite3_finalize(s.second);
        sqlite3_close(db);
        state.ResumeTiming();
    }
}

QString readDbPath() {
    static const QString path = [] {
        const QString p = freshDb("read.db");
        LocalDb db(p, localRule());
        fillLocalDb(db, 0, N);
        return p;
    }();
    return path;
}

void BM_ReadLocalDb(benchmark::State& state) {
    LocalDb db(readDbPath(), localRule());
    db.open_check();
    for (auto _ : state) {
        QList<pim::_Contact> all = db.contacts();
        if (all.size() != N)
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(all);
    }
}

void BM_ReadRaw(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(readDbPath().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    for (auto _ : state) {
        // The same join on the columns the store reads (all but the photo bytes), each row's
        // columns of its type read into Qt values.
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(
            db,
            "select d._id,d.type,d.contact_id,d.src_id,d.data1,d.data2,d.data3,d.data4,d.data5,"
            "d.data6,d.data7,d.data8,d.data9,d.data10,d.data11,d.data12,d.data13,d.data14,"
            "c.full_name,c.src_id as csrc_id from data as d inner join contact as c on "
            "d.contact_id=c._id order by contact_id asc",
            -1, &st, nullptr);
        std::vector<std::pair<long long, std::vector<QString> > > rows;
        rows.reserve(7 * N);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const int type = sqlite3_column_int(st, 1);
            std::vector<QString> values;
            values.emplace_back(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 18))));
            for (const QString& col : LocalDb::columnsOfType(type)) {
                const int idx = 3 + col.midRef(4).toInt();
                if (idx > 17)
                    continue;  // the photo bytes, which neither side reads
                values.emplace_back(
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, idx)),
                                      sqlite3_column_bytes(st, idx)));
            }
            rows.emplace_back(sqlite3_column_int64(st, 2), std::move(values));
        }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(rows);
    }
    sqlite3_close(db);
}

// n stored contacts; n incoming, half of them already stored.
void mergeRun(benchmark::State& state, int n) {
    const QString base = tmp().filePath(QString("merge_base_%1.db").arg(n));
    if (!QFile::exists(base)) {
        LocalDb(base, localRule()).create();
        LocalDb db(base, localRule());
        fillLocalDb(db, 0, n);
    }
    std::vector<pim::_Contact> incoming;
    for (int i = n / 2; i < n + n / 2; ++i)
        incoming.push_back(sample(i));
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = tmp().filePath("merge_run.db");
        QFile::remove(path);
        QFile::copy(base, path);
        LocalDb db(path, localRule());
        db.open_check();
        state.ResumeTiming();
        db.beginEdit();
        int dup = 0;
        for (const pim::_Contact& c : incoming) {
            pim::_Contact out;
            bool existed = false;
            db.combineContact(c, out, existed);
            dup += existed;
        }
        db.endEdit(true);
        if (dup != n / 2)
            state.SkipWithError("wrong duplicate count");
    }
}

void BM_Merge10k(benchmark::State& state) {
    mergeRun(state, N);
}
void BM_Merge20k(benchmark::State& state) {
    mergeRun(state, 2 * N);
}

// One iteration per repetition; the ratios use each benchmark's fastest repetition, which is
// the least disturbed by whatever else the machine is doing.
BENCHMARK(BM_InsertLocalDb)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_InsertRaw)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_ReadLocalDb)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Merge10k)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_Merge20k)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred)
                continue;
            const std::string name = r.run_name.function_name;
            const double t = r.GetAdjustedRealTime();
            auto it = times.find(name);
            if (it == times.end() || t < it->second)
                times[name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    // Interleave the repetitions of all benchmarks, so that a busy spell on the machine does
    // not land on one side of a ratio only.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    Collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* a, const char* b) {
        const auto ia = reporter.times.find(a);
        const auto ib = reporter.times.find(b);
        if (ia == reporter.times.end() || ib == reporter.times.end() || ib->second <= 0)
            return -1.0;
        return ia->second / ib->second;
    };
    const double ins = ratio("BM_InsertLocalDb", "BM_InsertRaw");
    const double rd = ratio("BM_ReadLocalDb", "BM_ReadRaw");
    const double mg = ratio("BM_Merge20k", "BM_Merge10k");
    std::printf(
        "\ninsert 10,000 contacts x 7 entities, LocalDb / raw SQLite: %.2fx (limit 2.0) %s\n", ins,
        ins >= 0 && ins <= 2.0 ? "OK" : "OVER");
    std::printf(
        "LocalDb::contacts() of 10,000 contacts / raw join read:     %.2fx (limit 2.0) %s\n", rd,
        rd >= 0 && rd <= 2.0 ? "OK" : "OVER");
    std::printf(
        "combineContact 20,000 into 20,000 / 10,000 into 10,000:     %.2fx (limit 2.5) %s\n", mg,
        mg >= 0 && mg <= 2.5 ? "OK" : "OVER");
    return 0;
}
