// KavV3Base::TJob, the unit of work of the worker pool.
#pragma once

#include <cstdint>

namespace KavV3Base {

// A job for TWorkerManager. The pool holds a pointer to it and never owns it:
// the job must stay alive from AddJob until CollectFinished has passed it on
// (or the pool is destroyed). Derived jobs add their own fields.
class TJob {
public:
    TJob() = default;
    TJob(const TJob&) = default;
    TJob& operator=(const TJob&) = default;
    // Releases nothing.
    virtual ~TJob();

    // The job's work, run on a worker thread. The base version does nothing
    // and returns 0; the result is ignored.
    virtual std::int32_t Execute();
    // Run on the controlling thread by CollectFinished, with the pool's
    // finished-list lock held. The base version does nothing and returns 0;
    // the result is ignored.
    virtual std::int32_t OnFinished();

    // Thread slot of the worker that runs the job, written by that worker
    // immediately before Execute (and read by it). -1 until then.
    std::int32_t threadSlot = -1;
};

}  // namespace KavV3Base
