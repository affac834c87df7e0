// The worker pool and its worker loop.

#include "base/thread/worker_manager.h"

#include <cassert>

#include "base/thread/platform.h"

namespace KavV3Base {

// --- Worker ----------------------------------------------------------------

TWorkerThread::~TWorkerThread() = default;

std::int32_t TWorkerThread::Run() {
    std::uint32_t idlePasses = 0;
    if (polling.load(std::memory_order_acquire) == 0) {
        // A new worker sleeps until the first Resume, or until it is stopped:
        // then it must not run jobs, nor wait again for a wake that has come.
        wake.Wait();
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
            wake.Wait();
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

void TWorkerManager::StartWorkers(std::uint32_t count, std::int32_t pollingMode) {
    StopWorkers();
    threadCount = count;
    polling.store(pollingMode, std::memory_order_relaxed);
    workers.resize(count, nullptr);
    allIdle.Create();
    for (std::uint32_t i = 0; i < count; ++i) {
        auto* worker = new TWorkerThread;
        workers[i] = worker;
        worker->manager = this;
        worker->polling.store(pollingMode, std::memory_order_relaxed);
        worker->wake.Create();
        worker->Start();
    }
    {
        TScopedLock lock(countLock);
        runningCount = 0;
    }
    idle = 1;
}

std::int32_t TWorkerManager::AddJob(TJob* job) {
    assert(job != nullptr && "AddJob needs a job");
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
        worker->wake.Set();
    }
    return 1;
}

void TWorkerManager::WaitIdle() {
    assert(!IsWorkerThread() && "TWorkerManager::WaitIdle called from one of its workers would wait for itself");
    if (idle == 1) return;
    idle = 1;
    // No worker would ever report: nothing to wait for.
    if (workers.empty()) return;
    for (TWorkerThread* worker : workers) worker->reportIdle.store(1, std::memory_order_release);
    allIdle.Wait();
}

void TWorkerManager::CollectFinished() {
    TScopedLock lock(finishedLock);
    while (!finished.IsEmpty()) {
        TJob* job = finished.PopFront();
        job->OnFinished();
    }
}

void TWorkerManager::StopWorkers() {
    assert(!IsWorkerThread() && "TWorkerManager::StopWorkers called from one of its workers would join itself");
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
