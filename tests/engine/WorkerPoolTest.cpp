#include "engine/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace ruvo;

namespace {

struct PoolCase {
    std::int32_t Workers;
    std::int32_t Items;
    std::int32_t Throwing;  // the item whose job throws, -1 for none
};

class WorkerPoolRuns : public ::testing::TestWithParam<PoolCase> {};

// Every item runs exactly once on a valid worker, also when one of them throws; the throw
// reaches the caller, and the pool takes the next batch afterwards.
TEST_P(WorkerPoolRuns, EveryItemOnceAndTheFirstErrorOnTheCaller) {
    const PoolCase& p = GetParam();
    WorkerPool pool(p.Workers);
    EXPECT_EQ(pool.Workers(), p.Workers);
    for (int batch = 0; batch < 3; ++batch) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(p.Items));
        std::atomic<bool> badWorker = false;
        const WorkerPool::Job job = [&](std::int32_t item, std::int32_t worker) {
            if (worker < 0 || worker >= p.Workers) badWorker = true;
            ++runs[static_cast<std::size_t>(item)];
            if (item == p.Throwing) throw std::runtime_error("item failed");
        };
        if (p.Throwing >= 0) {
            EXPECT_THROW(pool.Run(p.Items, job), std::runtime_error);
        } else {
            pool.Run(p.Items, job);
        }
        for (const auto& r : runs) EXPECT_EQ(r.load(), 1);
        EXPECT_FALSE(badWorker.load());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkerPoolRuns,
                         ::testing::Values(PoolCase{1, 10, -1}, PoolCase{2, 200, -1}, PoolCase{2, 1, -1},
                                           PoolCase{4, 64, 0}, PoolCase{2, 64, 63}, PoolCase{kMaxWorkers, 3, 1}));

}  // namespace
