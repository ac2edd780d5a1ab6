#include "tls.h"

#include <openssl/bio.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <future>

namespace fakedevice {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

std::string bioText(BIO* bio) {
    char* p = nullptr;
    const long n = BIO_get_mem_data(bio, &p);
    std::string s(p, n > 0 ? size_t(n) : 0);
    BIO_free(bio);
    return s;
}

std::string privatePem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    // The traditional "RSA PRIVATE KEY" form, which every libimobiledevice build reads.
    PEM_write_bio_PrivateKey_traditional(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    return bioText(bio);
}

std::string certPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    return bioText(bio);
}

std::string pkcs1PublicPem(EVP_PKEY* key) {
    OSSL_ENCODER_CTX* ctx = OSSL_ENCODER_CTX_new_for_pkey(key, OSSL_KEYMGMT_SELECT_PUBLIC_KEY,
                                                          "PEM", "type-specific", nullptr);
    unsigned char* data = nullptr;
    size_t len = 0;
    std::string s;
    if (ctx && OSSL_ENCODER_to_data(ctx, &data, &len))
        s.assign(reinterpret_cast<char*>(data), len);
    OPENSSL_free(data);
    OSSL_ENCODER_CTX_free(ctx);
    return s;
}

Cert makeCert(EVP_PKEY* key, EVP_PKEY* signer, X509* issuer, long serial, bool ca) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 365 * 10);
    X509_set_pubkey(cert.get(), key);
    if (ca) {
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, cert.get(), cert.get(), nullptr, nullptr, 0);
        if (X509_EXTENSION* ext =
                X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints, "critical,CA:TRUE")) {
            X509_add_ext(cert.get(), ext, -1);
            X509_EXTENSION_free(ext);
        }
    }
    X509_set_issuer_name(
        cert.get(), issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(cert.get()));
    X509_sign(cert.get(), signer, EVP_sha256());
    return cert;
}

TlsIdentity makeIdentity() {
    // Three 2048-bit keys take a while; made side by side, they hold up a start far less.
    auto gen = [] { return std::async(std::launch::async, [] { return EVP_RSA_gen(2048); }); };
    auto r = gen(), h = gen(), d = gen();
    Key root(r.get()), host(h.get()), device(d.get());
    Cert rootCert = makeCert(root.get(), root.get(), nullptr, 0, true);
    Cert hostCert = makeCert(host.get(), root.get(), rootCert.get(), 1, false);
    Cert deviceCert = makeCert(device.get(), root.get(), rootCert.get(), 2, false);
    TlsIdentity id;
    id.rootCert = certPem(rootCert.get());
    id.rootKey = privatePem(root.get());
    id.hostCert = certPem(hostCert.get());
    id.hostKey = privatePem(host.get());
    id.deviceCert = certPem(deviceCert.get());
    id.deviceKey = privatePem(device.get());
    id.devicePublicKey = pkcs1PublicPem(device.get());
    return id;
}

// One server context per process, on the device's certificate.
SSL_CTX* serverContext() {
    static SSL_CTX* ctx = [] {
        const TlsIdentity& id = tlsIdentity();
        SSL_CTX* c = SSL_CTX_new(TLS_server_method());
        BIO* cb = BIO_new_mem_buf(id.deviceCert.data(), int(id.deviceCert.size()));
        X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
        BIO_free(cb);
        BIO* kb = BIO_new_mem_buf(id.deviceKey.data(), int(id.deviceKey.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
        BIO_free(kb);
        SSL_CTX_use_certificate(c, cert);
        SSL_CTX_use_PrivateKey(c, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        // No session tickets: libimobiledevice drops TLS mid-connection (after StopSession)
        // and would read unread ticket bytes as plain text.
        SSL_CTX_set_num_tickets(c, 0);
        SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
        return c;
    }();
    return ctx;
}

}  // namespace

const TlsIdentity& tlsIdentity() {
    static const TlsIdentity id = makeIdentity();
    return id;
}

struct TlsServer::Impl {
    SSL* ssl = nullptr;
    ~Impl() {
        if (ssl)
            SSL_free(ssl);  // no close_notify of ours: the client never reads one
    }
};

std::unique_ptr<TlsServer> TlsServer::accept(int fd, std::string* error, bool checkClient) {
    std::unique_ptr<TlsServer> s(new TlsServer);
    s->impl_ = std::make_unique<Impl>();
    s->impl_->ssl = SSL_new(serverContext());
    SSL_set_fd(s->impl_->ssl, fd);
    if (checkClient) {
        // The pairing's root is self-signed: the chain is not what is checked, the certificate
        // itself is (below).
        SSL_set_verify(s->impl_->ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       [](int, X509_STORE_CTX*) { return 1; });
    }
    ERR_clear_error();
    if (SSL_accept(s->impl_->ssl) != 1) {
        if (error) {
            char buf[256];
            ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
            *error = buf;
        }
        ERR_clear_error();
        return nullptr;
    }
    if (checkClient) {
        X509* peer = SSL_get1_peer_certificate(s->impl_->ssl);
        const bool known = peer && certPem(peer) == tlsIdentity().rootCert;
        X509_free(peer);
        if (!known) {
            if (error)
                *error = "the computer's certificate is not the pairing's";
            return nullptr;
        }
    }
    return s;
}

TlsServer::~TlsServer() = default;

TlsServer::Read TlsServer::read(void* buf, size_t n) {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        const int r = SSL_read(impl_->ssl, p, int(n));
        if (r <= 0) {
            const int e = SSL_get_error(impl_->ssl, r);
            ERR_clear_error();
            return e == SSL_ERROR_ZERO_RETURN ? Read::Closed : Read::Error;
        }
        p += r;
        n -= size_t(r);
    }
    return Read::Ok;
}

bool TlsServer::write(const void* buf, size_t n) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        const int r = SSL_write(impl_->ssl, p, int(n));
        if (r <= 0) {
            ERR_clear_error();
            return false;
        }
        p += r;
        n -= size_t(r);
    }
    return true;
}

}  // namespace fakedevice
