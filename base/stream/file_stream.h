// KavV3Base::TFileStream, the stream over one buffered C runtime file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/stream/stream.h"

namespace KavV3Base {

// A stream over one file of the C runtime, opened by name in binary mode.
// Closed after construction, Close and a failed Open; Open closes an open
// file first; destruction closes it. Seek, Tell, Read and Write on a closed
// stream fail (non-zero, -1, 0, 0) instead of touching a null file.
//
// No lock of its own: one stream is used by one thread at a time.
class TFileStream : public TStream {
public:
    // Open modes; all binary, so no line-end translation takes place.
    enum : int {
        ModeRead = 0,   // "rb": the file must exist
        ModeWrite = 1,  // "wb": creates the file or truncates it
        ModeAppend = 2, // "ab": creates the file or writes after its end
    };

    TFileStream() = default;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    ~TFileStream() override;

    int Seek(std::int32_t position) override;
    std::int32_t Tell() override;
    int Read(void* buffer, std::uint32_t size) override;
    int Write(const void* buffer, std::uint32_t size) override;
    // 0 when no file is open or its position cannot be read.
    std::uint32_t Size() override;

    // Closes, then opens name in mode. False for a null or empty name or an
    // unknown mode (the stream is then closed) and when the file cannot be
    // opened.
    virtual bool Open(const char* name, int mode);
    virtual void Close();
    virtual void SetUserValue(const std::int32_t& value);

    // Pushes buffered bytes to the file. False when no file is open, when the
    // flush fails, or when any earlier transfer on this file failed, so a
    // writer can tell output that never reached the file.
    bool Flush();

    bool IsOpen() const { return file != nullptr; }
    std::int32_t GetUserValue() const { return userValue; }

private:
    std::int32_t userValue = 0; // kept for the caller; nothing here reads it
    std::FILE* file = nullptr;
};

} // namespace KavV3Base
