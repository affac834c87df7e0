// KavV33D::TVBitmap, the bitmap interface, and KavV33D::TBitmap, the bitmap with aligned pixel storage.
#pragma once

#include <cstdint>

#include "3d/bitmap/algn_vec.h"
#include "base/sl/kav_sl.h"
#include "base/stream/stream.h"

namespace KavV33D {

// The bitmap interface. Every query answers 0 or null, and the per-pixel
// operations touch no pixel: they print their arguments on the console, one
// labelled line each ("x = 3"), so that a class keeping these defaults shows
// every per-pixel call it receives.
//
// The order of the virtual operations is part of the interface: the
// serializable object's come first (from TKavSL), then the bitmap's own;
// derived classes append theirs after GetPixelAlpha. Registered as
// "TVBitmap" (base "TKavSL"); it saves no fields of its own.
//
// No lock: while worker threads write pixel rows through addresses handed
// out earlier, other threads may call only GetWidth and GetHeight, and no
// operation that changes the bitmap may run.
class TVBitmap : public KavV3Base::TKavSL {
public:
    TVBitmap() = default;
    ~TVBitmap() override = default;

    const KavV3Base::TSLClassRecord* GetClassRecord() override;
    void Save(KavV3Base::TSLArchive& archive) override;
    void Load(KavV3Base::TSLArchive& archive) override;
    static const KavV3Base::TSLClassRecord* ClassRecord();
    static KavV3Base::TKavSLRoot* NewInstance();

    // First byte of row 0; each row starts GetPitch() bytes after the one
    // before. Borrowed: valid until the storage is recreated or freed.
    virtual unsigned char* GetBits();
    virtual void ReleaseBits();
    virtual int GetWidth() const;
    virtual int GetHeight() const;
    virtual int GetBitsPerPixel() const;
    virtual int GetPitch() const;
    virtual std::uint32_t GetRedMask() const;
    virtual std::uint32_t GetGreenMask() const;
    virtual std::uint32_t GetBlueMask() const;
    virtual std::uint32_t GetAlphaMask() const;
    virtual void SetPixel(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
    virtual std::uint8_t GetPixelRed(int x, int y) const;
    virtual std::uint8_t GetPixelGreen(int x, int y) const;
    virtual std::uint8_t GetPixelBlue(int x, int y) const;
    virtual std::uint8_t GetPixelAlpha(int x, int y) const;
};

// A rectangle of raw pixel bytes in one 16-byte-aligned block, with the
// geometry and channel masks that describe it. Rows follow each other with no
// gap: pitch = width * bitsPerPixel / 8, and row 0 is the first in memory.
// Pixels are never interpreted; with the default 32-bit masks a pixel's bytes
// in memory are blue, green, red, alpha.
//
// Empty after construction (all fields zero, no storage). Free drops the
// storage but keeps the geometry, so only GetBits tells a freed bitmap from a
// created one.
//
// Registered as "TBitmap" (base "TVBitmap"). Save writes the pixel bytes
// (their count, then each byte), then width, height, bitsPerPixel, pitch and
// reserved, then the four masks; Load reads them back as they are, pitch
// included, so a loaded bitmap is exactly what was saved.
class TBitmap : public TVBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap() override;

    const KavV3Base::TSLClassRecord* GetClassRecord() override;
    void Save(KavV3Base::TSLArchive& archive) override;
    // On a malformed archive the archive fails and the storage is left as it
    // was; fields read before the fault keep their new values.
    void Load(KavV3Base::TSLArchive& archive) override;
    static const KavV3Base::TSLClassRecord* ClassRecord();
    static KavV3Base::TKavSLRoot* NewInstance();

    unsigned char* GetBits() override;
    void ReleaseBits() override;
    int GetWidth() const override;
    int GetHeight() const override;
    int GetBitsPerPixel() const override;
    int GetPitch() const override;
    std::uint32_t GetRedMask() const override;
    std::uint32_t GetGreenMask() const override;
    std::uint32_t GetBlueMask() const override;
    std::uint32_t GetAlphaMask() const override;
    // Per-pixel access is not offered: these do nothing and answer 0.
    void SetPixel(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) override;
    std::uint8_t GetPixelRed(int x, int y) const override;
    std::uint8_t GetPixelGreen(int x, int y) const override;
    std::uint8_t GetPixelBlue(int x, int y) const override;
    std::uint8_t GetPixelAlpha(int x, int y) const override;

    // Replaces storage and geometry by width * height * bitsPerPixel / 8
    // uninitialised bytes, with the masks as given. A negative argument, or a
    // size or row pitch beyond INT32_MAX bits, is refused before anything is
    // released, and the bitmap stays exactly as it was. A size of zero is
    // accepted and still gets an aligned, non-null block.
    virtual void CreateWithMasks(int width, int height, int bitsPerPixel, std::uint32_t redMask,
                                 std::uint32_t greenMask, std::uint32_t blueMask, std::uint32_t alphaMask);
    // 16 or 32 bits per pixel with the default masks (4 or 8 bits a channel,
    // alpha highest, then red, green, blue); any other depth changes nothing.
    virtual void Create(int width, int height, int bitsPerPixel);
    // Releases the storage; the geometry and masks keep their values.
    virtual void Free();

    // Bytes of pixel storage held.
    std::uint32_t GetStorageSize() const { return pixels.Size(); }

    // Writes the picture as an uncompressed 24-bit BMP at the stream's current
    // position and leaves the stream just after it. Row 0 becomes the bottom
    // row; rows are padded with zeros to a multiple of 4 bytes. Returns 1, or
    // 0 when the bitmap is not 32 bits per pixel, has a negative width or
    // height, or its geometry does not match its storage (nothing is written
    // then), or when the stream failed a transfer or seek: writing stops at
    // the first failure, and the file-size field is then left 0. A height of
    // 0 writes the headers only.
    [[nodiscard]] int WriteBmp(KavV3Base::TStream& stream) const;
    // Creates or replaces the named file with the BMP. Returns 0 when the
    // bitmap cannot be written (nothing is created), the name is empty or a
    // directory, the file cannot be created, or any write, the flush or the
    // close fails: the file is then as it was before the call (errno tells
    // why). Else 1. The picture goes to a temporary file beside it first (see
    // TFileReplacement).
    [[nodiscard]] int SaveBmp(const char* name) const;

private:
    bool CanWriteBmp() const;

    KavV3Base::TAlgnVec<unsigned char> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerPixel = 0;
    std::int32_t pitch = 0;
    std::int32_t reserved = 0;  // nothing reads it; only saved and loaded with the other fields
    std::uint32_t redMask = 0;
    std::uint32_t greenMask = 0;
    std::uint32_t blueMask = 0;
    std::uint32_t alphaMask = 0;
};

}  // namespace KavV33D
