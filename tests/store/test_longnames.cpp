// A database name as long as the file system allows (255 bytes) is a legal name: making the
// database, replacing it and writing into it must not fail for what is added to the name.
#include "store_test_util.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// `letter` repeated, then ".db" and ASCII padding, to exactly `bytes` bytes of UTF-8.
QString nameOfBytes(const QString& letter, int bytes) {
    QString name;
    const int step = letter.toUtf8().size();
    while (name.toUtf8().size() + step + 3 <= bytes)
        name += letter;
    while (name.toUtf8().size() + 3 < bytes)
        name += QLatin1Char('x');
    return name + QStringLiteral(".db");
}

}  // namespace

TEST(LocalDbLongName, CreateAndReplaceWithNamesUpToTheLimit) {
    const QStringList names = {nameOfBytes("a", 255), nameOfBytes(QString::fromUtf8("ä"), 255),
                               nameOfBytes(QString::fromUtf8("ä"), 254),
                               nameOfBytes(QString::fromUtf8("😀"), 255), nameOfBytes("b", 248)};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        ASSERT_LE(QFile::encodeName(name).size(), 255);
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        ASSERT_NO_THROW(db.create());
        EXPECT_TRUE(db.contacts().isEmpty());
        // Made again over the open file: replaced, and no temporary file stays beside it.
        ASSERT_NO_THROW(db.create());
        EXPECT_TRUE(db.contacts().isEmpty());
        db.close();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }
}

// The longest name that leaves room for SQLite's "-journal" is written and replaced.
TEST(LocalDbLongName, TheLongestWritableNameKeepsItsContacts) {
    for (const QString& letter : {QStringLiteral("w"), QString::fromUtf8("ä")}) {
        QTemporaryDir dir;
        const QString name = nameOfBytes(letter, 247);
        const QString path = dir.filePath(name);
        LocalDb db(path, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
        db.create();
        pim::_Contact c = makeContact("Kept");
        db.beginEdit();
        db.insertContactBase(c);
        pim::Entity n = makeEntity({{"data1", "Kept"}});
        db.insertEntity(c._id, pim::ENTITY_NAME, n);
        db.endEdit(true);
        EXPECT_EQ(db.contact(c._id).fullName, "Kept");
        db.create();
        EXPECT_TRUE(db.contacts().isEmpty());
        db.close();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }
}

// Two databases whose names differ only past the part the temporary name keeps.
TEST(LocalDbLongName, NamesAlikeInTheirFirstLettersStayApart) {
    QTemporaryDir dir;
    const QString stem = QString(236, QLatin1Char('n'));
    const QString one = dir.filePath(stem + QString(8, QLatin1Char('1')) + ".db");
    const QString two = dir.filePath(stem + QString(8, QLatin1Char('2')) + ".db");
    LocalDb a(one, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    LocalDb b(two, QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    a.create();
    pim::_Contact c = makeContact("In one");
    a.insertContactBase(c);
    a.close();
    b.create();
    EXPECT_EQ(a.contact(c._id).fullName, "In one");
    EXPECT_TRUE(b.contacts().isEmpty());
    a.close();
    b.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}
