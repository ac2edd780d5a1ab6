#include "plistcftype.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// Seconds from 1970-01-01 to 2001-01-01 UTC.
const qint64 kMacEpoch = 978307200;

inline plist_t N(void* p) {
    return static_cast<plist_t>(p);
}

QByteArray utf8Key(const QString& key) {
    // A key is cut at a NUL character, as the C library sees it.
    QByteArray k = key.toUtf8();
    int nul = k.indexOf('\0');
    if (nul >= 0)
        k.truncate(nul);
    return k;
}

// libplist 2.2 keeps a date as a double of seconds since 2001-01-01 UTC, but its accessors
// take and give 32-bit seconds: anything before 1932-12-13 or after 2069-01-19 (every birthday
// without a year, which phones keep in 1604) would be clamped or wrapped. Dates therefore go
// through the binary form of a lone date object, which carries the double as it is: marker
// 0x33, then 8 bytes big-endian.
const int kBinHeader = 8;  // "bplist00"
const int kBinTrailer = 32;

// The stored seconds of a date node; false when the library gives no binary form.
bool dateSeconds(plist_t node, double* out) {
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(node, &bin, &len);
    bool ok = false;
    if (bin && len >= kBinHeader + 9 && static_cast<unsigned char>(bin[kBinHeader]) == 0x33) {
        quint64 bits = 0;
        for (int i = 0; i < 8; ++i)
            bits = (bits << 8) | static_cast<unsigned char>(bin[kBinHeader + 1 + i]);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v)) {
            *out = v;
            ok = true;
        }
    }
    if (bin)
        free(bin);
    return ok;
}

// A date node holding exactly these seconds since 2001-01-01 UTC.
plist_t newDateNode(double seconds) {
    QByteArray bin("bplist00", kBinHeader);
    quint64 bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    bin.append(char(0x33));
    for (int i = 7; i >= 0; --i)
        bin.append(char((bits >> (8 * i)) & 0xff));
    const char offsetTable = char(kBinHeader);  // the one object starts right after the header
    bin.append(offsetTable);
    QByteArray trailer(kBinTrailer, '\0');
    trailer[6] = 1;   // offset size
    trailer[7] = 1;   // object reference size
    trailer[15] = 1;  // object count
    // top object 0; offset table at header + 9 bytes of the object
    trailer[31] = char(kBinHeader + 9);
    bin.append(trailer);
    plist_t node = nullptr;
    plist_from_bin(bin.constData(), uint32_t(bin.size()), &node);
    if (node && plist_get_node_type(node) == PLIST_DATE)
        return node;
    if (node)
        plist_free(node);
    return plist_new_date(0, 0);
}

// The instant of a date node in milliseconds since 2001-01-01 UTC, to the nearest millisecond.
// The accessor is exact within its range and cheap; outside it the library gives the lowest
// 32-bit value, and within a second of the epoch it loses the sign: then the binary form tells.
qint64 dateMillisSince2001(plist_t node) {
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    double v = 0;
    if ((sec == std::numeric_limits<int32_t>::min() || (sec == 0 && usec != 0)) &&
        dateSeconds(node, &v))
        return qint64(std::llround(v * 1000.0));
    return qint64(sec) * 1000 + (sec < 0 ? -1 : 1) * qint64(std::llround(usec / 1000.0));
}

}  // namespace

// ---- ownership record ----

PlistCFTypePrivacy::PlistCFTypePrivacy(void* node, bool owned) : m_node(node), m_owned(owned) {}

PlistCFTypePrivacy::PlistCFTypePrivacy(void* node, std::shared_ptr<void> tree)
    : m_node(node), m_owned(false), m_tree(std::move(tree)) {}

PlistCFTypePrivacy::~PlistCFTypePrivacy() {
    if (m_node && m_owned)
        plist_free(N(m_node));
}

// ---- handle ----

PlistCFType::PlistCFType(void* node, bool owned) {
    if (node && owned)
        d.reset(new PlistCFTypePrivacy(node, true));
    else
        m_borrowed = node;
}

PlistCFType::PlistCFType(const PlistCFType& other) : d(other.d), m_borrowed(other.m_borrowed) {}

void* PlistCFType::handOver(bool* own) const {
    *own = isOwned();
    return isNull() ? nullptr : takeForContainer();
}

void PlistCFType::keepInside(std::shared_ptr<void> tree) const {
    d->m_owned = false;
    d->m_tree = std::move(tree);
}

PlistCFType PlistCFType::within(void* node, std::shared_ptr<void> tree) {
    PlistCFType handle;
    if (node)
        handle.d.reset(new PlistCFTypePrivacy(node, std::move(tree)));
    return handle;
}

PlistCFType& PlistCFType::operator=(const PlistCFType& other) {
    d = other.d;
    m_borrowed = other.m_borrowed;
    return *this;
}

PlistCFType::~PlistCFType() {}

void* PlistCFType::ref() const {
    return d ? d->p() : m_borrowed;
}

bool PlistCFType::isOwned() const {
    return d && d->p() && d->owned();
}

int PlistCFType::nodeType() const {
    void* p = ref();
    return p ? int(plist_get_node_type(N(p))) : int(PLIST_NONE);
}

int PlistCFType::typeId() const {
    switch (nodeType()) {
        case PLIST_BOOLEAN:
            return kTypeBoolean;
        case PLIST_UINT:
        case PLIST_REAL:
            return kTypeNumber;
        case PLIST_STRING:
        case PLIST_KEY:
            return kTypeString;
        case PLIST_ARRAY:
            return kTypeArray;
        case PLIST_DICT:
            return kTypeDictionary;
        case PLIST_DATE:
            return kTypeDate;
        case PLIST_DATA:
            return kTypeData;
        case PLIST_UID:
            return kTypeKeyedArchiverUID;
        default:
            return kTypeNull;
    }
}

bool PlistCFType::isCFBoolean() const {
    return nodeType() == PLIST_BOOLEAN;
}
bool PlistCFType::isCFNumber() const {
    int t = nodeType();
    return t == PLIST_UINT || t == PLIST_REAL;
}
bool PlistCFType::isCFString() const {
    int t = nodeType();
    return t == PLIST_STRING || t == PLIST_KEY;
}
bool PlistCFType::isCFData() const {
    return nodeType() == PLIST_DATA;
}
bool PlistCFType::isCFDate() const {
    return nodeType() == PLIST_DATE;
}
bool PlistCFType::isCFDictionary() const {
    return nodeType() == PLIST_DICT;
}
bool PlistCFType::isCFArray() const {
    return nodeType() == PLIST_ARRAY;
}
bool PlistCFType::isCFKeyedArchiverUID() const {
    return nodeType() == PLIST_UID;
}

// ---- readers ----

bool PlistCFType::CFNumberBool(bool def) const {
    if (!isCFBoolean())
        return def;
    uint8_t v = 0;
    plist_get_bool_val(N(ref()), &v);
    return v != 0;
}

long long PlistCFType::CFNumberInt64(long long def) const {
    if (nodeType() != PLIST_UINT)
        return def;
    uint64_t v = 0;
    plist_get_uint_val(N(ref()), &v);
    return static_cast<long long>(v);
}

int PlistCFType::CFNumberInt(int def) const {
    if (nodeType() != PLIST_UINT)
        return def;
    return static_cast<int>(static_cast<uint32_t>(CFNumberInt64(0)));
}

short PlistCFType::CFNumberInt16(short def) const {
    if (nodeType() != PLIST_UINT)
        return def;
    return static_cast<short>(static_cast<uint16_t>(CFNumberInt64(0)));
}

char PlistCFType::CFNumberInt8(char def) const {
    if (nodeType() != PLIST_UINT)
        return def;
    return static_cast<char>(static_cast<signed char>(static_cast<uint8_t>(CFNumberInt64(0))));
}

double PlistCFType::CFNumberDouble(double def) const {
    if (nodeType() != PLIST_REAL)
        return def;
    double v = 0;
    plist_get_real_val(N(ref()), &v);
    return v;
}

float PlistCFType::CFNumberFloat(float def) const {
    if (nodeType() != PLIST_REAL)
        return def;
    return static_cast<float>(CFNumberDouble(0));
}

QString PlistCFType::CFStringQString() const {
    int t = nodeType();
    if (t == PLIST_STRING) {
        uint64_t len = 0;
        const char* s = plist_get_string_ptr(N(ref()), &len);
        if (!s)
            return QString();
        return QString::fromUtf8(s, int(strnlen(s, size_t(len))));
    }
    if (t == PLIST_KEY) {
        char* s = nullptr;
        plist_get_key_val(N(ref()), &s);
        QString r = s ? QString::fromUtf8(s) : QString();
        free(s);
        return r;
    }
    return QString();
}

int PlistCFType::CFStringLength() const {
    return CFStringQString().length();
}

QByteArray PlistCFType::CFDataBytes() const {
    if (!isCFData())
        return QByteArray();
    uint64_t len = 0;
    const char* p = plist_get_data_ptr(N(ref()), &len);
    if (!p || len == 0 || len > uint64_t(std::numeric_limits<int>::max()))
        return QByteArray();
    return QByteArray(p, int(len));
}

int PlistCFType::CFDataLength() const {
    return CFDataBytes().size();
}

unsigned int PlistCFType::CFKeyedArchiverUIDGetValue() const {
    if (!isCFKeyedArchiverUID())
        return 0;
    uint64_t v = 0;
    plist_get_uid_val(N(ref()), &v);
    return static_cast<unsigned int>(v);
}

QDateTime PlistCFType::CFDateToDateTime(int offsetSeconds) const {
    if (!isCFDate())
        return QDateTime();
    const qint64 ms = (kMacEpoch + offsetSeconds) * 1000 + dateMillisSince2001(N(ref()));
    // The writer stored wall-clock fields as UTC; give the same fields back in local time, so
    // a round trip keeps the value and a birthday at midnight UTC keeps its calendar day.
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    QDateTime local(utc.date(), utc.time(), Qt::LocalTime);
    // A wall-clock time skipped by a summer-time change (some zones skip midnight): move
    // forward past the gap, never back, so that a birthday keeps its calendar day.
    for (int step = 1; !local.isValid() && step <= 6; ++step) {
        const QDateTime later = utc.addSecs(step * 30 * 60);
        local = QDateTime(later.date(), later.time(), Qt::LocalTime);
    }
    if (!local.isValid())
        local = utc.toLocalTime();
    return local;
}

QDateTime PlistCFType::CFDateToMoment() const {
    if (!isCFDate())
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(kMacEpoch * 1000 + dateMillisSince2001(N(ref())),
                                          Qt::LocalTime);
}

QDateTime PlistCFType::CFDateToDateTime(const __CFTimeZone*) const {
    return CFDateToDateTime(0);
}

QDateTime PlistCFType::CFDateToDateTime(QString) const {
    return CFDateToDateTime(0);
}

// ---- sizes and navigation ----

int PlistCFType::array_size() const {
    return isCFArray() ? int(plist_array_get_size(N(ref()))) : 0;
}

int PlistCFType::dict_size() const {
    return isCFDictionary() ? int(plist_dict_get_size(N(ref()))) : 0;
}

PlistCFType PlistCFType::at(int i) const {
    if (!isCFArray() || i < 0 || i >= array_size())
        return PlistCFType();
    return PlistCFType(plist_array_get_item(N(ref()), uint32_t(i)), false);
}

PlistCFType PlistCFType::get(QString key) const {
    if (!isCFDictionary())
        return PlistCFType();
    return PlistCFType(plist_dict_get_item(N(ref()), utf8Key(key).constData()), false);
}

PlistCFType PlistCFType::get(PlistCFType key) const {
    return get(key.toString());
}

QList<PlistCFType> PlistCFType::dict_keys() const {
    QList<PlistCFType> keys;
    dict_foreach([&keys](const char* k, const PlistCFType&) {
        keys.append(createCFString(QString::fromUtf8(k)));
    });
    return keys;
}

void PlistCFType::dict_foreach(
    const std::function<void(const char* key, const PlistCFType& value)>& fn) const {
    if (!isCFDictionary())
        return;
    plist_t node = N(ref());
    plist_dict_iter raw = nullptr;
    plist_dict_new_iter(node, &raw);
    // fn may throw: the iterator and the key are freed all the same.
    const std::unique_ptr<void, void (*)(void*)> it(raw, free);
    if (!it)
        return;
    for (;;) {
        char* rawKey = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it.get(), &rawKey, &val);
        const std::unique_ptr<char, void (*)(void*)> key(rawKey, free);
        if (!key)
            break;
        fn(key.get(), PlistCFType(val, false));
    }
}

QList<QPair<QString, PlistCFType>> PlistCFType::dict_items() const {
    QList<QPair<QString, PlistCFType>> items;
    dict_foreach([&items](const char* k, const PlistCFType& v) {
        items.append(qMakePair(QString::fromUtf8(k), v));
    });
    return items;
}

// ---- container writes ----

void* PlistCFType::takeForContainer() const {
    if (d && d->owned()) {
        d->disown();
        return d->p();
    }
    // A borrowed node already has a place (or belongs to somebody else): linking it again
    // would free it twice, so the container gets a copy.
    return plist_copy(N(ref()));
}

PlistCFType& PlistCFType::put(QString key, PlistCFType value) {
    if (!isCFDictionary() || value.isNull())
        return *this;
    if (value.ref() == ref())  // a dictionary into itself
        return *this;
    plist_t node = N(value.takeForContainer());
    plist_dict_set_item(N(ref()), utf8Key(key).constData(), node);
    return *this;
}

PlistCFType& PlistCFType::put(PlistCFType key, PlistCFType value) {
    if (key.isNull())
        return *this;
    return put(key.toString(), value);
}

PlistCFType& PlistCFType::dict_replace(const PlistCFType& key, const PlistCFType& value) {
    return put(key, value);
}

PlistCFType& PlistCFType::append(PlistCFType value) {
    if (!isCFArray() || value.isNull() || value.ref() == ref())
        return *this;
    plist_array_append_item(N(ref()), N(value.takeForContainer()));
    return *this;
}

PlistCFType& PlistCFType::array_replace(int index, const PlistCFType& value) {
    if (!isCFArray() || value.isNull() || value.ref() == ref())
        return *this;
    // Outside the array the library would change nothing; the value then stays the caller's.
    if (index < 0 || index >= array_size())
        return *this;
    plist_array_set_item(N(ref()), N(value.takeForContainer()), uint32_t(index));
    return *this;
}

// ---- factories ----

PlistCFType PlistCFType::createCFBoolean(bool v) {
    return PlistCFType(plist_new_bool(v), true);
}
PlistCFType PlistCFType::createCFNumberInt8(char v) {
    return createCFNumberInt64(static_cast<signed char>(v));
}
PlistCFType PlistCFType::createCFNumberInt16(short v) {
    return createCFNumberInt64(v);
}
PlistCFType PlistCFType::createCFNumberInt32(int v) {
    return createCFNumberInt64(v);
}
PlistCFType PlistCFType::createCFNumberInt64(long long v) {
    return PlistCFType(plist_new_uint(static_cast<uint64_t>(v)), true);
}
PlistCFType PlistCFType::createCFNumberCFIndex(long v) {
    return createCFNumberInt64(v);
}
PlistCFType PlistCFType::createCFNumberFloat(float v) {
    return createCFNumberDouble(double(v));
}
PlistCFType PlistCFType::createCFNumberDouble(double v) {
    return PlistCFType(plist_new_real(v), true);
}
PlistCFType PlistCFType::createCFString(QString s) {
    return PlistCFType(plist_new_string(utf8Key(s).constData()), true);
}
PlistCFType PlistCFType::createCFData(QByteArray bytes) {
    return PlistCFType(plist_new_data(bytes.constData(), uint64_t(bytes.size())), true);
}

PlistCFType PlistCFType::createCFDate(QDateTime dt) {
    // The wall-clock fields are taken as UTC whatever the argument's time spec.
    const QDateTime utc(dt.date(), dt.time(), Qt::UTC);
    if (!utc.isValid())
        return PlistCFType(plist_new_date(0, 0), true);
    const qint64 ms = utc.toMSecsSinceEpoch() - kMacEpoch * 1000;
    // Within the accessor's range its own node is exact; beyond it only the binary form is.
    const qint64 q = ms / 1000;  // toward zero
    if (q > std::numeric_limits<int32_t>::min() && q < std::numeric_limits<int32_t>::max())
        return PlistCFType(plist_new_date(int32_t(q), int32_t((ms - q * 1000) * 1000)), true);
    return PlistCFType(newDateNode(double(ms) / 1000.0), true);
}

PlistCFType PlistCFType::createCFKeyedArchiverUID(long uid) {
    return PlistCFType(plist_new_uid(static_cast<uint64_t>(uid)), true);
}

PlistCFType PlistCFType::createCFDictionary() {
    return PlistCFType(plist_new_dict(), true);
}

PlistCFType PlistCFType::createCFArray() {
    return PlistCFType(plist_new_array(), true);
}

PlistCFType PlistCFType::createCFDictionary(const QList<PlistCFType>& keys,
                                            const QList<PlistCFType>& values) {
    PlistCFType dict = createCFDictionary();
    const int n = qMin(keys.size(), values.size());
    for (int i = 0; i < n; ++i)
        dict.put(keys.at(i).toString(), values.at(i));
    return dict;
}

PlistCFType PlistCFType::createCFArray(const QList<PlistCFType>& items) {
    PlistCFType array = createCFArray();
    for (const PlistCFType& item : items)
        array.append(item);
    return array;
}
