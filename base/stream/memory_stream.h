// KavV3Base::TMemoryStream, a stream over a byte array held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/stream/stream.h"

namespace KavV3Base {

// A stream whose bytes live in a vector. Writing past the end extends it;
// reading past the end fails. The position and the size are limited to what
// the stream interface can report (INT32_MAX bytes): a write that would go
// beyond fails and writes nothing.
//
// It lets archives be written to and read from memory (tests, fuzzing,
// copying object graphs) without touching the file system.
//
// No lock: one stream is used by one thread at a time.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    // A stream positioned at 0 over a copy of the given bytes.
    TMemoryStream(const void* source, std::size_t count);
    explicit TMemoryStream(std::vector<unsigned char> initial);

    int Seek(std::int32_t position) override;
    std::int32_t Tell() override;
    int Read(void* buffer, std::uint32_t size) override;
    int Write(const void* buffer, std::uint32_t size) override;
    std::uint32_t Size() override;
    // The bytes up to the next NUL (or the end) in one step; consumes them and
    // the NUL and returns how many bytes that was, like the byte-by-byte read
    // of TStream.
    int ReadString(TString& s) override;

    const std::vector<unsigned char>& Bytes() const { return bytes; }
    // Empties the stream and moves back to position 0.
    void Clear();
    // Replaces the bytes with a copy of count bytes at source and moves back
    // to position 0. The storage already held is reused, so a stream that is
    // refilled again and again (a loop over many inputs) allocates only when a
    // fill is larger than any before. source must not point into the stream.
    void Assign(const void* source, std::size_t count);

private:
    std::vector<unsigned char> bytes;
    std::size_t position = 0;
};

}  // namespace KavV3Base
