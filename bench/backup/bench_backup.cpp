// Unlocking a keybag of phone-sized iteration counts beside OpenSSL's own PBKDF2 for the same
// rounds. The import of a backup's address book against bare reads and writes is
// tw_bench_ratios' arms.
#include "backup/keybag.h"
#include "backup/qopensslevpaes.h"

#include <QCoreApplication>
#include <QByteArray>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <time.h>

namespace {

QByteArray be32(unsigned v) {
    QByteArray b(4, '\0');
    for (int i = 3; i >= 0; --i, v >>= 8)
        b[i] = char(v & 0xFF);
    return b;
}

QByteArray tlv(const char* tag, const QByteArray& value) {
    return QByteArray(tag, 4) + be32(unsigned(value.size())) + value;
}

double cpuSeconds(const std::function<void()>& fn) {
    struct timespec a, b;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    fn();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
}

QByteArray pbkdf2(const QByteArray& pass, const QByteArray& salt, int rounds, const EVP_MD* md) {
    QByteArray out(32, '\0');
    PKCS5_PBKDF2_HMAC(pass.constData(), pass.size(),
                      reinterpret_cast<const unsigned char*>(salt.constData()), salt.size(), rounds,
                      md, 32, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

// A keybag as current phones make it: SHA-256 rounds ("DPIC") then SHA-1 rounds ("ITER"),
// four password-wrapped class keys.
void benchUnlock() {
    const unsigned dpic = 10000000, iter = 10000;
    const QByteArray salt("0123456789abcdefghij"), dpsl("dpsl-0123456789abcdef");
    const QByteArray password("correct horse");
    const QByteArray key =
        pbkdf2(pbkdf2(password, dpsl, int(dpic), EVP_sha256()), salt, int(iter), EVP_sha1());
    QByteArray bag = tlv("VERS", be32(4)) + tlv("TYPE", be32(1)) +
                     tlv("UUID", QByteArray(16, 'u')) + tlv("WRAP", be32(0)) + tlv("SALT", salt) +
                     tlv("ITER", be32(iter)) + tlv("DPWT", be32(1)) + tlv("DPIC", be32(dpic)) +
                     tlv("DPSL", dpsl);
    for (int cls = 1; cls <= 4; ++cls) {
        bag += tlv("UUID", QByteArray(16, char('a' + cls))) + tlv("CLAS", be32(unsigned(cls))) +
               tlv("WRAP", be32(3)) + tlv("KTYP", be32(0)) +
               tlv("WPKY", QOpenSSLEVPAES::aeswrap(key, QByteArray(32, char(cls)), true));
    }
    // Alternating runs, best of three, by the thread's CPU time: the two do the same work, and
    // a busy machine should not decide which looks slower.
    bool ok = false;
    double ours = 1e30, theirs = 1e30, sha256Only = 1e30;
    for (int run = 0; run < 3; ++run) {
        ours = std::min(ours, cpuSeconds([&] {
                            _KeybagInfo kb = parseKeybag(bag);
                            ok = unlockWithPasscode(password, kb);
                        }));
        theirs = std::min(theirs, cpuSeconds([&] {
                              const QByteArray t = pbkdf2(password, dpsl, int(dpic), EVP_sha256());
                              pbkdf2(t, salt, int(iter), EVP_sha1());
                          }));
        sha256Only = std::min(sha256Only,
                              cpuSeconds([&] { pbkdf2(password, dpsl, int(dpic), EVP_sha256()); }));
    }
    std::printf(
        "Keybag unlock, %u SHA-256 rounds then %u SHA-1 rounds (%s), CPU seconds, best "
        "of 3\n",
        dpic, iter, ok ? "unlocked" : "NOT UNLOCKED");
    std::printf("  unlockWithPasscode                 %8.3f s\n", ours);
    std::printf("  OpenSSL PKCS5_PBKDF2_HMAC, same    %8.3f s  (SHA-256 part alone %.3f s)\n",
                theirs, sha256Only);
    std::printf("  ratio                              %8.3fx  (target at most 1.1x) %s\n\n",
                ours / theirs, ours / theirs <= 1.1 ? "ok" : "SLOWER");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchUnlock();
    return 0;
}
