// The keybag of an encrypted backup and the password unlock.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// One class key record: tag -> value ("UUID", "CLAS", "WRAP", "WPKY", "KTYP", "PBKY" and,
// once unlocked, "KEY").
struct _KeybagPros {
    QMap<QString, QByteArray> tags;

    // Big-endian first four bytes of the tag's value; 0 when absent or shorter.
    unsigned int getInt32(const QString& tag) const;
};

struct _KeybagInfo {
    QMap<QString, QByteArray> attrs;
    QMap<int, _KeybagPros> classKeys;
};

// Highest PBKDF2 iteration counts accepted from a keybag: twice what phones use. The SHA-256
// derivation ("DPIC") runs ten million rounds on phones, the SHA-1 one ("ITER") ten thousand;
// a damaged count must not hold the uncancellable check for minutes.
constexpr unsigned int kMaxKeybagDpIterations = 20000000;
constexpr unsigned int kMaxKeybagIterations = 20000;

// Big-endian unsigned value of the first four bytes; 0 for fewer bytes.
unsigned int g_keybagInt(const QByteArray& value);

_KeybagInfo parseKeybag(const QByteArray& data);
// Derives the password key and unwraps every password-wrapped class key into the keybag.
// False when a key does not unwrap. Every key is tried: `unopened` (when given) receives the
// classes whose keys did not unwrap, and `wrapped` how many keys the password wraps. A wrong
// password opens none of them; a damaged keybag fails only some.
bool unlockWithPasscode(const QByteArray& password, _KeybagInfo& keybag,
                        QList<int>* unopened = nullptr, int* wrapped = nullptr);
// Unwraps a 40-byte wrapped file key with the key of a protection class; empty on failure.
QByteArray unwrapKeyForClass(const _KeybagInfo& keybag, int protectionClass,
                             const QByteArray& wrapped);
// Throws std::runtime_error naming what is wrong when the keybag cannot be unlocked by any
// password: no salt, or an iteration count of 0 or beyond the limits above.
void g_checkKeybagThrow(const _KeybagInfo& keybag);
// The 32-byte password key (PBKDF2 as the keybag's attributes ask).
QByteArray g_keybagPasswordKey(const QByteArray& password, const _KeybagInfo& keybag);
