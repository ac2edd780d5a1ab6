// Fuzz: a contact database damaged byte by byte must give std::exception or data, never a crash.
// The input is a list of (offset, byte) patches applied to a small valid database, so the
// fuzzer starts from a real file instead of random noise.
#include "store/localdb.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QSharedPointer<AbsContactCombineRule> rule() {
    return QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule);
}

struct Fixture {
    QTemporaryDir dir;
    QByteArray base;
    QString path;
    Fixture() : path(dir.filePath("f.db")) {
        LocalDb db(path, rule());
        db.create();
        db.beginEdit();
        for (int i = 0; i < 20; ++i) {
            pim::_Contact in(0, QString(), QStringLiteral("Person %1").arg(i));
            pim::Entity phone;
            phone.fields["data1"] = QString::number(5550000 + i);
            in.entities[pim::ENTITY_PHONE] << phone;
            pim::Entity group;
            group.fields["data2"] = QStringLiteral("G%1").arg(i % 3);
            in.entities[pim::ENTITY_GROUP] << group;
            pim::_Contact out;
            bool existed = false;
            db.combineContact(in, out, existed);
        }
        db.endEdit(true);
        db.close();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        base = f.readAll();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fx;
    QByteArray bytes = fx.base;
    for (size_t i = 0; i + 3 <= size; i += 3) {
        const int offset = (data[i] << 8 | data[i + 1]) % bytes.size();
        bytes[offset] = static_cast<char>(data[i + 2]);
    }
    {
        QFile f(fx.path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(bytes);
    }
    QFile::remove(fx.path + "-journal");
    LocalDb db(fx.path, rule());
    try {
        db.contacts();
        db.contacts(1, "5");
        db.groups();
        db.contact(3);
        db.beginEdit();
        pim::_Contact in(0, QString(), "Person 4");
        pim::Entity phone;
        phone.fields["data1"] = "123";
        in.entities[pim::ENTITY_PHONE] << phone;
        pim::_Contact out;
        bool existed = false;
        db.combineContact(in, out, existed);
        db.endEdit(true);
    } catch (const std::exception&) {
        try {
            db.endEdit(false);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
