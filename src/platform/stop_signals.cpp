#include "platform/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/event_loop.h"

namespace qm::platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Shared with the handler, which may use nothing but async-signal-safe calls.
volatile std::sig_atomic_t g_writeEnd = -1;
volatile std::sig_atomic_t g_seen = 0;
volatile std::sig_atomic_t g_secondEndsAtOnce = 0;

void OnSignal(int number) {
    if (g_seen && g_secondEndsAtOnce) ::_exit(128 + number);
    g_seen = 1;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a wake-up: a failed write loses nothing.
    const ssize_t written = ::write(g_writeEnd, &byte, 1);
    (void)written;
    errno = saved;
}

}  // namespace

struct StopSignals::Impl {
    int pipe[2] = {-1, -1};
    std::unique_ptr<SocketWatch> watch;
    std::function<void(int)> onSignal;
    struct sigaction before[kSignalCount] {};
    bool installed = false;

    void Drain() {
        unsigned char bytes[64];
        for (;;) {
            const ssize_t n = ::read(pipe[0], bytes, sizeof bytes);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i)
                if (onSignal) onSignal(bytes[i]);
        }
    }
};

StopSignals::StopSignals(std::function<void(int signal)> onSignal, bool secondEndsAtOnce)
    : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.onSignal = std::move(onSignal);
    InitEventLoop();
    if (::pipe2(d.pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;  // the signals keep their default action
    g_seen = 0;
    g_secondEndsAtOnce = secondEndsAtOnce ? 1 : 0;
    g_writeEnd = d.pipe[1];
    d.watch = std::make_unique<SocketWatch>(d.pipe[0], [this](int) { impl_->Drain(); });
    d.watch->SetInterest(true, false);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // One handler at a time: a second signal always sees the first one's mark.
    for (int number : kSignals) sigaddset(&action.sa_mask, number);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &action, &d.before[i]);
    d.installed = true;
}

StopSignals::~StopSignals() {
    Impl& d = *impl_;
    if (d.installed)
        for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &d.before[i], nullptr);
    g_writeEnd = -1;
    d.watch.reset();
    for (int fd : d.pipe)
        if (fd >= 0) ::close(fd);
}

}  // namespace qm::platform
