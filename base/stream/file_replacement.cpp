#include "base/stream/file_replacement.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>

namespace KavV3Base {

namespace {

// An errno value for a failed file-system call: its own where it carries one,
// else a general I/O error.
int ErrnoOf(const std::error_code& error) {
    if (error.category() == std::generic_category() && error.value() != 0) return error.value();
    return EIO;
}

// A name that no other replacement of this process has used, and that another
// process is unlikely to pick at the same moment.
std::string TemporaryName(const std::filesystem::path& target) {
    static std::atomic<std::uint32_t> counter{0};
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t mix = ticks ^ (static_cast<std::uint64_t>(counter.fetch_add(1)) << 40) ^
                              static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&counter));
    return target.filename().string() + "." + std::to_string(mix % 1000000000u) + ".tmp";
}

}  // namespace

TFileReplacement::~TFileReplacement() { Abandon(); }

bool TFileReplacement::Begin(const char* name) {
    if (name == nullptr || name[0] == 0) {
        errno = EINVAL;
        return false;
    }
    target = std::filesystem::path(name);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(target, error);
    if (std::filesystem::is_directory(status)) {
        errno = EISDIR;
        return false;
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A device or pipe is no file to replace: renaming over it would put a
        // plain file in its place. Write to it directly.
        direct = true;
        return stream.Open(name, TFileStream::ModeWrite);
    }
    direct = false;
    // Through a link to a file, the file is replaced and the link kept.
    if (std::filesystem::exists(status) &&
        std::filesystem::is_symlink(std::filesystem::symlink_status(target, error))) {
        const std::filesystem::path resolved = std::filesystem::canonical(target, error);
        if (!error) target = resolved;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = target;
        candidate.replace_filename(TemporaryName(target));
        if (std::filesystem::exists(candidate, error))
            continue;  // a leftover or another writer's: never touch it
        // Named before it exists, so that an exception from here on (an
        // allocation failure) still has the abandon remove it.
        const std::string text = candidate.string();
        temporary = std::move(candidate);
        if (!stream.Open(text.c_str(), TFileStream::ModeWrite)) {
            temporary.clear();  // nothing was created; errno from the runtime
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

bool TFileReplacement::Commit() {
    if (direct) {
        direct = false;
        errno = 0;
        const bool flushed = stream.Flush();
        const bool closed = stream.Close();
        if (flushed && closed) return true;
        if (errno == 0) errno = EIO;
        return false;
    }
    if (temporary.empty()) {
        errno = EINVAL;
        return false;
    }
    errno = 0;
    const bool flushed = stream.Flush();
    const bool closed = stream.Close();
    if (!flushed || !closed) {
        if (errno == 0) errno = EIO;
        Abandon();
        return false;
    }
    // Replaces an existing target in one step; on Windows too, where the C
    // runtime's rename refuses to.
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) {
        errno = ErrnoOf(error);
        Abandon();
        return false;
    }
    temporary.clear();
    return true;
}

void TFileReplacement::Abandon() {
    if (direct) {
        const int reason = errno;
        direct = false;
        (void)stream.Close();
        errno = reason;
        return;
    }
    if (temporary.empty()) return;
    const int reason = errno;
    (void)stream.Close();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    temporary.clear();
    errno = reason;
}

}  // namespace KavV3Base
