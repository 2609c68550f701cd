#include "server/request_reader.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "server/request_head.h"

namespace qm::server {

namespace {

// What an epoll entry stands for: the listener, the wake-up counter, a connection waiting
// for its request (the descriptor itself) or an answered one waiting for the client's close.
constexpr std::uint64_t kLingerTag = std::uint64_t{1} << 32;
constexpr std::uint64_t kListenTag = std::uint64_t{1} << 40;
constexpr std::uint64_t kWakeTag = std::uint64_t{2} << 40;
constexpr std::uint64_t kListen6Tag = std::uint64_t{3} << 40;

constexpr int kAcceptBatch = 128;   // accepts per round, so reading is not starved
constexpr int kAcceptPauseMs = 50;  // out of descriptors and nothing to let go
constexpr std::size_t kLingerDrainLimit = 64 * 1024;

bool Add(int epoll, int fd, std::uint64_t tag, std::uint32_t events = EPOLLIN) {
    epoll_event e{};
    e.events = events;
    e.data.u64 = tag;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e) == 0;
}

}  // namespace

RequestReader::RequestReader(int listenFd, Limits limits, Handler onRequest)
    : listen_(listenFd), limits_(limits), onRequest_(std::move(onRequest)) {
    if (limits_.maxWaiting < 1) limits_.maxWaiting = 1;
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_ < 0) return;
    ::fcntl(listen_, F_SETFL, ::fcntl(listen_, F_GETFL) | O_NONBLOCK);
    if (!Add(epoll_, listen_, kListenTag) || !Add(epoll_, wake_, kWakeTag)) {
        ::close(epoll_);
        epoll_ = -1;
    }
}

RequestReader::~RequestReader() {
    for (const Connection& c : waiting_) ::close(c.fd);
    TakeLingerInbox();
    for (const Closing& c : lingering_) ::close(c.fd);
    if (epoll_ >= 0) ::close(epoll_);
    if (wake_ >= 0) ::close(wake_);
}

void RequestReader::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void RequestReader::Linger(int fd) {
    // Watching it from here saves waking the reading thread; an entry it cannot watch is
    // closed at its deadline. The reading thread takes the entry under the same lock after
    // its wait, so it knows the connection before it can see its first event.
    std::lock_guard<std::mutex> lock(inboxMutex_);
    Add(epoll_, fd, kLingerTag | static_cast<std::uint32_t>(fd));
    inbox_.push_back(Closing{fd, Clock::now() + std::chrono::milliseconds(limits_.lingerMs)});
}

void RequestReader::TakeLingerInbox() {
    std::vector<Closing> taken;
    {
        std::lock_guard<std::mutex> lock(inboxMutex_);
        if (inbox_.empty()) return;
        taken.swap(inbox_);
    }
    for (const Closing& c : taken) {
        lingering_.push_back(c);
        lingeringByFd_[c.fd] = std::prev(lingering_.end());
    }
}

int RequestReader::TimeoutMs(int maxWaitMs, Clock::time_point now) const {
    Clock::time_point until = now + std::chrono::milliseconds(maxWaitMs);
    if (!waiting_.empty()) until = std::min(until, waiting_.front().deadline);
    if (!lingering_.empty()) until = std::min(until, lingering_.front().deadline);
    if (acceptPaused_) until = std::min(until, acceptPausedUntil_);
    if (until <= now) return 0;
    // Rounded up, so that a deadline is not polled for again just before it.
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1;
}

bool RequestReader::AddListener(int listenFd) {
    if (!Ok() || listen6_ >= 0) return false;
    ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL) | O_NONBLOCK);
    if (!Add(epoll_, listenFd, kListen6Tag)) return false;
    listen6_ = listenFd;
    return true;
}

void RequestReader::PauseAccepting(bool paused) {
    epoll_event e{};
    e.events = paused ? 0u : static_cast<std::uint32_t>(EPOLLIN);
    e.data.u64 = kListenTag;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, listen_, &e);
    if (listen6_ >= 0) {
        e.data.u64 = kListen6Tag;
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, listen6_, &e);
    }
    acceptPaused_ = paused;
}

void RequestReader::Poll(int maxWaitMs) {
    if (!Ok()) return;
    Clock::time_point now = Clock::now();
    if (acceptPaused_ && now >= acceptPausedUntil_) PauseAccepting(false);
    epoll_event events[128];
    const int n = ::epoll_wait(epoll_, events, 128, TimeoutMs(maxWaitMs, now));
    TakeLingerInbox();
    for (int i = 0; i < n; ++i) {
        const std::uint64_t tag = events[i].data.u64;
        if (tag == kListenTag || tag == kListen6Tag) {
            AcceptAll(tag == kListenTag ? listen_ : listen6_);
        } else if (tag == kWakeTag) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t r = ::read(wake_, &count, sizeof count);
        } else if (tag & kLingerTag) {
            DrainClosing(static_cast<int>(tag & 0xffffffffu));
        } else {
            ReadFrom(static_cast<int>(tag));
        }
    }
    Expire(Clock::now());
}

void RequestReader::AcceptAll(int listener) {
    for (int i = 0; i < kAcceptBatch; ++i) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            Take(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            if (!waiting_.empty()) {
                Drop(waiting_.begin());
                continue;
            }
            if (!lingering_.empty()) {
                CloseLingering(lingering_.begin());
                continue;
            }
            // Nothing of ours to let go: further clients wait in the listen queue a while.
            PauseAccepting(true);
            acceptPausedUntil_ = Clock::now() + std::chrono::milliseconds(kAcceptPauseMs);
        }
        return;
    }
}

void RequestReader::Take(int fd) {
    // A browser usually sends its request with the connection: try it before watching.
    char buf[kRequestLimit];
    ssize_t n;
    do {
        n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    std::string bytes;
    if (n > 0) {
        bytes.assign(buf, static_cast<std::size_t>(n));
        if (RequestHeadComplete(bytes)) {
            onRequest_(fd, std::move(bytes));
            return;
        }
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        ::close(fd);
        return;
    }
    // At the bound, the client that has waited longest without a request makes room.
    if (waiting_.size() >= limits_.maxWaiting) Drop(waiting_.begin());
    if (!Add(epoll_, fd, static_cast<std::uint64_t>(fd))) {
        ::close(fd);
        return;
    }
    waiting_.push_back(
        Connection{fd, Clock::now() + std::chrono::milliseconds(limits_.requestTimeoutMs), std::move(bytes)});
    waitingByFd_[fd] = std::prev(waiting_.end());
}

void RequestReader::ReadFrom(int fd) {
    const auto found = waitingByFd_.find(fd);
    if (found == waitingByFd_.end()) return;
    const auto it = found->second;
    char buf[kRequestLimit];
    ssize_t n;
    do {
        n = ::recv(fd, buf, kRequestLimit - it->bytes.size(), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        it->bytes.append(buf, static_cast<std::size_t>(n));
        if (RequestHeadComplete(it->bytes)) Dispatch(it);
    } else if (n == 0) {
        // The client has closed its side: what it sent is all there will be.
        if (it->bytes.empty())
            Drop(it);
        else
            Dispatch(it);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        Drop(it);
    }
}

void RequestReader::DrainClosing(int fd) {
    const auto found = lingeringByFd_.find(fd);
    if (found == lingeringByFd_.end()) return;
    const auto it = found->second;
    char sink[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0) {
            it->drained += static_cast<std::size_t>(n);
            if (it->drained > kLingerDrainLimit) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        break;
    }
    CloseLingering(it);
}

void RequestReader::Expire(Clock::time_point now) {
    // A request cut short by its time is answered with what arrived, as one read would have
    // seen it; a client that sent nothing is closed without an answer.
    while (!waiting_.empty() && waiting_.front().deadline <= now) {
        if (waiting_.front().bytes.empty())
            Drop(waiting_.begin());
        else
            Dispatch(waiting_.begin());
    }
    while (!lingering_.empty() && lingering_.front().deadline <= now) CloseLingering(lingering_.begin());
}

void RequestReader::Dispatch(std::list<Connection>::iterator it) {
    const int fd = it->fd;
    std::string bytes = std::move(it->bytes);
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    waitingByFd_.erase(fd);
    waiting_.erase(it);
    onRequest_(fd, std::move(bytes));
}

void RequestReader::Drop(std::list<Connection>::iterator it) {
    const int fd = it->fd;
    waitingByFd_.erase(fd);
    waiting_.erase(it);
    ::close(fd);  // also ends its epoll entry
}

void RequestReader::CloseLingering(std::list<Closing>::iterator it) {
    const int fd = it->fd;
    lingeringByFd_.erase(fd);
    lingering_.erase(it);
    ::close(fd);
}

}  // namespace qm::server
