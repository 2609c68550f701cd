#include "net/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/http_client.h"

namespace qm::net {

int LastListenPort = 0;

void NetStartup() {
    // A peer that closes while we send must not end the program.
    signal(SIGPIPE, SIG_IGN);
    DownloadConnection::UserAgent = "Velloran/4.0";
}

void NetShutdown() {
    DownloadConnection::UserAgent.clear();
    DownloadConnection::ProxyUser.clear();
    DownloadConnection::ProxyPassword.clear();
}

namespace {

bool BindAt(int fd, int port, bool loopbackOnly) {
    if (port < 0 || port > 65535) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

int CreateListener(int port, int firstAlternative, bool loopbackOnly, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    // Lets a restarted program take its port back while old connections linger in
    // TIME_WAIT; two live listeners on one port are still refused.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    int tried = port;
    bool bound = BindAt(fd, port, loopbackOnly);
    if (!bound && firstAlternative >= 1) {
        for (int p = firstAlternative; p <= firstAlternative + 2000 && p <= 65535; ++p) {
            tried = p;
            if (BindAt(fd, p, loopbackOnly)) {
                bound = true;
                break;
            }
        }
    }
    if (!bound) {
        close(fd);
        return kNoSocket;
    }
    LastListenPort = tried;
    if (listen(fd, backlog) != 0) {
        close(fd);
        return kNoSocket;
    }
    return fd;
}

int CreateLoopback6Listener(int port, int backlog) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(static_cast<std::uint16_t>(port));
    addr.sin6_addr = in6addr_loopback;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return kNoSocket;
    }
    return fd;
}

int BoundPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

bool SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void CloseSocket(int& fd) {
    if (fd >= 0) close(fd);
    fd = kNoSocket;
}

bool HasPrefix(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string CountedToString(const char* buffer, std::size_t count) {
    if (!buffer) return {};
    std::size_t n = 0;
    while (n < count && buffer[n] != '\0') ++n;
    return std::string(buffer, n);
}

namespace {
int HexValue(char c) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

int HexByte(std::string_view twoChars) {
    if (twoChars.size() < 2) return 0;
    int hi = HexValue(twoChars[0]), lo = HexValue(twoChars[1]);
    if (hi < 0 || lo < 0) return 0;
    return hi * 16 + lo;
}

std::string DottedAddress(std::uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

}  // namespace qm::net
