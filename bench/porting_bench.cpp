// Drawing into a 1-bit offscreen as the high-quality render does: erasing a
// world at four times a 1920 x 1080 frame, and 288-pixel text into it.
#include "corvane1_ext.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

// A 1-bit world of the given size, current while the object lives.
class BitWorld {
public:
    BitWorld(int16_t width, int16_t height)
    {
        GetGWorld(&oldPort_, &oldDevice_);
        QdRect bounds{0, 0, height, width};
        if (NewGWorld(&world_, 1, &bounds, nullptr, nullptr, 0) == noErr)
            SetGWorld(world_, nullptr);
    }
    ~BitWorld()
    {
        SetGWorld(oldPort_, oldDevice_);
        if (world_)
            DisposeGWorld(world_);
    }
    BitWorld(const BitWorld &) = delete;
    BitWorld &operator=(const BitWorld &) = delete;
    bool ok() const { return world_ != nullptr; }

private:
    GWorldPtr world_ = nullptr;
    GWorldPtr oldPort_ = nullptr;
    GDHandle oldDevice_ = nullptr;
};

const uint8_t kWhite[8] = {0, 0, 0, 0, 0, 0, 0, 0};

// Whole-world erase; range(0) shifts the rectangle off byte boundaries.
void BM_FillRect1Bit(benchmark::State &state)
{
    const int16_t w = 7680, h = 4320;
    BitWorld world(w, h);
    if (!world.ok()) {
        state.SkipWithError("no offscreen");
        return;
    }
    const int16_t inset = static_cast<int16_t>(state.range(0));
    QdRect r{inset, inset, static_cast<int16_t>(h - inset), static_cast<int16_t>(w - inset)};
    for (auto _ : state)
        _FillRect(&r, kWhite);
    state.SetItemsProcessed(state.iterations() * int64_t(r.right - r.left) * (r.bottom - r.top));
}
BENCHMARK(BM_FillRect1Bit)->ArgName("inset")->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);

// One line of large text; range(0) is the face (0 plain, 1 bold, 8 outline).
void BM_DrawText1Bit(benchmark::State &state)
{
    BitWorld world(7680, 1200);
    if (!world.ok()) {
        state.SkipWithError("no offscreen");
        return;
    }
    const char *text = "Quillomark renders";
    const int16_t len = static_cast<int16_t>(std::strlen(text));
    TextFont(0);
    TextSize(288);
    TextFace(static_cast<int16_t>(state.range(0)));
    TextMode(1);
    ForeColor(blackColor);
    BackColor(whiteColor);
    for (auto _ : state) {
        _MoveTo(101, 600);
        _DrawText(text, 0, len);
    }
    if (QDError() != noErr)
        state.SkipWithError("text did not draw");
    state.SetItemsProcessed(state.iterations() * len);
}
BENCHMARK(BM_DrawText1Bit)->ArgName("face")->Arg(0)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

} // namespace
