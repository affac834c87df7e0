// aobench_web.cpp - the entry points of the AOBench web page's module: the
// program's run, the kernel path in use and a single-threaded render with
// the digest of its picture. The page calls them with ccall from its main
// thread, one at a time; the files of a run land in the module's in-memory
// file system, where the page reads them back.

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>

#include "3d/bitmap/bitmap.h"
#include "app/ao_paths.h"
#include "app/ao_render.h"
#include "app/benchmark_run.h"

namespace {

constexpr int kPictureSize = 256;

// The last digest as text; ccall copies it out before the next call.
char digestText[17] = {};

}  // namespace

extern "C" {

// The program's whole run (see AoBench::RunBenchmark): "aomt.bmp" (first
// run only) and "AOBench.txt" in the current folder. Returns the exit status.
EMSCRIPTEN_KEEPALIVE int aobench_run() { return AoBench::RunBenchmark(); }

// The name of the kernel path in use ("scalar", ...).
EMSCRIPTEN_KEEPALIVE const char* aobench_path_name() { return AoBench::AoPathName(AoBench::ActiveAoPath()); }

// Renders the picture on the calling thread and returns the digest of its
// pixels as 16 lower-case hex digits; "" when the bitmap cannot be made.
EMSCRIPTEN_KEEPALIVE const char* aobench_single_thread_digest() {
    digestText[0] = '\0';
    KavV33D::TBitmap bitmap;
    bitmap.Create(kPictureSize, kPictureSize, 32);
    if (bitmap.GetBits() == nullptr) return digestText;
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    test.RenderSingleThread(&bitmap);
    std::snprintf(digestText, sizeof digestText, "%016llx",
                  static_cast<unsigned long long>(AoBench::PictureDigest(bitmap, kPictureSize)));
    return digestText;
}

}  // extern "C"
