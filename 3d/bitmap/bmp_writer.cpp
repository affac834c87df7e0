// Writing a 32-bit TBitmap as an uncompressed 24-bit BMP file.
#include "3d/bitmap/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/stream/file_replacement.h"

namespace KavV33D {

namespace {

constexpr std::uint32_t FileHeaderSize = 14;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint32_t PixelDataOffset = FileHeaderSize + InfoHeaderSize;

// Header fields are stored little-endian whatever the host's byte order.
template <std::size_t N>
void PutLittleEndian(unsigned char* out, std::uint32_t value) {
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

template <std::size_t N>
bool WriteField(KavV3Base::TStream& stream, std::uint32_t value) {
    unsigned char bytes[N];
    PutLittleEndian<N>(bytes, value);
    return stream.Write(bytes, N) == 1;
}

// The file header, in its five separate fields.
bool WriteFileHeader(KavV3Base::TStream& stream, std::uint32_t fileSize) {
    bool ok = WriteField<2>(stream, 0x4D42);  // "BM"
    ok = WriteField<4>(stream, fileSize) && ok;
    ok = WriteField<2>(stream, 0) && ok;
    ok = WriteField<2>(stream, 0) && ok;
    ok = WriteField<4>(stream, PixelDataOffset) && ok;
    return ok;
}

// Bytes of one file row: three bytes a pixel, padded to a multiple of four.
std::int64_t RowStride(std::int64_t width) { return (width * 24 + 31) / 32 * 4; }

}  // namespace

bool TBitmap::CanWriteBmp() const {
    // The source is read as four bytes a pixel, so only 32-bit bitmaps whose
    // rows all lie within the storage can be converted.
    if (GetBitsPerPixel() != 32) return false;
    const std::int64_t w = GetWidth();
    const std::int64_t h = GetHeight();
    const std::int64_t rowPitch = GetPitch();
    // A negative height would make a file that no reader accepts.
    if (w < 0 || h < 0) return false;
    if (h == 0 || w == 0) return true;  // no pixel is read
    if (pixels.Data() == nullptr || rowPitch < 0) return false;
    const std::int64_t lastByte = (h - 1) * rowPitch + w * 4;
    return lastByte <= static_cast<std::int64_t>(pixels.Size()) && h * RowStride(w) <= INT32_MAX;
}

int TBitmap::WriteBmp(KavV3Base::TStream& stream) const {
    if (!CanWriteBmp()) return 0;
    const std::int32_t start = stream.Tell();
    if (start < 0) return 0;

    const std::int32_t w = GetWidth();
    const std::int32_t h = GetHeight();
    // The size field is patched once the end of the picture is known. After a
    // failed write nothing more is written, and above all no size is patched
    // in: a picture cut short must not look whole.
    if (!WriteFileHeader(stream, 0)) return 0;

    unsigned char info[InfoHeaderSize] = {};
    PutLittleEndian<4>(info + 0, InfoHeaderSize);
    PutLittleEndian<4>(info + 4, static_cast<std::uint32_t>(w));
    PutLittleEndian<4>(info + 8, static_cast<std::uint32_t>(h));  // positive: rows run bottom-up
    PutLittleEndian<2>(info + 12, 1);                             // planes
    PutLittleEndian<2>(info + 14, 24);                            // bits per pixel
    // Compression, image size, resolutions and colour counts stay 0.
    if (stream.Write(info, InfoHeaderSize) != 1) return 0;

    if (h > 0 && w > 0) {
        const std::size_t stride = static_cast<std::size_t>(RowStride(w));
        const std::size_t rowPitch = static_cast<std::size_t>(GetPitch());
        // One buffer for all rows, written with a single transfer; the zeros
        // it starts with are the row padding.
        std::vector<unsigned char> rows(static_cast<std::size_t>(h) * stride, 0);
        const unsigned char* sourceRow = pixels.Data();
        for (std::int32_t y = 0; y < h; ++y, sourceRow += rowPitch) {
            const unsigned char* src = sourceRow;
            unsigned char* dst = rows.data() + static_cast<std::size_t>(y) * stride;
            for (std::int32_t x = 0; x < w; ++x, src += 4, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
        if (stream.Write(rows.data(), static_cast<std::uint32_t>(rows.size())) != 1) return 0;
    }

    const std::int32_t end = stream.Tell();
    if (end < start) return 0;
    if (stream.Seek(start) != 0) return 0;
    if (!WriteFileHeader(stream, static_cast<std::uint32_t>(end - start))) return 0;
    return stream.Seek(end) == 0 ? 1 : 0;
}

int TBitmap::SaveBmp(const char* name) const {
    // Refuse before anything is created, so no empty picture is left behind.
    if (!CanWriteBmp()) return 0;
    // Written beside the file and put in its place once whole: a failed
    // write, or an exception on the way, leaves an earlier file as it was.
    KavV3Base::TFileReplacement file;
    if (!file.Begin(name)) return 0;
    if (WriteBmp(file.Stream()) != 1) {
        file.Abandon();
        return 0;
    }
    return file.Commit() ? 1 : 0;
}

}  // namespace KavV33D
