// Ways to make file writes fail on purpose, for tests of writers' failure
// paths: a limit on the calling thread's file writes, which works everywhere,
// and the system's full device where there is one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stream/file_stream.h"

namespace KavTest {

// While it lives, the calling thread's file writes fail once `bytes` bytes
// have been written, as on a disk that is full.
class TFileWriteLimit {
public:
    explicit TFileWriteLimit(std::int64_t bytes) { KavV3Base::TFileStream::FailWritesAfterForTesting(bytes); }
    TFileWriteLimit(const TFileWriteLimit&) = delete;
    TFileWriteLimit& operator=(const TFileWriteLimit&) = delete;
    ~TFileWriteLimit() { KavV3Base::TFileStream::FailWritesAfterForTesting(-1); }
};

// A device that accepts an open for writing and refuses every write
// ("/dev/full" on Linux and some other systems), or empty where there is none.
inline std::string FullDevice() {
    std::error_code ignored;
    return std::filesystem::exists("/dev/full", ignored) ? "/dev/full" : "";
}

// The names of the entries of a folder, sorted.
inline std::vector<std::string> FolderContent(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace KavTest
