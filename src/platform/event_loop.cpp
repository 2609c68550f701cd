#include "platform/event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace qm::platform {

namespace {

std::thread::id g_mainThread;
bool g_haveMainThread = false;
QCoreApplication* g_ownApp = nullptr;

// Guards the ended flag against posts from other threads during shutdown. Never destroyed:
// a detached thread (a host lookup) may still wait on them while the process exits, and
// destroying a condition variable that has waiters blocks the exit for ever.
std::mutex& LoopMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::condition_variable& LoopCv() {
    static auto* cv = new std::condition_variable;
    return *cv;
}
bool g_ended = false;

int g_argc = 1;
char g_arg0[] = "quillmoor";
char* g_argv[] = {g_arg0, nullptr};

// Deletes a Qt object now, or later when it is in the middle of calling us.
void Dispose(QObject* object, bool inCallback) {
    if (!object) return;
    if (inCallback)
        object->deleteLater();
    else
        delete object;
}

// Idle handlers, run from the dispatcher's aboutToBlock. Kept here so that they survive an
// application object made anew.
std::vector<std::function<void()>> g_idleHandlers;
QMetaObject::Connection g_idleConnection;

void RunIdleHandlers() {
    // By index and from a copy: a handler may add another.
    for (std::size_t i = 0; i < g_idleHandlers.size(); ++i) {
        const std::function<void()> handler = g_idleHandlers[i];
        handler();
    }
}

void ConnectIdleHandlers() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || g_idleHandlers.empty()) return;
    if (g_idleConnection) return;
    g_idleConnection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, RunIdleHandlers);
}

}  // namespace

void AddIdleHandler(std::function<void()> fn) {
    if (fn) g_idleHandlers.push_back(std::move(fn));
    ConnectIdleHandlers();
}

void InitEventLoop() {
    if (!QCoreApplication::instance()) {
        // The plain Unix dispatcher is leaner than the glib one for many small socket events.
        if (!std::getenv("QT_NO_GLIB")) setenv("QT_NO_GLIB", "1", 0);
        g_ownApp = new QCoreApplication(g_argc, g_argv);
    }
    ConnectIdleHandlers();
    if (!g_haveMainThread) {
        g_mainThread = std::this_thread::get_id();
        g_haveMainThread = true;
    }
    std::lock_guard<std::mutex> lock(LoopMutex());
    g_ended = false;
}

bool IsMainThread() { return g_haveMainThread && std::this_thread::get_id() == g_mainThread; }

void ShutdownEventLoop() {
    {
        std::lock_guard<std::mutex> lock(LoopMutex());
        g_ended = true;
    }
    LoopCv().notify_all();
    if (g_ownApp && IsMainThread()) {
        QObject::disconnect(g_idleConnection);
        g_idleConnection = {};
        delete g_ownApp;
        g_ownApp = nullptr;
    }
}

void Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(LoopMutex());
    QCoreApplication* app = QCoreApplication::instance();
    if (g_ended || !app) return;
    // The main thread takes the lock before it reads fn, which another thread may have stored
    // under it: the hand-over inside Qt is invisible to the thread sanitizer, the lock is not.
    QMetaObject::invokeMethod(
        app,
        [fn = std::move(fn)] {
            { std::lock_guard<std::mutex> stored(LoopMutex()); }
            fn();
        },
        Qt::QueuedConnection);
}

bool SendAndWait(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return true;
    }
    struct Call {
        std::function<void()> fn;
        bool done = false;
    };
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    {
        std::lock_guard<std::mutex> lock(LoopMutex());
        QCoreApplication* app = QCoreApplication::instance();
        if (g_ended || !app) return false;
        QMetaObject::invokeMethod(
            app,
            [call] {
                call->fn();
                {
                    std::lock_guard<std::mutex> inner(LoopMutex());
                    call->done = true;
                }
                LoopCv().notify_all();
            },
            Qt::QueuedConnection);
    }
    std::unique_lock<std::mutex> lock(LoopMutex());
    LoopCv().wait(lock, [&] { return call->done || g_ended; });
    return call->done;
}

int RunLoop() {
    if (!QCoreApplication::instance()) InitEventLoop();
    return QCoreApplication::exec();
}

void Quit(int code) { QCoreApplication::exit(code); }

bool RunUntil(const std::function<bool()>& pred, int timeoutMs) {
    if (!QCoreApplication::instance()) InitEventLoop();
    if (pred()) return true;
    bool timedOut = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&timedOut] { timedOut = true; });
    deadline.start(timeoutMs < 0 ? 0 : timeoutMs);
    while (!pred()) {
        if (timedOut) return pred();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        // Objects disposed of from inside their own callbacks go here.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// ---------------------------------------------------------------------------------------

struct Timer::Impl {
    // Shared so that a tick handler that destroys its timer still finishes its own call.
    std::shared_ptr<std::function<void()>> onTick;
    QTimer* timer = nullptr;
    bool inCallback = false;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

Timer::Timer(std::function<void()> onTick) : impl_(std::make_unique<Impl>()) {
    impl_->onTick = std::make_shared<std::function<void()>>(std::move(onTick));
    impl_->timer = new QTimer();
    impl_->timer->setTimerType(Qt::PreciseTimer);
    Impl* impl = impl_.get();
    std::shared_ptr<bool> alive = impl_->alive;
    QObject::connect(impl_->timer, &QTimer::timeout, [impl, alive] {
        if (!*alive) return;
        impl->inCallback = true;
        // The tick handler may destroy this timer; alive tells us whether it did.
        std::shared_ptr<bool> guard = alive;
        std::shared_ptr<std::function<void()>> tick = impl->onTick;
        if (*tick) (*tick)();
        if (*guard) impl->inCallback = false;
    });
}

Timer::~Timer() {
    *impl_->alive = false;
    impl_->timer->stop();
    Dispose(impl_->timer, impl_->inCallback);
}

void Timer::Start(int intervalMs, bool singleShot) {
    impl_->timer->setSingleShot(singleShot);
    impl_->timer->start(intervalMs < 0 ? 0 : intervalMs);
}

void Timer::Stop() { impl_->timer->stop(); }

bool Timer::Active() const { return impl_->timer->isActive(); }

// ---------------------------------------------------------------------------------------

struct SocketWatch::Impl {
    int fd = -1;
    // Shared so that a handler that destroys its watch still finishes its own call.
    std::shared_ptr<std::function<void(int)>> onReady;
    QSocketNotifier* reader = nullptr;
    QSocketNotifier* writer = nullptr;
    int depth = 0;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    void Fire(int events) {
        std::shared_ptr<bool> guard = alive;
        std::shared_ptr<std::function<void(int)>> handler = onReady;
        ++depth;
        if (*handler) (*handler)(events);
        if (*guard) --depth;
    }
};

SocketWatch::SocketWatch(int fd, std::function<void(int events)> onReady) : impl_(std::make_unique<Impl>()) {
    impl_->fd = fd;
    impl_->onReady = std::make_shared<std::function<void(int)>>(std::move(onReady));
    impl_->reader = new QSocketNotifier(fd, QSocketNotifier::Read);
    impl_->writer = new QSocketNotifier(fd, QSocketNotifier::Write);
    impl_->reader->setEnabled(false);
    impl_->writer->setEnabled(false);
    Impl* impl = impl_.get();
    std::shared_ptr<bool> alive = impl_->alive;
    QObject::connect(impl_->reader, &QSocketNotifier::activated, [impl, alive] {
        if (*alive) impl->Fire(kReadable);
    });
    QObject::connect(impl_->writer, &QSocketNotifier::activated, [impl, alive] {
        if (*alive) impl->Fire(kWritable);
    });
}

SocketWatch::~SocketWatch() {
    *impl_->alive = false;
    impl_->reader->setEnabled(false);
    impl_->writer->setEnabled(false);
    bool inCallback = impl_->depth > 0;
    Dispose(impl_->reader, inCallback);
    Dispose(impl_->writer, inCallback);
}

void SocketWatch::SetInterest(bool read, bool write) {
    if (impl_->reader->isEnabled() != read) impl_->reader->setEnabled(read);
    if (impl_->writer->isEnabled() != write) impl_->writer->setEnabled(write);
}

int SocketWatch::Fd() const { return impl_->fd; }

}  // namespace qm::platform
