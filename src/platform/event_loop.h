#pragma once
// The main thread's event loop, standing in for window messages, hidden windows and timers.
// Socket readiness, lookup answers and timer ticks reach their owner one at a time on the
// main thread, never inside one of its own handlers. Engine, net and server code use these
// types only and never include Qt headers.
#include <functional>
#include <memory>

namespace qm::platform {

// Creates the event loop of this process (a QCoreApplication unless one exists already) and
// records the calling thread as the main thread. Idempotent.
void InitEventLoop();
bool IsMainThread();

// Queues fn to run later on the main thread (a posted message). Safe from any thread.
void Post(std::function<void()> fn);
// Runs fn on the main thread and waits until it has run (a synchronous send). On the main
// thread it runs fn at once. Returns false, without running fn, when the loop has ended.
bool SendAndWait(std::function<void()> fn);

// Runs fn on the main thread each time its loop has done what was due and is about to wait
// (also in loops of modal windows), for the rest of the process. Main thread.
void AddIdleHandler(std::function<void()> fn);

// Marks the loop as ended: later posts are dropped and SendAndWait callers (waiting or
// new) return false. Deletes the application object when InitEventLoop created it.
void ShutdownEventLoop();

// Runs the loop until Quit; returns the code given to Quit.
int RunLoop();
void Quit(int code = 0);
// Runs the loop until pred() is true or timeoutMs passed; returns pred(). For tests and the CLI.
bool RunUntil(const std::function<bool()>& pred, int timeoutMs);

// A timer on the main thread. Ticks never arrive after Stop or destruction.
class Timer {
public:
    explicit Timer(std::function<void()> onTick);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    void Start(int intervalMs, bool singleShot = false);
    void Stop();
    bool Active() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Watches one socket descriptor for readiness on the main thread. The callback never runs
// after destruction; the watcher does not close the descriptor.
class SocketWatch {
public:
    enum Event { kReadable = 1, kWritable = 2 };
    SocketWatch(int fd, std::function<void(int events)> onReady);
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;
    void SetInterest(bool read, bool write);
    int Fd() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm::platform
