// aobench_count - renders picture rows on the calling thread on one named
// path of the AO kernel, for counting the instructions a path executes under
// an instrumenting emulator (bench/count-instructions.sh):
//
//   aobench_count PATH [ROWS]
//
// PATH is a path's name (scalar, avx2, ...); ROWS (0..256, default 256) rows are
// rendered from the top. ROWS = 0 does everything but the render, so the
// difference of two counts is the render's own. Prints the path, the rows,
// the shaded points and occlusion rays, and a digest of the rendered pixels
// (equal on every path). Exit status 2 on a bad argument or a path this
// build or CPU cannot run.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "3d/bitmap/bitmap.h"
#include "app/ao_paths.h"
#include "app/ao_render.h"

using namespace AoBench;

namespace {

constexpr int kSize = 256;

class TCountingAo : public TTest3DLoop_AmbOccTest_AO {
public:
    TVec3* AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) override {
        ++shadedPoints;
        return TTest3DLoop_AmbOccTest_AO::AmbientOcclusion(point, normal, colour, slot);
    }
    std::int64_t shadedPoints = 0;
};

bool ParsePath(const char* name, TAoPath& path) {
    for (TAoPath candidate : AoPaths()) {
        if (std::strcmp(name, AoPathName(candidate)) == 0) {
            path = candidate;
            return true;
        }
    }
    return false;
}

int Usage() {
    std::fputs("usage: aobench_count PATH [ROWS], PATH one of:", stderr);
    for (TAoPath path : AoPaths()) std::fprintf(stderr, " %s", AoPathName(path));
    std::fprintf(stderr, ", ROWS 0..%d\n", kSize);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) return Usage();
    TAoPath path{};
    if (!ParsePath(argv[1], path)) return Usage();
    int rows = kSize;
    if (argc == 3) {
        char* end = nullptr;
        const long value = std::strtol(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || value < 0 || value > kSize) return Usage();
        rows = static_cast<int>(value);
    }
    if (!SelectAoPath(path)) {
        std::fprintf(stderr, "aobench_count: path %s does not run here\n", argv[1]);
        return 2;
    }

    TCountingAo test;
    test.Setup();
    KavV33D::TBitmap bitmap;
    bitmap.Create(kSize, kSize, 32);
    unsigned char* bits = bitmap.GetBits();
    const int pitch = bitmap.GetPitch();
    for (int row = 0; row < rows; ++row)
        test.RenderRow(row, &bitmap, reinterpret_cast<std::uint32_t*>(bits + row * pitch), 0);

    const std::uint64_t digest = PictureDigest(bitmap, rows);
    bitmap.ReleaseBits();
    std::printf("%s rows=%d shaded=%lld rays=%lld digest=%016llx\n", AoPathName(path), rows,
                static_cast<long long>(test.shadedPoints),
                static_cast<long long>(test.shadedPoints * test.aoSamples * test.aoSamples),
                static_cast<unsigned long long>(digest));
    return 0;
}
