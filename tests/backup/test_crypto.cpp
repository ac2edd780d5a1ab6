// Ciphers, keybag parsing and the password unlock.
#include "backup_fixture.h"
#include "backup/backupmanifest.h"
#include "backup/keybag.h"
#include "backup/mbdbparser.h"
#include "backup/qopensslevpaes.h"

#include <QFile>
#include <QIODevice>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace fixture;

namespace {

std::string throwText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(Crypto, AesKeyWrapMatchesRfc3394AndRejectsBadInput) {
    // RFC 3394 section 4.6: 256-bit KEK wrapping 256 bits of key data.
    const QByteArray kek =
        QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const QByteArray data =
        QByteArray::fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
    const QByteArray expected = QByteArray::fromHex(
        "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    EXPECT_EQ(QOpenSSLEVPAES::aeswrap(kek, data, true), expected);
    EXPECT_EQ(QOpenSSLEVPAES::aeswrap(kek, expected, false), data);

    QByteArray wrongKey = kek;
    wrongKey[0] = 'x';
    EXPECT_TRUE(QOpenSSLEVPAES::aeswrap(wrongKey, expected, false).isEmpty());
    EXPECT_TRUE(QOpenSSLEVPAES::aeswrap(QByteArray(20, 'k'), data, true).isEmpty());
    EXPECT_TRUE(QOpenSSLEVPAES::aeswrap(kek, expected.left(39), false).isEmpty());
    EXPECT_TRUE(QOpenSSLEVPAES::aeswrap(kek, QByteArray(), false).isEmpty());
}

TEST(Crypto, FileCipherRoundTripsAndFailsClearly) {
    QTemporaryDir tmp;
    const QByteArray key(32, '\x42');
    const QString plain = tmp.filePath("plain.bin");
    const QString enc = tmp.filePath("enc.bin");
    const QString back = tmp.filePath("sub/dir/back.bin");
    QByteArray content;
    for (int i = 0; i < 20000; ++i)
        content += char(i * 7);
    writeFile(plain, content);
    BackupManifest::encryptFileThrow(plain, enc, key);
    EXPECT_EQ(QFileInfo(enc).size(), (content.size() / 16 + 1) * 16);
    BackupManifest bm(tmp.path());
    bm.decryptFileThrow(key, enc, back, nullptr, nullptr);  // creates the missing folder
    EXPECT_EQ(readFile(back), content);

    // Wrong key: bad padding in the last block.
    QByteArray other = key;
    other[3] = 0;
    // The text names the file; the partial plain file goes.
    EXPECT_EQ(throwText([&] { bm.decryptFileThrow(other, enc, back, nullptr, nullptr); }),
              ("BackupManifest::decryptFile: decrypt failed. " + enc +
               " is damaged or the key does not fit it (QOpenSSLEVPAES::finalAll, "
               "EVP_CipherFinal return false.)")
                  .toStdString());
    EXPECT_FALSE(QFile::exists(back));
    // A key of another length is refused before the destination is touched.
    writeFile(back, "keep me");
    EXPECT_NE(throwText([&] {
                  bm.decryptFileThrow(QByteArray(5, 'k'), enc, back, nullptr, nullptr);
              }).find("decrypt failed"),
              std::string::npos);
    EXPECT_EQ(readFile(back), QByteArray("keep me"));
    EXPECT_EQ(throwText([&] {
                  bm.decryptFileThrow(key, tmp.filePath("none"), back, nullptr, nullptr);
              }).rfind("can not open ", 0),
              0u);

    // Empty key copies, but never over an existing file; encrypting into a missing folder fails.
    BackupManifest::encryptFileThrow(plain, tmp.filePath("copy.bin"), QByteArray());
    EXPECT_EQ(readFile(tmp.filePath("copy.bin")), content);
    EXPECT_EQ(throwText([&] {
                  BackupManifest::encryptFileThrow(plain, tmp.filePath("copy.bin"), QByteArray());
              }).rfind("can not write ", 0),
              0u);
    EXPECT_EQ(throwText([&] {
                  BackupManifest::encryptFileThrow(plain, tmp.filePath("no/such/x"), key);
              }).rfind("can not create ", 0),
              0u);
}

namespace {

// A stream of zero bytes of a given length, and a sink that counts what it is given: lets a
// cipher see gigabytes without touching the disk.
class ZeroSource : public QIODevice {
public:
    explicit ZeroSource(qint64 length) : left(length) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override {
        const qint64 n = qMin(max, left);
        memset(data, 0, size_t(n));
        left -= n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 left;
};

class CountingSink : public QIODevice {
public:
    CountingSink() { open(QIODevice::WriteOnly); }
    bool isSequential() const override { return true; }
    qint64 written = 0;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 n) override {
        written += n;
        return n;
    }
};

}  // namespace

TEST(Crypto, StreamsBeyondTwoGigabytes) {
    // Backup files (videos) can pass 2 GB; the byte count must not wrap into a "failure".
    const qint64 length = (qint64(1) << 31) + 4096;
    ZeroSource in(length);
    CountingSink out;
    QOpenSSLEVPAES aes;
    ASSERT_TRUE(aes.init(QOpenSSLEVPAES::cbcForKey(32), QByteArray(32, '\x11'),
                         QByteArray(16, '\0'), false));
    const int n = aes.updateAll(&in, &out, 8192);
    EXPECT_GE(n, 0) << aes.errorString.toStdString();
    EXPECT_EQ(n, INT_MAX);
    // Decryption holds back the last block until the final step.
    EXPECT_EQ(out.written, length - 16);
}

TEST(Crypto, FileDescriptorCipher) {
    const QByteArray key = MBDBParser::fileDescKey("secret", "salt");
    EXPECT_EQ(key.size(), 16);
    EXPECT_NE(key, MBDBParser::fileDescKey("salt", "secret"));

    EXPECT_EQ(MBDBParser::encryptFileDescThrow(QByteArray(), key).size(), 16);
    EXPECT_EQ(MBDBParser::encryptFileDescThrow(QByteArray(16, 'a'), key).size(), 32);
    const QByteArray plist("bplist00 some descriptor bytes");
    EXPECT_EQ(MBDBParser::decryptFileDescThrow(MBDBParser::encryptFileDescThrow(plist, key), key),
              plist);
    EXPECT_TRUE(MBDBParser::decryptFileDescThrow(QByteArray(), QByteArray(20, 'k')).isEmpty());
    EXPECT_EQ(throwText([&] { MBDBParser::decryptFileDescThrow("abc", QByteArray(20, 'k')); }),
              "MBDBParser::decryptFileDescThrow, invalid key size.");
    EXPECT_EQ(throwText([&] { MBDBParser::decryptFileDescThrow(QByteArray(16, 'q'), key); }),
              "MBDBParser::decryptFileDescThrow, QOpenSSLEVPAES::finalAll, EVP_CipherFinal return "
              "false.");
}

TEST(Keybag, ParsesRecordsAndSurvivesDamage) {
    QByteArray bag =
        tlv("UUID", "top-uuid") + tlv("WRAP", be32(2)) + tlv("SALT", "s1") + tlv("ITER", be32(5));
    bag += tlv("UUID", "c1") + tlv("CLAS", be32(1)) + tlv("WRAP", be32(3)) + tlv("KTYP", be32(0)) +
           tlv("WPKY", QByteArray(40, 'a'));
    bag += tlv("UUID", "c2") + tlv("CLAS", be32(2)) + tlv("SALT", "s2") + tlv("WRAP", be32(1));
    bag += tlv("UUID", "c2b") + tlv("CLAS", be32(2)) + tlv("WRAP", be32(2));
    const _KeybagInfo info = parseKeybag(bag);
    EXPECT_EQ(info.attrs.keys(), (QStringList{"ITER", "SALT", "UUID", "WRAP"}));
    EXPECT_EQ(info.attrs.value("SALT"), QByteArray("s2"));  // last occurrence wins
    ASSERT_EQ(info.classKeys.size(), 2);
    EXPECT_EQ(info.classKeys.value(1).tags.value("UUID"), QByteArray("c1"));
    EXPECT_EQ(info.classKeys.value(2).tags.value("UUID"),
              QByteArray("c2b"));  // later record replaces
    EXPECT_EQ(info.classKeys.value(2).getInt32("WRAP"), 2u);

    // A second top-level WRAP before any class goes to the current record, not to attrs.
    const _KeybagInfo twice =
        parseKeybag(tlv("WRAP", be32(2)) + tlv("WRAP", be32(7)) + tlv("CLAS", be32(4)));
    EXPECT_EQ(g_keybagInt(twice.attrs.value("WRAP")), 2u);
    EXPECT_EQ(twice.classKeys.value(4).getInt32("WRAP"), 7u);

    // Absurd lengths, short integers and stray tails neither crash nor allocate.
    const QByteArray huge = QByteArray("SALT") + be32(0xFFFFFFF0u) + "abc";
    EXPECT_EQ(parseKeybag(huge).attrs.value("SALT"), QByteArray("abc"));
    EXPECT_TRUE(parseKeybag("UUI").attrs.isEmpty());
    const _KeybagInfo shortInt = parseKeybag(tlv("CLAS", "\x01") + tlv("WRAP", "\x02"));
    EXPECT_EQ(shortInt.classKeys.size(), 1);
    EXPECT_EQ(shortInt.classKeys.first().getInt32("WRAP"), 0u);
    _KeybagInfo noSalt = parseKeybag(tlv("WRAP", be32(2)) + tlv("CLAS", be32(1)) +
                                     tlv("WRAP", be32(2)) + tlv("WPKY", QByteArray(40, 'w')));
    EXPECT_FALSE(unlockWithPasscode("pw", noSalt));  // zero iteration count: the key never unwraps
    EXPECT_FALSE(noSalt.classKeys.value(1).tags.contains("KEY"));
    // An absurd iteration count is refused at once instead of running for hours.
    _KeybagInfo slow =
        parseKeybag(tlv("WRAP", be32(2)) + tlv("SALT", "s") + tlv("ITER", be32(0xFFFFFFF0u)) +
                    tlv("CLAS", be32(1)) + tlv("WRAP", be32(2)) + tlv("WPKY", QByteArray(40, 'w')));
    EXPECT_FALSE(unlockWithPasscode("pw", slow));
}

TEST(Keybag, UnlocksWithTheRightPasswordOnly) {
    for (bool dp : {false, true}) {
        QMap<int, QByteArray> classKeys;
        const QByteArray bytes = makeKeybag("pässword", dp, classKeys);
        _KeybagInfo wrong = parseKeybag(bytes);
        EXPECT_FALSE(unlockWithPasscode(QString("password").toUtf8(), wrong));
        EXPECT_FALSE(wrong.classKeys.value(1).tags.contains("KEY"));

        _KeybagInfo right = parseKeybag(bytes);
        ASSERT_TRUE(unlockWithPasscode(QString("pässword").toUtf8(), right)) << dp;
        for (int cls = 1; cls <= 4; ++cls)
            EXPECT_EQ(right.classKeys.value(cls).tags.value("KEY"), classKeys.value(cls));
        EXPECT_FALSE(right.classKeys.value(6).tags.contains("KEY"));  // not password-wrapped

        const QByteArray fileKey(32, 'F');
        const QByteArray wrapped = QOpenSSLEVPAES::aeswrap(classKeys.value(3), fileKey, true);
        EXPECT_EQ(unwrapKeyForClass(right, 3, wrapped), fileKey);
        EXPECT_TRUE(unwrapKeyForClass(right, 2, wrapped).isEmpty());
        EXPECT_TRUE(unwrapKeyForClass(right, 3, wrapped.left(39)).isEmpty());
        EXPECT_TRUE(unwrapKeyForClass(right, 3, wrapped + 'x').isEmpty());
        EXPECT_TRUE(unwrapKeyForClass(right, 9, wrapped).isEmpty());
        EXPECT_TRUE(unwrapKeyForClass(right, 6, wrapped).isEmpty());
    }
    // Nothing password-wrapped: any password unlocks the keybag itself.
    _KeybagInfo open = parseKeybag(tlv("SALT", "s") + tlv("ITER", be32(1)) + tlv("CLAS", be32(1)) +
                                   tlv("WRAP", be32(1)));
    EXPECT_TRUE(unlockWithPasscode("anything", open));
}
