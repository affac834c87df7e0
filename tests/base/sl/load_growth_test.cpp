// Tests that loading many objects into one archive asks for memory in proportion to their number.
//
// A program of its own: it replaces the global operator new to count the
// bytes requested while a load runs.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "base/sl/archive.h"
#include "base/sl/object_graph.h"
#include "base/sl/ref_carry.h"
#include "base/stream/memory_stream.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> requested{0};

void* Allocate(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) requested.fetch_add(size, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = Allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
// GCC sees this free meet the replaced operator new and takes it for a
// mismatch; here the two are the same allocator by construction.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept { std::free(block); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
void operator delete[](void* block) noexcept { ::operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { ::operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { ::operator delete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }

namespace {

using namespace KavV3Base;

TEST(TSLArchive, LoadingManyObjectsRequestsMemoryInProportionToTheirNumber) {
    constexpr std::size_t kObjects = 20000;
    // Generous for the objects, their table entries and the parse buffers;
    // a list of loaded objects that grew by one element at a time would
    // request about 4 * kObjects bytes per object.
    constexpr std::size_t kBytesPerObject = 1024;

    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
        SCOPED_TRACE(coding == TSLArchive::CodingText ? "text coding" : "binary coding");
        std::vector<TSLRefCarry> carriers(kObjects);
        TMemoryStream stream;
        {
            TSLArchive saving(&stream, coding);
            for (TSLRefCarry& carrier : carriers) {
                TKavSLRoot* root = &carrier;
                ASSERT_TRUE(SLSaveObject(saving, &root));
            }
        }

        TMemoryStream in(stream.Bytes());
        TSLArchive archive(&in, coding);
        requested = 0;
        counting = true;
        std::size_t loaded = 0;
        for (; loaded < kObjects; ++loaded) {
            TKavSLRoot* root = nullptr;
            if (!SLLoadObject(archive, &root)) break;
        }
        counting = false;
        EXPECT_EQ(loaded, kObjects);
        EXPECT_EQ(archive.LoadedObjectCount(), kObjects);
        EXPECT_LT(requested.load(), kObjects * kBytesPerObject);
        archive.DiscardLoadedObjects();
    }
}

}  // namespace
