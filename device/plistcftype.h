// PlistCFType: a small shared handle on one libplist node, with CoreFoundation-style names.
//
// Ownership in one paragraph: a handle either owns its node (factories, parsing, clones, nodes
// the device library hands over) and frees it with the last handle sharing its record, or
// borrows it (results of at/get, NSKeyedArchiver values). Handing a value to a container
// (put, append, ...) clears the owned flag of its record: the container frees it from then on.
// Copies share the record, so they see that change. Nothing here throws; failure shows as an
// empty value, a reader's default, empty text or bytes, or an unchanged container.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSharedPointer>
#include <QString>
#include <functional>
#include <memory>

struct __CFTimeZone;

// Serialisation format: 100 is XML, 200 and every other value binary.
typedef int CFPropertyListFormat;
enum : int { kCFPropertyListXMLFormat_v1_0 = 100, kCFPropertyListBinaryFormat_v1_0 = 200 };

class PlistCFTypePrivacy {
public:
    PlistCFTypePrivacy(void* node, bool owned);
    // A borrowed node kept alive by the tree it lives in, which this record shares.
    PlistCFTypePrivacy(void* node, std::shared_ptr<void> tree);
    ~PlistCFTypePrivacy();
    PlistCFTypePrivacy(const PlistCFTypePrivacy&) = delete;
    PlistCFTypePrivacy& operator=(const PlistCFTypePrivacy&) = delete;

    void* p() const { return m_node; }
    bool owned() const { return m_owned; }
    void disown() { m_owned = false; }

private:
    void* m_node;
    bool m_owned;
    std::shared_ptr<void> m_tree;

    friend class PlistCFType;
};

class PlistCFType {
public:
    // Type numbers reported by typeId().
    enum TypeId {
        kTypeString = 7,
        kTypeNull = 16,
        kTypeDictionary = 18,
        kTypeArray = 19,
        kTypeData = 20,
        kTypeBoolean = 21,
        kTypeNumber = 22,
        kTypeKeyedArchiverUID = 35,
        kTypeDate = 37,
    };

    // An empty value (null node).
    PlistCFType() : PlistCFType(nullptr, true) {}
    // Wraps a node; a null node gives an empty value whatever the flag.
    PlistCFType(void* node, bool owned);
    // A node inside a tree that the handle (and its copies) keeps until the last of them goes:
    // part of a message used where it lies instead of copied out. Borrowed like at()'s results,
    // so putting it into a container copies it.
    static PlistCFType within(void* node, std::shared_ptr<void> tree);
    // For a tree built around this value (a message to send): the node to link into it, this
    // value's own when the handle owns it (*own true; keepInside must follow) or else a copy.
    void* handOver(bool* own) const;
    // After handOver gave this value's own node: the handle and its copies keep `tree`, which
    // the node lives in now.
    void keepInside(std::shared_ptr<void> tree) const;
    PlistCFType(const PlistCFType& other);
    PlistCFType& operator=(const PlistCFType& other);
    virtual ~PlistCFType();

    void* ref() const;
    bool isNull() const { return ref() == nullptr; }
    // True while this handle's record still owns (and will free) its node.
    bool isOwned() const;
    int typeId() const;

    bool isCFBoolean() const;
    bool isCFNumber() const;
    bool isCFString() const;
    bool isCFData() const;
    bool isCFDate() const;
    bool isCFDictionary() const;
    bool isCFArray() const;
    bool isCFKeyedArchiverUID() const;

    // Readers: the default (or an empty result) for an empty value or another node kind.
    bool CFNumberBool(bool def) const;
    long long CFNumberInt64(long long def) const;
    int CFNumberInt(int def) const;
    short CFNumberInt16(short def) const;
    char CFNumberInt8(char def) const;
    double CFNumberDouble(double def) const;
    float CFNumberFloat(float def) const;
    QString CFStringQString() const;
    int CFStringLength() const;
    QByteArray CFDataBytes() const;
    int CFDataLength() const;
    unsigned int CFKeyedArchiverUIDGetValue() const;
    // A date node as local date-time. The wall-clock fields are those the writer took from its
    // argument (see createCFDate), so reading and writing are inverses in every time zone; the
    // offset (seconds) is added to the stored instant first.
    QDateTime CFDateToDateTime(int offsetSeconds) const;
    QDateTime CFDateToDateTime(const __CFTimeZone* zone) const;
    QDateTime CFDateToDateTime(QString zoneName) const;
    // A date node as the moment it names, in local time: for timestamps such as when a backup
    // was made, which a writer stores as a true instant rather than as wall-clock fields.
    QDateTime CFDateToMoment() const;

    // Sizes and navigation. at() and get() return borrowed handles into this container.
    int array_size() const;
    int dict_size() const;
    PlistCFType at(int i) const;
    PlistCFType get(QString key) const;
    PlistCFType get(PlistCFType key) const;
    // One new owned string value per entry, in the dictionary's own order.
    QList<PlistCFType> dict_keys() const;
    // Walks the dictionary once in its own order (no look-up per key); values are borrowed.
    // The key pointer is valid during the call only.
    void dict_foreach(
        const std::function<void(const char* key, const PlistCFType& value)>& fn) const;
    // The same walk collected into a list of (key text, borrowed value).
    QList<QPair<QString, PlistCFType>> dict_items() const;

    // Container writes: hand the value over to this container. A value that this handle does
    // not own (a borrowed node that already has a place) is copied instead, so a node never
    // ends up in two places.
    PlistCFType& put(QString key, PlistCFType value);
    PlistCFType& put(PlistCFType key, PlistCFType value);
    PlistCFType& dict_replace(const PlistCFType& key, const PlistCFType& value);
    PlistCFType& append(PlistCFType value);
    PlistCFType& array_replace(int index, const PlistCFType& value);

    // Factories: new owned values.
    static PlistCFType createCFBoolean(bool v);
    static PlistCFType createCFNumberInt8(char v);
    static PlistCFType createCFNumberInt16(short v);
    static PlistCFType createCFNumberInt32(int v);
    static PlistCFType createCFNumberInt64(long long v);
    static PlistCFType createCFNumberCFIndex(long v);
    static PlistCFType createCFNumberFloat(float v);
    static PlistCFType createCFNumberDouble(double v);
    static PlistCFType createCFString(QString s);
    static PlistCFType createCFData(QByteArray bytes);
    // Stores the argument's wall-clock fields as UTC (a local 10:00 becomes 10:00 UTC), to the
    // millisecond, in any year (also before 1933 and after 2068, where libplist's own 32-bit
    // date accessors cannot go).
    static PlistCFType createCFDate(QDateTime dt);
    static PlistCFType createCFKeyedArchiverUID(long uid);
    static PlistCFType createCFDictionary();
    static PlistCFType createCFArray();
    static PlistCFType createCFDictionary(const QList<PlistCFType>& keys,
                                          const QList<PlistCFType>& values);
    static PlistCFType createCFArray(const QList<PlistCFType>& items);

    // Conversions.
    static PlistCFType createCFPropertyList(QByteArray bytes);
    static PlistCFType createCFPropertyListFromFile(QString path);
    QByteArray CFPropertyListToBytes(CFPropertyListFormat format) const;
    PlistCFType CFPropertyListToData(CFPropertyListFormat format) const;
    QString toString() const;
    static PlistCFType clone(PlistCFType value);
    static PlistCFType createCFDictionaryCreateMutableCopy(const PlistCFType& value);

    // Keyed archives.
    QHash<QString, PlistCFType> NSKeyedArchiver() const;
    static QHash<QString, PlistCFType> parseNSDictionaryStringCFType(const PlistCFType& archive);
    static PlistCFType createNSDictionaryStringCFType(const QHash<QString, PlistCFType>& dict,
                                                      bool isMutable);

private:
    int nodeType() const;
    // Makes a node ready to be linked into a container: clears our owned flag, or copies the
    // node when we do not own it.
    void* takeForContainer() const;

    // The record of a node that a handle owns or whose tree it keeps, shared by its copies.
    QSharedPointer<PlistCFTypePrivacy> d;
    // A borrowed node (at(), get(), a walk's values) needs no record: copies share nothing to
    // change, and a read looks up hundreds of thousands of them.
    void* m_borrowed = nullptr;
};
