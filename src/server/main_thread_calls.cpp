#include "server/main_thread_calls.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/event_loop.h"

namespace qm::server {

namespace {

struct Call {
    std::function<void()> fn;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;
    bool lead = false;  // this caller carries the next batch over
};

std::mutex g_mutex;
std::vector<Call*> g_queue;   // under g_mutex
bool g_carrying = false;      // a caller is carrying a batch; under g_mutex

}  // namespace

bool CallOnMainThread(std::function<void()> fn) {
    if (platform::IsMainThread()) {
        fn();
        return true;
    }
    Call self;
    self.fn = std::move(fn);
    std::unique_lock<std::mutex> lock(g_mutex);
    g_queue.push_back(&self);
    if (g_carrying) {
        self.cv.wait(lock, [&] { return self.done || self.lead; });
        if (self.done) return self.ran;
    }
    // Carry everything queued so far, this call included.
    g_carrying = true;
    std::vector<Call*> batch;
    batch.swap(g_queue);
    lock.unlock();
    const bool ran = platform::SendAndWait([&batch] {
        for (Call* c : batch) c->fn();
    });
    lock.lock();
    for (Call* c : batch) {
        c->ran = ran;
        c->done = true;
        if (c != &self) c->cv.notify_one();
    }
    // Calls that came meanwhile: the first of them carries them next.
    if (g_queue.empty()) {
        g_carrying = false;
    } else {
        g_queue.front()->lead = true;
        g_queue.front()->cv.notify_one();
    }
    return ran;
}

}  // namespace qm::server
