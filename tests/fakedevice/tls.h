// The phone's side of TLS: the certificates of its pair record, made once per process with
// OpenSSL, and a TLS server on one accepted connection (lockdown after StartSession, the sync
// service from its first byte). Internal to the simulator.
#pragma once

#include <memory>
#include <string>

namespace fakedevice {

// PEM texts. The root and host pairs go to the computer in the pair record; the device pair
// is the phone's own (its public key is the lockdown value "DevicePublicKey", in PKCS#1 form
// as libimobiledevice reads it).
struct TlsIdentity {
    std::string rootCert, rootKey;
    std::string hostCert, hostKey;
    std::string deviceCert, deviceKey;
    std::string devicePublicKey;
};

const TlsIdentity& tlsIdentity();

class TlsServer {
public:
    enum class Read { Ok, Closed, Error };

    // Runs the server handshake on a blocking socket; null (and *error) when it fails. With
    // checkClient the phone asks for the computer's certificate and ends the handshake unless
    // it is the root certificate of the pairing it keeps.
    static std::unique_ptr<TlsServer> accept(int fd, std::string* error, bool checkClient = false);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    // Closed: the client sent close_notify (it goes on in plain text, as libimobiledevice does
    // after StopSession) or hung up.
    Read read(void* buf, size_t n);
    bool write(const void* buf, size_t n);

private:
    TlsServer() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fakedevice
