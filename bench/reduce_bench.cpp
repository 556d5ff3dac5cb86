// Throughput of the 4x4 coverage reduction on a 1-bit source.
#include "render/render.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

int32_t NeverCancel(EffectRef)
{
    return 0;
}

void BM_ReduceCoverage(benchmark::State &state)
{
    const int32_t width = static_cast<int32_t>(state.range(0)); // output pixels
    const int32_t height = static_cast<int32_t>(state.range(1));
    const int32_t srcRowBytes = ((width * 4 + 15) / 16) * 2;
    std::vector<uint8_t> src(static_cast<size_t>(srcRowBytes) * static_cast<size_t>(height) * 4);
    std::mt19937 random(7);
    for (uint8_t &b : src)
        b = static_cast<uint8_t>(random());
    std::vector<HostPixel> dst(static_cast<size_t>(width) * static_cast<size_t>(height));
    HostInData in{};
    in.checkAbort = NeverCancel;

    for (auto _ : state) {
        ReduceCoverage(src.data(), width * 4, height * 4, srcRowBytes, dst.data(), width * 4, &in);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
    state.counters["output_px"] = width * height;
}

// A line of 72-point text at 1080p, and a full 8191-pixel-wide section.
BENCHMARK(BM_ReduceCoverage)->Args({1000, 100})->Args({1920, 300})->Args({8191, 64})->Unit(benchmark::kMicrosecond);

} // namespace
