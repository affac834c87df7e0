#include "base/stream/memory_stream.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>

#include "base/contract.h"

namespace KavV3Base {

namespace {

constexpr std::size_t kMaxStreamBytes = INT32_MAX;

}  // namespace

TMemoryStream::TMemoryStream(const void* source, std::size_t count)
    : bytes(static_cast<const unsigned char*>(source), static_cast<const unsigned char*>(source) + count) {}

TMemoryStream::TMemoryStream(std::vector<unsigned char> initial) : bytes(std::move(initial)) {}

int TMemoryStream::Seek(std::int32_t to) {
    if (to < 0 || static_cast<std::size_t>(to) > bytes.size()) return 1;
    position = static_cast<std::size_t>(to);
    return 0;
}

std::int32_t TMemoryStream::Tell() {
    return position <= kMaxStreamBytes ? static_cast<std::int32_t>(position) : -1;
}

int TMemoryStream::Read(void* buffer, std::uint32_t size) {
    if (size == 0 || size > bytes.size() - position) return 0;
    // Text archives read one byte at a time: no call to copy a single byte.
    if (size == 1) {
        *static_cast<unsigned char*>(buffer) = bytes[position++];
        return 1;
    }
    std::memcpy(buffer, bytes.data() + position, size);
    position += size;
    return 1;
}

int TMemoryStream::Write(const void* buffer, std::uint32_t size) {
    if (size == 0 || size > kMaxStreamBytes - position) return 0;
    const std::size_t end = position + size;
    if (end > bytes.size()) bytes.resize(end);
    std::memcpy(bytes.data() + position, buffer, size);
    position = end;
    return 1;
}

std::uint32_t TMemoryStream::Size() {
    return static_cast<std::uint32_t>(bytes.size() <= kMaxStreamBytes ? bytes.size() : kMaxStreamBytes);
}

int TMemoryStream::ReadString(TString& s) {
    const std::size_t left = bytes.size() - position;
    const char* start = reinterpret_cast<const char*>(bytes.data()) + position;
    const void* nul = left > 0 ? std::memchr(start, 0, left) : nullptr;
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : left;
    s = TString::FromBytes(start, length);
    const std::size_t consumed = length + (nul != nullptr ? 1 : 0);
    position += consumed;
    return consumed <= kMaxStreamBytes ? static_cast<int>(consumed) : INT32_MAX;
}

void TMemoryStream::Clear() {
    bytes.clear();
    position = 0;
}

void TMemoryStream::Assign(const void* source, std::size_t count) {
    const auto* first = static_cast<const unsigned char*>(source);
    // std::less orders any two pointers, related or not.
    const std::less<const unsigned char*> before;
    KAV_CONTRACT(count == 0 || bytes.empty() || before(first + count - 1, bytes.data()) ||
                     before(bytes.data() + bytes.size() - 1, first),
                 "TMemoryStream::Assign from the stream's own bytes");
    bytes.assign(first, first + count);
    position = 0;
}

}  // namespace KavV3Base
