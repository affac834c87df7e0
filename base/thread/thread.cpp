// The framework's thread, its start routine and the millisecond sleep.

#include "base/thread/thread.h"

#include "base/contract.h"
#include "base/thread/thread_slots.h"

namespace KavV3Base {

TThread::~TThread() = default;

std::int32_t TThread::Run() { return 0; }

Platform::TThreadHandle TThread::Start() {
    KAV_CONTRACT(handle == nullptr, "TThread::Start called again before Join");
    handle = Platform::ThreadCreate(&ThreadEntry, this, &threadId);
    return handle;
}

void TThread::SetStopRequested(std::int32_t value) { stopRequested.store(value, std::memory_order_release); }

std::int32_t TThread::IsStopRequested() const { return stopRequested.load(std::memory_order_acquire); }

std::int32_t TThread::GetSlot() const { return slot.load(std::memory_order_acquire); }

std::int32_t TThread::Join() {
    SetStopRequested(1);
    if (handle == nullptr) return 0;
    KAV_CONTRACT(threadId != Platform::CurrentThreadId(), "TThread::Join called from the thread itself");
    Platform::ThreadWait(handle);
    const std::int32_t result = Platform::ThreadClose(handle);
    handle = nullptr;
    return result;
}

std::uint32_t ThreadEntry(void* parameter) {
    // Holds the thread's slot until this routine returns, also when an
    // exception leaves Run.
    const TOnThreadCreate registration;
    auto* thread = static_cast<TThread*>(parameter);
    if (thread == nullptr) return 0;
    thread->slot.store(GetCurrentThreadSlot(), std::memory_order_release);
    return static_cast<std::uint32_t>(thread->Run());
}

std::int64_t SleepForMilliseconds(std::int32_t seconds, std::int32_t nanoseconds) {
    const std::int64_t ms = static_cast<std::int64_t>(seconds) * 1000 + nanoseconds / 1000000;
    return ms < 0 ? 0 : ms;
}

std::int32_t SleepFor(std::int32_t seconds, std::int32_t nanoseconds) {
    Platform::SleepMilliseconds(static_cast<std::uint64_t>(SleepForMilliseconds(seconds, nanoseconds)));
    return 0;
}

}  // namespace KavV3Base
