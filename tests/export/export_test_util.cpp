#include "export_test_util.h"

#include "store/combinerule.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>

namespace exporttest {

pim::Entity ent(std::initializer_list<std::pair<const char*, QVariant> > fields) {
    pim::Entity e;
    for (const auto& f : fields)
        e.fields.insert(QLatin1String(f.first), f.second);
    return e;
}

pim::_Contact contact(const QString& fullName,
                      std::initializer_list<std::pair<int, pim::Entity> > entities) {
    pim::_Contact c(0, QString(), fullName);
    for (const auto& e : entities)
        c.entities[e.first].append(e.second);
    return c;
}

QByteArray imageBytes(const char* format, int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

const QByteArray& oversizedPng() {
    static const QByteArray bytes = [] {
        QImage huge(10000, 10000, QImage::Format_Mono);
        huge.fill(0);
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        huge.save(&buffer, "PNG");
        return out;
    }();
    return bytes;
}

pim::_Contact everyType(const QString& fullName) {
    return contact(
        fullName,
        {{pim::ENTITY_NAME, ent({{"data2", "Ann;a"},
                                 {"data3", "O\\Brien"},
                                 {"data4", "M"},
                                 {"data5", "Dr."},
                                 {"data6", "Jr."}})},
         {pim::ENTITY_PHOTO, ent({{"data15", imageBytes("PNG")}})},
         {pim::ENTITY_PHONE, ent({{"data1", "+1 555 0100"}, {"data2", "2"}})},
         {pim::ENTITY_PHONE, ent({{"data1", "555-0101"}, {"data2", "1"}})},
         {pim::ENTITY_EMAIL, ent({{"data1", "ann@example.com"}, {"data2", "1"}})},
         {pim::ENTITY_NICKNAME, ent({{"data1", "Annie <A&B>"}})},
         {pim::ENTITY_EVENT, ent({{"data1", "1980-01-31T00:00:00"}, {"data2", "3"}})},
         {pim::ENTITY_EVENT, ent({{"data1", "2005-06-01T00:00:00"}, {"data2", "1"}})},
         {pim::ENTITY_GROUP, ent({{"data2", "Friends"}})},
         {pim::ENTITY_IM, ent({{"data1", "ann.skype"}, {"data5", "4"}, {"data2", "1"}})},
         {pim::ENTITY_NOTES,
          ent({{"data1", QString::fromUtf8("Line one\nZweite Zeile \xc3\xa4")}})},
         {pim::ENTITY_ORG, ent({{"data1", "Acme;Co"}, {"data4", "Engineer"}, {"data5", "R&D"}})},
         {pim::ENTITY_REL, ent({{"data1", "Bob"}, {"data2", "14"}})},
         {pim::ENTITY_ADDR, ent({{"data2", "1"},
                                 {"data4", "1 Main St"},
                                 {"data7", "Springfield"},
                                 {"data8", "IL"},
                                 {"data9", "62701"},
                                 {"data10", "USA"}})},
         {pim::ENTITY_URL, ent({{"data1", "http://example.com/ann"}, {"data2", "1"}})}});
}

QString detail(const pim::_Contact& c, const Detail& d) {
    const QList<pim::Entity> list = c.entities.value(d.type);
    return d.index < list.size() ? list.at(d.index).text(QLatin1String(d.key))
                                 : QStringLiteral("<missing>");
}

void expectSameDetails(const pim::_Contact& back, const pim::_Contact& src,
                       std::initializer_list<Detail> details) {
    for (const Detail& d : details) {
        EXPECT_EQ(detail(back, d), detail(src, d))
            << "type " << d.type << " " << d.key << " #" << d.index;
    }
}

TempDb::TempDb() {
    db.reset(new LocalDb(dir.filePath(QStringLiteral("t.db")),
                         QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule)));
    db->create();
}

QList<pim::_Contact> TempDb::storeAndReload(const QList<pim::_Contact>& contacts) {
    db->beginEdit();
    for (pim::_Contact c : contacts) {
        db->insertContactBase(c);
        for (auto it = c.entities.begin(); it != c.entities.end(); ++it) {
            for (pim::Entity& e : it.value())
                db->insertEntity(c._id, it.key(), e);
        }
    }
    db->endEdit(true);
    return db->contacts();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

QMap<QString, QByteArray> snapshot(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::Dirs,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path),
                     QFileInfo(path).isDir() ? QByteArray("<dir>") : readFile(path));
    }
    return files;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

}  // namespace exporttest
