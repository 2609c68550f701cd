#pragma once
// Waits on every browser connection at once until its request has arrived, so that clients
// that connect and send nothing (or send slowly) hold no thread. One thread drives it: it
// accepts, reads the request heads, drops connections whose time is up, and closes answered
// connections once the client has closed its side.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace qm::server {

class RequestReader {
public:
    struct Limits {
        std::size_t maxWaiting = 4096;  // connections waiting for their request
        int requestTimeoutMs = 10000;   // from accept until the request must have arrived
        int lingerMs = 200;             // how long an answered connection may wait for the client's close
    };
    // Called on the reading thread with a connection (non-blocking) whose request is whole, or
    // whose time ran out after some bytes; it owns the socket from then on.
    using Handler = std::function<void(int fd, std::string request)>;

    // listenFd stays the caller's; it is made non-blocking.
    RequestReader(int listenFd, Limits limits, Handler onRequest);
    // Accepts on a second listening socket too (the caller keeps and closes it).
    bool AddListener(int listenFd);
    ~RequestReader();  // closes every connection still held
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    bool Ok() const { return epoll_ >= 0 && wake_ >= 0; }
    // One round: waits at most maxWaitMs for anything to do, then does it.
    void Poll(int maxWaitMs);
    // Makes a waiting Poll return (any thread).
    void Wake();
    // An answered connection whose sending side is shut (any thread): closed when the client
    // has closed, has sent too much, or after the linger time.
    void Linger(int fd);

    std::size_t Waiting() const { return waiting_.size(); }
    std::size_t Lingering() const { return lingering_.size(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        int fd;
        Clock::time_point deadline;
        std::string bytes;
    };
    struct Closing {
        int fd;
        Clock::time_point deadline;
        std::size_t drained = 0;
    };

    void AcceptAll(int listener);
    void PauseAccepting(bool paused);
    void Take(int fd);
    void ReadFrom(int fd);
    void DrainClosing(int fd);
    void Expire(Clock::time_point now);
    void TakeLingerInbox();
    void Dispatch(std::list<Connection>::iterator it);
    void Drop(std::list<Connection>::iterator it);
    void CloseLingering(std::list<Closing>::iterator it);
    int TimeoutMs(int maxWaitMs, Clock::time_point now) const;

    int listen_;
    int listen6_ = -1;  // a second listener (on [::1]), when there is one
    int epoll_ = -1;
    int wake_ = -1;
    Limits limits_;
    Handler onRequest_;
    // In accept order, which is also deadline order.
    std::list<Connection> waiting_;
    std::unordered_map<int, std::list<Connection>::iterator> waitingByFd_;
    std::list<Closing> lingering_;
    std::unordered_map<int, std::list<Closing>::iterator> lingeringByFd_;
    std::mutex inboxMutex_;
    std::vector<Closing> inbox_;  // handed over by Linger, not yet taken
    Clock::time_point acceptPausedUntil_{};
    bool acceptPaused_ = false;
};

}  // namespace qm::server
