// Whole renders through the stand-in host, and the per-pixel passes through
// the host's iterate: what one frame costs and where the time goes.
#include "host.h"
#include "render/render.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Frame {
    corvane::Host host{QM_MODULE_PATH};
    corvane::Instance *instance = nullptr;
    corvane::World input{1920, 1080, HostPixel{255, 40, 90, 160}};
    corvane::World output{1920, 1080};

    Frame()
    {
        host.globalSetup();
        host.paramSetup();
        instance = &host.newInstance();
        instance->setup();
        instance->setStoredRecord(
            corvane::record::encode({.text = "Quillomark renders\r\nthree lines of text\r\nat 72 points",
                                     .fontName = "DejaVu Sans",
                                     .alignment = kAlignCenter}));
    }
};

Frame &TheFrame()
{
    static Frame frame;
    return frame;
}

void BM_RenderFrame(benchmark::State &state)
{
    Frame &f = TheFrame();
    corvane::RenderSettings s = f.host.defaultSettings();
    s.size = 72;
    s.x = 960 << 16;
    s.y = 540 << 16;
    s.quality = static_cast<int32_t>(state.range(0));
    s.composite = state.range(1) != 0;
    for (auto _ : state) {
        const int32_t err = f.instance->render(s, f.input, f.output);
        if (err != 0) {
            state.SkipWithError("render failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}
BENCHMARK(BM_RenderFrame)
    ->ArgNames({"hq", "composite"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

int32_t NothingPixel(void *, int32_t, int32_t, HostPixel *, HostPixel *dst)
{
    dst->blue = 0;
    return 0;
}

// The colour pass alone, and the same iteration with a pixel function that
// does nothing: the difference is the module's share.
void BM_BlendPass(benchmark::State &state)
{
    Frame &f = TheFrame();
    for (int32_t y = 0; y < 1080; ++y)
        for (int32_t x = 0; x < 1920; ++x)
            f.output.row(y)[x].blue = static_cast<uint8_t>((x * 7 + y) & 0xFF);
    BlendRefcon refcon{HostPixel{0, 250, 128, 0}, static_cast<int16_t>(state.range(1))};
    const PixelFunc fn = state.range(0) ? BlendPixel : NothingPixel;
    HostInData &in = f.host.in();
    for (auto _ : state) {
        in.utils->iterate(&in, 0, 1080, &f.input.record(), nullptr, &refcon, fn, &f.output.record());
        // Coverage back into byte 3 so every pass blends the same mix.
        state.PauseTiming();
        for (int32_t y = 0; y < 1080; ++y)
            for (int32_t x = 0; x < 1920; ++x)
                f.output.row(y)[x].blue = static_cast<uint8_t>((x * 7 + y) & 0xFF);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}
BENCHMARK(BM_BlendPass)
    ->ArgNames({"blend", "composite"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace
