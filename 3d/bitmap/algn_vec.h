// KavV3Base::TAlgnVec, a growable array whose first element is 16-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace KavV3Base {

// An array of trivially copyable elements whose first element lies on a
// 16-byte boundary, so that rows of pixels can be written with wide stores.
// It holds exactly what was asked for: capacity always equals size, and every
// Resize takes a new block of the requested size, copying the common prefix.
// New elements are not initialised.
//
// Each block is one malloc of the payload plus 15 bytes of alignment slack
// plus one pointer-sized slot. data is the first 16-byte boundary at or after
// raw + sizeof(void*), and the slot right before data holds the raw address,
// which Release hands back to free.
//
// Not thread-safe; the elements may be written from several threads at once
// only while no member function runs.
template <typename T>
class TAlgnVec {
    static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memcpy");

public:
    static constexpr std::size_t Alignment = 16;

    TAlgnVec() = default;
    TAlgnVec(const TAlgnVec&) = delete;
    TAlgnVec& operator=(const TAlgnVec&) = delete;
    virtual ~TAlgnVec() { Release(); }

    // Replaces the storage by a new block of n elements that starts with the
    // first min(old size, n) old elements. Also a zero n gets a block, so data
    // is never null afterwards. Throws std::bad_alloc when the heap cannot
    // supply the block; the vector is then unchanged.
    void Resize(std::uint32_t n) {
        constexpr std::size_t slack = Alignment - 1 + sizeof(void*);
        if (n > (SIZE_MAX - slack) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(T);
        unsigned char* raw = static_cast<unsigned char*>(std::malloc(bytes + slack));
        if (raw == nullptr) throw std::bad_alloc();
        const std::uintptr_t rawAddress = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (rawAddress + slack) & ~static_cast<std::uintptr_t>(Alignment - 1);
        unsigned char* block = raw + (aligned - rawAddress);
        std::memcpy(block - sizeof(void*), &raw, sizeof(void*));

        if (data != nullptr) {
            const std::uint32_t kept = size < n ? size : n;
            if (kept > 0) std::memcpy(block, data, static_cast<std::size_t>(kept) * sizeof(T));
            std::free(RawOf(data));
        }
        data = reinterpret_cast<T*>(block);
        size = n;
        capacity = n;
    }

    // Frees the block, if any; afterwards data is null and size is 0.
    void Release() {
        if (data != nullptr) std::free(RawOf(data));
        data = nullptr;
        size = 0;
        capacity = 0;
    }

    std::uint32_t Size() const { return size; }
    std::uint32_t Capacity() const { return capacity; }
    T* Data() { return data; }
    const T* Data() const { return data; }

private:
    static void* RawOf(T* first) {
        void* raw = nullptr;
        std::memcpy(&raw, reinterpret_cast<unsigned char*>(first) - sizeof(void*), sizeof(void*));
        return raw;
    }

    std::uint32_t size = 0;
    std::uint32_t capacity = 0;
    T* data = nullptr;
};

}  // namespace KavV3Base
