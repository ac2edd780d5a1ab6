#include "keybag.h"

#include "qopensslevpaes.h"

#include <openssl/evp.h>

#include <climits>
#include <stdexcept>

unsigned int g_keybagInt(const QByteArray& value) {
    if (value.size() < 4)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value.constData());
    return (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | unsigned(p[3]);
}

unsigned int _KeybagPros::getInt32(const QString& tag) const {
    return g_keybagInt(tags.value(tag));
}

_KeybagInfo parseKeybag(const QByteArray& data) {
    static const QString CLASSKEY_TAGS = QStringLiteral("CLAS WRAP WPKY KTYP PBKY");
    _KeybagInfo info;
    _KeybagPros current;
    int pos = 0;
    const int total = data.size();
    while (pos < total) {
        // A record needs its 8-byte header; a stray tail is no record.
        if (total - pos < 8)
            break;
        const QString tag = QString::fromLatin1(data.constData() + pos, 4);
        const unsigned int length = g_keybagInt(data.mid(pos + 4, 4));
        pos += 8;
        // A value cut short by the end of the data keeps what is there; the declared length is
        // never allocated, so a damaged length cannot make us reserve gigabytes.
        const int available = total - pos;
        const int take = length > unsigned(available) ? available : int(length);
        const QByteArray value = data.mid(pos, take);
        pos += take;

        if (tag == QLatin1String("UUID") && !info.attrs.contains(tag)) {
            info.attrs.insert(tag, value);
        } else if (tag == QLatin1String("WRAP") && !info.attrs.contains(tag)) {
            info.attrs.insert(tag, value);
        } else if (tag == QLatin1String("UUID")) {
            if (current.tags.contains(QStringLiteral("CLAS")))
                info.classKeys.insert(int(current.getInt32(QStringLiteral("CLAS"))), current);
            current = _KeybagPros();
            current.tags.insert(tag, value);
        } else if (!tag.trimmed().isEmpty() && CLASSKEY_TAGS.contains(tag)) {
            current.tags.insert(tag, value);
        } else {
            info.attrs.insert(tag, value);
        }
        if (current.tags.contains(QStringLiteral("CLAS")))
            info.classKeys.insert(int(current.getInt32(QStringLiteral("CLAS"))), current);
    }
    return info;
}

namespace {

QByteArray pbkdf2(const QByteArray& password, const QByteArray& salt, unsigned int iterations,
                  unsigned int limit, const EVP_MD* md) {
    QByteArray out(32, '\0');
    // g_checkKeybagThrow turns such counts into an error first; this only keeps a direct caller
    // from running for hours (the zero key then fails every unwrap).
    if (iterations == 0 || iterations > limit)
        return out;
    PKCS5_PBKDF2_HMAC(password.constData(), password.size(),
                      reinterpret_cast<const unsigned char*>(salt.constData()), salt.size(),
                      int(iterations), md, out.size(),
                      reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

}  // namespace

QByteArray g_keybagPasswordKey(const QByteArray& password, const _KeybagInfo& keybag) {
    const QMap<QString, QByteArray>& a = keybag.attrs;
    QByteArray pass = password;
    if (a.contains(QStringLiteral("DPIC")) && a.contains(QStringLiteral("DPSL")))
        pass = pbkdf2(password, a.value(QStringLiteral("DPSL")),
                      g_keybagInt(a.value(QStringLiteral("DPIC"))), kMaxKeybagDpIterations,
                      EVP_sha256());
    return pbkdf2(pass, a.value(QStringLiteral("SALT")),
                  g_keybagInt(a.value(QStringLiteral("ITER"))), kMaxKeybagIterations, EVP_sha1());
}

void g_checkKeybagThrow(const _KeybagInfo& keybag) {
    const QMap<QString, QByteArray>& a = keybag.attrs;
    auto damaged = [](const QString& what) {
        throw std::runtime_error(
            QStringLiteral("Manifest.plist is damaged: %1").arg(what).toUtf8().constData());
    };
    auto checkCount = [&](const char* tag, unsigned int limit) {
        const QByteArray v = a.value(QLatin1String(tag));
        const unsigned int n = g_keybagInt(v);
        if (v.size() < 4 || n == 0)
            damaged(QStringLiteral("the keybag has no iteration count \"%1\"").arg(tag));
        if (n > limit)
            damaged(QStringLiteral("the keybag asks for %1 rounds of \"%2\" (phones use at "
                                   "most %3)")
                        .arg(n)
                        .arg(QLatin1String(tag))
                        .arg(limit / 2));
    };
    if (a.value(QStringLiteral("SALT")).isEmpty())
        damaged(QStringLiteral("the keybag has no salt"));
    checkCount("ITER", kMaxKeybagIterations);
    if (a.contains(QStringLiteral("DPIC")) && a.contains(QStringLiteral("DPSL")))
        checkCount("DPIC", kMaxKeybagDpIterations);
}

bool unlockWithPasscode(const QByteArray& password, _KeybagInfo& keybag, QList<int>* unopened,
                        int* wrapped) {
    const QByteArray key = g_keybagPasswordKey(password, keybag);
    bool all = true;
    int count = 0;
    for (auto it = keybag.classKeys.begin(); it != keybag.classKeys.end(); ++it) {
        _KeybagPros& rec = it.value();
        if (!rec.tags.contains(QStringLiteral("WPKY")) ||
            !(rec.getInt32(QStringLiteral("WRAP")) & 2))
            continue;
        ++count;
        const QByteArray k =
            QOpenSSLEVPAES::aeswrap(key, rec.tags.value(QStringLiteral("WPKY")), false);
        if (k.isEmpty()) {
            all = false;
            if (unopened)
                unopened->append(it.key());
            continue;
        }
        rec.tags.insert(QStringLiteral("KEY"), k);
    }
    if (wrapped)
        *wrapped = count;
    return all;
}

QByteArray unwrapKeyForClass(const _KeybagInfo& keybag, int protectionClass,
                             const QByteArray& wrapped) {
    if (!keybag.classKeys.contains(protectionClass) || wrapped.size() != 40)
        return QByteArray();
    const QByteArray classKey =
        keybag.classKeys.value(protectionClass).tags.value(QStringLiteral("KEY"));
    if (classKey.isEmpty())
        return QByteArray();
    return QOpenSSLEVPAES::aeswrap(classKey, wrapped, false);
}
