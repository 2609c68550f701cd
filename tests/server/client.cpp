#include "client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/event_loop.h"

namespace qm::test {

namespace {
std::string Talk(int port, const std::string& raw, int timeoutMs, bool ipv6) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    a6.sin6_addr = in6addr_loopback;
    const int rc = ipv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&a6), sizeof a6)
                        : ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    std::string out;
    if (rc == 0) {
        if (!raw.empty()) ::send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[8192];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return out;
}
}  // namespace

std::string Exchange(int port, const std::string& raw, int timeoutMs, bool ipv6) {
    if (!platform::IsMainThread()) return Talk(port, raw, timeoutMs, ipv6);
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<std::string>();
    std::thread t([=] {
        *result = Talk(port, raw, timeoutMs, ipv6);
        *done = true;
        platform::Post([] {});  // lets the main thread see it
    });
    platform::RunUntil([&] { return done->load(); }, timeoutMs + 5000);
    t.join();
    return *result;
}

std::string Get(int port, const std::string& path, const std::string& extraHeaders) {
    return Exchange(port, "GET " + path + " HTTP/1.0\r\n" + extraHeaders + "\r\n");
}

std::string StatusLine(const std::string& response) { return response.substr(0, response.find("\r\n")); }

std::string HeaderOf(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? response : response.substr(0, end + 4);
}

std::string BodyOf(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

}  // namespace qm::test
