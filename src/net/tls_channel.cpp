#include "net/tls_channel.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace qm::net {

namespace {

// The socket is read and written with recv and send(MSG_NOSIGNAL), so that a server that
// closes its end never raises SIGPIPE in the program, whatever OpenSSL writes.
int SocketWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        ssize_t n = ::send(static_cast<int>(BIO_get_fd(bio, nullptr)), data, std::size_t(size), MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
        return -1;
    }
}

int SocketRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        ssize_t n = ::recv(static_cast<int>(BIO_get_fd(bio, nullptr)), data, std::size_t(size), 0);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
        return -1;
    }
}

long SocketControl(BIO* bio, int cmd, long num, void* ptr) {
    switch (cmd) {
    case BIO_C_SET_FD:
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(*static_cast<int*>(ptr))));
        BIO_set_init(bio, 1);
        (void)num;
        return 1;
    case BIO_C_GET_FD: {
        int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
        if (ptr) *static_cast<int*>(ptr) = fd;
        return fd;
    }
    case BIO_CTRL_FLUSH: return 1;
    default: return 0;
    }
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillmoor socket");
        if (!m) return m;
        BIO_meth_set_write(m, SocketWrite);
        BIO_meth_set_read(m, SocketRead);
        BIO_meth_set_ctrl(m, SocketControl);
        return m;
    }();
    return method;
}

// One context for every connection: the system's trusted certificates, TLS 1.2 or later.
SSL_CTX* SharedContext() {
    static SSL_CTX* context = [] {
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (!ctx) return ctx;
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(ctx);
        SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Many servers end an HTTP/1.0 answer by closing without a TLS goodbye; the answer's
        // length, not the goodbye, says whether it is complete.
        SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
        return ctx;
    }();
    return context;
}

std::string LastError(const char* fallback) {
    unsigned long e = ERR_get_error();
    if (e == 0) return fallback;
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

bool IsAddress(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

struct TlsChannel::Session {
    SSL* ssl = nullptr;
    ~Session() {
        if (ssl) SSL_free(ssl);
    }
};

TlsChannel::TlsChannel(std::unique_ptr<Session> session) : session_(std::move(session)) {}
TlsChannel::~TlsChannel() = default;

std::unique_ptr<TlsChannel> TlsChannel::Open(int fd, const std::string& host, bool verify, std::string& error) {
    ERR_clear_error();
    SSL_CTX* ctx = SharedContext();
    BIO_METHOD* method = SocketMethod();
    if (!ctx || !method) {
        error = LastError("TLS is not available");
        return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->ssl = SSL_new(ctx);
    BIO* bio = session->ssl ? BIO_new(method) : nullptr;
    if (!bio) {
        error = LastError("TLS is not available");
        return nullptr;
    }
    BIO_set_fd(bio, fd, BIO_NOCLOSE);
    SSL_set_bio(session->ssl, bio, bio);
    const bool address = IsAddress(host);
    if (!address) SSL_set_tlsext_host_name(session->ssl, host.c_str());
    if (verify) {
        SSL_set_verify(session->ssl, SSL_VERIFY_PEER, nullptr);
        bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->ssl), host.c_str()) == 1
                             : SSL_set1_host(session->ssl, host.c_str()) == 1;
        if (!named) {
            error = "bad host name for the certificate check";
            return nullptr;
        }
    } else {
        SSL_set_verify(session->ssl, SSL_VERIFY_NONE, nullptr);
    }
    SSL_set_connect_state(session->ssl);
    return std::unique_ptr<TlsChannel>(new TlsChannel(std::move(session)));
}

TlsChannel::Step TlsChannel::Handshake(std::string& error) {
    if (established_) return Step::Done;
    ERR_clear_error();
    int r = SSL_do_handshake(session_->ssl);
    if (r == 1) {
        established_ = true;
        return Step::Done;
    }
    switch (SSL_get_error(session_->ssl, r)) {
    case SSL_ERROR_WANT_READ: return Step::WantRead;
    case SSL_ERROR_WANT_WRITE: return Step::WantWrite;
    default: break;
    }
    long verdict = SSL_get_verify_result(session_->ssl);
    if (verdict != X509_V_OK)
        error = std::string("certificate refused: ") + X509_verify_cert_error_string(verdict);
    else
        error = LastError("the server ended the handshake");
    return Step::Failed;
}

long TlsChannel::Read(char* buffer, std::size_t size) {
    ERR_clear_error();
    wantsWrite_ = false;
    int n = SSL_read(session_->ssl, buffer, static_cast<int>(size > 1 << 30 ? 1 << 30 : size));
    if (n > 0) return n;
    switch (SSL_get_error(session_->ssl, n)) {
    case SSL_ERROR_ZERO_RETURN: return 0;
    case SSL_ERROR_WANT_READ: return kWouldBlock;
    case SSL_ERROR_WANT_WRITE: wantsWrite_ = true; return kWouldBlock;
    case SSL_ERROR_SYSCALL: return errno == 0 ? 0 : kFailed;
    default: return kFailed;
    }
}

long TlsChannel::Write(const char* data, std::size_t size) {
    if (size == 0) return 0;
    ERR_clear_error();
    wantsWrite_ = false;
    int n = SSL_write(session_->ssl, data, static_cast<int>(size > 1 << 30 ? 1 << 30 : size));
    if (n > 0) return n;
    switch (SSL_get_error(session_->ssl, n)) {
    case SSL_ERROR_WANT_WRITE: wantsWrite_ = true; return kWouldBlock;
    case SSL_ERROR_WANT_READ: return kWouldBlock;
    default: return kFailed;
    }
}

bool TlsChannel::Pending() const { return SSL_pending(session_->ssl) > 0; }

}  // namespace qm::net
