// The bitmaps' place in the object model: their class records, factories, and the saving and loading of
// TBitmap.

#include "3d/bitmap/bitmap.h"

#include <atomic>

#include "base/sl/archive.h"

namespace KavV33D {

using KavV3Base::TKavSLRoot;
using KavV3Base::TSLArchive;
using KavV3Base::TSLClassRecord;

const TSLClassRecord* TVBitmap::GetClassRecord() { return ClassRecord(); }

void TVBitmap::Save(TSLArchive& archive) {
    KavV3Base::TKavSL::Save(archive);
    SkipFields(archive);  // no fields of its own either way
}

void TVBitmap::Load(TSLArchive& archive) {
    KavV3Base::TKavSL::Load(archive);
    SkipFields(archive);
}

const TSLClassRecord* TVBitmap::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return KavV3Base::SLRegisterClass(cache, "TVBitmap", &KavV3Base::TKavSL::ClassRecord,
                                      &TVBitmap::NewInstance);
}

TKavSLRoot* TVBitmap::NewInstance() { return KavV3Base::SLNewInstance<TVBitmap>(); }

const TSLClassRecord* TBitmap::GetClassRecord() { return ClassRecord(); }

void TBitmap::Save(TSLArchive& archive) {
    TVBitmap::Save(archive);
    if (SkipFields(archive) != 0) return;
    KavV3Base::SLWriteAlgnVec(archive, &pixels);
    for (const std::int32_t* field : {&width, &height, &bitsPerPixel, &pitch, &reserved})
        KavV3Base::SLWriteInt(archive, field);
    for (const std::uint32_t* mask : {&redMask, &greenMask, &blueMask, &alphaMask})
        KavV3Base::SLWriteUInt(archive, mask);
}

void TBitmap::Load(TSLArchive& archive) {
    TVBitmap::Load(archive);
    if (SkipFields(archive) != 0) return;
    KavV3Base::SLReadAlgnVec(archive, &pixels);
    for (std::int32_t* field : {&width, &height, &bitsPerPixel, &pitch, &reserved})
        KavV3Base::SLReadInt(archive, field);
    for (std::uint32_t* mask : {&redMask, &greenMask, &blueMask, &alphaMask})
        KavV3Base::SLReadUInt(archive, mask);
}

const TSLClassRecord* TBitmap::ClassRecord() {
    static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
    return KavV3Base::SLRegisterClass(cache, "TBitmap", &TVBitmap::ClassRecord, &TBitmap::NewInstance);
}

TKavSLRoot* TBitmap::NewInstance() { return KavV3Base::SLNewInstance<TBitmap>(); }

}  // namespace KavV33D
