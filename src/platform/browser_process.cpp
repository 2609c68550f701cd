// Starting and ending the headless browser with its two command pipes.
#include "platform/browser_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qm::platform {

namespace {

// Descriptors above those the browser expects, so that moving ours into place never
// overwrites one still to be moved.
constexpr int kHighFd = 100;

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Waits up to ms for pid to end; true when it has ended (and was reaped).
bool WaitForExit(pid_t pid, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

std::string FindOnPath(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

bool BrowserProcess::Start(const std::string& program, const std::vector<std::string>& args, const std::string& logFile,
                           std::string& error) {
    Stop();
    // A browser that ends while a command is being written makes the write fail, never
    // ends the program.
    ::signal(SIGPIPE, SIG_IGN);
    int toBrowser[2], fromBrowser[2];
    if (::pipe2(toBrowser, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (::pipe2(fromBrowser, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(toBrowser[0]);
        ::close(toBrowser[1]);
        return false;
    }
    // Everything the child needs is prepared here: after fork only async-signal-safe calls.
    std::vector<std::string> all;
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int logFd = logFile.empty() ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                                      : ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        // The browser ends with the program, even when the program is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int in = ::fcntl(toBrowser[0], F_DUPFD, kHighFd);
        const int out = ::fcntl(fromBrowser[1], F_DUPFD, kHighFd);
        if (in < 0 || out < 0 || ::dup2(in, 3) < 0 || ::dup2(out, 4) < 0) ::_exit(127);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, 0);
        if (logFd >= 0) {
            ::dup2(logFd, 1);
            ::dup2(logFd, 2);
        }
        ::close_range(5, ~0U, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (logFd >= 0) ::close(logFd);
    ::close(toBrowser[0]);
    ::close(fromBrowser[1]);
    if (pid < 0) {
        error = std::strerror(errno);
        ::close(toBrowser[1]);
        ::close(fromBrowser[0]);
        return false;
    }
    ::setpgid(pid, pid);  // also here, so that Stop finds the group whichever runs first
    pid_ = pid;
    commandFd_ = toBrowser[1];
    answerFd_ = fromBrowser[0];
    return true;
}

bool BrowserProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    ::kill(-pid_, SIGKILL);  // whatever it started goes with it
    pid_ = -1;
    return false;
}

void BrowserProcess::Stop() {
    CloseFd(commandFd_);
    CloseFd(answerFd_);
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    if (!WaitForExit(pid_, 3000)) {
        ::kill(-pid_, SIGKILL);
        WaitForExit(pid_, 3000);
    }
    // Helpers of the browser that did not end with it.
    ::kill(-pid_, SIGKILL);
    pid_ = -1;
}

}  // namespace qm::platform
