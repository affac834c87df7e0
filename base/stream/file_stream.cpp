#include "base/stream/file_stream.h"

#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

namespace KavV3Base {

namespace {

// Bytes the calling thread's file writes may still pass on; negative: no limit.
thread_local std::int64_t writeBudget = -1;

}  // namespace

void TFileStream::FailWritesAfterForTesting(std::int64_t bytes) { writeBudget = bytes < 0 ? -1 : bytes; }

TFileStream::~TFileStream() {
    // Not through the virtual table: a derived part is already gone here.
    TFileStream::Close();
}

int TFileStream::Seek(std::int32_t position) {
    if (file == nullptr) return -1;
    return std::fseek(file, static_cast<long>(position), SEEK_SET) == 0 ? 0 : -1;
}

std::int32_t TFileStream::Tell() {
    if (file == nullptr) return -1;
    const long position = std::ftell(file);
    if (position < 0 || position > INT32_MAX) return -1;
    return static_cast<std::int32_t>(position);
}

int TFileStream::Read(void* buffer, std::uint32_t size) {
    if (file == nullptr || size == 0) return 0;
    return std::fread(buffer, size, 1, file) == 1 ? 1 : 0;
}

int TFileStream::Write(const void* buffer, std::uint32_t size) {
    if (file == nullptr || size == 0) return 0;
    if (writeBudget >= 0 && size > writeBudget) {
        // As a full disk would: what fits reaches the file, the rest fails.
        if (writeBudget > 0) std::fwrite(buffer, static_cast<std::size_t>(writeBudget), 1, file);
        writeBudget = 0;
        errno = ENOSPC;
        NoteWriteFailure();
        return 0;
    }
    if (std::fwrite(buffer, size, 1, file) != 1) {
        NoteWriteFailure();
        return 0;
    }
    if (writeBudget > 0) writeBudget -= size;
    return 1;
}

std::uint32_t TFileStream::Size() {
    if (file == nullptr) return 0;
    const long position = std::ftell(file);
    if (position < 0) return 0;
    long length = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    std::fseek(file, position, SEEK_SET);
    return length < 0 ? 0 : static_cast<std::uint32_t>(length);
}

bool TFileStream::Open(const char* name, int mode) {
    Close();
    const char* modeText = nullptr;
    switch (mode) {
        case ModeRead:
            modeText = "rb";
            break;
        case ModeWrite:
            modeText = "wb";
            break;
        case ModeAppend:
            modeText = "ab";
            break;
        default:
            return false;
    }
    if (name == nullptr || name[0] == 0) return false;
    // A directory is no file to stream, though some systems open one for
    // reading. Refused before the open, so that every system gives the same
    // reason, and after it, in case one was put in the file's place between.
    // The path is made first: if making it throws, nothing is open yet.
    const std::filesystem::path path(name);
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        errno = EISDIR;
        return false;
    }
    file = std::fopen(name, modeText);
    if (file == nullptr) return false;
    writeFailed = false;
    if (std::filesystem::is_directory(path, ignored)) {
        std::fclose(file);
        file = nullptr;
        errno = EISDIR;
        return false;
    }
    return true;
}

void TFileStream::NoteWriteFailure() {
    writeFailed = true;
    writeError = errno != 0 ? errno : EIO;
}

bool TFileStream::Close() {
    if (file == nullptr) return true;
    const bool failedBefore = writeFailed || std::ferror(file) != 0;
    const int earlierError = writeFailed ? writeError : EIO;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    writeFailed = false;
    if (closed && failedBefore) errno = earlierError;  // the reason of the write that failed
    return closed && !failedBefore;
}

void TFileStream::SetUserValue(const std::int32_t& value) { userValue = value; }

bool TFileStream::Flush() {
    if (file == nullptr) return false;
    const bool flushed = std::fflush(file) == 0;
    if (flushed && writeFailed) errno = writeError;  // the reason of the write that failed
    return flushed && !writeFailed && std::ferror(file) == 0;
}

}  // namespace KavV3Base
