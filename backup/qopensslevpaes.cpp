#include "qopensslevpaes.h"

#include <QFileDevice>
#include <QIODevice>
#include <QVector>

#include <climits>

#include <openssl/evp.h>

namespace {

// A short write (the disk filled part way) sets no error of its own; writing the rest then
// fails with the system's reason.
bool writeAll(QIODevice* output, const char* data, qint64 size) {
    while (size > 0) {
        const qint64 n = output->write(data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

QOpenSSLEVPAES::QOpenSSLEVPAES() : ctx(EVP_CIPHER_CTX_new()) {}

QOpenSSLEVPAES::~QOpenSSLEVPAES() {
    if (ctx)
        EVP_CIPHER_CTX_free(ctx);
}

const EVP_CIPHER* QOpenSSLEVPAES::cbcForKey(int keyLength) {
    switch (keyLength) {
        case 32:
            return EVP_aes_256_cbc();
        case 24:
            return EVP_aes_192_cbc();
        case 16:
            return EVP_aes_128_cbc();
        default:
            return nullptr;
    }
}

bool QOpenSSLEVPAES::init(const EVP_CIPHER* cipher, const QByteArray& key, const QByteArray& iv,
                          bool encrypt) {
    // A key or IV shorter than the cipher wants would make OpenSSL read past the buffer.
    const bool sizesOk = cipher &&
                         (key.isEmpty() || key.size() >= EVP_CIPHER_get_key_length(cipher)) &&
                         (iv.isEmpty() || iv.size() >= EVP_CIPHER_get_iv_length(cipher));
    if (!ctx || !sizesOk ||
        EVP_CipherInit_ex(
            ctx, cipher, nullptr,
            key.isEmpty() ? nullptr : reinterpret_cast<const unsigned char*>(key.constData()),
            iv.isEmpty() ? nullptr : reinterpret_cast<const unsigned char*>(iv.constData()),
            encrypt ? 1 : 0) != 1) {
        errorString = QStringLiteral("QOpenSSLEVPAES::init, EVP_CipherInit_ex return false.");
        return false;
    }
    return true;
}

int QOpenSSLEVPAES::updateAll(QIODevice* input, QIODevice* output, int blockSize) {
    QVector<unsigned char> in(blockSize);
    QVector<unsigned char> out(blockSize + 16);
    // Counted in 64 bits: an int would overflow past 2 GB and turn a large file's success
    // into a negative "failure".
    qint64 total = 0;
    for (;;) {
        const qint64 got = input->read(reinterpret_cast<char*>(in.data()), blockSize);
        if (got == 0)
            return int(qMin<qint64>(total, INT_MAX));
        if (got < 0) {
            errorString = QStringLiteral("QOpenSSLEVPAES::updateAll, read file error.");
            return -1;
        }
        int n = 0;
        if (!ctx || EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(got)) != 1) {
            errorString =
                QStringLiteral("QOpenSSLEVPAES::updateAll, EVP_CipherUpdate return false.");
            return -1;
        }
        if (n > 0) {
            if (!writeAll(output, reinterpret_cast<const char*>(out.data()), n)) {
                errorString = QStringLiteral("QOpenSSLEVPAES::updateAll, write file error, %1")
                                  .arg(output->errorString());
                return -1;
            }
            total += n;
        }
    }
}

int QOpenSSLEVPAES::finalAll(QIODevice* output, int blockSize) {
    QVector<unsigned char> buf(qMax(blockSize, 32));
    int n = 0;
    if (!ctx || EVP_CipherFinal_ex(ctx, buf.data(), &n) != 1) {
        errorString = QStringLiteral("QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.");
        return -1;
    }
    if (n > 0 && !writeAll(output, reinterpret_cast<const char*>(buf.data()), n)) {
        errorString = QStringLiteral("QOpenSSLEVPAES::finalAll, write file error, %1")
                          .arg(output->errorString());
        return -1;
    }
    // A file buffers what was written: a full disk shows only when the buffer goes out.
    auto* file = qobject_cast<QFileDevice*>(output);
    if (file && !file->flush()) {
        errorString = QStringLiteral("QOpenSSLEVPAES::finalAll, write file error, %1")
                          .arg(file->errorString());
        return -1;
    }
    return n;
}

QByteArray QOpenSSLEVPAES::aeswrap(const QByteArray& key, const QByteArray& data, bool wrap) {
    const EVP_CIPHER* cipher = nullptr;
    switch (key.size()) {
        case 32:
            cipher = EVP_aes_256_wrap();
            break;
        case 24:
            cipher = EVP_aes_192_wrap();
            break;
        case 16:
            cipher = EVP_aes_128_wrap();
            break;
        default:
            return QByteArray();
    }
    // The wrap mode works on whole 64-bit blocks; anything else is no wrapped key.
    if (data.size() < 16 || data.size() % 8 != 0 || data.size() > (1 << 20))
        return QByteArray();
    QOpenSSLEVPAES aes;
    if (!aes.ctx)
        return QByteArray();
    EVP_CIPHER_CTX_reset(aes.ctx);
    EVP_CIPHER_CTX_set_flags(aes.ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    if (!aes.init(cipher, key, QByteArray(), wrap))
        return QByteArray();
    QByteArray out(data.size() * 2 + 16, '\0');
    unsigned char* o = reinterpret_cast<unsigned char*>(out.data());
    int n = 0;
    if (EVP_CipherUpdate(aes.ctx, o, &n, reinterpret_cast<const unsigned char*>(data.constData()),
                         data.size()) != 1 ||
        n <= 0)
        return QByteArray();
    int f = 0;
    if (EVP_CipherFinal_ex(aes.ctx, o + n, &f) == 1) {
        if (f < 0)
            return QByteArray();
        n += f;
    }
    out.resize(n);
    return out;
}
