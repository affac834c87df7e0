#include "3d/bitmap/bitmap.h"

#include <climits>

#include "base/stream/framework_string.h"
#include "base/stream/text_output.h"

namespace KavV33D {

using KavV3Base::TString;

namespace {

// One diagnostic line: the label, the value in decimal and a line feed.
void PrintValue(const char* label, int value) {
    const TString line = TString(label) + TString(static_cast<std::int32_t>(value)) + TString("\n");
    KavV3Base::PrintText(line.CStr());
}

void PrintPosition(int x, int y) {
    PrintValue("x = ", x);
    PrintValue("y = ", y);
}

}  // namespace

unsigned char* TVBitmap::GetBits() { return nullptr; }
void TVBitmap::ReleaseBits() {}
int TVBitmap::GetWidth() const { return 0; }
int TVBitmap::GetHeight() const { return 0; }
int TVBitmap::GetBitsPerPixel() const { return 0; }
int TVBitmap::GetPitch() const { return 0; }
std::uint32_t TVBitmap::GetRedMask() const { return 0; }
std::uint32_t TVBitmap::GetGreenMask() const { return 0; }
std::uint32_t TVBitmap::GetBlueMask() const { return 0; }
std::uint32_t TVBitmap::GetAlphaMask() const { return 0; }

void TVBitmap::SetPixel(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    PrintPosition(x, y);
    PrintValue("r = ", r);
    PrintValue("g = ", g);
    PrintValue("b = ", b);
    PrintValue("a = ", a);
}

std::uint8_t TVBitmap::GetPixelRed(int x, int y) const {
    PrintPosition(x, y);
    return 0;
}

std::uint8_t TVBitmap::GetPixelGreen(int x, int y) const {
    PrintPosition(x, y);
    return 0;
}

std::uint8_t TVBitmap::GetPixelBlue(int x, int y) const {
    PrintPosition(x, y);
    return 0;
}

std::uint8_t TVBitmap::GetPixelAlpha(int x, int y) const {
    PrintPosition(x, y);
    return 0;
}

TBitmap::~TBitmap() {
    // Not through the virtual table: a derived part is already gone here.
    pixels.Release();
}

unsigned char* TBitmap::GetBits() { return pixels.Data(); }
void TBitmap::ReleaseBits() {}
int TBitmap::GetWidth() const { return width; }
int TBitmap::GetHeight() const { return height; }
int TBitmap::GetBitsPerPixel() const { return bitsPerPixel; }
int TBitmap::GetPitch() const { return pitch; }
std::uint32_t TBitmap::GetRedMask() const { return redMask; }
std::uint32_t TBitmap::GetGreenMask() const { return greenMask; }
std::uint32_t TBitmap::GetBlueMask() const { return blueMask; }
std::uint32_t TBitmap::GetAlphaMask() const { return alphaMask; }

void TBitmap::SetPixel(int, int, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t) {}
std::uint8_t TBitmap::GetPixelRed(int, int) const { return 0; }
std::uint8_t TBitmap::GetPixelGreen(int, int) const { return 0; }
std::uint8_t TBitmap::GetPixelBlue(int, int) const { return 0; }
std::uint8_t TBitmap::GetPixelAlpha(int, int) const { return 0; }

void TBitmap::CreateWithMasks(int newWidth, int newHeight, int newBitsPerPixel, std::uint32_t newRedMask,
                              std::uint32_t newGreenMask, std::uint32_t newBlueMask,
                              std::uint32_t newAlphaMask) {
    // The geometry is 32-bit signed arithmetic: refuse whatever would not fit
    // it, before the old storage is given up.
    if (newWidth < 0 || newHeight < 0 || newBitsPerPixel < 0) return;
    const std::int64_t rowBits = static_cast<std::int64_t>(newWidth) * newBitsPerPixel;
    if (rowBits > INT32_MAX) return;
    const std::int64_t totalBits = rowBits * newHeight;
    if (totalBits > INT32_MAX) return;

    Free();
    pixels.Resize(static_cast<std::uint32_t>(totalBits / 8));
    pitch = static_cast<std::int32_t>(rowBits / 8);
    width = newWidth;
    height = newHeight;
    bitsPerPixel = newBitsPerPixel;
    redMask = newRedMask;
    greenMask = newGreenMask;
    blueMask = newBlueMask;
    alphaMask = newAlphaMask;
}

void TBitmap::Create(int newWidth, int newHeight, int newBitsPerPixel) {
    if (newBitsPerPixel != 16 && newBitsPerPixel != 32) return;
    const int channelBits = newBitsPerPixel / 4;
    const std::uint32_t channelMax = (std::uint32_t{1} << channelBits) - 1;
    CreateWithMasks(newWidth, newHeight, newBitsPerPixel, channelMax << (2 * channelBits),
                    channelMax << channelBits, channelMax, channelMax << (3 * channelBits));
}

void TBitmap::Free() { pixels.Release(); }

}  // namespace KavV33D
