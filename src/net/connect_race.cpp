#include "net/connect_race.h"

#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/sockets.h"

namespace qm::net {

std::vector<sockaddr_storage> RaceOrder(const std::vector<in6_addr>& v6, const std::vector<std::uint32_t>& v4,
                                        int port) {
    std::vector<sockaddr_storage> out;
    const auto p = htons(static_cast<std::uint16_t>(port));
    for (std::size_t i = 0; i < std::max(v6.size(), v4.size()); ++i) {
        if (i < v6.size()) {
            sockaddr_storage s{};
            auto* a = reinterpret_cast<sockaddr_in6*>(&s);
            a->sin6_family = AF_INET6;
            a->sin6_port = p;
            a->sin6_addr = v6[i];
            out.push_back(s);
        }
        if (i < v4.size()) {
            sockaddr_storage s{};
            auto* a = reinterpret_cast<sockaddr_in*>(&s);
            a->sin_family = AF_INET;
            a->sin_port = p;
            a->sin_addr.s_addr = v4[i];
            out.push_back(s);
        }
    }
    return out;
}

ConnectRace::ConnectRace(std::vector<sockaddr_storage> candidates, Finished finished)
    : candidates_(std::move(candidates)), finished_(std::move(finished)), stagger_([this] { StartNext(); }) {}

ConnectRace::~ConnectRace() {
    *alive_ = false;
    stagger_.Stop();
    for (auto& a : attempts_) {
        a.watch.reset();
        ::close(a.fd);
    }
}

void ConnectRace::Start() {
    if (candidates_.empty()) {
        auto alive = alive_;
        platform::Post([this, alive] {
            if (*alive) End(kNoSocket, EHOSTUNREACH);
        });
        return;
    }
    StartNext();
}

void ConnectRace::StartNext() {
    stagger_.Stop();
    while (next_ < candidates_.size()) {
        const sockaddr_storage& target = candidates_[next_++];
        const socklen_t size = target.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        int fd = ::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || !SetNonBlocking(fd)) {
            lastError_ = errno;
            if (fd >= 0) ::close(fd);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), size);
        if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
            // Refused at once (no route, no such family here): the next one goes at once.
            lastError_ = errno;
            ::close(fd);
            continue;
        }
        auto watch = std::make_unique<platform::SocketWatch>(fd, [this, fd](int) { OnReady(fd); });
        watch->SetInterest(false, true);
        attempts_.push_back(Attempt{fd, std::move(watch)});
        if (next_ < candidates_.size()) stagger_.Start(kStaggerMs, true);
        return;
    }
    if (attempts_.empty()) {
        // Every address failed before a connect could even wait: reported from the loop.
        auto alive = alive_;
        const int error = lastError_ ? lastError_ : ECONNREFUSED;
        platform::Post([this, alive, error] {
            if (*alive && !ended_ && attempts_.empty()) End(kNoSocket, error);
        });
    }
}

void ConnectRace::OnReady(int fd) {
    if (ended_) return;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    if (error != 0) {
        Fail(fd, error);
        return;
    }
    End(fd, 0);
}

void ConnectRace::Fail(int fd, int error) {
    lastError_ = error;
    auto it = std::find_if(attempts_.begin(), attempts_.end(), [fd](const Attempt& a) { return a.fd == fd; });
    if (it != attempts_.end()) {
        it->watch.reset();
        ::close(it->fd);
        attempts_.erase(it);
    }
    // A failure does not wait for the stagger: the next address is tried now.
    if (next_ < candidates_.size()) {
        StartNext();
        return;
    }
    if (attempts_.empty()) End(kNoSocket, error);
}

void ConnectRace::End(int fd, int error) {
    ended_ = true;
    stagger_.Stop();
    for (auto& a : attempts_) {
        a.watch.reset();
        if (a.fd != fd) ::close(a.fd);
    }
    attempts_.clear();
    Finished finished = std::move(finished_);
    if (finished) finished(fd, error);  // may destroy this race
}

}  // namespace qm::net
