// ao_render.cpp - the AO benchmark's render object: scene set-up, the shading
// kernel and the single- and multi-threaded render drivers.

#include "app/ao_render.h"

#include <cstring>

#include "app/ao_occlusion.h"
#include "app/ao_primary_rays.h"
#include "base/bit_cast.h"
#include "base/contract.h"

// The kernel helpers that the test object's members call.
using AoBench::CheckRandomSlot;
using AoBench::CountOccludedRays;
using AoBench::GatherHitPoints;
using AoBench::kPrimaryBatch;
using AoBench::MakeOcclusionQueries;
using AoBench::MakePrimaryScene;
using AoBench::MakeShadedPointQuery;
using AoBench::StepRandom;
using AoBench::TOcclusionQuery;
using AoBench::TPrimaryHits;
using AoBench::TPrimaryScene;
using AoBench::TracePrimaryRays;
using AoBench::TShadedPoints;

namespace {

constexpr std::uint64_t kDefaultRandomState = 0x1234ABCD330Eull;

// Initial generator state per thread slot, slot 0 first.
constexpr std::uint64_t kSlotRandomStates[TTest3DLoop_AmbOccTest_AO::kRandomStateCount] = {
    0x2B24688, 0x44978A2, 0x550205B, 0x47BF459, 0x35889EB, 0x1697BA4, 0x4E20F02, 0x4221027};

}  // namespace

void AoBench::CheckRandomSlot(int slot) {
    KAV_CONTRACT(slot >= 0 && slot < TTest3DLoop_AmbOccTest_AO::kRandomStateCount,
                 "thread slot %d has no random generator state (slots 0..%d)", slot,
                 TTest3DLoop_AmbOccTest_AO::kRandomStateCount - 1);
}

int TTest3DLoop_AmbOccTest_Job::Execute() {
    owner->RenderRow(row, bitmap, rowBits, threadSlot);
    return 0;
}

TTest3DLoop_AmbOccTest_AO::TTest3DLoop_AmbOccTest_AO() {
    for (std::uint64_t& state : rngStates) state = kDefaultRandomState;
}

void TTest3DLoop_AmbOccTest_AO::Setup() {
    subSamples = 2;
    aoSamples = 8;

    plane = {{0.0f, 1.0f, 0.0f}, 0.5f};
    spheres[0] = {{-2.0f, 0.0f, -3.5f}, 0.5f};
    spheres[1] = {{-0.5f, 0.0f, -3.0f}, 0.5f};
    spheres[2] = {{1.0f, 0.0f, -2.2f}, 0.5f};

    for (int slot = 0; slot < kRandomStateCount; ++slot) rngStates[slot] = kSlotRandomStates[slot];

    workerPool.StartWorkers(kWorkerCount, 0);
    workerPool.Resume();
    workerPool.WaitIdle();
}

namespace {

// A row's hold on its slot's generator state. While RenderRow shades a row,
// the state lives here, on the rendering thread's stack, and every draw of
// the row (AmbientOcclusion and NextRandom, overridden or not) goes to it;
// the row stores it back into rngStates once, at its end. The eight states
// share a cache line, and a load and store of it per shaded point would have
// the workers' cores take that line from each other hundreds of thousands of
// times per picture.
//
// The lease also carries the occlusion queries that the row prepared for the
// hit sub-samples of its current batch of primary rays, so that the base
// class's AmbientOcclusion, called through the virtual table with those
// sub-samples' points, finds them.
struct TPreparedQueries {
    TShadedPoints points;  // what they were prepared for
    TOcclusionQuery queries[kPrimaryBatch];
    std::uint32_t count;  // 0 between batches
    std::uint32_t next;   // the one RenderRow shades now
};

struct TStateLease {
    const TTest3DLoop_AmbOccTest_AO* owner;
    int slot;
    std::uint64_t state;
    TStateLease* previous;       // the lease this one hides, for a row within a row
    TPreparedQueries* prepared;  // null until the row prepares its first batch
};

// The innermost lease open on this thread.
thread_local TStateLease* openLease = nullptr;

// The lease of owner's slot open on this thread, or null.
TStateLease* LeaseOf(const TTest3DLoop_AmbOccTest_AO* owner, int slot) {
    for (TStateLease* lease = openLease; lease != nullptr; lease = lease->previous) {
        if (lease->owner == owner && lease->slot == slot) return lease;
    }
    return nullptr;
}

// Opens a lease of rngStates[slot] for its scope; gives the state back when
// the scope ends, also when an exception leaves it.
class TRowLease {
public:
    TRowLease(const TTest3DLoop_AmbOccTest_AO* owner, int slot, std::uint64_t& slotState)
        : field(slotState), lease{owner, slot, slotState, openLease, nullptr} {
        openLease = &lease;
    }
    ~TRowLease() {
        field = lease.state;
        openLease = lease.previous;
    }
    TRowLease(const TRowLease&) = delete;
    TRowLease& operator=(const TRowLease&) = delete;

    // Hands the row's prepared queries to its AmbientOcclusion calls.
    void Prepared(TPreparedQueries* prepared) { lease.prepared = prepared; }

private:
    std::uint64_t& field;
    TStateLease lease;
};

}  // namespace

std::uint32_t TTest3DLoop_AmbOccTest_AO::NextRandom(int slot) {
    CheckRandomSlot(slot);
    TStateLease* lease = LeaseOf(this, slot);
    return StepRandom(lease != nullptr ? lease->state : rngStates[slot]);
}

namespace {

// n x n for a count n, and none for a count that is not positive: the rays of
// a shaded point (aoSamples) and the sub-samples of a pixel (subSamples).
std::uint32_t SquareOf(std::int32_t n) {
    return n > 0 ? static_cast<std::uint32_t>(n) * static_cast<std::uint32_t>(n) : 0;
}

std::uint32_t Bits(float v) { return KavV3Base::BitCast<std::uint32_t>(v); }

// The query the lease's row prepared for the sub-sample it shades now, if it
// was prepared for this point and normal and for the owner's scene and
// sample count as they are (a class that overrides AmbientOcclusion may pass
// other points, or change the scene, before it calls the base class's).
const TOcclusionQuery* PreparedQuery(const TStateLease& lease, const TTest3DLoop_AmbOccTest_AO& owner,
                                     const TVec3& point, const TVec3& normal) {
    const TPreparedQueries* prepared = lease.prepared;
    if (prepared == nullptr || prepared->next >= prepared->count) return nullptr;
    const std::uint32_t i = prepared->next;
    const TShadedPoints& points = prepared->points;
    const std::uint32_t differ =
        (Bits(points.pointX[i]) ^ Bits(point.x)) | (Bits(points.pointY[i]) ^ Bits(point.y)) |
        (Bits(points.pointZ[i]) ^ Bits(point.z)) | (Bits(points.normalX[i]) ^ Bits(normal.x)) |
        (Bits(points.normalY[i]) ^ Bits(normal.y)) | (Bits(points.normalZ[i]) ^ Bits(normal.z));
    const TOcclusionQuery& query = prepared->queries[i];
    if (differ != 0 || query.rayCount != SquareOf(owner.aoSamples) ||
        std::memcmp(&query.plane, &owner.plane, sizeof(TPlane)) != 0 ||
        std::memcmp(query.spheres, owner.spheres, sizeof(owner.spheres)) != 0) {
        return nullptr;
    }
    return &query;
}

}  // namespace

float TTest3DLoop_AmbOccTest_AO::OpenFraction(const TVec3& point, const TVec3& normal, std::uint64_t& state,
                                              const TOcclusionQuery* prepared) const {
    // The aoSamples x aoSamples rays, row by row, are one sequence of rays on
    // the active path; each draws r1, then phi, from the generator.
    TOcclusionQuery own;
    const TOcclusionQuery* query = prepared;
    if (query == nullptr) {
        own = MakeShadedPointQuery(plane, spheres, point, normal, SquareOf(aoSamples));
        query = &own;
    }
    const std::uint32_t hits = CountOccludedRays(*query, state);

    // A float count that grows by 1 per hit is exact up to 2^24 and stays
    // there, since 2^24 + 1 rounds back to 2^24.
    const float occluded = static_cast<float>(hits < (1u << 24) ? hits : (1u << 24));
    const float total =
        static_cast<float>(static_cast<std::uint32_t>(aoSamples) * static_cast<std::uint32_t>(aoSamples));
    return (total - occluded) / total;
}

TVec3* TTest3DLoop_AmbOccTest_AO::AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour,
                                                   int slot) {
    CheckRandomSlot(slot);
    float open = 0.0f;
    if (TStateLease* lease = LeaseOf(this, slot)) {
        open = OpenFraction(point, normal, lease->state, PreparedQuery(*lease, *this, point, normal));
    } else {
        // Outside a row the state is taken into a local for the estimate and
        // stored back once, for the same reason rows lease it.
        std::uint64_t state = rngStates[slot];
        open = OpenFraction(point, normal, state, nullptr);
        rngStates[slot] = state;
    }
    colour = {open, open, open};
    return &colour;
}

namespace {

// Round half up of c * 255 for c in [0, 1], after clamping.
std::uint32_t ToByte(float c) {
    if (c < 0.0f)
        c = 0.0f;
    else if (c > 1.0f)
        c = 1.0f;
    return static_cast<std::uint32_t>(static_cast<double>(c) * 255.0 + 0.5);
}

// The 32-bit pixel of a sum of sub-sample colours: opaque, first component
// in the low byte.
std::uint32_t PackPixel(const TVec3& acc, float invSub2) {
    const std::uint32_t b0 = ToByte(acc.x * invSub2);
    const std::uint32_t b1 = ToByte(acc.y * invSub2);
    const std::uint32_t b2 = ToByte(acc.z * invSub2);
    return 0xFF000000u | (b2 << 16) | (b1 << 8) | b0;
}

}  // namespace

void TTest3DLoop_AmbOccTest_AO::RenderRow(int row, KavV33D::TVBitmap* bitmap, std::uint32_t* rowBits,
                                          int slot) {
    CheckRandomSlot(slot);
    const float width = static_cast<float>(bitmap->GetWidth());
    const float height = static_cast<float>(bitmap->GetHeight());
    const float halfWidth = width * 0.5f;
    const float halfHeight = height * 0.5f;
    const float invHalfWidth = 1.0f / halfWidth;
    const float invHalfHeight = 1.0f / halfHeight;
    const float invSub = 1.0f / static_cast<float>(subSamples);
    const float invSub2 =
        static_cast<float>(1.0 / static_cast<double>(static_cast<std::uint32_t>(subSamples) *
                                                     static_cast<std::uint32_t>(subSamples)));
    const float rowF = static_cast<float>(row);
    const std::uint32_t perPixel = SquareOf(subSamples);

    // Every shaded sub-sample goes through the virtual AmbientOcclusion, so an
    // override sees every call; the row's draws go to its lease of the slot's
    // state, given back when the row ends.
    TRowLease lease(this, slot, rngStates[slot]);

    // The sub-samples are queued in the kernel's order (pixel by pixel, v
    // outer, u inner) and their primary rays traced a batch at a time: those
    // draw no random numbers, and neither does building the occlusion queries
    // of the batch's hit sub-samples, which follows, V::kLanes points at a
    // time. The shading then visits the queued sub-samples in the same order,
    // so every draw is made in the scalar kernel's order. (Each shaded
    // sub-sample draws exactly 2 * aoSamples^2 numbers, so its generator state
    // is a fixed jump from the batch's first; the kernel already forms the
    // state after a point's draws from the state before them alone.)
    const TPrimaryScene scene = MakePrimaryScene(plane, spheres);
    float queuedX[kPrimaryBatch];
    float queuedY[kPrimaryBatch];
    std::uint32_t queued = 0;
    TPrimaryHits hits;
    TPreparedQueries prepared;
    prepared.count = 0;
    prepared.next = 0;
    lease.Prepared(&prepared);
    TVec3 acc{0.0f, 0.0f, 0.0f};
    std::uint32_t pixelShaded = 0;  // sub-samples of pixel `nextPixel` done
    int nextPixel = 0;
    const auto shadeQueued = [&] {
        TracePrimaryRays(scene, queuedX, queuedY, queued, hits);
        const std::uint32_t shaded = GatherHitPoints(hits, queued, prepared.points);
        MakeOcclusionQueries(plane, spheres, prepared.points, shaded, SquareOf(aoSamples), prepared.queries);
        prepared.count = shaded;
        prepared.next = 0;

        for (std::uint32_t i = 0; i < queued; ++i) {
            if (((hits.hitMask >> i) & 1) != 0) {
                const TVec3 point{hits.pointX[i], hits.pointY[i], hits.pointZ[i]};
                const TVec3 normal{hits.normalX[i], hits.normalY[i], hits.normalZ[i]};
                TVec3 colour;
                AmbientOcclusion(point, normal, colour, slot);
                acc = acc + colour;
                ++prepared.next;
            }
            if (++pixelShaded == perPixel) {
                rowBits[nextPixel++] = PackPixel(acc, invSub2);
                acc = {0.0f, 0.0f, 0.0f};
                pixelShaded = 0;
            }
        }
        queued = 0;
        prepared.count = 0;
    };

    const int pixelCount = bitmap->GetWidth();
    float xF = 0.0f;
    for (int x = 0; x < pixelCount; ++x, xF += 1.0f) {
        float vF = 0.0f;
        for (int v = 0; v < subSamples; ++v, vF += 1.0f) {
            const float py = (vF * invSub + rowF - halfHeight) * invHalfHeight;
            float uF = 0.0f;
            for (int u = 0; u < subSamples; ++u, uF += 1.0f) {
                queuedX[queued] = (uF * invSub + xF - halfWidth) * invHalfWidth;
                queuedY[queued] = py;
                if (++queued == kPrimaryBatch) shadeQueued();
            }
        }
        if (perPixel == 0) rowBits[nextPixel++] = PackPixel(acc, invSub2);  // nothing to shade
    }
    if (queued > 0) shadeQueued();
}

void TTest3DLoop_AmbOccTest_AO::RenderSingleThread(KavV33D::TVBitmap* bitmap) {
    const int pitch = bitmap->GetPitch();
    const int rows = bitmap->GetHeight();
    unsigned char* p = bitmap->GetBits();
    for (int i = 0; i < rows; ++i) {
        RenderRow(i, bitmap, reinterpret_cast<std::uint32_t*>(p), 0);
        p += pitch;
    }
    bitmap->ReleaseBits();
}

void TTest3DLoop_AmbOccTest_AO::RenderMultiThread(KavV33D::TVBitmap* bitmap) {
    const int pitch = bitmap->GetPitch();
    const std::uint32_t rows = static_cast<std::uint32_t>(bitmap->GetHeight() > 0 ? bitmap->GetHeight() : 0);
    unsigned char* p = bitmap->GetBits();

    // Sized before anything is queued: the pool holds the jobs' addresses.
    jobs.resize(rows, TTest3DLoop_AmbOccTest_Job{});
    for (std::uint32_t i = 0; i < rows; ++i) {
        TTest3DLoop_AmbOccTest_Job& job = jobs[i];
        job.owner = this;
        job.bitmap = bitmap;
        job.row = static_cast<int>(i);
        job.rowBits = reinterpret_cast<std::uint32_t*>(p);
        workerPool.AddJob(&job);
        p += pitch;
    }

    workerPool.Resume();
    workerPool.WaitIdle();
    workerPool.CollectFinished();
    bitmap->ReleaseBits();
}

namespace AoBench {

std::uint64_t PictureDigest(KavV33D::TVBitmap& bitmap, int rows) {
    std::uint64_t digest = 0xCBF29CE484222325ull;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.GetWidth()) * 4;
    const unsigned char* row = bitmap.GetBits();
    for (int y = 0; y < rows; ++y, row += bitmap.GetPitch()) {
        for (std::size_t i = 0; i < rowBytes; ++i) {
            digest ^= row[i];
            digest *= 0x100000001B3ull;
        }
    }
    return digest;
}

}  // namespace AoBench
