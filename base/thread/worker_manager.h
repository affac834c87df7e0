// KavV3Base::TWorkerManager, the pool of worker threads that runs jobs, and
// TWorkerThread, its worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "base/thread/critical_section.h"
#include "base/thread/event.h"
#include "base/thread/job.h"
#include "base/thread/pooled_list.h"
#include "base/thread/thread.h"

namespace KavV3Base {

class TWorkerManager;

// A worker of a TWorkerManager. Its Run takes jobs from the pool's queue
// until the queue is empty, reports idle and waits for the next batch.
class TWorkerThread : public TThread {
public:
    TWorkerThread() = default;
    // Closes `wake` if still created. Does not join: StopWorkers has.
    ~TWorkerThread() override;

    // The worker loop; returns 0 once stopped.
    std::int32_t Run() override;

    TWorkerManager* manager = nullptr;     // the owning pool; set before Start
    TEvent wake;                           // the worker sleeps on it while idle
    TJob* currentJob = nullptr;            // the job being run; worker thread only
    std::atomic<std::int32_t> polling{0};  // idle mode: 0 sleep on wake, else poll
    // 1 while the controlling thread waits in WaitIdle, 0 after Resume.
    // Written by the controller, taken back by a polling worker as it reports.
    std::atomic<std::int32_t> reportIdle{0};
    // Wake-ups given by Resume, counted before `wake` is set; what the worker
    // watches should its event fail.
    std::atomic<std::uint32_t> wakeCount{0};

private:
    // Sleeps until Resume or StopWorkers wakes the worker. Never takes a
    // failed wait for a wake-up.
    void SleepUntilWoken();

    std::uint32_t seenWakes = 0;  // wakeCount when last woken; worker thread only
};

// A fixed set of worker threads that runs batches of jobs.
//
// One controlling thread calls the public operations: StartWorkers, then any
// number of batches of AddJob ..., Resume, WaitIdle, CollectFinished, and
// finally StopWorkers or the destructor. The workers call TakeJob,
// AddFinished and WorkerIdle. Jobs are taken one at a time, first in, first
// out, from one shared queue.
//
// In the sleeping mode (polling 0) idle workers wait on their `wake` event and
// only Resume starts work. In the polling mode they keep polling the queue
// (busily for ten passes, then with a 1 ms sleep per pass), so they may take
// jobs as soon as they are added.
//
// The pool owns its workers, never the jobs: a job must stay alive from AddJob
// until CollectFinished has passed it on, or until the pool is destroyed.
// Each operation holds at most one of the three locks, and none is held while
// a job executes.
class TWorkerManager {
public:
    TWorkerManager() = default;
    // StopWorkers (which first waits for a running batch), then releases the
    // lists; jobs still listed are not touched.
    virtual ~TWorkerManager();
    TWorkerManager(const TWorkerManager&) = delete;
    TWorkerManager& operator=(const TWorkerManager&) = delete;

    // Ends any existing workers, then creates and starts count new ones with
    // the given idle mode. On return the workers run but are idle. Returns how
    // many started (also in threadCount): a worker whose thread or event the
    // system would not create is not kept, and none starts without allIdle.
    // Batches wait only for the workers that started. An allocation failure
    // (bad_alloc) leaves the pool idle with the workers started so far.
    std::uint32_t StartWorkers(std::uint32_t count, std::int32_t polling);
    // Appends job to the pending queue; wakes nothing. Returns 1. Not after
    // StopWorkers (until the next StartWorkers): the job would never run.
    std::int32_t AddJob(TJob* job);
    // Starts a batch: wakes every worker. Does nothing while a batch runs
    // (no WaitIdle since the last Resume). Returns 1.
    std::int32_t Resume();
    // Blocks until every worker has found the queue empty after its last job
    // of the batch, so that every job queued before Resume has run and stands
    // in the finished list. Returns at once on an idle pool or a pool without
    // workers. Calling it from a worker would deadlock: not allowed.
    void WaitIdle();
    // Takes the finished jobs, oldest first, and calls each one's OnFinished,
    // until the finished list is empty. Holds the finished-list lock
    // throughout, so OnFinished must not call back into the pool.
    virtual void CollectFinished();
    // Waits for a running batch, then ends, joins and deletes every worker,
    // one after the other. Not from a worker.
    void StopWorkers();

    // --- Called by the workers ---
    // The oldest pending job, removed from the queue; null when it is empty.
    TJob* TakeJob();
    // Appends job to the finished list. Returns 1.
    std::int32_t AddFinished(TJob* job);
    // One worker has run out of work in this batch; the last report of the
    // batch signals allIdle. A report when none is outstanding does nothing.
    void WorkerIdle();

    std::uint32_t threadCount = 0;   // workers started by the last StartWorkers
    std::uint32_t runningCount = 0;  // workers yet to report idle; under countLock
    TCriticalSection countLock;
    TEvent allIdle;  // set by the batch's last WorkerIdle
    TCriticalSection pendingLock;
    TPooledList<TJob*> pending;  // queued, not yet taken; under pendingLock
    TCriticalSection finishedLock;
    TPooledList<TJob*> finished;          // executed, not yet collected; under finishedLock
    std::vector<TWorkerThread*> workers;  // the started workers, owned; controlling thread only
    // 1 while the workers wait between batches; controlling thread only.
    std::int32_t idle = 0;
    std::atomic<std::int32_t> polling{0};  // idle mode given to StartWorkers

private:
    bool IsWorkerThread() const;

    bool stopped = false;  // StopWorkers ran, StartWorkers not since; controlling thread only
};

}  // namespace KavV3Base
