#include "engine/WorkerPool.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

namespace ruvo {

std::int32_t DefaultWorkerCount() {
    if (const char* forced = std::getenv("RUVO_WORKERS"); forced != nullptr && *forced != '\0') {
        char* end = nullptr;
        const long value = std::strtol(forced, &end, 10);
        if (*end == '\0' && value >= 1 && value <= kMaxWorkers) return static_cast<std::int32_t>(value);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    if (hardware == 0) return 1;
    return static_cast<std::int32_t>(std::min<unsigned>(hardware, kMaxWorkers));
}

WorkerPool::WorkerPool(std::int32_t workers) {
    const std::int32_t helpers = std::clamp(workers, 1, kMaxWorkers) - 1;
    m_threads.reserve(static_cast<std::size_t>(helpers));
    for (std::int32_t w = 1; w <= helpers; ++w) {
        m_threads.emplace_back([this, w](const std::stop_token& stop) { Loop(stop, w); });
    }
}

WorkerPool::~WorkerPool() {
    // The stop request wakes the waiting helpers; the jthreads join as they are destroyed.
    for (std::jthread& thread : m_threads) thread.request_stop();
    m_threads.clear();
}

// Takes items until none is left; an item that throws records its exception (the first one
// wins) and the others still run, so that the batch always ends.
void WorkerPool::Share(std::int32_t worker) {
    for (;;) {
        std::int32_t item = 0;
        const Job* job = nullptr;
        {
            const std::lock_guard lock(m_mutex);
            if (m_next >= m_count) return;
            item = m_next++;
            job = m_job;
        }
        try {
            (*job)(item, worker);
        } catch (...) {
            const std::lock_guard lock(m_mutex);
            if (!m_error) m_error = std::current_exception();
        }
    }
}

void WorkerPool::Loop(const std::stop_token& stop, std::int32_t worker) {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (!m_start.wait(lock, stop, [&] { return m_batch != seen; })) return;
            seen = m_batch;
        }
        Share(worker);
        const std::lock_guard lock(m_mutex);
        if (--m_busy == 0) m_finished.notify_one();
    }
}

void WorkerPool::Run(std::int32_t count, const Job& job) {
    if (count <= 0) return;
    {
        const std::lock_guard lock(m_mutex);
        m_job = &job;
        m_count = count;
        m_next = 0;
        m_error = nullptr;
        m_busy = static_cast<std::int32_t>(m_threads.size());
        ++m_batch;
    }
    m_start.notify_all();
    Share(0);
    std::exception_ptr error;
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return m_busy == 0; });
        error = std::exchange(m_error, nullptr);
        m_job = nullptr;
    }
    if (error) std::rethrow_exception(error);
}

}  // namespace ruvo
