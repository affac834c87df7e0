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
        ModeRead = 0,    // "rb": the file must exist
        ModeWrite = 1,   // "wb": creates the file or truncates it
        ModeAppend = 2,  // "ab": creates the file or writes after its end
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
    // unknown mode (the stream is then closed), when the file cannot be
    // opened, and when name is a directory, in every mode and on every
    // system (errno is then EISDIR).
    [[nodiscard]] virtual bool Open(const char* name, int mode);
    // Closes the file if one is open; the stream is closed afterwards in any
    // case. False when the close failed (the buffered bytes could not be
    // written) or a write on this file had failed before (errno then tells
    // why, as for Flush); true when all went well or no file was open.
    virtual bool Close();
    virtual void SetUserValue(const std::int32_t& value);

    // Pushes buffered bytes to the file. False when no file is open, when the
    // flush fails, or when a write on this file failed before, so a writer
    // can tell output that never reached the file. errno then tells why
    // (for an earlier write, that write's reason).
    [[nodiscard]] bool Flush();

    // Test seam: on the calling thread, writes of every TFileStream fail
    // once `bytes` more bytes have been written; the write that crosses the
    // limit passes on the bytes that still fit and fails. A negative value
    // (the start-up state) switches the failures off. For tests of what
    // writers do with a full disk on systems that have no full device.
    static void FailWritesAfterForTesting(std::int64_t bytes);

    bool IsOpen() const { return file != nullptr; }
    std::int32_t GetUserValue() const { return userValue; }

private:
    std::int32_t userValue = 0;  // kept for the caller; nothing here reads it
    std::FILE* file = nullptr;
    void NoteWriteFailure();

    bool writeFailed = false;  // a write on `file` failed; reported by Flush and Close
    int writeError = 0;        // errno of that write, given again with the report
};

}  // namespace KavV3Base
