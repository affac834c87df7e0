// Benchmarks of the AO kernel on every path the running CPU supports: the
// generator step, one AmbientOcclusion call, the occlusion kernel alone, one
// row, the whole 256 x 256 picture on the calling thread and on the test
// object's four workers, and the BMP write. Rates are in occlusion rays per second ("rays").
//
// Each benchmark is registered once per path of the table that the CPU runs,
// named after it (".../scalar", ".../avx2", ...), so that one run gives the
// ratios between paths.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "3d/bitmap/bitmap.h"
#include "app/ao_occlusion.h"
#include "app/ao_paths.h"
#include "app/ao_render.h"
#include "app/ao_scene.h"

namespace {

using namespace AoBench;

constexpr int kSize = 256;
constexpr std::int64_t kRaysPerShadedPoint = 64;

// The shaded points of the picture, in the order the single-threaded render
// shades them, and how many each row has.
struct TShadedPoints {
    std::vector<TVec3> points;
    std::vector<TVec3> normals;
    std::vector<std::int64_t> perRow;
};

class TRecordingAo : public TTest3DLoop_AmbOccTest_AO {
public:
    TVec3* AmbientOcclusion(const TVec3& point, const TVec3& normal, TVec3& colour, int slot) override {
        record.points.push_back(point);
        record.normals.push_back(normal);
        ++record.perRow.back();
        return TTest3DLoop_AmbOccTest_AO::AmbientOcclusion(point, normal, colour, slot);
    }
    TShadedPoints record;
};

const TShadedPoints& ShadedPoints() {
    static const TShadedPoints points = [] {
        TRecordingAo test;
        test.Setup();
        KavV33D::TBitmap bitmap;
        bitmap.Create(kSize, kSize, 32);
        for (int row = 0; row < kSize; ++row) {
            test.record.perRow.push_back(0);
            test.RenderRow(row, &bitmap,
                           reinterpret_cast<std::uint32_t*>(bitmap.GetBits() + row * bitmap.GetPitch()), 0);
        }
        return test.record;
    }();
    return points;
}

std::int64_t PictureRays() {
    return static_cast<std::int64_t>(ShadedPoints().points.size()) * kRaysPerShadedPoint;
}

void SetRayRate(benchmark::State& state, std::int64_t rays) {
    state.counters["rays"] = benchmark::Counter(static_cast<double>(rays), benchmark::Counter::kIsRate);
}

// Runs a benchmark with its path forced, and puts the automatic choice back.
class TPathScope {
public:
    TPathScope(benchmark::State& state, TAoPath path) : ok(SelectAoPath(path)) {
        if (!ok) state.SkipWithError("path not supported");
    }
    ~TPathScope() { UseWidestAoPath(); }
    TPathScope(const TPathScope&) = delete;
    TPathScope& operator=(const TPathScope&) = delete;
    const bool ok;
};

void BM_NextRandom(benchmark::State& state) {
    TTest3DLoop_AmbOccTest_AO test;
    for (auto _ : state) benchmark::DoNotOptimize(test.NextRandom(0));
    state.SetItemsProcessed(state.iterations());
}

void BM_AmbientOcclusion(benchmark::State& state, TAoPath path) {
    const TPathScope scope(state, path);
    if (!scope.ok) return;
    const TShadedPoints& shaded = ShadedPoints();
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    std::size_t next = 0;
    for (auto _ : state) {
        TVec3 colour;
        benchmark::DoNotOptimize(test.AmbientOcclusion(shaded.points[next], shaded.normals[next], colour, 0));
        benchmark::ClobberMemory();
        if (++next == shaded.points.size()) next = 0;
    }
    SetRayRate(state, state.iterations() * kRaysPerShadedPoint);
}

// The occlusion kernel alone: the picture's shaded points' queries, built
// beforehand, counted in turn. Against BM_RenderSingleThread it gives the
// share of the render spent outside the kernel.
void BM_CountOccluded(benchmark::State& state, TAoPath path) {
    const TPathScope scope(state, path);
    if (!scope.ok) return;
    const TShadedPoints& shaded = ShadedPoints();
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    std::vector<TOcclusionQuery> queries;
    queries.reserve(shaded.points.size());
    for (std::size_t i = 0; i < shaded.points.size(); ++i) {
        queries.push_back(MakeShadedPointQuery(test.plane, test.spheres, shaded.points[i], shaded.normals[i],
                                               static_cast<std::uint32_t>(kRaysPerShadedPoint)));
    }
    std::uint64_t generator = test.rngStates[0];
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CountOccludedRays(queries[next], generator));
        if (++next == queries.size()) next = 0;
    }
    SetRayRate(state, state.iterations() * kRaysPerShadedPoint);
}

void BM_RenderRow(benchmark::State& state, TAoPath path) {
    const TPathScope scope(state, path);
    if (!scope.ok) return;
    const TShadedPoints& shaded = ShadedPoints();
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    KavV33D::TBitmap bitmap;
    bitmap.Create(kSize, kSize, 32);
    // Every row in turn, so that the rate is the picture's average.
    int row = 0;
    std::int64_t rays = 0;
    for (auto _ : state) {
        test.RenderRow(row, &bitmap,
                       reinterpret_cast<std::uint32_t*>(bitmap.GetBits() + row * bitmap.GetPitch()), 0);
        rays += shaded.perRow[row] * kRaysPerShadedPoint;
        row = (row + 1) % kSize;
    }
    SetRayRate(state, rays);
}

// The whole 256 x 256 picture through `render`, RenderSingleThread or
// RenderMultiThread. Which slot shades which row varies on the pool, but the
// number of shaded points, and so of rays, does not.
void BM_RenderPicture(benchmark::State& state, TAoPath path,
                      void (TTest3DLoop_AmbOccTest_AO::*render)(KavV33D::TVBitmap*)) {
    const TPathScope scope(state, path);
    if (!scope.ok) return;
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    KavV33D::TBitmap bitmap;
    bitmap.Create(kSize, kSize, 32);
    for (auto _ : state) {
        (test.*render)(&bitmap);
        benchmark::ClobberMemory();
    }
    SetRayRate(state, state.iterations() * PictureRays());
}

void BM_WriteBmp(benchmark::State& state) {
    TTest3DLoop_AmbOccTest_AO test;
    test.Setup();
    KavV33D::TBitmap bitmap;
    bitmap.Create(kSize, kSize, 32);
    test.RenderSingleThread(&bitmap);
    const std::string file = (std::filesystem::temp_directory_path() / "aobench_bench.bmp").string();
    for (auto _ : state) {
        if (bitmap.SaveBmp(file.c_str()) == 0) {
            state.SkipWithError("cannot write the BMP file");
            break;
        }
    }
    std::filesystem::remove(file);
    state.SetBytesProcessed(state.iterations() * (54 + kSize * kSize * 3));
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// A chain of dependent one-cycle additions: the "GHz" counter is the clock
// the core actually runs at, which turns times into cycles.
void BM_CoreClock(benchmark::State& state) {
    constexpr std::int64_t kAdds = 1 << 20;
    for (auto _ : state) {
        std::uint64_t x = 0;
        for (std::int64_t i = 0; i < kAdds; i += 8) {
            asm volatile(
                "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
                "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0"
                : "+r"(x));
        }
        benchmark::DoNotOptimize(x);
    }
    state.counters["GHz"] = benchmark::Counter(static_cast<double>(state.iterations() * kAdds) * 1e-9,
                                               benchmark::Counter::kIsRate);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    benchmark::RegisterBenchmark("BM_CoreClock", BM_CoreClock);
#endif
    benchmark::RegisterBenchmark("BM_NextRandom", BM_NextRandom);
    for (TAoPath path : AoPaths()) {
        if (!AoPathSupported(path)) continue;
        const std::string name = AoPathName(path);
        benchmark::RegisterBenchmark(("BM_AmbientOcclusion/" + name).c_str(), BM_AmbientOcclusion, path);
        benchmark::RegisterBenchmark(("BM_CountOccluded/" + name).c_str(), BM_CountOccluded, path);
        benchmark::RegisterBenchmark(("BM_RenderRow/" + name).c_str(), BM_RenderRow, path);
        benchmark::RegisterBenchmark(("BM_RenderSingleThread/" + name).c_str(), BM_RenderPicture, path,
                                     &TTest3DLoop_AmbOccTest_AO::RenderSingleThread)
            ->Unit(benchmark::kMillisecond);
        // Wall time for the rate; the CPU column is that of the whole process,
        // all workers together.
        benchmark::RegisterBenchmark(("BM_RenderMultiThread/" + name).c_str(), BM_RenderPicture, path,
                                     &TTest3DLoop_AmbOccTest_AO::RenderMultiThread)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("BM_WriteBmp", BM_WriteBmp)->Unit(benchmark::kMicrosecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
