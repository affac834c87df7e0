// benchmark_run.cpp - the AOBench run: banner, timed render, result files.

#include "app/benchmark_run.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "3d/bitmap/bitmap.h"
#include "app/ao_render.h"
#include "base/stream/framework_string.h"
#include "base/stream/text_output.h"
#include "base/thread/clock.h"

namespace {

// The picture is saved only while this is set; it is cleared after the save.
std::int32_t saveBitmapOnce = 1;

}  // namespace

namespace AoBench {

namespace {

constexpr const char* kBitmapFileName = "aomt.bmp";
constexpr const char* kTimingFileName = "AOBench.txt";
constexpr int kPictureSize = 256;

void ReportWriteFailure(const char* fileName, int error) {
    std::fprintf(stderr, "aobench: cannot write \"%s\": %s\n", fileName,
                 error != 0 ? std::strerror(error) : "write failed");
}

// Pushes out what standard output still buffers; false (with a message)
// when the banner did not get through.
bool FinishStandardOutput() {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && std::ferror(stdout) == 0) return true;
    std::fprintf(stderr, "aobench: cannot write to standard output: %s\n",
                 error != 0 ? std::strerror(error) : "write failed");
    return false;
}

int RunOnce() {
    using KavV3Base::TString;

    KavV3Base::PrintText("Kav3DTest6_AOBench\n");
    bool allWritten = true;

    TString result("");
    {
        TTest3DLoop_AmbOccTest_AO test;
        test.Setup();
        const std::uint32_t started = test.workerPool.threadCount;
        if (started != TTest3DLoop_AmbOccTest_AO::kWorkerCount) {
            std::fprintf(
                stderr,
                "aobench: only %u of %d worker threads could be started (the system refused a thread "
                "or an event); no result is written\n",
                static_cast<unsigned>(started), TTest3DLoop_AmbOccTest_AO::kWorkerCount);
            FinishStandardOutput();
            return 1;
        }

        KavV33D::TBitmap bitmap;
        bitmap.Create(kPictureSize, kPictureSize, 32);

        const std::uint64_t t0 = KavV3Base::GetMilliseconds();
        test.RenderMultiThread(&bitmap);
        const std::uint64_t t1 = KavV3Base::GetMilliseconds();

        // The clock is a 32-bit counter widened to 64 bits: the low 32 bits of
        // the difference are the elapsed time even across a wrap.
        const auto elapsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(t1 - t0));
        result += (TString("AO Multi Thread Time = ") + TString(elapsed)) + TString("ms\n");

        if (saveBitmapOnce != 0) {
            errno = 0;
            if (bitmap.SaveBmp(kBitmapFileName) == 0) {
                ReportWriteFailure(kBitmapFileName, errno);
                allWritten = false;
            }
            saveBitmapOnce = 0;
        }

        errno = 0;
        if (!KavV3Base::WriteTextFile(TString(kTimingFileName), result)) {
            ReportWriteFailure(kTimingFileName, errno);
            allWritten = false;
        }
    }
    // Standard output may be a file or a pipe, buffered until here.
    if (!FinishStandardOutput()) allWritten = false;
    return allWritten ? 0 : 1;
}

}  // namespace

int RunBenchmark() {
    try {
        return RunOnce();
    } catch (const std::bad_alloc&) {
        // Caught here so that the way out unwinds: the pool joins its workers
        // and a half-written result file is removed again.
        std::fputs("aobench: out of memory\n", stderr);
        return 1;
    }
}

}  // namespace AoBench
