#include "net/kept_connections.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <deque>

#include "net/sockets.h"
#include "net/tls_channel.h"

namespace qm::net::kept {

namespace {

struct Kept {
    std::string key;
    int fd = kNoSocket;
    std::unique_ptr<TlsChannel> tls;
    std::chrono::steady_clock::time_point since;
};

// Never destroyed: the descriptors it may still hold at exit close with the process.
std::deque<Kept>& List() {
    static auto* list = new std::deque<Kept>();
    return *list;
}

void Close(Kept& k) {
    k.tls.reset();
    CloseSocket(k.fd);
}

// Open and quiet: the server has neither closed it nor sent anything unasked.
bool StillUsable(const Kept& k) {
    if (std::chrono::steady_clock::now() - k.since > std::chrono::seconds(kMaxIdleSeconds)) return false;
    char probe;
    for (;;) {
        ssize_t n = ::recv(k.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

}  // namespace

std::string KeyFor(UrlScheme scheme, const std::string& host, int port, ProxyKind proxy, const std::string& proxyHost,
                   int proxyPort, bool acceptUntrusted) {
    std::string key = std::to_string(static_cast<int>(scheme)) + ' ' + host + ' ' + std::to_string(port);
    if (proxy != ProxyKind::None)
        key += ' ' + std::to_string(static_cast<int>(proxy)) + ' ' + proxyHost + ' ' + std::to_string(proxyPort);
    if (scheme == UrlScheme::Https && acceptUntrusted) key += " any-certificate";
    return key;
}

void Keep(const std::string& key, int fd, std::unique_ptr<TlsChannel> tls) {
    if (fd == kNoSocket) return;
    auto& list = List();
    list.push_back(Kept{key, fd, std::move(tls), std::chrono::steady_clock::now()});
    while (list.size() > kMaxKept) {
        Close(list.front());
        list.pop_front();
    }
}

bool Take(const std::string& key, int& fd, std::unique_ptr<TlsChannel>& tls) {
    auto& list = List();
    // The most recently kept first: it is the least likely to have been closed by the server.
    for (auto it = list.end(); it != list.begin();) {
        --it;
        if (it->key != key) continue;
        Kept k = std::move(*it);
        it = list.erase(it);
        if (StillUsable(k)) {
            fd = k.fd;
            tls = std::move(k.tls);
            return true;
        }
        Close(k);
    }
    return false;
}

void CloseAll() {
    auto& list = List();
    for (Kept& k : list) Close(k);
    list.clear();
}

std::size_t Count() { return List().size(); }

}  // namespace qm::net::kept
