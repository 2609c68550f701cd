#include "support/peers.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qm::test {
namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::string BaseTempDir() {
    const char* bin = std::getenv("QM_BINARY_DIR");
    fs::path base = bin && *bin ? fs::path(bin) / "test-tmp" : fs::temp_directory_path() / "quillmoor-tests";
    fs::create_directories(base);
    return base.string();
}

bool IsRoot() { return geteuid() == 0; }

}  // namespace

int FreePort() {
    // Ports handed out in this process are not handed out again, so that two fixtures started
    // one after the other never meet on the same port before either binds it.
    static std::atomic<int> last{0};
    for (int attempt = 0; attempt < 200; ++attempt) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return 0;
        sockaddr_in a = Loopback(0);
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            socklen_t len = sizeof a;
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
            port = ntohs(a.sin_port);
        }
        close(fd);
        if (port != 0 && port != last.load()) {
            last = port;
            return port;
        }
    }
    return 0;
}

std::string MakeTempDir(const std::string& tag) {
    static std::atomic<int> counter{0};
    fs::path dir = fs::path(BaseTempDir()) / (tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::path p(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WaitForPort(int port, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(port);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string FindProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/bin:/sbin:/bin";
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        fs::path candidate = fs::path(dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
    Stop();
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        setpgid(0, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    return true;
}

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool PeerBase::Launch(const std::vector<std::string>& argv, const std::string& name) {
    if (argv.empty() || argv[0].empty()) {
        error_ = name + " is not installed (./test.sh installs it)";
        return false;
    }
    std::string log = dir_ + "/" + name + ".out";
    if (!process_.Start(argv, log)) {
        error_ = "could not start " + name;
        return false;
    }
    if (!WaitForPort(port_, 10000) || !process_.Running()) {
        error_ = name + " did not start listening on port " + std::to_string(port_) + ": " + ReadFile(log);
        process_.Stop();
        return false;
    }
    ok_ = true;
    return true;
}

std::string NginxCompressionMain() { return "load_module /usr/lib/nginx/modules/ngx_http_brotli_filter_module.so;\n"; }

std::string NginxCompressionServer() {
    return "gzip on; gzip_min_length 1; gzip_types text/css application/javascript text/plain;\n"
           "brotli on; brotli_min_length 1; brotli_types text/css application/javascript text/plain;\n";
}

bool HasIpv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

NginxPeer::NginxPeer(const std::string& root, const std::string& extraServerDirectives,
                     const std::string& mainDirectives, bool ipv6) {
    dir_ = MakeTempDir("nginx");
    port_ = FreePort();
    std::string conf = dir_ + "/nginx.conf";
    std::ostringstream c;
    c << mainDirectives << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      << "pid " << dir_ << "/nginx.pid;\n"
      << "error_log " << dir_ << "/error.log warn;\n"
      << "events { worker_connections 256; }\n"
      << "http {\n"
      << "  include /etc/nginx/mime.types;\n  default_type application/octet-stream;\n"
      << "  access_log " << dir_ << "/access.log;\n"
      << "  client_body_temp_path " << dir_ << "/body;\n"
      << "  proxy_temp_path " << dir_ << "/proxy;\n  fastcgi_temp_path " << dir_ << "/fastcgi;\n"
      << "  uwsgi_temp_path " << dir_ << "/uwsgi;\n  scgi_temp_path " << dir_ << "/scgi;\n"
      << "  server {\n    listen 127.0.0.1:" << port_ << ";\n"
      << (ipv6 ? "    listen [::1]:" + std::to_string(port_) + " ipv6only=on;\n" : "") << "    server_name localhost;\n"
      << "    root " << root << ";\n"
      << extraServerDirectives << "\n  }\n}\n";
    WriteFile(conf, c.str());
    Launch({FindProgram("nginx"), "-p", dir_, "-c", conf, "-e", dir_ + "/error.log"}, "nginx");
}

std::string NginxPeer::Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
std::string NginxPeer::Url6(const std::string& path) const { return "http://[::1]:" + std::to_string(port_) + path; }

TinyproxyPeer::TinyproxyPeer(const std::string& extraConfig) {
    dir_ = MakeTempDir("tinyproxy");
    port_ = FreePort();
    std::ostringstream c;
    if (IsRoot()) c << "User nobody\nGroup nogroup\n";
    c << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\n"
      << "LogLevel Info\nMaxClients 50\nDisableViaHeader Yes\n"
      << extraConfig << "\n";
    std::string conf = dir_ + "/tinyproxy.conf";
    WriteFile(conf, c.str());
    chmod(dir_.c_str(), 0755);
    Launch({FindProgram("tinyproxy"), "-d", "-c", conf}, "tinyproxy");
}

DantePeer::DantePeer() {
    dir_ = MakeTempDir("dante");
    port_ = FreePort();
    std::ostringstream c;
    c << "logoutput: " << dir_ << "/danted.log\n"
      << "internal: 127.0.0.1 port = " << port_ << "\nexternal: 127.0.0.1\n"
      << "clientmethod: none\nsocksmethod: none\n";
    if (IsRoot()) c << "user.privileged: root\nuser.unprivileged: nobody\n";
    c << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
      << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  protocol: tcp\n}\n"
      << "socks block {\n  from: 0.0.0.0/0 to: 0.0.0.0/0\n}\n";
    std::string conf = dir_ + "/danted.conf";
    WriteFile(conf, c.str());
    Launch({FindProgram("danted"), "-f", conf, "-p", dir_ + "/danted.pid", "-N", "1"}, "danted");
}

FtpPeer::FtpPeer(const std::string& root, const std::string& user, bool noRest, bool noActive, bool ipv6) {
    dir_ = MakeTempDir("ftp");
    port_ = FreePort();
    const char* src = std::getenv("QM_SOURCE_DIR");
    std::string script = std::string(src && *src ? src : ".") + "/tests/support/ftp_peer.py";
    // Debian's interpreter, which has Debian's pyftpdlib, whatever python3 is first on PATH.
    std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : FindProgram("python3");
    std::vector<std::string> argv = {python, script, "--port", std::to_string(port_), "--root", root};
    if (!user.empty()) argv.insert(argv.end(), {"--user", user});
    if (noRest) argv.push_back("--no-rest");
    if (noActive) argv.push_back("--no-active");
    if (ipv6) argv.push_back("--ipv6");
    Launch(argv, "pyftpdlib");
}

std::string FtpPeer::Url(const std::string& path) const { return "ftp://127.0.0.1:" + std::to_string(port_) + path; }
std::string FtpPeer::Url6(const std::string& path) const { return "ftp://[::1]:" + std::to_string(port_) + path; }

SitePeer::SitePeer(const std::string& root, const SitePeerSettings& settings) {
    dir_ = MakeTempDir("site");
    port_ = FreePort();
    secure_ = !settings.cert.empty();
    const char* src = std::getenv("QM_SOURCE_DIR");
    std::string script = std::string(src && *src ? src : ".") + "/tests/support/site_peer.py";
    std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : FindProgram("python3");
    std::vector<std::string> argv = {python,   script,       "--port", std::to_string(port_),
                                     "--root", root,         "--log",  dir_ + "/requests.log",
                                     "--auth", settings.auth};
    if (!settings.redirects.empty()) {
        WriteFile(dir_ + "/redirects", settings.redirects);
        argv.insert(argv.end(), {"--redirects", dir_ + "/redirects"});
    }
    if (!settings.protect.empty()) argv.insert(argv.end(), {"--protect", settings.protect, "--user", settings.user});
    if (secure_) argv.insert(argv.end(), {"--cert", settings.cert, "--key", settings.key});
    if (!settings.hold.empty()) argv.insert(argv.end(), {"--hold", settings.hold});
    Launch(argv, "site_peer");
}

std::string SitePeer::Url(const std::string& path) const {
    return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> SitePeer::Requests() const {
    std::vector<std::string> lines;
    std::string text = ReadFile(dir_ + "/requests.log"), line;
    for (char c : text) {
        if (c != '\n')
            line.push_back(c);
        else
            lines.push_back(std::move(line)), line.clear();
    }
    return lines;
}

std::string CliPath() {
    const char* bin = std::getenv("QM_BINARY_DIR");
    return std::string(bin && *bin ? bin : ".") + "/src/cli/quillmoor-cli";
}

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
    RunResult result;
    std::string dir = MakeTempDir("run");
    std::string outFile = dir + "/out", errFile = dir + "/err";
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(out, 1);
        dup2(err, 2);
        dup2(devnull, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    bool done = false;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            done = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitCode = 128 + WTERMSIG(status);
    }
    result.out = ReadFile(outFile);
    result.err = ReadFile(errFile);
    return result;
}

RunResult RunCli(const std::vector<std::string>& args, int timeoutMs) {
    std::vector<std::string> argv{CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, timeoutMs);
}

}  // namespace qm::test
