#pragma once
// Real servers for the tests, started on 127.0.0.1 with free ports and stopped when the
// fixture object ends: nginx as web server, tinyproxy as HTTP proxy, dante as SOCKS server.
// Also small process helpers for running quillmoor-cli.
#include <string>
#include <sys/types.h>
#include <vector>

namespace qm::test {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();
// A fresh, empty folder for one test (under the build tree, kept after the run for reading).
std::string MakeTempDir(const std::string& tag);
// Writes text to path, creating parent folders. False when it could not.
bool WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForPort(int port, int timeoutMs);
// Whether an executable of that name is on PATH or in /usr/sbin.
std::string FindProgram(const std::string& name);

// A child process with its output in a log file; killed (TERM, then KILL) on destruction.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }
    bool Start(const std::vector<std::string>& argv, const std::string& logFile);
    void Stop();
    bool Running();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

class PeerBase {
public:
    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }
    const std::string& Dir() const { return dir_; }  // config and logs
protected:
    bool Launch(const std::vector<std::string>& argv, const std::string& name);
    ChildProcess process_;
    bool ok_ = false;
    std::string error_;
    int port_ = 0;
    std::string dir_;
};

// nginx serving root; extraServerDirectives go inside its server block (locations,
// auth_basic, return 301 ...). Ranges and If-Modified-Since work as nginx does them.
// mainDirectives go before its http block (load_module ...); with ipv6 it also listens on
// [::1] at the same port.
class NginxPeer : public PeerBase {
public:
    explicit NginxPeer(const std::string& root, const std::string& extraServerDirectives = "",
                       const std::string& mainDirectives = "", bool ipv6 = false);
    std::string Url(const std::string& path) const;   // "http://127.0.0.1:PORT" + path
    std::string Url6(const std::string& path) const;  // "http://[::1]:PORT" + path
};
// The nginx directives that load Debian's brotli module and turn gzip and brotli on for text.
std::string NginxCompressionMain();
std::string NginxCompressionServer();
// Whether this machine can listen on [::1].
bool HasIpv6Loopback();

// tinyproxy as an HTTP proxy on 127.0.0.1; extraConfig lines are appended to its config
// (for example "BasicAuth user password").
class TinyproxyPeer : public PeerBase {
public:
    explicit TinyproxyPeer(const std::string& extraConfig = "");
};

// dante's SOCKS server (SOCKS4 and 5) on 127.0.0.1 without authentication.
class DantePeer : public PeerBase {
public:
    DantePeer();
};

// pyftpdlib serving root on 127.0.0.1 to anonymous users and, when user is "name:password",
// to that user. noRest: REST is refused; noActive: PORT is answered with 425; ipv6: it also
// listens on [::1] at the same port.
class FtpPeer : public PeerBase {
public:
    explicit FtpPeer(const std::string& root, const std::string& user = "", bool noRest = false, bool noActive = false,
                     bool ipv6 = false);
    std::string Url(const std::string& path) const;   // "ftp://127.0.0.1:PORT" + path
    std::string Url6(const std::string& path) const;  // "ftp://[::1]:PORT" + path
};

// A small scripted web site (tests/support/site_peer.py) serving root: redirects from a file
// of "PATH LOCATION" lines, paths under protect answered only with user ("name:password")
// through auth ("basic", "MD5", "MD5-sess", "SHA-256", "SHA-256-sess"), TLS with certificate
// and key when given. Every request is logged as "PATH<TAB>AUTHORIZATION<TAB>REFERER".
// hold ("PATH UNTIL"): PATH is answered only once UNTIL has been asked for (30 s at most),
// and then logged again as "answered PATH".
struct SitePeerSettings {
    std::string redirects, protect, user, auth = "basic", cert, key, hold;
};
class SitePeer : public PeerBase {
public:
    explicit SitePeer(const std::string& root, const SitePeerSettings& settings = {});
    std::string Url(const std::string& path) const;  // http or https://127.0.0.1:PORT + path
    std::vector<std::string> Requests() const;       // the logged lines, in order
private:
    bool secure_ = false;
};

// The quillmoor-cli program of this build, and a way to run it.
std::string CliPath();
struct RunResult {
    int exitCode = -1;  // -1: it did not end in time (it was killed)
    std::string out, err;
};
RunResult RunCli(const std::vector<std::string>& args, int timeoutMs = 60000);
// Runs any program the same way (argv[0] is looked up on PATH).
RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs = 60000);

}  // namespace qm::test
