// Symmetric ciphers of the backup reader on OpenSSL's EVP interface: streaming AES-CBC through
// QIODevices and RFC 3394 key wrap.
#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;
typedef struct evp_cipher_st EVP_CIPHER;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

class QOpenSSLEVPAES {
public:
    QOpenSSLEVPAES();
    ~QOpenSSLEVPAES();
    QOpenSSLEVPAES(const QOpenSSLEVPAES&) = delete;
    QOpenSSLEVPAES& operator=(const QOpenSSLEVPAES&) = delete;

    // An empty key or IV is passed to OpenSSL as none.
    bool init(const EVP_CIPHER* cipher, const QByteArray& key, const QByteArray& iv, bool encrypt);
    // Streams the whole input through the cipher; bytes written (at most INT_MAX), or -1 (see
    // errorString).
    int updateAll(QIODevice* input, QIODevice* output, int blockSize);
    // Writes the last block; its length (0..16), or -1.
    int finalAll(QIODevice* output, int blockSize);

    // RFC 3394 wrap (true) or unwrap (false) with a 16, 24 or 32 byte key; empty on any failure.
    static QByteArray aeswrap(const QByteArray& key, const QByteArray& data, bool wrap);

    // AES-128/192/256-CBC by key length (16/24/32), null for any other length.
    static const EVP_CIPHER* cbcForKey(int keyLength);

    EVP_CIPHER_CTX* ctx;
    QString errorString;
};
