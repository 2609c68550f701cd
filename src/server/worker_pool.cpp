#include "server/worker_pool.h"

#include <system_error>

namespace qm::server {

void WorkerPool::SetMaxThreads(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    max_ = count < 1 ? 1 : static_cast<std::size_t>(count);
    wake_.notify_all();
}

bool WorkerPool::Submit(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) return false;
    jobs_.push_back(std::move(job));
    if (idle_ < jobs_.size() && running_ < max_) {
        try {
            threads_.emplace_back([this] { Run(); });
            ++running_;
        } catch (const std::system_error&) {
            if (running_ == 0) {
                jobs_.pop_back();
                return false;
            }
        }
    }
    lock.unlock();
    wake_.notify_one();
    return true;
}

void WorkerPool::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (jobs_.empty()) {
            if (stopping_ || running_ > max_) break;
            ++idle_;
            wake_.wait(lock, [this] { return !jobs_.empty() || stopping_ || running_ > max_; });
            --idle_;
            continue;
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    --running_;
}

void WorkerPool::Stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (auto& t : threads)
        if (t.joinable()) t.join();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
}

std::size_t WorkerPool::Threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

}  // namespace qm::server
