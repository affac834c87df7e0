// aobench_fault_run - a test program: the benchmark's run (AoBench::RunBenchmark)
// under faults chosen on the command line, for aobench_fault_test.
//
//   --fail-allocation N   the N-th allocation of the run (1 = first) fails
//   --count-allocations   prints "allocations: K" on standard error at the end
//   --threads-allowed K   the system refuses every thread after K
//   --events-allowed K    the system refuses every event after K
//   --stdout FILE         standard output goes to FILE (e.g. a full device)
//
// Allocations are counted through replacements of the global operator new
// and delete, from the start of the run on; those of the program's start-up
// are not counted. A bad_alloc that no one catches (on a worker thread) ends
// the program with the line "fault run: uncaught bad_alloc" and status 3, so
// the test can tell it from a crash.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "app/benchmark_run.h"
#include "base/thread/platform.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};
std::uint64_t failingAllocation = 0;  // 0: none; set before counting starts

// True when this allocation is the one to fail.
bool CountAllocation() {
    if (!counting.load(std::memory_order_relaxed)) return false;
    const std::uint64_t n = allocations.fetch_add(1, std::memory_order_relaxed) + 1;
    return n == failingAllocation;
}

void* Allocate(std::size_t size) {
    if (CountAllocation()) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

// Over-aligned blocks: the block start is kept just before the aligned address.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    if (CountAllocation()) return nullptr;
    const auto align = static_cast<std::size_t>(alignment);
    void* raw = std::malloc(size + align + sizeof(void*));
    if (raw == nullptr) return nullptr;
    auto address = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    address = (address + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
    reinterpret_cast<void**>(address)[-1] = raw;
    return reinterpret_cast<void*>(address);
}

void FreeAligned(void* p) {
    if (p != nullptr) std::free(static_cast<void**>(p)[-1]);
}

[[noreturn]] void OnTerminate() {
    if (const std::exception_ptr pending = std::current_exception()) {
        try {
            std::rethrow_exception(pending);
        } catch (const std::bad_alloc&) {
            std::fputs("fault run: uncaught bad_alloc\n", stderr);
            std::_Exit(3);
        } catch (...) {}
    }
    std::fputs("fault run: terminated\n", stderr);
    std::_Exit(4);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = AllocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return ::operator new(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }

int main(int argc, char** argv) {
    bool countAllocations = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--count-allocations") {
            countAllocations = true;
        } else if (option == "--fail-allocation" && hasValue) {
            failingAllocation = std::strtoull(argv[++i], nullptr, 10);
        } else if (option == "--threads-allowed" && hasValue) {
            KavV3Base::Platform::FailThreadCreatesAfter(std::atoi(argv[++i]));
        } else if (option == "--events-allowed" && hasValue) {
            KavV3Base::Platform::FailEventCreatesAfter(std::atoi(argv[++i]));
        } else if (option == "--stdout" && hasValue) {
            if (std::freopen(argv[++i], "w", stdout) == nullptr) return 125;
        } else {
            std::fprintf(stderr, "fault run: unknown option %s\n", argv[i]);
            return 125;
        }
    }
    std::set_terminate(OnTerminate);
    counting.store(true);
    const int status = AoBench::RunBenchmark();
    counting.store(false);
    if (countAllocations) {
        std::fprintf(stderr, "allocations: %llu\n", static_cast<unsigned long long>(allocations.load()));
    }
    return status;
}
