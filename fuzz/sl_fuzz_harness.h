// KavFuzz::LoadArchiveBytes, the archive loading exercise shared by the fuzz targets and their replay test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KavFuzz {

struct TFuzzResult {
    // Null, or the property that broke: a failed load that left objects
    // behind or changed those of an earlier load, an ownership rule broken
    // among loaded objects, or a loaded graph that did not save, load and save
    // again to the same bytes.
    const char* problem = nullptr;
    // Whether the bytes held one complete reference record.
    bool loadedAsReference = false;
};

// Loads bytes as an archive of the given coding (0 text, 1 binary) in every
// way the framework allows: once as one object reference, once as the fields
// of a new object of every registered class, once as a sequence of inline
// references into one archive, keeping what loaded (the failed load that
// ends it must leave the earlier objects as they were, and carrier counts,
// checker lists and tree links must agree after every load), and once as a
// sequence of references whose change checkers travel by identity only
// (resolved when the sequence ends). Whatever loads as one reference is
// saved, loaded and saved again and compared; then everything created is
// freed through the archive. Memory errors and leaks are left to the
// sanitizers.
TFuzzResult LoadArchiveBytes(const std::uint8_t* data, std::size_t size, std::int32_t coding);

}  // namespace KavFuzz
