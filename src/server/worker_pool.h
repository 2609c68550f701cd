#pragma once
// A bounded set of threads that run submitted jobs in order. A thread is made when a job
// arrives and none is free, up to the bound; threads then wait for further jobs until Stop.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qm::server {

class WorkerPool {
public:
    WorkerPool() = default;
    ~WorkerPool() { Stop(); }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The most threads at a time (at least 1); lowering it lets surplus threads end.
    void SetMaxThreads(int count);
    // Queues job; false when no thread exists or can be made to run it (the job is dropped).
    bool Submit(std::function<void()> job);
    // Lets the threads finish the queued jobs, then ends and joins them. Submit starts the
    // pool again.
    void Stop();
    std::size_t Threads() const;

private:
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    std::size_t running_ = 0;  // threads not yet told to end
    std::size_t max_ = 1;
    bool stopping_ = false;
};

}  // namespace qm::server
