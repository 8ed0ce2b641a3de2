#pragma once
// WorkerPool: a few worker threads that share the items of one batch (the frames of a
// spectrum pass) with the calling thread. The caller hands each batch over and waits for it;
// the items write only their own slots, so the caller writes the results in item order and
// the bytes do not depend on the number of workers. The threads are owned by std::jthread:
// the destructor asks them to stop and joins them. No exception leaves a worker: the first
// one a job throws is carried back and rethrown by Run on the calling thread.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace ruvo {

// The most threads a pass uses, the calling thread included.
constexpr std::int32_t kMaxWorkers = 8;

// The thread count of a pass: RUVO_WORKERS when it holds a number 1..kMaxWorkers, else one
// per hardware thread (at most kMaxWorkers), and one when the count is unknown.
std::int32_t DefaultWorkerCount();

class WorkerPool {
public:
    // job(item, worker): worker is 0 for the calling thread, 1.. for the pool's threads.
    using Job = std::function<void(std::int32_t item, std::int32_t worker)>;

    // `workers` threads in all, the calling thread included (so workers - 1 are started).
    explicit WorkerPool(std::int32_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::int32_t Workers() const { return static_cast<std::int32_t>(m_threads.size()) + 1; }

    // Runs job for the items 0..count-1 and returns when every item is done.
    void Run(std::int32_t count, const Job& job);

private:
    void Loop(const std::stop_token& stop, std::int32_t worker);
    void Share(std::int32_t worker);

    std::mutex m_mutex;
    std::condition_variable_any m_start;  // a new batch or a stop request
    std::condition_variable m_finished;   // the last helper finished the batch
    const Job* m_job = nullptr;
    std::int32_t m_count = 0;
    std::int32_t m_next = 0;  // the next item not taken
    std::uint64_t m_batch = 0;
    std::int32_t m_busy = 0;  // helpers still on the batch
    std::exception_ptr m_error;
    std::vector<std::jthread> m_threads;
};

}  // namespace ruvo
