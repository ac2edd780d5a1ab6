// Round trips with the simulated iPhone as a user makes them: a local database restored to the
// phone, the phone read back, the same database restored again, edits made on the mirror and
// the phone read once more. Checked against the records the phone itself holds, not only
// against what our reader makes of them. Registered once per time zone.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRegExp>
#include <QSet>
#include <map>

#include "device/workers/iossendchangesthread.h"
#include "device/workers/iossynctodevicethread.h"
#include "editor/editcontactform.h"
#include "tests/timing.h"
#include "workers_fixture.h"

namespace {

using Change = EditContactForm::_ChangeData;
using Fields = std::initializer_list<std::pair<const char*, QVariant>>;

pim::Entity ent(Fields cols) {
    pim::Entity e;
    for (const auto& c : cols) {
        e.fields.insert(QString::fromLatin1(c.first), c.second);
    }
    return e;
}

// ---- the local database ----------------------------------------------------------------

const QStringList kFirst = {"Anna", "Zoë",    "Łukasz", "Дмитрий", "李",       "Νίκος",
                            "محمد", "さくら", "José",   "Ærin",    "Brünhilde"};
const QStringList kLast = {"Smith", "Øster", "Иванова", "王", "Παπαδόπουλος", "الفاسي", "山田"};
const int kYears[] = {1604, 1890, 1925, 1999, 2075};

QByteArray photoBytes(int i) {
    QByteArray b("\x89PNG\r\n\x1a\n", 8);
    for (int k = 0; k < 300; ++k) {
        b.append(char((k * 31 + i * 7) & 0xff));
    }
    return b;
}

// Contact i of the local database. Codes are the store's own, so every label kind appears:
// codes with a word on the phone, codes without one, custom labels.
pim::_Contact localContact(int i) {
    pim::_Contact c;
    const bool companyCard = i % 10 == 9;
    pim::Entity name;
    if (!companyCard) {
        name = ent({{"data2", kFirst[i % kFirst.size()]},
                    {"data3", kLast[i % kLast.size()] + QString(" %1").arg(i)}});
        if (i % 4 == 0) {
            name.fields["data4"] = "M.";
        }
        if (i % 6 == 0) {
            name.fields["data5"] = "Dr.";
            name.fields["data6"] = "Jr.";
        }
        if (i % kFirst.size() == 7) {
            name.fields["data7"] = "サクラ";
            name.fields["data8"] = "ヤマダ";
        }
    }
    name.fields["data1"] = name.fullName();
    c.entities[pim::ENTITY_NAME] = {name};
    if (companyCard || i % 3 == 0) {
        c.entities[pim::ENTITY_ORG] = {ent({{"data1", QString("Firma %1 GmbH").arg(i)},
                                            {"data4", "Chief"},
                                            {"data5", "Research"}})};
    }
    c.fullName = companyCard ? QString("Firma %1 GmbH").arg(i) : name.fullName();
    if (i % 4 == 1) {
        c.entities[pim::ENTITY_NICKNAME] = {ent({{"data1", QString("Nick %1").arg(i)}})};
    }
    if (i % 5 == 0) {
        c.entities[pim::ENTITY_NOTES] = {
            ent({{"data1", QString("Line one\nLine «two» %1").arg(i)}})};
    }
    if (i % 7 == 0) {
        c.entities[pim::ENTITY_PHOTO] = {ent({{"data15", photoBytes(i)}})};
    }
    QList<pim::Entity> events;
    if (i % 2 == 0) {
        const QDate day(kYears[(i / 2) % 5], 1 + i % 12, 1 + i % 28);
        events << ent(
            {{"data1", QDateTime(day, QTime(0, 0)).toString(pim::DATE_TIME_FORMAT)}, {"data2", 3}});
    }
    if (i % 3 == 1) {
        events << ent({{"data1", QString("%1-06-15T00:00:00").arg(kYears[i % 5])}, {"data2", 1}});
    }
    if (i % 5 == 2) {
        events << ent(
            {{"data1", "1925-11-30T00:00:00"}, {"data2", 0}, {"data3", QString("Name day")}});
    }
    c.entities[pim::ENTITY_EVENT] = events;

    const QList<int> phoneCodes = pim::phoneTypeMap().keys();
    QList<pim::Entity> phones;
    for (int k = 0; k < 2; ++k) {
        const int code = phoneCodes[(i * 2 + k) % phoneCodes.size()];
        phones << ent({{"data1", QString("+1 555 %1%2").arg(i, 4, 10, QChar('0')).arg(k)},
                       {"data2", code},
                       {"data3", QString("")}});
    }
    if (i % 6 == 3) {
        phones << ent({{"data1", QString("+44 20 %1").arg(i)}, {"data2", 0}, {"data3", "Boat"}});
    }
    c.entities[pim::ENTITY_PHONE] = phones;
    const QList<int> mailCodes = pim::emailTypeMap().keys();
    c.entities[pim::ENTITY_EMAIL] = {ent({{"data1", QString("p%1@mail.example").arg(i)},
                                          {"data2", mailCodes[i % mailCodes.size()]}})};
    if (i % 8 == 5) {
        c.entities[pim::ENTITY_EMAIL] << ent(
            {{"data1", QString("q%1@mail.example").arg(i)}, {"data2", 0}, {"data3", "Club"}});
    }
    const QList<int> urlCodes = pim::urlTypeMap().keys();
    if (i % 2 == 1) {
        c.entities[pim::ENTITY_URL] = {ent({{"data1", QString("https://example.org/%1").arg(i)},
                                            {"data2", urlCodes[i % urlCodes.size()]}})};
    }
    if (i % 3 != 2) {
        pim::Entity a = ent({{"data4", QString("%1 Hauptstraße").arg(i)},
                             {"data7", i % 2 ? "München" : "東京"},
                             {"data8", "BY"},
                             {"data9", "80331"},
                             {"data10", "Deutschland"},
                             {"data11", "de"},
                             {"data2", i % 3}});
        if (i % 9 == 4) {
            a.fields["data2"] = 0;
            a.fields["data3"] = "Cabin";
        }
        a.fields["data1"] = a.formattedAddr();
        c.entities[pim::ENTITY_ADDR] = {a};
    }
    if (i % 2 == 0) {
        const QList<int> services = pim::imProtocolMap().keys();
        pim::Entity im = ent({{"data1", QString("user%1").arg(i)},
                              {"data2", i % 3},
                              {"data5", services[1 + i % (services.size() - 1)]}});
        if (i % 10 == 4) {
            im.fields["data5"] = 0;
            im.fields["data6"] = "Threema";
        }
        c.entities[pim::ENTITY_IM] = {im};
    }
    if (i % 3 == 0) {
        const QList<int> rel = pim::relTypeMap().keys();
        c.entities[pim::ENTITY_REL] = {
            ent({{"data1", QString("Kin %1").arg(i)}, {"data2", rel[i % rel.size()]}})};
    }
    return c;
}

// ---- what a contact looks like, in the store's columns ------------------------------------

QString md5(const QByteArray& b) {
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex());
}

// One sorted line per detail, with the columns the phone carries.
QStringList view(const pim::_Contact& c) {
    static const std::map<int, QStringList> columns = {
        {pim::ENTITY_NAME, {"data2", "data3", "data4", "data5", "data6", "data7", "data8"}},
        {pim::ENTITY_ORG, {"data1", "data4", "data5"}},
        {pim::ENTITY_NICKNAME, {"data1"}},
        {pim::ENTITY_NOTES, {"data1"}},
        {pim::ENTITY_EVENT, {"data1", "data2", "data3"}},
        {pim::ENTITY_PHONE, {"data1", "data2", "data3"}},
        {pim::ENTITY_EMAIL, {"data1", "data2", "data3"}},
        {pim::ENTITY_URL, {"data1", "data2", "data3"}},
        {pim::ENTITY_REL, {"data1", "data2", "data3"}},
        {pim::ENTITY_ADDR,
         {"data1", "data2", "data3", "data4", "data7", "data8", "data9", "data10", "data11"}},
        {pim::ENTITY_IM, {"data1", "data2", "data3", "data5"}},
    };
    QStringList out;
    out << "full name=" + c.fullName;
    for (const auto& kv : columns) {
        for (const pim::Entity& e : c.entities.value(kv.first)) {
            QStringList parts{QString::number(kv.first)};
            for (const QString& col : kv.second) {
                parts << col + "=" + pim::fieldText(e.fields.value(col));
            }
            if (kv.first == pim::ENTITY_IM && e.text("data5") == "0") {
                parts << "data6=" + e.text("data6");
            }
            out << parts.join('|');
        }
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHOTO)) {
        out << "photo=" + md5(e.fields.value("data15").toByteArray());
    }
    out.sort();
    return out;
}

std::map<QString, QStringList> viewsOf(LocalDb& db) {
    std::map<QString, QStringList> out;
    for (const pim::_Contact& listed : db.contacts()) {
        const pim::_Contact c = db.contact(listed._id);
        EXPECT_EQ(out.count(c.fullName), 0u) << "two contacts named " << c.fullName.toStdString();
        out[c.fullName] = view(c);
    }
    return out;
}

// Field by field, both ways.
void expectSameContacts(const std::map<QString, QStringList>& want,
                        const std::map<QString, QStringList>& got, const char* what) {
    EXPECT_EQ(want.size(), got.size()) << what;
    int shown = 0;
    for (const auto& kv : want) {
        const auto it = got.find(kv.first);
        if (it == got.end()) {
            ADD_FAILURE() << what << ": missing " << kv.first.toStdString();
            continue;
        }
        if (it->second != kv.second && shown++ < 5) {
            ADD_FAILURE() << what << ": " << kv.first.toStdString() << "\n  want "
                          << kv.second.join("\n       ").toStdString() << "\n  got  "
                          << it->second.join("\n       ").toStdString();
        }
    }
    EXPECT_EQ(shown, 0) << what << ": contacts that differ";
}

// ---- what the phone holds ------------------------------------------------------------------

// The phone's own text of a date node (libplist's XML writer), "1604-03-15T00:00:00Z".
std::string phoneDate(const fakedevice::Plist& node) {
    QRegExp re("<date>([^<]*)</date>");
    return re.indexIn(QString::fromStdString(node.toXml())) >= 0 ? re.cap(1).toStdString()
                                                                 : std::string("(not a date)");
}

struct PhoneBook {
    std::map<std::string, fakedevice::Plist> contacts;               // id -> record
    std::map<std::string, std::vector<fakedevice::Plist>> children;  // contact id -> records
    int orphans = 0;
};

PhoneBook phoneBook(fakedevice::Phone& phone) {
    PhoneBook book;
    const fakedevice::Plist all = phone.records();
    for (const std::string& id : all.keys()) {
        const fakedevice::Plist rec = all.item(id);
        if (rec.stringAt(fakedevice::kEntityNameKey) == "com.apple.contacts.Contact") {
            book.contacts[id] = rec;
        }
    }
    for (const std::string& id : all.keys()) {
        const fakedevice::Plist rec = all.item(id);
        const fakedevice::Plist owners = rec.item("contact");
        if (!owners) {
            continue;
        }
        for (uint32_t i = 0; i < plist_array_get_size(owners.get()); ++i) {
            const std::string owner =
                fakedevice::plistString(plist_array_get_item(owners.get(), i));
            if (book.contacts.count(owner)) {
                book.children[owner].push_back(rec);
            } else {
                ++book.orphans;
            }
        }
    }
    return book;
}

// What the phone must hold for a local contact, stated in the phone's own words.
QStringList expectedOnPhone(const pim::_Contact& c) {
    QStringList out;
    const pim::Entity name = c.entities.value(pim::ENTITY_NAME).value(0);
    const pim::Entity org = c.entities.value(pim::ENTITY_ORG).value(0);
    auto put = [&](const char* key, const QString& v) {
        if (!v.isEmpty()) {
            out << QString("%1=%2").arg(key, v);
        }
    };
    put("first name", name.text("data2"));
    put("last name", name.text("data3"));
    put("middle name", name.text("data4"));
    put("title", name.text("data5"));
    put("suffix", name.text("data6"));
    put("first name yomi", name.text("data7"));
    put("last name yomi", name.text("data8"));
    put("company name", org.text("data1"));
    put("job title", org.text("data4"));
    put("department", org.text("data5"));
    put("display as company", name.fullName().isEmpty() ? "company" : "person");
    put("nickname", c.entities.value(pim::ENTITY_NICKNAME).value(0).text("data1"));
    put("notes", c.entities.value(pim::ENTITY_NOTES).value(0).text("data1"));
    for (const pim::Entity& p : c.entities.value(pim::ENTITY_PHOTO)) {
        out << "image=" + md5(p.fields.value("data15").toByteArray());
    }
    static const QMap<int, QString> phoneWords = {{0, "other"}, {1, "home"},     {2, "mobile"},
                                                  {3, "work"},  {4, "work fax"}, {5, "home fax"},
                                                  {6, "pager"}, {12, "main"}};
    static const QMap<int, QString> homeWork = {{0, "other"}, {1, "home"}, {2, "work"}};
    static const QMap<int, QString> urlWords = {
        {0, "other"}, {1, "home page"}, {4, "home"}, {5, "work"}};
    static const QMap<int, QString> relWords = {{0, "other"},    {1, "assistant"}, {2, "brother"},
                                                {3, "child"},    {5, "father"},    {6, "friend"},
                                                {7, "manager"},  {8, "mother"},    {9, "parent"},
                                                {10, "partner"}, {13, "sister"},   {14, "spouse"}};
    static const QMap<int, QString> services = {
        {1, "aim"},         {2, "msn"},        {3, "yahoo"},    {4, "skype"},
        {5, "qq"},          {6, "googletalk"}, {7, "icq"},      {8, "jabber"},
        {9, "Net Meeting"}, {10, "gadugadu"},  {11, "facebook"}};
    // A custom label goes as that label; a code without a word as its name.
    auto labelled = [](const pim::Entity& e, const QMap<int, QString>& words,
                       const QMap<int, QString>& names) {
        const int code = e.text("data2").toInt();
        if (!e.text("data3").isEmpty()) {
            return QStringList{"label=" + e.text("data3"), "type=other"};
        }
        if (!words.contains(code)) {
            return QStringList{"label=" + names.value(code), "type=other"};
        }
        return QStringList{"type=" + words.value(code)};
    };
    auto kid = [&out](const char* kind, QStringList parts) {
        parts.removeAll(QString());
        parts.sort();
        out << QString::fromLatin1(kind) + "|" + parts.join('|');
    };
    auto nonEmpty = [](const char* key, const QString& v) {
        return v.isEmpty() ? QString() : QString::fromLatin1(key) + "=" + v;
    };
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EVENT)) {
        const QString date = e.text("data1").left(10) + "T00:00:00Z";
        if (e.text("data2") == "3") {
            out << "birthday=" + date;
        } else {
            kid("Date", QStringList{"value=" + date} +
                            labelled(e, {{0, "other"}, {1, "anniversary"}}, pim::eventTypeMap()));
        }
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_PHONE)) {
        kid("Phone Number",
            QStringList{"value=" + e.text("data1")} + labelled(e, phoneWords, pim::phoneTypeMap()));
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_EMAIL)) {
        kid("Email Address",
            QStringList{"value=" + e.text("data1")} + labelled(e, homeWork, pim::emailTypeMap()));
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_URL)) {
        kid("URL",
            QStringList{"value=" + e.text("data1")} + labelled(e, urlWords, pim::urlTypeMap()));
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_REL)) {
        kid("Related Name",
            QStringList{"value=" + e.text("data1")} + labelled(e, relWords, pim::relTypeMap()));
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_ADDR)) {
        kid("Street Address",
            QStringList{
                nonEmpty("street", e.text("data4")), nonEmpty("city", e.text("data7")),
                nonEmpty("state", e.text("data8")), nonEmpty("postal code", e.text("data9")),
                nonEmpty("country", e.text("data10")), nonEmpty("country code", e.text("data11"))} +
                labelled(e, homeWork, pim::addrTypeMap()));
    }
    for (const pim::Entity& e : c.entities.value(pim::ENTITY_IM)) {
        const QString service =
            e.text("data5") == "0" ? e.text("data6") : services.value(e.text("data5").toInt());
        kid("IM", QStringList{"user=" + e.text("data1"), nonEmpty("service", service)} +
                      labelled(e, homeWork, pim::imTypeMap()));
    }
    out.sort();
    return out;
}

// The same, read off the phone's records: every string key, dates by the phone's own text.
QStringList onPhone(const PhoneBook& book, const std::string& id) {
    QStringList out;
    const fakedevice::Plist& rec = book.contacts.at(id);
    for (const std::string& key : rec.keys()) {
        if (key == fakedevice::kEntityNameKey) {
            continue;
        }
        const fakedevice::Plist v = rec.item(key);
        QString text;
        if (v.type() == PLIST_DATE) {
            text = QString::fromStdString(phoneDate(v));
        } else if (v.type() == PLIST_DATA) {
            char* bytes = nullptr;
            uint64_t len = 0;
            plist_get_data_val(v.get(), &bytes, &len);
            text = md5(QByteArray(bytes, int(len)));
            free(bytes);
        } else {
            text = QString::fromStdString(rec.stringAt(key));
        }
        out << QString::fromStdString(key) + "=" + text;
    }
    const auto kids = book.children.find(id);
    if (kids != book.children.end()) {
        for (const fakedevice::Plist& child : kids->second) {
            QStringList parts{QString::fromStdString(child.stringAt(fakedevice::kEntityNameKey))
                                  .remove("com.apple.contacts.")};
            for (const std::string& key : child.keys()) {
                if (key == fakedevice::kEntityNameKey || key == "contact") {
                    continue;
                }
                const fakedevice::Plist v = child.item(key);
                parts << QString::fromStdString(key) + "=" +
                             QString::fromStdString(v.type() == PLIST_DATE ? phoneDate(v)
                                                                           : child.stringAt(key));
            }
            std::sort(parts.begin() + 1, parts.end());
            out << parts.join('|');
        }
    }
    out.sort();
    return out;
}

class RoundTrip : public WorkersTest {
protected:
    int restore(const QList<pim::_Contact>& contacts) {
        return runUnderForm([&](ProgressForm* f) {
            return new IOSSyncToDeviceThread(udid, mirror.data(), contacts, f);
        });
    }
    // Applies the change records to the mirror the way the main window does, then sends them.
    void edit(pim::_Contact& contact, QList<Change> changes) {
        g_writeChanges(*mirror, contact, changes);
        pim::_Contact stored = mirror->contact(contact._id);
        const int rc = runUnderForm([&](ProgressForm* f) {
            return new IOSSendChangesThread(f, udid, mirror.data(), &stored, changes,
                                            QList<pim::_Contact>());
        });
        EXPECT_EQ(rc, 1) << boxes.errors.join("\n").toStdString();
        contact = mirror->contact(contact._id);
    }
    pim::_Contact byName(const QString& name) {
        for (const pim::_Contact& c : mirror->contacts()) {
            if (c.fullName == name) {
                return mirror->contact(c._id);
            }
        }
        ADD_FAILURE() << "no contact " << name.toStdString();
        return pim::_Contact();
    }
    pim::Entity& only(pim::_Contact& c, int type, const QString& data2 = QString()) {
        QList<pim::Entity>& list = c.entities[type];
        for (pim::Entity& e : list) {
            if (data2.isNull() || e.text("data2") == data2) {
                return e;
            }
        }
        ADD_FAILURE() << "no entity of type " << type << " / " << data2.toStdString();
        list.append(pim::Entity());
        return list.last();
    }
};

}  // namespace

TEST_F(RoundTrip, RestoreReadRestoreEditRead) {
    // The local database: 300 varied contacts, stored as an import stores them.
    QSharedPointer<LocalDb> local = newDb(tmp.filePath("local"), false);
    local->beginEdit();
    for (int i = 0; i < 300; ++i) {
        pim::_Contact out;
        bool existed = false;
        local->combineContact(localContact(i), out, existed);
        ASSERT_FALSE(existed) << i;
    }
    local->endEdit(true);
    QList<pim::_Contact> contacts;
    for (const pim::_Contact& c : local->contacts()) {
        contacts << local->contact(c._id);
    }
    ASSERT_EQ(contacts.size(), 300);

    // Restored to an empty phone.
    mirror = readPhone();
    ASSERT_EQ(restore(contacts), 1) << boxes.errors.join("\n").toStdString();
    {
        const PhoneBook book = phoneBook(*phone);
        EXPECT_EQ(book.contacts.size(), 300u);
        EXPECT_EQ(book.orphans, 0);
        const pim::_Contact first = mirror->contact(mirror->contacts().first()._id);
        int checked = 0;
        for (const pim::_Contact& c : contacts) {
            const pim::_Contact m = mirror->contact(mirror->isContactBaseExist(c.fullName));
            ASSERT_TRUE(book.contacts.count(m.srcId.toStdString())) << c.fullName.toStdString();
            const QStringList want = expectedOnPhone(c);
            const QStringList got = onPhone(book, m.srcId.toStdString());
            EXPECT_TRUE(want == got)
                << c.fullName.toStdString() << "\n  want " << want.join("\n       ").toStdString()
                << "\n  got  " << got.join("\n       ").toStdString();
            if (want != got && ++checked > 3) {
                break;
            }
        }
    }

    // Read back: every contact as it was, field by field.
    mirror = readPhone("mirror2");
    expectSameContacts(viewsOf(*local), viewsOf(*mirror), "read back");

    // Restored again after that read: the phone's records do not change at all.
    const std::string before = phone->records().toXml();
    phone->clearJournal();
    ASSERT_EQ(restore(contacts), 1) << boxes.errors.join("\n").toStdString();
    EXPECT_EQ(phone->records().toXml(), before);
    for (const fakedevice::SyncSession& s : phone->syncSessions()) {
        for (const fakedevice::Plist& sent : s.changesReceived) {
            ADD_FAILURE() << "sent again: " << sent.toXml().substr(0, 3000);
        }
    }
    EXPECT_EQ(mirror->contacts().size(), 300);

    // A card the phone shows as a company although it names a person, with a key the mirror
    // does not show: both survive an edit made on the mirror.
    fakedevice::Plist card = fakedevice::Plist::dict();
    card.set(fakedevice::kEntityNameKey, fakedevice::Plist::string("com.apple.contacts.Contact"));
    card.set("first name", fakedevice::Plist::string("Cora"));
    card.set("company name", fakedevice::Plist::string("Cora Ltd"));
    card.set("display as company", fakedevice::Plist::string("company"));
    card.set("phonetic organization", fakedevice::Plist::string("KORA"));
    phone->addRecord("777777", card);
    mirror = readPhone("mirror3");

    pim::_Contact cora = byName("Cora");
    pim::Entity coraName = only(cora, pim::ENTITY_NAME);
    coraName.fields["data3"] = "Vale";
    edit(cora, {Change(pim::ENTITY_NAME, EditContactForm::ACTION_UPDATED, coraName)});
    EXPECT_EQ(phone->record("777777").stringAt("last name"), "Vale");
    EXPECT_EQ(phone->record("777777").stringAt("display as company"), "company");
    EXPECT_EQ(phone->record("777777").stringAt("phonetic organization"), "KORA");

    // Every contact-level field of one person.
    pim::_Contact p = byName(localContact(0).fullName);
    pim::Entity n = only(p, pim::ENTITY_NAME);
    n.fields["data2"] = "Ann-Marie";
    n.fields["data4"] = "Q.";
    n.fields["data7"] = "アン";
    pim::Entity org = only(p, pim::ENTITY_ORG);
    org.fields["data1"] = "Neue Firma";
    org.fields["data4"] = "Head";
    pim::Entity note = only(p, pim::ENTITY_NOTES);
    note.fields["data1"] = "changed ✓";
    pim::Entity nick;
    nick.fields["data1"] = "Annie";
    pim::Entity photo = only(p, pim::ENTITY_PHOTO);
    photo.fields["data15"] = photoBytes(999);
    edit(p, {Change(pim::ENTITY_NAME, EditContactForm::ACTION_UPDATED, n),
             Change(pim::ENTITY_ORG, EditContactForm::ACTION_UPDATED, org),
             Change(pim::ENTITY_NOTES, EditContactForm::ACTION_UPDATED, note),
             Change(pim::ENTITY_NICKNAME, EditContactForm::ACTION_ADDED, nick),
             Change(pim::ENTITY_PHOTO, EditContactForm::ACTION_UPDATED, photo)});

    // Details: values, codes with and without words, custom labels, an IM service.
    pim::_Contact q = byName(localContact(6).fullName);
    QList<Change> details;
    pim::Entity ph = q.entities[pim::ENTITY_PHONE][0];
    ph.fields["data1"] = "+49 89 000";
    ph.fields["data2"] = 9;  // Car: no word of its own
    details << Change(pim::ENTITY_PHONE, EditContactForm::ACTION_UPDATED, ph);
    pim::Entity ph2 = q.entities[pim::ENTITY_PHONE][1];
    ph2.fields["data2"] = 0;
    ph2.fields["data3"] = "Yacht";
    details << Change(pim::ENTITY_PHONE, EditContactForm::ACTION_UPDATED, ph2);
    pim::Entity im = only(q, pim::ENTITY_IM);
    im.fields["data5"] = 9;
    details << Change(pim::ENTITY_IM, EditContactForm::ACTION_UPDATED, im);
    pim::Entity rel = only(q, pim::ENTITY_REL);
    rel.fields["data2"] = 12;  // Relative: no word of its own
    details << Change(pim::ENTITY_REL, EditContactForm::ACTION_UPDATED, rel);
    pim::Entity mail = only(q, pim::ENTITY_EMAIL);
    mail.fields["data2"] = 4;  // Mobile: no word of its own
    details << Change(pim::ENTITY_EMAIL, EditContactForm::ACTION_UPDATED, mail);
    pim::Entity newPhone;
    newPhone.fields["data1"] = "+1 212 555 0199";
    newPhone.fields["data2"] = 17;
    details << Change(pim::ENTITY_PHONE, EditContactForm::ACTION_ADDED, newPhone);
    edit(q, details);

    // Date kinds: a year-less birthday turned into an anniversary, an anniversary into the
    // birthday, a custom label renamed.
    pim::_Contact b = byName(localContact(10).fullName);  // birthday in 1604
    pim::Entity bday = only(b, pim::ENTITY_EVENT, "3");
    ASSERT_TRUE(bday.text("data1").startsWith("1604-")) << bday.text("data1").toStdString();
    const std::string bId = b.srcId.toStdString();
    bday.fields["data2"] = 1;
    edit(b, {Change(pim::ENTITY_EVENT, EditContactForm::ACTION_UPDATED, bday)});
    EXPECT_TRUE(phone->record(bId)) << "the contact is still on the phone";
    EXPECT_EQ(phone->record(bId).stringAt("first name"),
              localContact(10).entities[pim::ENTITY_NAME][0].text("data2").toStdString());
    EXPECT_FALSE(phone->record(bId).item("birthday"));
    const QString moved = only(b, pim::ENTITY_EVENT, "1").srcId;
    EXPECT_TRUE(moved.startsWith("12/")) << moved.toStdString();
    EXPECT_EQ(phoneDate(phone->record(moved.toStdString()).item("value")),
              bday.text("data1").left(10).toStdString() + "T00:00:00Z");

    pim::_Contact a = byName(localContact(1).fullName);  // an anniversary, no birthday
    pim::Entity anniversary = only(a, pim::ENTITY_EVENT, "1");
    const std::string oldDateId = anniversary.srcId.toStdString();
    anniversary.fields["data2"] = 3;
    edit(a, {Change(pim::ENTITY_EVENT, EditContactForm::ACTION_UPDATED, anniversary)});
    EXPECT_FALSE(phone->record(oldDateId)) << "the old date record is deleted";
    EXPECT_EQ(phoneDate(phone->record(a.srcId.toStdString()).item("birthday")),
              anniversary.text("data1").left(10).toStdString() + "T00:00:00Z");

    pim::_Contact l = byName(localContact(2).fullName);  // a "Name day"
    pim::Entity nameDay = only(l, pim::ENTITY_EVENT, "0");
    nameDay.fields["data3"] = "Feast";
    edit(l, {Change(pim::ENTITY_EVENT, EditContactForm::ACTION_UPDATED, nameDay)});
    EXPECT_EQ(phone->record(nameDay.srcId.toStdString()).stringAt("label"), "Feast");

    // Deletions: a phone number, a birthday, a whole contact.
    pim::_Contact d = byName(localContact(4).fullName);
    edit(d, {Change(pim::ENTITY_PHONE, EditContactForm::ACTION_DELETED,
                    d.entities[pim::ENTITY_PHONE][0]),
             Change(pim::ENTITY_EVENT, EditContactForm::ACTION_DELETED,
                    only(d, pim::ENTITY_EVENT, "3"))});
    EXPECT_TRUE(phone->record(d.srcId.toStdString())) << "the contact is still on the phone";
    EXPECT_FALSE(phone->record(d.srcId.toStdString()).item("birthday"));
    const pim::_Contact gone = byName(localContact(8).fullName);
    mirror->beginEdit();
    mirror->removeContact(gone._id);
    mirror->endEdit(true);
    ASSERT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new IOSSendChangesThread(f, udid, mirror.data(), nullptr, QList<Change>(),
                                                  {gone});
              }),
              1);
    EXPECT_FALSE(phone->record(gone.srcId.toStdString()));

    // A new contact with a year-less birthday.
    pim::_Contact fresh;
    pim::Entity freshName;
    freshName.fields["data2"] = "Neu";
    freshName.fields["data3"] = "Ankömmling";
    pim::Entity freshDay;
    freshDay.fields["data1"] = "1604-02-29T00:00:00";
    freshDay.fields["data2"] = 3;
    edit(fresh, {Change(pim::ENTITY_NAME, EditContactForm::ACTION_ADDED, freshName),
                 Change(pim::ENTITY_EVENT, EditContactForm::ACTION_ADDED, freshDay)});
    EXPECT_EQ(phoneDate(phone->record(fresh.srcId.toStdString()).item("birthday")),
              "1604-02-29T00:00:00Z");

    // The phone read again gives exactly the edited mirror; nothing on the phone is orphaned.
    const std::map<QString, QStringList> edited = viewsOf(*mirror);
    EXPECT_EQ(phoneBook(*phone).orphans, 0);
    EXPECT_EQ(phoneBook(*phone).contacts.size(), 301u);
    mirror = readPhone("mirror4");
    expectSameContacts(edited, viewsOf(*mirror), "after the edits");
}

TEST_F(WorkersTest, APhoneThatGivesNoIdsIsNoSuccess) {
    mirror = readPhone();
    phone->updateScenario([](fakedevice::Scenario& s) { s.remapAsEmptyParameter = true; });
    pim::_Contact c;
    pim::Entity name;
    name.fields["data2"] = "Ida";
    name.fields["data3"] = "Nobody";
    name.fields["data1"] = name.fullName();
    c.fullName = name.fullName();
    c.entities[pim::ENTITY_NAME] = {name};
    const int rc = runUnderForm(
        [&](ProgressForm* f) { return new IOSSyncToDeviceThread(udid, mirror.data(), {c}, f); });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(boxes.infos.isEmpty());
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("gave no record id")) << boxes.errors[0].toStdString();
    EXPECT_TRUE(mirror->contacts().isEmpty())
        << "the mirror holds nothing the phone took no id for";

    // The same for an edit that adds a detail.
    phone->updateScenario([](fakedevice::Scenario& s) { s.remapAsEmptyParameter = false; });
    phone->generateContacts(1);
    mirror = readPhone("again");
    phone->updateScenario([](fakedevice::Scenario& s) { s.remapAsEmptyParameter = true; });
    boxes.clear();
    pim::_Contact stored = mirror->contact(mirror->contacts().first()._id);
    pim::Entity mail;
    mail.fields["data1"] = "ida@mail.example";
    QList<Change> changes{Change(pim::ENTITY_EMAIL, EditContactForm::ACTION_ADDED, mail)};
    g_writeChanges(*mirror, stored, changes);
    EXPECT_EQ(runUnderForm([&](ProgressForm* f) {
                  return new IOSSendChangesThread(f, udid, mirror.data(), &stored, changes,
                                                  QList<pim::_Contact>());
              }),
              0);
    ASSERT_EQ(boxes.errors.size(), 1);
    EXPECT_TRUE(boxes.errors[0].contains("gave no record id")) << boxes.errors[0].toStdString();
}

// A slow phone with 5,000 contacts: a cancel ends the read at the next batch, quickly, and
// keeps nothing of it.
TEST_F(WorkersTest, CancelDuringASlowReadKeepsNothing) {
    phone->generateContacts(5000);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 0,
                            fakedevice::FaultKind::Delay, 200, 0});
    });
    mirror = newDb(tmp.filePath("slow"), true);
    QElapsedTimer sinceCancel;
    const int rc =
        runUnderForm([&](ProgressForm* f) { return new IOSSyncToPCThread(udid, mirror.data(), f); },
                     [&](ProgressForm& form) {
                         const auto s = phone->syncSessions();
                         if (!s.empty() && s.back().batchesSent >= 5 && form.isVisible()) {
                             sinceCancel.start();
                             form.done(0);  // the user's confirmed cancel
                         }
                     });
    const qint64 waited = sinceCancel.elapsed();
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(lastRejected);
    // The rest of the read would take the phone 20 s.
    EXPECT_LT(waited, 2000 * kTimeScale) << "the worker outlived the cancel";
    EXPECT_TRUE(mirror->contacts().isEmpty());
    const auto s = phone->syncSessions();
    ASSERT_FALSE(s.empty());
    EXPECT_LT(s.back().batchesSent, 20);
}
