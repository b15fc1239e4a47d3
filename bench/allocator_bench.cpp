// Cost of one registry allocate+release while other blocks stay live: the
// registry's search and compaction are linear in the live records.
#include "core/allocator.h"

#include <benchmark/benchmark.h>
#include <vector>

static void BM_RegistryAllocateRelease(benchmark::State& state) {
    std::vector<void*> live;
    for (int64_t i = 0; i < state.range(0); ++i)
        live.push_back(ZQ::allocateZeroed(32));
    for (auto _ : state) {
        void* p = ZQ::allocateZeroed(64);
        benchmark::DoNotOptimize(p);
        ZQ::freeZeroed(p);
    }
    for (void* p : live)
        ZQ::freeZeroed(p);
    state.SetLabel(std::to_string(state.range(0)) + " live blocks");
}
BENCHMARK(BM_RegistryAllocateRelease)->Arg(0)->Arg(100)->Arg(2000);

BENCHMARK_MAIN();
