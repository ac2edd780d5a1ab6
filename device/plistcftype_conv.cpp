// Parsing, serialising, the text form, deep copies and keyed archives of PlistCFType.
#include "plistcftype.h"

#include <plist/plist.h>

#include <QFile>
#include <QStringList>
#include <cstdlib>
#include <limits>

#include "platform/mobilesync/plistguard.h"

namespace {

inline plist_t N(void* p) {
    return static_cast<plist_t>(p);
}

// Deeper nesting than this is not walked by the text form (a hostile file must not exhaust
// the stack).
const int kMaxTextDepth = 256;

QString textOf(const PlistCFType& v, int depth);

QString containerText(const PlistCFType& v, int depth) {
    if (depth >= kMaxTextDepth)
        return QStringLiteral("...");
    QStringList parts;
    if (v.isCFArray()) {
        const int n = v.array_size();
        for (int i = 0; i < n; ++i)
            parts << textOf(v.at(i), depth + 1);
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    v.dict_foreach([&](const char* key, const PlistCFType& value) {
        // The key goes in first, then the value through arg(), so a place marker in a key is
        // filled by the value's text.
        parts
            << QStringLiteral("%1 : %2").arg(QString::fromUtf8(key)).arg(textOf(value, depth + 1));
    });
    return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
}

QString textOf(const PlistCFType& v, int depth) {
    switch (v.typeId()) {
        case PlistCFType::kTypeBoolean:
            return v.CFNumberBool(false) ? QStringLiteral("1") : QStringLiteral("0");
        case PlistCFType::kTypeNumber:
            if (plist_get_node_type(N(v.ref())) == PLIST_REAL)
                return QString::number(v.CFNumberDouble(0), 'g', 6);
            return QString::number(v.CFNumberInt64(0));
        case PlistCFType::kTypeString:
            return v.CFStringQString();
        case PlistCFType::kTypeArray:
        case PlistCFType::kTypeDictionary:
            return containerText(v, depth);
        case PlistCFType::kTypeDate:
            return v.CFDateToDateTime(0).toString(Qt::TextDate);
        case PlistCFType::kTypeData:
            return QString::fromLatin1(v.CFDataBytes().toBase64());
        case PlistCFType::kTypeKeyedArchiverUID:
            return QString::number(static_cast<int>(v.CFKeyedArchiverUIDGetValue()));
        default:
            return QStringLiteral("NULL");
    }
}

// The root index of a keyed archive: the UID under "root" in "$top", 0 when missing.
unsigned int archiveRootIndex(const PlistCFType& archive) {
    return archive.get(QStringLiteral("$top"))
        .get(QStringLiteral("root"))
        .CFKeyedArchiverUIDGetValue();
}

}  // namespace

PlistCFType PlistCFType::createCFPropertyList(QByteArray bytes) {
    // Bytes from outside (a phone, a backup, a peer) pass the guard before libplist sees them.
    return PlistCFType(plistguard::parse(bytes.constData(), size_t(bytes.size())), true);
}

PlistCFType PlistCFType::createCFPropertyListFromFile(QString path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return PlistCFType();
    return createCFPropertyList(f.readAll());
}

QByteArray PlistCFType::CFPropertyListToBytes(CFPropertyListFormat format) const {
    if (isNull())
        return QByteArray();
    char* buf = nullptr;
    uint32_t len = 0;
    if (format == kCFPropertyListXMLFormat_v1_0)
        plist_to_xml(N(ref()), &buf, &len);
    else
        plist_to_bin(N(ref()), &buf, &len);
    QByteArray out;
    if (buf && len > 0 && len <= uint32_t(std::numeric_limits<int>::max()))
        out = QByteArray(buf, int(len));
    free(buf);
    return out;
}

PlistCFType PlistCFType::CFPropertyListToData(CFPropertyListFormat format) const {
    return createCFData(CFPropertyListToBytes(format));
}

QString PlistCFType::toString() const {
    return textOf(*this, 0);
}

PlistCFType PlistCFType::clone(PlistCFType value) {
    if (value.isNull())
        return PlistCFType();
    return PlistCFType(plist_copy(N(value.ref())), true);
}

PlistCFType PlistCFType::createCFDictionaryCreateMutableCopy(const PlistCFType& value) {
    if (value.isCFDictionary())
        return clone(value);
    return createCFDictionary();
}

QHash<QString, PlistCFType> PlistCFType::NSKeyedArchiver() const {
    QHash<QString, PlistCFType> result;
    if (!isCFDictionary())
        return result;
    const PlistCFType objects = get(QStringLiteral("$objects"));
    if (!objects.isCFArray())
        return result;
    const PlistCFType root = objects.at(int(archiveRootIndex(*this)));
    if (!root.isCFDictionary())
        return result;
    root.dict_foreach([&](const char* key, const PlistCFType& value) {
        if (value.isCFKeyedArchiverUID()) {
            const unsigned int idx = value.CFKeyedArchiverUIDGetValue();
            result.insert(QString::fromUtf8(key), idx <= unsigned(std::numeric_limits<int>::max())
                                                      ? objects.at(int(idx))
                                                      : PlistCFType());
        } else {
            result.insert(QString::fromUtf8(key), value);
        }
    });
    return result;
}

QHash<QString, PlistCFType> PlistCFType::parseNSDictionaryStringCFType(const PlistCFType& archive) {
    QHash<QString, PlistCFType> result;
    const PlistCFType objects = archive.get(QStringLiteral("$objects"));
    const int rootIndex = static_cast<int>(archiveRootIndex(archive));
    if (rootIndex < 1)
        return result;
    const PlistCFType root = objects.at(rootIndex);
    const PlistCFType keys = root.get(QStringLiteral("NS.keys"));
    const PlistCFType values = root.get(QStringLiteral("NS.objects"));
    const int n = qMin(keys.array_size(), values.array_size());
    for (int i = 0; i < n; ++i) {
        const int keyIndex = static_cast<int>(keys.at(i).CFKeyedArchiverUIDGetValue());
        const int valueIndex = static_cast<int>(values.at(i).CFKeyedArchiverUIDGetValue());
        const QString key = objects.at(keyIndex).CFStringQString();
        result.insert(key, clone(objects.at(valueIndex)));
    }
    return result;
}

PlistCFType PlistCFType::createNSDictionaryStringCFType(const QHash<QString, PlistCFType>& dict,
                                                        bool isMutable) {
    const QList<QString> keys = dict.keys();
    const int n = keys.size();

    PlistCFType archive = createCFDictionary();
    PlistCFType objects = createCFArray();
    PlistCFType top = createCFDictionary();
    top.put(QStringLiteral("root"), createCFKeyedArchiverUID(1));
    archive.put(QStringLiteral("$archiver"), createCFString(QStringLiteral("NSKeyedArchiver")));
    archive.put(QStringLiteral("$objects"), objects);
    archive.put(QStringLiteral("$top"), top);
    archive.put(QStringLiteral("$version"), createCFNumberInt64(100000));

    PlistCFType root = createCFDictionary();
    objects.append(createCFString(QStringLiteral("$null")));
    objects.append(root);

    PlistCFType nsKeys = createCFArray();
    for (int j = 0; j < n; ++j) {
        nsKeys.append(createCFKeyedArchiverUID(2 + j));
        objects.append(createCFString(keys.at(j)));
    }
    PlistCFType nsObjects = createCFArray();
    for (int j = 0; j < n; ++j) {
        nsObjects.append(createCFKeyedArchiverUID(n + 2 + j));
        PlistCFType value = dict.value(keys.at(j));
        // Every index must be filled, or the UIDs after it would point one slot off.
        objects.append(value.isNull() ? createCFString(QStringLiteral("$null")) : value);
    }
    root.put(QStringLiteral("NS.keys"), nsKeys);
    root.put(QStringLiteral("NS.objects"), nsObjects);
    root.put(QStringLiteral("$class"), createCFKeyedArchiverUID(2 * n + 2));

    PlistCFType classes = createCFArray();
    if (isMutable)
        classes.append(createCFString(QStringLiteral("NSMutableDictionary")));
    classes.append(createCFString(QStringLiteral("NSDictionary")));
    classes.append(createCFString(QStringLiteral("NSObject")));
    PlistCFType cls = createCFDictionary();
    cls.put(QStringLiteral("$classes"), classes);
    cls.put(QStringLiteral("$classname"),
            createCFString(isMutable ? QStringLiteral("NSMutableDictionary")
                                     : QStringLiteral("NSDictionary")));
    objects.append(cls);
    return archive;
}
