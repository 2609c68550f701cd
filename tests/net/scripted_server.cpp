#include "net/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace qm::test {

ScriptedServer::ScriptedServer(std::vector<Script> scripts, bool repeat)
    : scripts_(std::move(scripts)), repeat_(repeat) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 64);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    while (active_.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    close(listener_);
}

std::string ScriptedServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedServer::Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void ScriptedServer::Serve() {
    std::size_t next = 0;
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (next >= scripts_.size() && !repeat_) {
            close(fd);
            continue;
        }
        const Script& script = scripts_[next < scripts_.size() ? next : scripts_.size() - 1];
        std::size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = received_.size();
            received_.emplace_back();
        }
        ++next;
        ++accepted_;
        ++active_;
        std::thread([this, fd, &script, index] {
            Play(fd, script, index);
            --active_;
        }).detach();
    }
}

void ScriptedServer::Play(int fd, const Script& script, std::size_t index) {
    auto readSome = [&](int timeoutMs) -> bool {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        received_[index].append(buf, static_cast<std::size_t>(n));
        return true;
    };
    auto have = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_[index];
    };
    bool closed = false;
    // Each request step waits for one more request than the steps before it read, so that a
    // script can answer several requests on one connection.
    std::size_t requests = 0;
    auto requestsIn = [](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = text.find("\r\n\r\n"); at != std::string::npos; at = text.find("\r\n\r\n", at + 4)) ++n;
        return n;
    };
    for (const Step& s : script) {
        if (stop_) break;
        switch (s.kind) {
        case Step::kReadRequest: {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            ++requests;
            while (requestsIn(have()) < requests && std::chrono::steady_clock::now() < deadline)
                if (!readSome(100) && stop_) break;
            break;
        }
        case Step::kRead: {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            std::size_t want = have().size() + s.bytes.size();
            while (have().size() < want && std::chrono::steady_clock::now() < deadline)
                if (!readSome(100) && stop_) break;
            break;
        }
        case Step::kSend: {
            bool broken = false;
            for (std::size_t round = 0; round < s.times && !broken && !stop_; ++round) {
                std::size_t sent = 0;
                while (sent < s.bytes.size()) {
                    ssize_t n = send(fd, s.bytes.data() + sent, s.bytes.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0) {
                        broken = true;
                        break;
                    }
                    sent += static_cast<std::size_t>(n);
                }
            }
            break;
        }
        case Step::kPause: std::this_thread::sleep_for(std::chrono::milliseconds(s.ms)); break;
        case Step::kClose:
            shutdown(fd, SHUT_WR);
            // Let the peer read what was sent before the descriptor goes.
            for (int i = 0; i < 100 && !stop_; ++i) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 20) > 0) {
                    char buf[512];
                    if (recv(fd, buf, sizeof buf, 0) <= 0) break;
                }
            }
            close(fd);
            closed = true;
            break;
        case Step::kReset: {
            linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(fd);
            closed = true;
            break;
        }
        case Step::kHold: {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.ms);
            while (!stop_ && std::chrono::steady_clock::now() < deadline) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) {
                    char buf[512];
                    if (recv(fd, buf, sizeof buf, 0) <= 0) break;
                }
            }
            break;
        }
        }
        if (closed) break;
    }
    if (!closed) close(fd);
}

}  // namespace qm::test
