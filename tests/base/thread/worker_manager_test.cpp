// Tests of TWorkerManager and its workers, in both idle modes.

#include "base/thread/worker_manager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/death_tests.h"

#include "base/thread/event.h"
#include "base/thread/platform.h"
#include "base/thread/thread_slots.h"
#include "tests/base/thread/thread_test_util.h"

namespace KavV3Base {
namespace {

using Testing::OnlyMainSlotTaken;
using Testing::SlotsSnapshot;

// Records how often and where it ran, and when it was collected.
class TRecordingJob : public TJob {
public:
    std::int32_t Execute() override {
        runs.fetch_add(1, std::memory_order_relaxed);
        seenSlot = GetCurrentThreadSlot();
        if (executionLog != nullptr) executionLog->push_back(index);
        return 0;
    }
    std::int32_t OnFinished() override {
        if (collectionLog != nullptr) collectionLog->push_back(index);
        return 0;
    }

    int index = 0;
    std::atomic<int> runs{0};
    std::int32_t seenSlot = -1;  // written by the worker
    // Appended to by a single worker (or the controller); optional.
    std::vector<int>* executionLog = nullptr;
    std::vector<int>* collectionLog = nullptr;
};

// Blocks in Execute until `release` is set; signals `started` first.
class TGateJob : public TJob {
public:
    TGateJob() {
        Testing::CreateOrAbort(started);
        Testing::CreateOrAbort(release);
    }
    std::int32_t Execute() override {
        started.Set();
        release.Wait();
        done.store(1, std::memory_order_relaxed);
        return 0;
    }
    TEvent started;
    TEvent release;
    std::atomic<int> done{0};
};

std::vector<std::unique_ptr<TRecordingJob>> MakeJobs(std::size_t count) {
    std::vector<std::unique_ptr<TRecordingJob>> jobs;
    for (std::size_t i = 0; i < count; ++i) {
        jobs.push_back(std::make_unique<TRecordingJob>());
        jobs.back()->index = static_cast<int>(i);
    }
    return jobs;
}

std::set<std::int32_t> WorkerSlots(const TWorkerManager& pool) {
    std::set<std::int32_t> slots;
    for (const TWorkerThread* worker : pool.workers) slots.insert(worker->GetSlot());
    return slots;
}

const std::set<std::int32_t> kOneToFour{1, 2, 3, 4};

std::vector<TJob*> FinishedSnapshot(TWorkerManager& pool) {
    TScopedLock lock(pool.finishedLock);
    return std::vector<TJob*>(pool.finished.begin(), pool.finished.end());
}

std::size_t PendingCount(TWorkerManager& pool) {
    TScopedLock lock(pool.pendingLock);
    return pool.pending.Count();
}

std::uint32_t RunningCount(TWorkerManager& pool) {
    TScopedLock lock(pool.countLock);
    return pool.runningCount;
}

TEST(TWorkerManager, PoolWithoutWorkersNeverBlocks) {
    TWorkerManager pool;
    EXPECT_EQ(pool.idle, 0);
    EXPECT_EQ(pool.threadCount, 0u);
    pool.WaitIdle();
    EXPECT_EQ(pool.Resume(), 1);
    pool.WaitIdle();
    pool.StopWorkers();

    pool.StartWorkers(0, 0);
    EXPECT_EQ(pool.idle, 1);
    pool.Resume();
    pool.WaitIdle();  // nothing would ever report
    pool.CollectFinished();
}

TEST(TWorkerManager, IdleBatchReturnsOnceEveryWorkerHasASlotAndReported) {
    ASSERT_TRUE(OnlyMainSlotTaken());
    TWorkerManager pool;
    pool.StartWorkers(4, 0);
    EXPECT_EQ(pool.idle, 1);
    EXPECT_EQ(pool.threadCount, 4u);
    ASSERT_EQ(pool.workers.size(), 4u);
    pool.WaitIdle();  // idle: returns at once
    EXPECT_EQ(pool.Resume(), 1);
    pool.WaitIdle();
    EXPECT_EQ(RunningCount(pool), 0u);
    EXPECT_EQ(WorkerSlots(pool), kOneToFour);
    pool.StopWorkers();
    EXPECT_TRUE(pool.workers.empty());
    EXPECT_EQ(pool.idle, 0);
    EXPECT_EQ(pool.allIdle.created, 0);
    EXPECT_TRUE(OnlyMainSlotTaken()) << "stopped workers release their slots";
}

TEST(TWorkerManager, EveryJobRunsOnceWithItsWorkersSlot) {
    TWorkerManager pool;
    pool.StartWorkers(4, 0);
    auto jobs = MakeJobs(256);
    std::vector<int> collected;
    for (auto& job : jobs) {
        job->collectionLog = &collected;
        EXPECT_EQ(pool.AddJob(job.get()), 1);
    }
    pool.Resume();
    pool.WaitIdle();

    const std::set<std::int32_t> workerSlots = WorkerSlots(pool);
    EXPECT_EQ(workerSlots, kOneToFour);
    for (auto& job : jobs) {
        EXPECT_EQ(job->runs.load(), 1) << "job " << job->index;
        EXPECT_EQ(job->threadSlot, job->seenSlot) << "job " << job->index;
        EXPECT_EQ(workerSlots.count(job->threadSlot), 1u) << "job " << job->index;
    }
    EXPECT_EQ(PendingCount(pool), 0u);

    const std::vector<TJob*> finishedOrder = FinishedSnapshot(pool);
    ASSERT_EQ(finishedOrder.size(), jobs.size());
    pool.CollectFinished();
    ASSERT_EQ(collected.size(), jobs.size());
    for (std::size_t i = 0; i < collected.size(); ++i) {
        EXPECT_EQ(jobs[static_cast<std::size_t>(collected[i])].get(), finishedOrder[i])
            << "OnFinished runs in order of completion";
    }
    EXPECT_TRUE(FinishedSnapshot(pool).empty());
    pool.CollectFinished();
    EXPECT_EQ(collected.size(), jobs.size()) << "collected jobs are not collected again";
}

TEST(TWorkerManager, JobsAreHandedOutFirstInFirstOut) {
    TWorkerManager pool;
    pool.StartWorkers(1, 0);
    auto jobs = MakeJobs(100);
    std::vector<int> executed;
    std::vector<int> collected;
    for (auto& job : jobs) {
        job->executionLog = &executed;
        job->collectionLog = &collected;
        pool.AddJob(job.get());
    }
    pool.Resume();
    pool.WaitIdle();
    pool.CollectFinished();
    std::vector<int> expected(jobs.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i);
    EXPECT_EQ(executed, expected);
    EXPECT_EQ(collected, expected);
}

TEST(TWorkerManager, SecondResumeWithoutWaitIdleDoesNothing) {
    TGateJob gate;  // outlives the pool
    TWorkerManager pool;
    pool.StartWorkers(2, 0);
    pool.AddJob(&gate);
    pool.Resume();
    gate.started.Wait();
    // The other worker finds the queue empty and reports; the gated one cannot.
    while (RunningCount(pool) != 1) std::this_thread::yield();

    EXPECT_EQ(pool.Resume(), 1);
    EXPECT_EQ(RunningCount(pool), 1u) << "a second Resume must not restart the count";
    EXPECT_EQ(pool.idle, 0);

    gate.release.Set();
    pool.WaitIdle();
    EXPECT_EQ(gate.done.load(), 1);
    EXPECT_EQ(RunningCount(pool), 0u);
}

TEST(TWorkerManager, JobAddedAfterIdleWaitsForTheNextResume) {
    TRecordingJob job;  // outlives the pool
    TWorkerManager pool;
    pool.StartWorkers(2, 0);
    pool.Resume();
    pool.WaitIdle();

    pool.AddJob(&job);
    EXPECT_EQ(PendingCount(pool), 1u);
    EXPECT_EQ(job.runs.load(), 0);

    pool.Resume();
    pool.WaitIdle();
    EXPECT_EQ(job.runs.load(), 1);
    EXPECT_EQ(PendingCount(pool), 0u);
}

TEST(TWorkerManager, StartWorkersTwiceEndsTheFirstSetFirst) {
    ASSERT_TRUE(OnlyMainSlotTaken());
    TWorkerManager pool;
    pool.StartWorkers(4, 0);
    pool.Resume();
    pool.WaitIdle();
    EXPECT_EQ(WorkerSlots(pool), kOneToFour);

    // Were the new workers created before the old ones ended, they would
    // take slots 5 to 8.
    pool.StartWorkers(4, 0);
    pool.Resume();
    pool.WaitIdle();
    EXPECT_EQ(WorkerSlots(pool), kOneToFour);

    // Again without a batch in between, and to another size.
    pool.StartWorkers(3, 0);
    pool.StartWorkers(2, 0);
    EXPECT_EQ(pool.workers.size(), 2u);
    EXPECT_EQ(pool.threadCount, 2u);
    auto jobs = MakeJobs(16);
    for (auto& job : jobs) pool.AddJob(job.get());
    pool.Resume();
    pool.WaitIdle();
    for (auto& job : jobs) EXPECT_EQ(job->runs.load(), 1);
    EXPECT_EQ(WorkerSlots(pool), (std::set<std::int32_t>{1, 2}));
}

TEST(TWorkerManager, StoppingWorkersThatNeverRanLeavesPendingJobsAlone) {
    auto jobs = MakeJobs(8);
    {
        TWorkerManager pool;
        pool.StartWorkers(4, 0);
        for (auto& job : jobs) pool.AddJob(job.get());
        // Destroyed without a Resume: the workers end without running jobs.
    }
    for (auto& job : jobs) EXPECT_EQ(job->runs.load(), 0);
    EXPECT_TRUE(OnlyMainSlotTaken());
}

// Tells the gated jobs that the pool's destruction has begun.
class TSignallingPool : public TWorkerManager {
public:
    explicit TSignallingPool(TEvent& event) : destroying(event) {}
    ~TSignallingPool() override { destroying.Set(); }
    TEvent& destroying;
};

// Runs only once the pool's destruction has begun.
class TAfterDestructionJob : public TJob {
public:
    explicit TAfterDestructionJob(TEvent& event) : destroying(event) {}
    std::int32_t Execute() override {
        destroying.Wait();
        done.store(1, std::memory_order_relaxed);
        return 0;
    }
    TEvent& destroying;
    std::atomic<int> done{0};
};

TEST(TWorkerManager, DestructionDuringABatchWaitsForTheBatch) {
    TEvent destroying;
    ASSERT_EQ(destroying.Create(), 1);
    TAfterDestructionJob gated(destroying);
    auto jobs = MakeJobs(64);
    {
        auto pool = std::make_unique<TSignallingPool>(destroying);
        pool->StartWorkers(4, 0);
        pool->AddJob(&gated);
        for (auto& job : jobs) pool->AddJob(job.get());
        pool->Resume();
        pool.reset();  // the gated job can finish only after this began
    }
    EXPECT_EQ(gated.done.load(), 1);
    for (auto& job : jobs) EXPECT_EQ(job->runs.load(), 1);
    EXPECT_TRUE(OnlyMainSlotTaken());
}

TEST(TWorkerManager, PollingModeRunsEveryJob) {
    TWorkerManager pool;
    pool.StartWorkers(4, 1);
    EXPECT_EQ(pool.polling.load(), 1);
    auto jobs = MakeJobs(256);
    for (auto& job : jobs) pool.AddJob(job.get());
    pool.Resume();
    pool.WaitIdle();
    for (auto& job : jobs) {
        EXPECT_EQ(job->runs.load(), 1);
        EXPECT_EQ(job->threadSlot, job->seenSlot);
    }
    EXPECT_EQ(FinishedSnapshot(pool).size(), jobs.size());
    pool.CollectFinished();
    EXPECT_EQ(WorkerSlots(pool), kOneToFour);
}

TEST(TWorkerManager, PollingModeFinishesEveryBatchBeforeWaitIdleReturns) {
    TWorkerManager pool;
    pool.StartWorkers(4, 1);
    for (int batch = 0; batch < 30; ++batch) {
        auto jobs = MakeJobs(static_cast<std::size_t>(batch % 7));
        for (auto& job : jobs) pool.AddJob(job.get());
        pool.Resume();
        pool.WaitIdle();
        for (auto& job : jobs) ASSERT_EQ(job->runs.load(), 1) << "batch " << batch;
        EXPECT_EQ(PendingCount(pool), 0u);
        pool.CollectFinished();
    }
}

TEST(TWorkerManager, ManySleepingBatches) {
    TWorkerManager pool;
    pool.StartWorkers(4, 0);
    for (int batch = 0; batch < 100; ++batch) {
        auto jobs = MakeJobs(static_cast<std::size_t>(batch % 9));
        for (auto& job : jobs) pool.AddJob(job.get());
        pool.Resume();
        pool.WaitIdle();
        for (auto& job : jobs) ASSERT_EQ(job->runs.load(), 1) << "batch " << batch;
        pool.CollectFinished();
    }
}

// Switches the platform's creation failures off when the test ends, also
// when it fails half-way.
struct TCreationFailures {
    TCreationFailures(std::int32_t threadsAllowed, std::int32_t eventsAllowed) {
        Platform::FailThreadCreatesAfter(threadsAllowed);
        Platform::FailEventCreatesAfter(eventsAllowed);
    }
    ~TCreationFailures() {
        Platform::FailThreadCreatesAfter(-1);
        Platform::FailEventCreatesAfter(-1);
    }
};

// Starts count workers while the platform refuses creations as given, then
// checks that the pool kept `expected` of them and that batches wait for
// exactly those: every job has run when WaitIdle returns.
void ExpectPoolOfSurvivors(std::int32_t threadsAllowed, std::int32_t eventsAllowed, std::int32_t polling,
                           std::uint32_t expected) {
    SCOPED_TRACE(::testing::Message() << "threads allowed " << threadsAllowed << ", events allowed "
                                      << eventsAllowed << ", polling " << polling);
    const std::int64_t liveEvents = Platform::EventLiveCount();
    {
        TWorkerManager pool;
        std::uint32_t started = 0;
        {
            const TCreationFailures failures(threadsAllowed, eventsAllowed);
            started = pool.StartWorkers(4, polling);
        }
        EXPECT_EQ(started, expected);
        EXPECT_EQ(pool.threadCount, expected);
        ASSERT_EQ(pool.workers.size(), expected);
        EXPECT_EQ(pool.idle, 1);
        for (const TWorkerThread* worker : pool.workers) {
            EXPECT_EQ(worker->wake.created, 1);
            EXPECT_NE(worker->handle, nullptr);
        }
        for (int batch = 0; batch < 3; ++batch) {
            auto jobs = MakeJobs(64);
            for (auto& job : jobs) pool.AddJob(job.get());
            pool.Resume();
            pool.WaitIdle();
            const std::size_t wantRuns = expected > 0 ? 1 : 0;
            for (auto& job : jobs) {
                ASSERT_EQ(job->runs.load(), static_cast<int>(wantRuns))
                    << "batch " << batch << " job " << job->index;
            }
            EXPECT_EQ(PendingCount(pool), expected > 0 ? 0u : jobs.size());
            pool.CollectFinished();
            if (expected == 0) {
                // Nothing ran them: take them back before they go.
                TScopedLock lock(pool.pendingLock);
                pool.pending.Clear();
            }
        }
    }
    EXPECT_TRUE(OnlyMainSlotTaken());
    EXPECT_EQ(Platform::EventLiveCount(), liveEvents) << "the events of refused workers are closed";
}

TEST(TWorkerManager, WorkersWhoseThreadCannotBeCreatedAreNotCountedOrWaitedFor) {
    for (std::int32_t polling : {0, 1}) {
        ExpectPoolOfSurvivors(2, -1, polling, 2);
        ExpectPoolOfSurvivors(0, -1, polling, 0);
    }
}

TEST(TWorkerManager, WorkersWhoseEventCannotBeCreatedAreNotStarted) {
    const std::int64_t liveEvents = Platform::EventLiveCount();
    for (std::int32_t polling : {0, 1}) {
        // allIdle and three wake events: the fourth worker gets none.
        ExpectPoolOfSurvivors(-1, 4, polling, 3);
        // Without allIdle no batch could end: no worker starts at all.
        ExpectPoolOfSurvivors(-1, 0, polling, 0);
    }
    EXPECT_EQ(Platform::EventLiveCount(), liveEvents);
}

TEST(TWorkerManager, FailedWaitsAreNotTakenForSignals) {
    TWorkerManager pool;
    ASSERT_EQ(pool.StartWorkers(1, 0), 1u);
    TGateJob gate;
    pool.AddJob(&gate);
    pool.Resume();
    gate.started.Wait();
    // While the worker is inside the job, neither event is waited on: take
    // both away, so that the next wait on each fails.
    pool.workers[0]->wake.Close();
    pool.allIdle.Close();
    std::thread opener([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.release.Set();
    });
    pool.WaitIdle();  // its wait fails at once: it must still wait for the report
    EXPECT_EQ(gate.done.load(), 1) << "WaitIdle returned before the batch ended";
    opener.join();
    pool.CollectFinished();

    // The worker's own wait fails now too: it must neither run the next batch
    // early nor miss it.
    for (int batch = 0; batch < 3; ++batch) {
        auto jobs = MakeJobs(8);
        for (auto& job : jobs) pool.AddJob(job.get());
        EXPECT_EQ(PendingCount(pool), jobs.size()) << "batch " << batch << " started before Resume";
        pool.Resume();
        pool.WaitIdle();
        for (auto& job : jobs) ASSERT_EQ(job->runs.load(), 1) << "batch " << batch;
        pool.CollectFinished();
    }
    pool.StopWorkers();  // the worker notices the stop request without its event
    EXPECT_TRUE(OnlyMainSlotTaken());
}

// Calls WaitIdle of its own pool from the worker.
class TWaitingJob : public TJob {
public:
    std::int32_t Execute() override {
        pool->WaitIdle();
        return 0;
    }
    TWorkerManager* pool = nullptr;
};

// Both are bugs of the caller that would hang or lose work in silence; in
// every build they stop the program and say why.
TEST(TWorkerManagerDeathTest, WaitIdleFromAWorkerStopsTheProgram) {
    KAV_START_DEATH_TEST();
    EXPECT_DEATH(
        {
            TWorkerManager pool;
            pool.StartWorkers(1, 0);
            TWaitingJob job;
            job.pool = &pool;
            pool.AddJob(&job);
            pool.Resume();
            pool.WaitIdle();
        },
        "contract violated: TWorkerManager::WaitIdle called from one of its workers");
}

TEST(TWorkerManagerDeathTest, AJobQueuedAfterStopWorkersStopsTheProgram) {
    KAV_START_DEATH_TEST();
    EXPECT_DEATH(
        {
            TWorkerManager pool;
            pool.StartWorkers(1, 0);
            pool.StopWorkers();
            TRecordingJob job;
            pool.AddJob(&job);
        },
        "AddJob after StopWorkers");
}

TEST(TWorkerManager, AcceptsJobsAgainOnceRestarted) {
    TWorkerManager pool;
    pool.StartWorkers(1, 0);
    pool.StopWorkers();
    pool.StartWorkers(1, 0);
    TRecordingJob job;
    pool.AddJob(&job);
    pool.Resume();
    pool.WaitIdle();
    EXPECT_EQ(job.runs.load(), 1);
}

}  // namespace
}  // namespace KavV3Base
