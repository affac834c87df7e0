// TFailingStream, a stream for tests whose writes and seeks fail on demand,
// to check that the code over a stream notices every failure.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "base/stream/stream.h"

namespace KavTest {

// Holds its bytes in a vector; writes past the end extend it. It fails only
// where a test asks it to: every Write after a count, every write beyond a
// size limit, every Seek. It also counts its Read calls. (The framework's own
// stream over memory, which never fails on purpose, is
// KavV3Base::TMemoryStream.)
class TFailingStream : public KavV3Base::TStream {
public:
    std::vector<unsigned char> bytes;
    std::int32_t position = 0;
    int writesBeforeFailure = -1;  // failing Write calls start after this many; -1 never
    // Like a full disk: the stream cannot grow past this many bytes; a write
    // that would stores what fits and fails. Writes within the bytes already
    // there still succeed. -1: no limit.
    std::int64_t sizeLimit = -1;
    bool failSeek = false;
    int readCalls = 0;

    TFailingStream() = default;
    explicit TFailingStream(std::vector<unsigned char> initial) : bytes(std::move(initial)) {}

    int Seek(std::int32_t to) override {
        if (failSeek || to < 0 || static_cast<std::size_t>(to) > bytes.size()) return -1;
        position = to;
        return 0;
    }
    std::int32_t Tell() override { return position; }
    int Read(void* buffer, std::uint32_t size) override {
        ++readCalls;
        if (size == 0 || static_cast<std::size_t>(position) + size > bytes.size()) return 0;
        std::memcpy(buffer, bytes.data() + position, size);
        position += static_cast<std::int32_t>(size);
        return 1;
    }
    int Write(const void* buffer, std::uint32_t size) override {
        if (size == 0) return 0;
        if (writesBeforeFailure == 0) return 0;
        if (writesBeforeFailure > 0) --writesBeforeFailure;
        std::size_t end = static_cast<std::size_t>(position) + size;
        if (sizeLimit >= 0 && end > static_cast<std::size_t>(sizeLimit)) {
            const std::size_t limit = static_cast<std::size_t>(sizeLimit);
            if (limit > static_cast<std::size_t>(position)) {
                if (limit > bytes.size()) bytes.resize(limit);
                std::memcpy(bytes.data() + position, buffer, limit - static_cast<std::size_t>(position));
                position = static_cast<std::int32_t>(limit);
            }
            return 0;
        }
        if (end > bytes.size()) bytes.resize(end);
        std::memcpy(bytes.data() + position, buffer, size);
        position += static_cast<std::int32_t>(size);
        return 1;
    }
    std::uint32_t Size() override { return static_cast<std::uint32_t>(bytes.size()); }
};

}  // namespace KavTest
