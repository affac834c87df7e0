// KavV3Base::TStream, the byte-stream interface with typed little-endian transfers.
#pragma once

#include <cstdint>

#include "base/stream/framework_string.h"

namespace KavV3Base {

// A byte stream. A concrete stream supplies the five primitives (Seek, Tell,
// Read, Write, Size); the string, line and typed transfers are built on them
// once for every stream. A typed transfer moves the value's own bytes with no
// tag, length or alignment, so the stream holds them in the host's order
// (little-endian on every platform the framework runs on).
//
// The order of the virtual operations is part of the interface: derived
// streams append their own operations after ReadInt64.
//
// A stream has no lock; one stream is used by one thread at a time.
class TStream {
public:
    virtual ~TStream() = default;

    // Moves to an absolute byte position; 0 on success, non-zero on failure.
    virtual int Seek(std::int32_t position) = 0;
    // The current byte position, or -1 on failure.
    virtual std::int32_t Tell() = 0;
    // Reads exactly size bytes; 1 when the whole block was read, else 0.
    virtual int Read(void* buffer, std::uint32_t size) = 0;
    // Writes exactly size bytes; 1 when the whole block was written, else 0.
    // A size of 0 writes nothing and returns 0.
    virtual int Write(const void* buffer, std::uint32_t size) = 0;
    // Length of the stream in bytes; the position is left unchanged.
    virtual std::uint32_t Size() = 0;

    // The text followed by one line feed. Returns the number of bytes meant
    // for the stream; the result of Write is not examined.
    virtual int WriteLine(const TString& s);
    // Reads bytes up to a line feed, which is consumed and not stored; stops
    // early at the end of the stream. Returns the number of bytes stored.
    virtual int ReadLine(TString& s);
    // The text followed by its NUL (a single NUL for an empty string).
    // Returns the number of bytes meant for the stream.
    virtual int WriteString(const TString& s);

    // Each typed write is Write of the value's bytes and returns its result.
    virtual int WriteInt(const std::int32_t& value);
    virtual int WriteShort(const std::int16_t& value);
    virtual int WriteChar(const char& value);
    virtual int WriteUInt(const std::uint32_t& value);
    virtual int WriteUShort(const std::uint16_t& value);
    virtual int WriteUChar(const unsigned char& value);
    virtual int WriteFloat(const float& value);
    virtual int WriteDouble(const double& value);
    virtual int WriteSize(const std::uint32_t& value);
    virtual int WriteLong(const std::int32_t& value);
    virtual int WriteInt64(const std::int64_t& value);

    // Reads bytes up to and including a NUL, storing those before it; stops
    // early at the end of the stream. Returns the number of bytes consumed,
    // the NUL included.
    virtual int ReadString(TString& s);

    // Each typed read is Read of the value's bytes and returns its result.
    virtual int ReadInt(std::int32_t& value);
    virtual int ReadShort(std::int16_t& value);
    virtual int ReadChar(char& value);
    virtual int ReadUInt(std::uint32_t& value);
    virtual int ReadUShort(std::uint16_t& value);
    virtual int ReadUChar(unsigned char& value);
    virtual int ReadFloat(float& value);
    virtual int ReadDouble(double& value);
    virtual int ReadSize(std::uint32_t& value);
    virtual int ReadLong(std::int32_t& value);
    virtual int ReadInt64(std::int64_t& value);

protected:
    TStream() = default;
    TStream(const TStream&) = default;
    TStream& operator=(const TStream&) = default;
};

}  // namespace KavV3Base
