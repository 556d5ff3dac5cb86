// Whole frames through the stand-in host against the floor the host's
// contract sets (one pixel-function call per output pixel), on one thread and
// on every core, at 1080p and 2160p.
#include "host.h"
#include "render/render.h"
#include "thread_pool.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// The frames a host hands over: kPairs input/output pairs taken in turn, so
// every render meets buffers that are not in the cache.
constexpr int kPairs = 8;
const HostPixel kGreyPlate = {255, 128, 128, 128};
const HostPixel kTextColour = {0, 0xFF, 0xCC, 0x00}; // #FFCC00

struct Frames {
    std::vector<corvane::World> inputs, outputs;
    size_t next = 0;
    explicit Frames(int32_t height)
    {
        const int32_t width = height * 16 / 9;
        for (int i = 0; i < kPairs; ++i) {
            inputs.emplace_back(width, height, kGreyPlate);
            outputs.emplace_back(width, height);
        }
    }
    std::pair<corvane::World *, corvane::World *> take()
    {
        const size_t i = next++ % kPairs;
        return {&inputs[i], &outputs[i]};
    }
};

Frames &FramesOf(int32_t height)
{
    static std::map<int32_t, std::unique_ptr<Frames>> frames;
    auto &f = frames[height];
    if (!f)
        f = std::make_unique<Frames>(height);
    return *f;
}

// Three centred lines of 72-point DejaVu Sans, composited.
struct Effect {
    corvane::Host host{QM_MODULE_PATH};
    corvane::Instance *instance = nullptr;

    Effect()
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

Effect &TheEffect()
{
    static Effect effect;
    return effect;
}

int32_t CopyPixel(void *, int32_t, int32_t, HostPixel *src, HostPixel *dst)
{
    *dst = *src;
    return 0;
}

// The least a frame can cost: the final pass's iterate over the whole output,
// with a pixel function that does no more than copy.
int32_t FloorPass(corvane::Host &host, corvane::World &input, corvane::World &output)
{
    HostInData &in = host.in();
    return in.utils->iterate(&in, 0, input.height(), &input.record(), nullptr, nullptr, CopyPixel, &output.record());
}

void BM_Floor(benchmark::State &state)
{
    Effect &e = TheEffect();
    e.host.setThreads(static_cast<int32_t>(state.range(1)));
    Frames &frames = FramesOf(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        auto [input, output] = frames.take();
        if (FloorPass(e.host, *input, *output) != 0) {
            state.SkipWithError("iterate failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * frames.inputs[0].width() * frames.inputs[0].height());
}

// The three lines, centred and composited, in draft (0) or high quality (1).
corvane::RenderSettings FrameSettings(Effect &e, const Frames &frames, int32_t quality)
{
    corvane::RenderSettings s = e.host.defaultSettings();
    s.size = 72;
    s.x = (frames.inputs[0].width() / 2) << 16;
    s.y = (frames.inputs[0].height() / 2) << 16;
    s.colour = kTextColour;
    s.composite = true;
    s.quality = quality;
    return s;
}

// Each iteration times a floor pass and then a frame, on the next pairs, so
// the ratio `per_floor` compares the two under the same load however the
// machine's speed drifts during the run.
void BM_Frame(benchmark::State &state)
{
    Effect &e = TheEffect();
    e.host.setThreads(static_cast<int32_t>(state.range(2)));
    Frames &frames = FramesOf(static_cast<int32_t>(state.range(1)));
    const corvane::RenderSettings s = FrameSettings(e, frames, static_cast<int32_t>(state.range(0)));
    using Clock = std::chrono::steady_clock;
    Clock::duration floor{}, frame{};
    for (auto _ : state) {
        auto [floorIn, floorOut] = frames.take();
        const Clock::time_point t0 = Clock::now();
        const int32_t floorErr = FloorPass(e.host, *floorIn, *floorOut);
        const Clock::time_point t1 = Clock::now();
        auto [input, output] = frames.take();
        const int32_t err = e.instance->render(s, *input, *output);
        const Clock::time_point t2 = Clock::now();
        if (floorErr != 0 || err != 0) {
            state.SkipWithError("render failed");
            break;
        }
        floor += t1 - t0;
        frame += t2 - t1;
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["per_floor"] = floor.count() > 0 ? static_cast<double>(frame.count()) / floor.count() : 0.0;
    state.SetItemsProcessed(state.iterations() * frames.inputs[0].width() * frames.inputs[0].height());
}

// One thread, and every core.
const int64_t kAllThreads = corvane::machineThreads();

// High-quality frames on one thread and on every core in turn, timed as
// pairs like the floor above, so the speed-up compares the two under the
// same load; the row's time is the frame on every core.
void BM_Threads(benchmark::State &state)
{
    Effect &e = TheEffect();
    Frames &frames = FramesOf(static_cast<int32_t>(state.range(0)));
    const corvane::RenderSettings s = FrameSettings(e, frames, 1);
    using Clock = std::chrono::steady_clock;
    Clock::duration one{}, all{};
    bool oneFirst = true;
    for (auto _ : state) {
        Clock::duration took[2]{};
        for (const bool single : {oneFirst, !oneFirst}) {
            e.host.setThreads(single ? 1 : static_cast<int32_t>(kAllThreads));
            auto [input, output] = frames.take();
            const Clock::time_point t0 = Clock::now();
            if (e.instance->render(s, *input, *output) != 0) {
                state.SkipWithError("render failed");
                return;
            }
            took[single] = Clock::now() - t0;
        }
        oneFirst = !oneFirst;
        one += took[1];
        all += took[0];
        state.SetIterationTime(std::chrono::duration<double>(took[0]).count());
    }
    state.counters["speedup"] = all.count() > 0 ? static_cast<double>(one.count()) / all.count() : 0.0;
}

BENCHMARK(BM_Floor)
    ->ArgNames({"height", "threads"})
    ->ArgsProduct({{1080, 2160}, {1, kAllThreads}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame)
    ->ArgNames({"hq", "height", "threads"})
    ->ArgsProduct({{0, 1}, {1080, 2160}, {1, kAllThreads}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threads)->ArgNames({"height"})->Arg(1080)->UseManualTime()->Unit(benchmark::kMillisecond);

// Keeps each row's real and CPU time (the medians when repeated) for the
// summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double real = 0, paired = 0; // `per_floor` or `speedup`
    };
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.error_occurred)
                continue;
            Times t{r.GetAdjustedRealTime()};
            for (const char *name : {"per_floor", "speedup"})
                if (const auto c = r.counters.find(name); c != r.counters.end())
                    t.paired = c->second.value;
            if (r.run_type == Run::RT_Iteration)
                single_.emplace(r.run_name.str(), t);
            else if (r.aggregate_name == "median")
                median_[r.run_name.str()] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const Times *find(const std::string &name) const
    {
        for (const auto *m : {&median_, &single_})
            if (auto it = m->find(name); it != m->end())
                return &it->second;
        return nullptr;
    }

private:
    std::map<std::string, Times> median_, single_;
};

std::string Frame(int hq, int height, int64_t threads)
{
    return "BM_Frame/hq:" + std::to_string(hq) + "/height:" + std::to_string(height) +
           "/threads:" + std::to_string(threads) + "/manual_time";
}

// What the targets compare: frames against the floor timed beside them,
// one thread against every core beside it, and 2160p against 1080p.
void PrintSummary(const SummaryReporter &r)
{
    const auto print = [](const std::string &what, double v) { std::printf("  %-52s %6.2f\n", what.c_str(), v); };
    const auto paired = [&](const std::string &what, const std::string &a) {
        if (const SummaryReporter::Times *x = r.find(a); x && x->paired > 0)
            print(what, x->paired);
    };
    const auto ratio = [&](const std::string &what, const std::string &a, const std::string &b) {
        const SummaryReporter::Times *x = r.find(a), *y = r.find(b);
        if (x && y && y->real > 0)
            print(what, x->real / y->real);
    };
    std::printf("\nSummary (medians when repeated):\n");
    const std::string all = std::to_string(kAllThreads) + " threads";
    paired("draft 1080p / floor, 1 thread", Frame(0, 1080, 1));
    paired("high quality 1080p / floor, 1 thread", Frame(1, 1080, 1));
    paired("draft 1080p / floor, " + all, Frame(0, 1080, kAllThreads));
    paired("high quality 1080p / floor, " + all, Frame(1, 1080, kAllThreads));
    paired("high quality 1080p, 1 thread / " + all + ", paired", "BM_Threads/height:1080/manual_time");
    ratio("high quality 2160p / 1080p, 1 thread", Frame(1, 2160, 1), Frame(1, 1080, 1));
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
