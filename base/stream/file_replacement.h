// KavV3Base::TFileReplacement, a file written under a temporary name and put
// in place of its target only once it is whole.
#pragma once

#include <filesystem>

#include "base/stream/file_stream.h"

namespace KavV3Base {

// Writes a new version of a file so that the target is always either the
// earlier file, untouched, or the new one, complete: the bytes go to a fresh
// temporary file in the target's folder, which Commit renames over the
// target only when every write, the flush and the close succeeded. On any
// failure, and when the object goes without a Commit (an exception passing
// through included), the temporary file is removed again.
//
// A target that exists but is no regular file (a device, a pipe) cannot be
// replaced: it is written directly, and Commit reports whether that worked.
// A link to a file is followed: the file is replaced, the link stays.
//
// A local object of one thread. Temporary names are unique per call, and an
// existing file of the chosen name is never touched.
class TFileReplacement {
public:
    TFileReplacement() = default;
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;
    // Abandons an uncommitted replacement.
    ~TFileReplacement();

    // Creates the temporary file for target and opens Stream() on it (or
    // opens a device or pipe itself). False, with nothing created and errno
    // telling why, for a null or empty name, a target that is a directory
    // (EISDIR), or a folder where no file can be created. Must not be called
    // again before Commit or Abandon.
    [[nodiscard]] bool Begin(const char* target);
    // The stream on the temporary file, open between Begin and Commit.
    TFileStream& Stream() { return stream; }
    // Flushes and closes the temporary file and renames it over the target.
    // True when that and every earlier write succeeded. Otherwise false, with
    // errno telling why: the temporary file is removed and the target is as
    // it was. False at once without a Begin.
    [[nodiscard]] bool Commit();
    // Closes and removes the temporary file; the target is untouched. Keeps
    // errno, so that a caller's reason for giving up survives. Does nothing
    // without a Begin.
    void Abandon();

private:
    TFileStream stream;
    std::filesystem::path target;
    std::filesystem::path temporary;  // empty while no replacement is under way
    bool direct = false;              // writing straight into a device or pipe
};

}  // namespace KavV3Base
