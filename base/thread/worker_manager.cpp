// The worker pool and its worker loop.

#include "base/thread/worker_manager.h"

#include <memory>

#include "base/contract.h"
#include "base/thread/platform.h"

namespace KavV3Base {

// --- Worker ----------------------------------------------------------------

TWorkerThread::~TWorkerThread() = default;

void TWorkerThread::SleepUntilWoken() {
    if (wake.Wait() == 0) {
        // Resume counts before it signals, and the next Resume can only come
        // after this worker's next report: the count read here is this wake's.
        seenWakes = wakeCount.load(std::memory_order_acquire);
        return;
    }
    // The event failed. The pool starts no worker without one and closes it
    // only after the worker has ended, so this should not happen; but a failed
    // wait is no wake-up. Watch Resume's count and the stop request instead.
    while (wakeCount.load(std::memory_order_acquire) == seenWakes && IsStopRequested() == 0)
        SleepFor(0, 1000000);
    seenWakes = wakeCount.load(std::memory_order_acquire);
}

std::int32_t TWorkerThread::Run() {
    std::uint32_t idlePasses = 0;
    if (polling.load(std::memory_order_acquire) == 0) {
        // A new worker sleeps until the first Resume, or until it is stopped:
        // then it must not run jobs, nor wait again for a wake that has come.
        SleepUntilWoken();
        if (IsStopRequested() != 0) return 0;
    }
    for (;;) {
        // Read before this pass looks at the queue. The controller requests
        // reports only after it has queued the whole batch, so a worker that
        // saw the request and then finds the queue empty has no more work in
        // the batch.
        const bool reportRequested = reportIdle.load(std::memory_order_acquire) != 0;

        currentJob = manager->TakeJob();
        while (currentJob != nullptr) {
            idlePasses = 0;
            currentJob->threadSlot = GetSlot();
            currentJob->Execute();
            manager->AddFinished(currentJob);
            currentJob = manager->TakeJob();
        }
        ++idlePasses;

        if (polling.load(std::memory_order_acquire) == 0) {
            manager->WorkerIdle();
            SleepUntilWoken();
        } else if (idlePasses > 10) {
            SleepFor(0, 1000000);
            // Taken back before the report: once the report lets WaitIdle
            // return, the controller may request the next batch's report.
            if (reportRequested && reportIdle.exchange(0, std::memory_order_acq_rel) != 0) {
                manager->WorkerIdle();
            }
        }

        if (IsStopRequested() != 0) return 0;
    }
}

// --- Pool ------------------------------------------------------------------

TWorkerManager::~TWorkerManager() { StopWorkers(); }

bool TWorkerManager::IsWorkerThread() const {
    const std::uint32_t self = Platform::CurrentThreadId();
    for (const TWorkerThread* worker : workers) {
        if (worker != nullptr && worker->threadId == self) return true;
    }
    return false;
}

std::uint32_t TWorkerManager::StartWorkers(std::uint32_t count, std::int32_t pollingMode) {
    StopWorkers();
    stopped = false;
    threadCount = 0;
    polling.store(pollingMode, std::memory_order_relaxed);
    {
        TScopedLock lock(countLock);
        runningCount = 0;
    }
    // Idle from here on, also if an allocation below throws: the workers
    // started so far sleep, and StopWorkers must not wait for their report.
    idle = 1;
    workers.reserve(count);  // so that adding a started worker cannot throw
    // Without allIdle no batch could be reported finished: then no worker.
    if (allIdle.Create() != 1) return 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<TWorkerThread> worker(new TWorkerThread);
        worker->manager = this;
        worker->polling.store(pollingMode, std::memory_order_relaxed);
        // A worker that could not sleep or could not run is not counted: no
        // batch waits for its report.
        if (worker->wake.Create() != 1) continue;
        if (worker->Start() == nullptr) continue;
        workers.push_back(worker.release());
        ++threadCount;
    }
    return threadCount;
}

std::int32_t TWorkerManager::AddJob(TJob* job) {
    KAV_CONTRACT(job != nullptr, "AddJob needs a job");
    KAV_CONTRACT(!stopped, "TWorkerManager::AddJob after StopWorkers: no worker would ever run the job");
    TScopedLock lock(pendingLock);
    pending.PushBack(job);
    return 1;
}

std::int32_t TWorkerManager::Resume() {
    if (idle == 0) return 1;
    idle = 0;
    {
        // Every worker is idle here; the lock only orders this write with the
        // reports of the batch.
        TScopedLock lock(countLock);
        runningCount = threadCount;
    }
    for (TWorkerThread* worker : workers) {
        worker->reportIdle.store(0, std::memory_order_release);
        worker->wakeCount.fetch_add(1, std::memory_order_acq_rel);
        worker->wake.Set();
    }
    return 1;
}

void TWorkerManager::WaitIdle() {
    KAV_CONTRACT(!IsWorkerThread(),
                 "TWorkerManager::WaitIdle called from one of its workers would wait for itself");
    if (idle == 1) return;
    idle = 1;
    // No worker would ever report: nothing to wait for.
    if (workers.empty()) return;
    for (TWorkerThread* worker : workers) worker->reportIdle.store(1, std::memory_order_release);
    if (allIdle.Wait() == 0) return;
    // allIdle failed (it exists while there are workers, so this should not
    // happen). A failed wait is no signal: watch the count of reports instead.
    for (;;) {
        {
            TScopedLock lock(countLock);
            if (runningCount == 0) return;
        }
        SleepFor(0, 1000000);
    }
}

void TWorkerManager::CollectFinished() {
    TScopedLock lock(finishedLock);
    while (!finished.IsEmpty()) {
        TJob* job = finished.PopFront();
        job->OnFinished();
    }
}

void TWorkerManager::StopWorkers() {
    KAV_CONTRACT(!IsWorkerThread(),
                 "TWorkerManager::StopWorkers called from one of its workers would join itself");
    if (idle == 0) WaitIdle();
    idle = 0;
    // One at a time: the next worker is signalled only after the previous one
    // has ended.
    for (TWorkerThread* worker : workers) {
        worker->SetStopRequested(1);
        worker->wake.Set();
        worker->Join();
    }
    for (TWorkerThread*& worker : workers) {
        worker->wake.Close();
        delete worker;
        worker = nullptr;
    }
    allIdle.Close();
    workers.clear();
    stopped = true;
}

TJob* TWorkerManager::TakeJob() {
    TScopedLock lock(pendingLock);
    return pending.IsEmpty() ? nullptr : pending.PopFront();
}

std::int32_t TWorkerManager::AddFinished(TJob* job) {
    TScopedLock lock(finishedLock);
    finished.PushBack(job);
    return 1;
}

void TWorkerManager::WorkerIdle() {
    bool last = false;
    {
        TScopedLock lock(countLock);
        if (runningCount > 0) {
            --runningCount;
            last = runningCount == 0;
        }
    }
    if (last) allIdle.Set();
}

}  // namespace KavV3Base
