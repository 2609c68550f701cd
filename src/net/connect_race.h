#pragma once
// Connection attempts to a server with several addresses, raced as RFC 8305 ("Happy
// Eyeballs") orders them: the families alternate, IPv6 first, and each next attempt starts
// when the one before has failed or has had kStaggerMs without an answer, while the earlier
// ones go on. The first connect to succeed wins; the others are closed. Main thread only.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/event_loop.h"

namespace qm::net {

// The addresses to try, in the order of the race: IPv6 and IPv4 alternate, IPv6 first, each
// family in the order it was given.
std::vector<sockaddr_storage> RaceOrder(const std::vector<in6_addr>& v6, const std::vector<std::uint32_t>& v4,
                                        int port);

class ConnectRace {
public:
    // fd: the connected socket (non-blocking), or kNoSocket with the last attempt's error.
    using Finished = std::function<void(int fd, int error)>;
    ConnectRace(std::vector<sockaddr_storage> candidates, Finished finished);
    ~ConnectRace();  // attempts still running are closed
    ConnectRace(const ConnectRace&) = delete;
    ConnectRace& operator=(const ConnectRace&) = delete;

    // Starts the first attempt. finished is always called later, never from Start.
    void Start();

    static constexpr int kStaggerMs = 250;

private:
    struct Attempt {
        int fd;
        std::unique_ptr<platform::SocketWatch> watch;
    };
    void StartNext();
    void OnReady(int fd);
    void Fail(int fd, int error);
    void End(int fd, int error);
    std::vector<sockaddr_storage> candidates_;
    std::size_t next_ = 0;
    std::vector<Attempt> attempts_;
    int lastError_ = 0;
    bool ended_ = false;
    Finished finished_;
    platform::Timer stagger_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qm::net
