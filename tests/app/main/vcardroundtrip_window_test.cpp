// The simulator's default phone backed up, exported to vCard and imported again: every contact
// comes back with the same details (kinds, custom labels, values), so the import into the
// database it came from changes nothing and a restore afterwards sends nothing to the phone.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/mainwindow_form.h"
#include "tests/fakedevice/fakedevice.h"
#include "store/localdb.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

// One contact's details as text, entity by entity in a stable order, every field named.
QString detailsOf(const pim::_Contact& c) {
    QStringList out{c.fullName};
    for (auto type = c.entities.constBegin(); type != c.entities.constEnd(); ++type) {
        QStringList entities;
        for (const pim::Entity& e : type.value()) {
            QStringList fields;
            for (auto f = e.fields.constBegin(); f != e.fields.constEnd(); ++f) {
                const QString v = f.key() == "data15"
                                      ? pim::Entity::photoHash(f.value().toByteArray())
                                      : f.value().toString();
                if (!v.isEmpty())
                    fields << f.key() + "=" + v;
            }
            entities << fields.join(' ');
        }
        entities.sort();
        for (const QString& e : entities)
            out << QString::number(type.key()) + ": " + e;
    }
    return out.join('\n');
}

// Every contact's details, by full name (namesakes sorted among themselves).
QMap<QString, QStringList> detailsByName(LocalDb& db) {
    QMap<QString, QStringList> out;
    for (const pim::_Contact& listed : db.contacts())
        out[listed.fullName] << detailsOf(db.contact(listed._id));
    for (QStringList& same : out)
        same.sort();
    return out;
}

// The contacts whose details differ, each with both versions.
QStringList differences(const QMap<QString, QStringList>& want,
                        const QMap<QString, QStringList>& got) {
    QStringList out;
    for (auto it = want.constBegin(); it != want.constEnd(); ++it) {
        if (got.value(it.key()) != it.value())
            out << "want:\n" + it.value().join("\n--\n") + "\ngot:\n" +
                       got.value(it.key()).join("\n--\n");
    }
    for (auto it = got.constBegin(); it != got.constEnd(); ++it) {
        if (!want.contains(it.key()))
            out << "unexpected:\n" + it.value().join("\n--\n");
    }
    return out;
}

class VCardRoundTrip : public WindowTest {
protected:
    void select(Tree::_ItemNode* node) {
        ui()->treeMain->setCurrentIndex(tree().indexOfItemNode(node));
    }
    Tree::_DBItemNode* localNode(const QString& name) {
        for (int i = 0; i < tree().localDbRoot()->children.size(); ++i) {
            Tree::_DBItemNode* n = dbChild(tree().localDbRoot(), i);
            if (n && n->name == name)
                return n;
        }
        return nullptr;
    }
    void importInto(const QString& vcf, const QString& db) {
        choosers.openFile = [vcf](QWidget*, const QString& filters, QString* selected) {
            *selected = filters.split(";;").value(0);
            return vcf;
        };
        choosers.dbName = [db](QWidget*, const QString&) { return db; };
        Boxes::instance().reset();
        QMetaObject::invokeMethod(win.get(), "miImport");
    }
};

}  // namespace

TEST_F(VCardRoundTrip, TheDefaultPhoneComesBackDetailForDetail) {
    const std::string udid = fakedevice::makeUdid(71);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Phone");
    phone->generateContacts(300);
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return dbChild(tree().deviceRoot(), 0) != nullptr; }));
    Tree::_DBItemNode* mirror = dbChild(tree().deviceRoot(), 0);

    choosers.dbName = [](QWidget*, const QString&) { return QString("A.db"); };
    select(mirror);
    QMetaObject::invokeMethod(win.get(), "miTreeBackup");
    Tree::_DBItemNode* backup = localNode("A.db");
    ASSERT_TRUE(backup) << Boxes::instance().dump().toStdString();
    const QMap<QString, QStringList> before = detailsByName(*backup->db);
    ASSERT_EQ(before.size(), detailsByName(*mirror->db).size());

    const QString vcf = QDir(QString::fromLocal8Bit(qgetenv("HOME"))).absoluteFilePath("a.vcf");
    QFile::remove(vcf);
    choosers.saveFile = [vcf](QWidget*, const QString&, const QString& filters, QString* selected) {
        *selected = filters.split(";;").value(0);  // vCard
        return vcf;
    };
    select(backup);
    QMetaObject::invokeMethod(win.get(), "miTreeExport");
    ASSERT_TRUE(QFileInfo(vcf).isFile()) << Boxes::instance().dump().toStdString();

    // Read into a new database: the same details, contact for contact.
    importInto(vcf, "fresh.db");
    ASSERT_TRUE(localNode("fresh.db")) << Boxes::instance().dump().toStdString();
    const QStringList fresh = differences(before, detailsByName(*localNode("fresh.db")->db));
    EXPECT_TRUE(fresh.isEmpty()) << fresh.size() << " contacts differ; the first:\n"
                                 << fresh.join("\n====\n").toStdString();

    // Into the database it came from: nothing added, nothing changed.
    importInto(vcf, "A.db");
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                           "IDS_SUC_IMPORT_0_CONTACTS_TO_DB_300_MERGED"))
        << Boxes::instance().dump().toStdString();
    const QStringList merged = differences(before, detailsByName(*backup->db));
    EXPECT_TRUE(merged.isEmpty()) << merged.size() << " contacts differ; the first:\n"
                                  << merged.join("\n====\n").toStdString();

    // Restored to the phone afterwards: the phone is sent nothing.
    phone->clearJournal();
    choosers.dataSource = [](QWidget*, const QString&,
                             const QList<DataSourceSelForm::_SelItem>& items) {
        return items.isEmpty() ? static_cast<void*>(nullptr) : items.first().data;
    };
    select(backup);
    Boxes::instance().reset();
    QMetaObject::invokeMethod(win.get(), "miTreeDB2I");
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    for (const fakedevice::SyncSession& s : phone->syncSessions()) {
        for (const fakedevice::Plist& sent : s.changesReceived)
            ADD_FAILURE() << "sent: " << sent.toXml().substr(0, 2000);
    }
}
