#include "net/ftp_scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace qm::test {

namespace {

void WriteAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (fd >= 0 && sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

int Listen127() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd, 8);
    return fd;
}

int PortOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

}  // namespace

void ScriptedFtpServer::Session::Send(const std::string& bytes) { WriteAll(control, bytes); }

void ScriptedFtpServer::Session::Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool ScriptedFtpServer::Session::OpenData(const std::string& source) {
    CloseData();
    if (passiveListener >= 0) {
        pollfd p{passiveListener, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return false;
        data = accept4(passiveListener, nullptr, nullptr, SOCK_CLOEXEC);
        close(passiveListener);
        passiveListener = -1;
        return data >= 0;
    }
    data = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    bind(data, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(portNumber));
    inet_pton(AF_INET, portHost.c_str(), &to.sin_addr);
    if (connect(data, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        CloseData();
        return false;
    }
    return true;
}

int ScriptedFtpServer::Session::ListenPassive() {
    if (passiveListener >= 0) close(passiveListener);
    passiveListener = Listen127();
    return PortOf(passiveListener);
}

void ScriptedFtpServer::Session::SendData(const std::string& bytes) { WriteAll(data, bytes); }

void ScriptedFtpServer::Session::CloseData() {
    if (data >= 0) close(data);
    data = -1;
}

ScriptedFtpServer::ScriptedFtpServer(std::string greeting, std::map<std::string, std::string> files, Handler handler)
    : greeting_(std::move(greeting)), files_(std::move(files)), handler_(std::move(handler)) {
    listener_ = Listen127();
    port_ = PortOf(listener_);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(listener_);
}

std::string ScriptedFtpServer::Url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedFtpServer::Commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

void ScriptedFtpServer::Serve() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) Play(fd);
    }
}

void ScriptedFtpServer::Play(int fd) {
    Session s;
    s.control = fd;
    s.Send(greeting_);
    std::string pending;
    bool open = true;
    while (open && !stop_) {
        std::size_t eol = pending.find("\r\n");
        if (eol == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 2);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            commands_.push_back(line);
        }
        std::size_t blank = line.find(' ');
        std::string verb = line.substr(0, blank);
        std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);
        open = handler_ ? handler_(s, verb, arg) : Standard(s, verb, arg);
    }
    s.CloseData();
    if (s.passiveListener >= 0) close(s.passiveListener);
    close(fd);
}

bool ScriptedFtpServer::Standard(Session& s, const std::string& verb, const std::string& arg) {
    auto file = files_.find(arg);
    if (verb == "USER")
        s.Send("331 Password please.\r\n");
    else if (verb == "PASS")
        s.Send("230 Logged on.\r\n");
    else if (verb == "CWD")
        s.Send(files_.count(arg) ? "250 Okay.\r\n" : "550 No such folder.\r\n");
    else if (verb == "TYPE")
        s.Send("200 Type set.\r\n");
    else if (verb == "SIZE") {
        if (file == files_.end())
            s.Send("550 No such file.\r\n");
        else
            s.Send("213 " + std::to_string(file->second.size()) + "\r\n");
    } else if (verb == "PORT") {
        int h1, h2, h3, h4, p1, p2;
        if (std::sscanf(arg.c_str(), "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
            s.Send("501 Bad PORT.\r\n");
        } else {
            s.portHost =
                std::to_string(h1) + "." + std::to_string(h2) + "." + std::to_string(h3) + "." + std::to_string(h4);
            s.portNumber = p1 * 256 + p2;
            s.Send("200 PORT okay.\r\n");
        }
    } else if (verb == "PASV") {
        int port = s.ListenPassive();
        s.Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) +
               ").\r\n");
    } else if (verb == "REST") {
        s.restAt = std::stoll(arg);
        s.Send("350 Restarting.\r\n");
    } else if (verb == "RETR" || verb == "LIST") {
        std::string key = verb == "LIST" ? "LIST" : arg;
        auto f = files_.find(key);
        if (f == files_.end()) {
            s.Send("550 No such file.\r\n");
            return true;
        }
        s.Send("150 Opening data connection.\r\n");
        if (!s.OpenData()) {
            s.Send("425 Cannot open data connection.\r\n");
            return true;
        }
        std::size_t from = static_cast<std::size_t>(s.restAt) < f->second.size() ? static_cast<std::size_t>(s.restAt)
                                                                                 : f->second.size();
        s.restAt = 0;
        s.SendData(f->second.substr(from));
        s.CloseData();
        s.Send("226 Transfer complete.\r\n");
    } else if (verb == "QUIT") {
        s.Send("221 Bye.\r\n");
        return false;
    } else {
        s.Send("502 Not implemented.\r\n");
    }
    return true;
}

}  // namespace qm::test
