#include "csvimport.h"

#include "csvhelper.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QMap>
#include <QRegExp>

#include <stdexcept>

CSVImport::_ColInfo::_ColInfo(int type, int subtype, QString subtypeKey, QString dataKey)
    : type(type), subtype(subtype), subtypeKey(subtypeKey), dataKey(dataKey) {}

namespace {

typedef QMap<QString, CSVImport::_ColInfo> ColTable;

void addMapped(ColTable& t, const QString& prefix, const QMap<int, QString>& labels,
               const QString& suffix, int type, const QString& subtypeKey, const QString& dataKey) {
    for (QMap<int, QString>::const_iterator it = labels.constBegin(); it != labels.constEnd();
         ++it) {
        t.insert(prefix + it.value() + suffix,
                 CSVImport::_ColInfo(type, it.key(), subtypeKey, dataKey));
    }
}

ColTable buildTable() {
    typedef CSVImport::_ColInfo C;
    const QString none, d1 = "data1", d2 = "data2", d3 = "data3", d4 = "data4", d5 = "data5",
                        d6 = "data6", d7 = "data7", d8 = "data8", d9 = "data9", d10 = "data10";
    ColTable t;
    // The program's own column vocabulary.
    t.insert("Prefix", C(1, 0, none, d5));
    t.insert("First Name", C(1, 0, none, d2));
    t.insert("Middle Name", C(1, 0, none, d4));
    t.insert("Last Name", C(1, 0, none, d3));
    t.insert("Suffix", C(1, 0, none, d6));
    addMapped(t, "Tel:", pim::phoneTypeMap(), QString(), 3, d2, d1);
    addMapped(t, "Email:", pim::emailTypeMap(), QString(), 4, d2, d1);
    t.insert("Nickname", C(5, 1, none, d1));
    addMapped(t, "Date:", pim::eventTypeMap(), QString(), 6, d2, d1);
    t.insert("Category", C(7, 0, none, d2));
    addMapped(t, "IM:", pim::imProtocolMap(), QString(), 8, d5, d1);
    t.insert("Notes", C(9, 0, none, d1));
    t.insert("Company", C(10, 0, d2, d1));
    t.insert("Department", C(10, 0, d2, d5));
    t.insert("Job Title", C(10, 0, d2, d4));
    addMapped(t, "Rel:", pim::relTypeMap(), QString(), 11, d2, d1);
    const QMap<int, QString> addr = pim::addrTypeMap();
    for (QMap<int, QString>::const_iterator it = addr.constBegin(); it != addr.constEnd(); ++it) {
        const QString base = "Addr:" + it.value();
        t.insert(base + ":Country", C(12, it.key(), d2, d10));
        t.insert(base + ":State", C(12, it.key(), d2, d8));
        t.insert(base + ":City", C(12, it.key(), d2, d7));
        t.insert(base + ":Street", C(12, it.key(), d2, d4));
        t.insert(base + ":Postcode", C(12, it.key(), d2, d9));
    }
    addMapped(t, "Url:", pim::urlTypeMap(), QString(), 13, d2, d1);

    // Column names of other address-book programs.
    t.insert("Title", C(1, 0, none, d5));
    t.insert("Web Page", C(13, 1, d2, d1));
    t.insert("Birthday", C(6, 3, d2, d1));
    t.insert("Anniversary", C(6, 1, d2, d1));
    t.insert("E-mail Address", C(4, 1, d2, d1));
    t.insert("E-mail 2 Address", C(4, 2, d2, d1));
    t.insert("E-mail 3 Address", C(4, 0, d2, d1));
    t.insert("Categories", C(7, 0, none, d2));
    static const struct {
        const char* header;
        int code;
    } phones[] = {
        {"Primary Phone", 12}, {"Home Phone", 1},
        {"Home Phone 2", 1},   {"Mobile Phone", 2},
        {"Pager", 6},          {"Company Main Phone", 10},
        {"Business Phone", 3}, {"Business Phone 2", 17},
        {"Business Fax", 4},   {"Assistant's Phone", 19},
        {"Other Phone", 0},    {"Other Fax", 13},
        {"Home Fax", 5},       {"Callback", 8},
        {"Car Phone", 9},      {"ISDN", 11},
        {"Radio Phone", 14},   {"TTY/TDD Phone", 16},
        {"Telex", 15},
    };
    for (const auto& p : phones)
        t.insert(p.header, C(3, p.code, d2, d1));
    static const struct {
        const char* prefix;
        int code;
    } places[] = {{"Home", 1}, {"Business", 2}, {"Other", 0}};
    for (const auto& p : places) {
        const QString pre = p.prefix;
        t.insert(pre + " Street", C(12, p.code, d2, d4));
        t.insert(pre + " Street 2", C(12, p.code, d2, d4));
        t.insert(pre + " Street 3", C(12, p.code, d2, d4));
        t.insert(pre + " City", C(12, p.code, d2, d7));
        t.insert(pre + " State", C(12, p.code, d2, d8));
        t.insert(pre + " Postal Code", C(12, p.code, d2, d9));
        t.insert(pre + " Country", C(12, p.code, d2, d10));
        // The spelling of current Outlook versions.
        t.insert(pre + " Country/Region", C(12, p.code, d2, d10));
    }
    t.insert("Personal Web Page", C(13, 4, d2, d1));
    t.insert("Spouse", C(11, 14, d2, d1));
    t.insert("Children", C(11, 3, d2, d1));
    t.insert("Manager's Name", C(11, 7, d2, d1));
    t.insert("Assistant's Name", C(11, 1, d2, d1));
    t.insert("Referred By", C(11, 11, d2, d1));

    t.insert("Given Name", C(1, 0, none, d2));
    t.insert("Additional Name", C(1, 0, none, d4));
    t.insert("Family Name", C(1, 0, none, d3));
    t.insert("Name Prefix", C(1, 0, none, d5));
    t.insert("Name Suffix", C(1, 0, none, d6));
    t.insert("E-mail 1 - Value", C(4, 1, d2, d1));
    return t;
}

// Built once per process (thread-safe static initialisation) and only read afterwards.
const ColTable& table() {
    static const ColTable t = buildTable();
    return t;
}

// Types whose every value is an entity of its own: two such columns with the same subtype
// ("Home Phone" and "Home Phone 2") give two entities rather than one joined text.
bool isOnePerValue(int type) {
    switch (type) {
        case pim::ENTITY_PHONE:
        case pim::ENTITY_EMAIL:
        case pim::ENTITY_EVENT:
        case pim::ENTITY_IM:
        case pim::ENTITY_REL:
        case pim::ENTITY_URL:
            return true;
        default:
            return false;
    }
}

// A date cell: Outlook's M/d/yyyy (its "0/0/00" means no date) or ISO 8601, with or without
// a time. Returns an invalid value for no date, and the text itself for anything else.
QVariant dateCell(const QString& cell) {
    const QString t = cell.trimmed();
    if (t.isEmpty() || t == QLatin1String("0/0/00"))
        return QVariant();
    if (t.contains(QLatin1Char('/'))) {
        for (const char* f : {"M/d/yyyy", "M/d/yy"}) {
            QDate d = QDate::fromString(t.section(QLatin1Char(' '), 0, 0), QLatin1String(f));
            if (d.isValid()) {
                if (d.year() < 1930 && QLatin1String(f) == QLatin1String("M/d/yy"))
                    d = d.addYears(100);
                return QDateTime(d, QTime(0, 0));
            }
        }
        return t.startsWith(QLatin1String("0/")) ? QVariant() : QVariant(cell);
    }
    const QDate d = QDate::fromString(t.left(10), Qt::ISODate);
    if (d.isValid())
        return QDateTime(d, QTime(0, 0));
    return cell;
}

// The file's text as UTF-8: UTF-16 with a byte-order mark is decoded, and bytes that are not
// valid UTF-8 are taken as Windows-1252 (what spreadsheet programs on Windows write).
QByteArray utf8Bytes(const QByteArray& raw) {
    if (raw.startsWith("\xFF\xFE") || raw.startsWith("\xFE\xFF")) {
        if (QTextCodec* utf16 = QTextCodec::codecForName("UTF-16"))
            return utf16->toUnicode(raw).toUtf8();  // the mark stays, for the row reader
    }
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(raw.constData(), raw.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return raw;
    if (QTextCodec* cp1252 = QTextCodec::codecForName("Windows-1252"))
        return cp1252->toUnicode(raw).toUtf8();
    return raw;
}

}  // namespace

CSVImport::_ColInfo CSVImport::colInfo(QString name) {
    return table().value(name);
}

int CSVImport::knownHeaderCount() {
    return table().size();
}

CSVImport::CSVImport() {
    readPos = rows.constEnd();
}

CSVImport::~CSVImport() {}

void CSVImport::initialize(QString path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    }
    QByteArray text = utf8Bytes(file.readAll());
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(file.errorString().toUtf8().toStdString());
    file.close();
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    if (csvhelper::utf8CSVRow(header, &buffer, true)) {
        QStringList scratch;
        for (;;) {
            bool more = csvhelper::utf8CSVRow(scratch, &buffer, false);
            // A last line without a line feed is still a row; a read that starts at the very
            // end yields one empty cell, which is not.
            if (more || !(scratch.size() == 1 && scratch.first().isEmpty()))
                rows.append(scratch);
            scratch.clear();
            if (!more)
                break;
        }
    }
    columns.clear();
    columns.reserve(header.size());
    bool known = false;
    for (const QString& h : header) {
        columns.append(colInfo(h));
        known = known || columns.last().type != 0;
    }
    readPos = rows.constBegin();
    if (!known && !text.trimmed().isEmpty()) {
        // Not an address book (or not CSV at all): say so rather than import nothing.
        throw std::runtime_error(
            QCoreApplication::translate("ImportContactsToLocalThread",
                                        "%1 is not a contacts CSV file: none of its column "
                                        "names is known.")
                .arg(QFileInfo(path).fileName())
                .toUtf8()
                .toStdString());
    }
}

int CSVImport::total() {
    return rows.size();
}

bool CSVImport::hasNext() {
    return readPos != rows.constEnd();
}

pim::_Contact CSVImport::nextContact() {
    const QStringList& row = *readPos;
    ++readPos;
    pim::_Contact contact;
    QMap<QString, pim::Entity> work;
    for (int i = 0; i < header.size(); ++i) {
        const QString cell = i < row.size() ? row[i] : QString();
        const _ColInfo& info = columns[i];
        if (cell.isEmpty() || info.type == 0)
            continue;
        QString key = QString("%1-%2").arg(info.type).arg(info.subtype);
        if (isOnePerValue(info.type)) {
            // Find the first entity of this type and subtype whose value is still free; the
            // same value twice (two columns naming one address) is kept once.
            bool duplicate = false;
            for (int n = 2;; ++n) {
                QMap<QString, pim::Entity>::const_iterator it = work.constFind(key);
                if (it == work.constEnd())
                    break;
                const QString have = it->text(info.dataKey);
                if (have.isEmpty())
                    break;
                if (have == cell) {
                    duplicate = true;
                    break;
                }
                key = QString("%1-%2#%3").arg(info.type).arg(info.subtype).arg(n);
            }
            if (duplicate)
                continue;
        }
        QVariant value = cell;
        if (info.type == pim::ENTITY_EVENT) {
            value = dateCell(cell);
            if (!value.isValid())
                continue;
        }
        pim::Entity& entity = work[key];
        if (!info.subtypeKey.isEmpty() && info.subtype != 0) {
            entity.fields[info.subtypeKey] = info.subtype;
        }
        const QString old = entity.text(info.dataKey);
        entity.fields[info.dataKey] = old.isEmpty() ? value : QVariant(old + " " + cell);
    }
    QRegExp keyPattern("(\\d+)\\-\\d+");
    for (QMap<QString, pim::Entity>::iterator it = work.begin(); it != work.end(); ++it) {
        if (keyPattern.indexIn(it.key()) < 0)
            continue;
        const int type = keyPattern.cap(1).toInt();
        pim::Entity& entity = it.value();
        if (type == pim::ENTITY_ADDR) {
            entity.fields["data1"] = entity.formattedAddr();
        } else if (type == pim::ENTITY_IM) {
            entity.fields["data2"] = 1;
        } else if (type == pim::ENTITY_NAME) {
            contact.fullName = entity.fullName();
            entity.fields["data1"] = contact.fullName;
        }
        contact.entities[type].append(entity);
    }
    if (contact.fullName.isEmpty()) {
        // A row without a name but with a company, an e-mail address or a number is still
        // someone: name it after the first of these.
        contact.fullName = pim::nameFromDetails(contact);
        if (!contact.fullName.isEmpty()) {
            pim::Entity name;
            name.fields["data2"] = contact.fullName;
            name.fields["data1"] = contact.fullName;
            contact.entities[pim::ENTITY_NAME].append(name);
        }
    }
    return contact;
}

void CSVImport::uninitialize() {}
