// main.cpp - the AOBench driver: prints the banner, times one multi-threaded
// render of the AO test scene, and leaves the picture in "aomt.bmp" and the
// timing line in "AOBench.txt".
//
// Standard output carries the banner and nothing else. A result file that
// cannot be written is named on standard error and makes the exit status 1:
// a run whose only results were lost must not look like a success.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "3d/bitmap/bitmap.h"
#include "app/ao_test.h"
#include "base/stream/framework_string.h"
#include "base/stream/text_output.h"
#include "base/thread/clock.h"

namespace {

constexpr const char* kBitmapFileName = "aomt.bmp";
constexpr const char* kTimingFileName = "AOBench.txt";
constexpr int kPictureSize = 256;

// The picture is saved only while this is set; it is cleared after the save.
std::int32_t saveBitmapOnce = 1;

void ReportWriteFailure(const char* fileName, int error) {
  std::fprintf(stderr, "aobench: cannot write \"%s\": %s\n", fileName,
               error != 0 ? std::strerror(error) : "write failed");
}

}  // namespace

int main() {
  using KavV3Base::TString;

  KavV3Base::PrintText("Kav3DTest6_AOBench\n");
  bool allWritten = true;

  TString result("");
  {
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();

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
  return allWritten ? 0 : 1;
}
