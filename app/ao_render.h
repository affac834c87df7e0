// ao_render.h - TTest3DLoop_AmbOccTest_AO, the object that renders the AO
// benchmark's picture (the benchmark's "test", named after it; no unit test):
// the scene, its per-row renderer and ambient-occlusion estimator, and the row
// jobs that spread a picture over the object's own pool of worker threads.

#pragma once

#include <cstdint>
#include <vector>

#include "3d/bitmap/bitmap.h"
#include "app/ao_scene.h"
#include "base/thread/job.h"
#include "base/thread/worker_manager.h"

class TTest3DLoop_AmbOccTest_AO;

namespace AoBench {
struct TOcclusionQuery;
}

// One picture row of a multi-threaded render. Jobs are held by value in the
// test object's job array and queued by address; the worker that runs a job
// stamps its own thread slot into threadSlot just before Execute.
class TTest3DLoop_AmbOccTest_Job : public KavV3Base::TJob {
public:
    int Execute() override;

    TTest3DLoop_AmbOccTest_AO* owner = nullptr;  // not owned
    int row = 0;
    KavV33D::TVBitmap* bitmap = nullptr;  // not owned
    std::uint32_t* rowBits = nullptr;     // first pixel of row `row`
};

// The scene, the sample counts and one random generator state per thread
// slot. Rendering takes no lock: a row job writes only its own row and only
// the generator state of its worker's slot, and slots are unique among live
// threads. Only slots 0..7 have a state; the four pool workers use 1..4 and
// RenderSingleThread uses 0.
class TTest3DLoop_AmbOccTest_AO {
public:
    static constexpr int kRandomStateCount = 8;
    static constexpr int kWorkerCount = 4;

    TTest3DLoop_AmbOccTest_AO();
    // Stops the pool (joining its workers) before the jobs go.
    ~TTest3DLoop_AmbOccTest_AO() = default;

    TTest3DLoop_AmbOccTest_AO(const TTest3DLoop_AmbOccTest_AO&) = delete;
    TTest3DLoop_AmbOccTest_AO& operator=(const TTest3DLoop_AmbOccTest_AO&) = delete;

    // Sets the scene, sample counts and generator states, then starts the pool
    // and returns once its four workers are asleep. Should the system refuse a
    // thread or an event, fewer start (workerPool.threadCount tells how many),
    // and Setup waits only for those.
    virtual void Setup();
    // Fraction of the hemisphere around normal that is open, as a grey colour
    // written into colour; returns &colour. Advances rngStates[slot] by
    // 2 * aoSamples^2 steps. Within a row of this object and slot it takes the
    // occlusion query that the row prepared for the sub-sample it shades, when
    // point, normal, scene and sample count are bit for bit those it was
    // prepared for; it builds the query itself otherwise. Either way the
    // query is the same.
    virtual TVec3* AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour, int slot);
    // Shades pixels 0..width-1 of picture row `row` into rowBits, each shaded
    // sub-sample through the virtual AmbientOcclusion, with the occlusion
    // queries of each batch of sub-samples prepared ahead, in vector form
    // where the CPU has a vector path. For the row's duration
    // the calling thread holds rngStates[slot] in a lease of its own, which
    // AmbientOcclusion and NextRandom use for that slot on that thread; the
    // field itself is brought up to date when the row ends.
    virtual void RenderRow(int row, KavV33D::TVBitmap* bitmap, std::uint32_t* rowBits, int slot);
    // The whole picture on the calling thread, with slot 0's generator.
    virtual void RenderSingleThread(KavV33D::TVBitmap* bitmap);
    // The whole picture, one job per row, on the pool; returns when all are done.
    virtual void RenderMultiThread(KavV33D::TVBitmap* bitmap);

    // Steps rngStates[slot] (or a row's lease of it, see RenderRow) once and
    // returns bits 16..47 of the new state.
    std::uint32_t NextRandom(int slot);

    std::int32_t subSamples = 0;
    std::int32_t aoSamples = 0;
    TPlane plane{};
    TSphere spheres[AoBench::kSphereCount]{};
    std::vector<TTest3DLoop_AmbOccTest_Job> jobs;
    // Declared after jobs so that it is destroyed first: the pool's destructor
    // ends its workers while the jobs they point at still exist.
    KavV3Base::TWorkerManager workerPool;
    std::uint64_t rngStates[kRandomStateCount];

private:
    // AmbientOcclusion's estimate with the generator state passed in: the
    // fraction of the hemisphere around normal that is open. prepared, when
    // not null, is the point's query, built ahead.
    float OpenFraction(const TVec3& point, const TVec3& normal, std::uint64_t& state,
                       const AoBench::TOcclusionQuery* prepared) const;
};

namespace AoBench {

// Stops the program with a message when slot has no generator state: indexing
// past the states would corrupt the test object.
void CheckRandomSlot(int slot);

// FNV-1a (64 bits) over the pixel bytes of rows 0 .. rows - 1 of a 32-bit
// picture, in memory order: the digest that pins the single-threaded picture
// on every system and path.
std::uint64_t PictureDigest(KavV33D::TVBitmap& bitmap, int rows);

}  // namespace AoBench
