#pragma once
// A TLS session over a connected non-blocking socket, for https:// addresses: the handshake
// (with the server's name sent, and its certificate checked against the system's trusted
// certificates and the host name), then reads and writes that never block. OpenSSL does the
// work; the trusted certificates are OpenSSL's default ones, which the environment variables
// SSL_CERT_FILE and SSL_CERT_DIR may replace.
#include <cstddef>
#include <memory>
#include <string>

namespace qm::net {

class TlsChannel {
public:
    enum class Step { Done, WantRead, WantWrite, Failed };
    // Results of Read and Write besides a byte count.
    static constexpr long kWouldBlock = -1;
    static constexpr long kFailed = -2;

    // A session on fd for host (a name or a dotted address). verify false accepts any
    // certificate. Returns nullptr when OpenSSL cannot set one up (error says why).
    static std::unique_ptr<TlsChannel> Open(int fd, const std::string& host, bool verify, std::string& error);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Goes on with the handshake; on Failed, error says why (for a refused certificate, the
    // reason the check gave).
    Step Handshake(std::string& error);
    bool Established() const { return established_; }

    // Bytes read (0: the server closed the session), kWouldBlock or kFailed.
    long Read(char* buffer, std::size_t size);
    // Bytes written, kWouldBlock or kFailed.
    long Write(const char* data, std::size_t size);
    // Bytes already decrypted and waiting to be read, which no socket event announces.
    bool Pending() const;
    // What the last Read or Write was waiting for, after kWouldBlock.
    bool WantsWrite() const { return wantsWrite_; }

private:
    struct Session;
    explicit TlsChannel(std::unique_ptr<Session> session);
    std::unique_ptr<Session> session_;
    bool established_ = false;
    bool wantsWrite_ = false;
};

}  // namespace qm::net
