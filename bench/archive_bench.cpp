// Benchmarks of loading archives that hold many objects: 1,000 to 100,000
// trees (one root and its children) in the text and the binary coding. The
// time per object ("per_object", in seconds) should stay flat as the count
// grows: every object costs the same whatever the archive already holds.

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/sl/archive.h"
#include "base/sl/object_graph.h"
#include "base/stream/memory_stream.h"
#include "base/util/tree.h"

namespace {

using namespace KavV3Base;

// The bytes of a saved tree with `children` children, each without children.
std::vector<unsigned char> SavedTree(std::int64_t children, std::int32_t coding) {
    TTree root;
    for (std::int64_t i = 0; i < children; ++i) root.AddChild(new TTree);
    TMemoryStream stream;
    TSLArchive archive(&stream, coding);
    TKavSLRoot* top = &root;
    if (!SLSaveObject(archive, &top)) return {};
    return stream.Bytes();
}

void BM_LoadTree(benchmark::State& state, std::int32_t coding) {
    const std::int64_t children = state.range(0);
    const std::vector<unsigned char> bytes = SavedTree(children, coding);
    if (bytes.empty()) {
        state.SkipWithError("the tree did not save");
        return;
    }
    for (auto _ : state) {
        TMemoryStream in(bytes);
        TSLArchive archive(&in, coding);
        TTree* loaded = nullptr;
        if (!SLLoadObject(archive, &loaded)) {
            state.SkipWithError("the tree did not load");
            return;
        }
        benchmark::DoNotOptimize(loaded);
        state.PauseTiming();
        delete loaded;
        state.ResumeTiming();
    }
    const auto objects = static_cast<double>(children + 1);
    state.SetItemsProcessed(state.iterations() * (children + 1));
    state.counters["per_object"] = benchmark::Counter(
        objects, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoadTreeText(benchmark::State& state) { BM_LoadTree(state, TSLArchive::CodingText); }
void BM_LoadTreeBinary(benchmark::State& state) { BM_LoadTree(state, TSLArchive::CodingBinary); }

BENCHMARK(BM_LoadTreeText)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTreeBinary)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
