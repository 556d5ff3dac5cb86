// A scripted host for unit tests of the render command: its services record
// what they are asked, can be told to fail or cancel, and keep world counts.
// The effect reference handed to the module is the FakeHost itself.
#pragma once

#include "entry/module.h"

#include <array>
#include <map>
#include <string>
#include <vector>

struct FakeWorld {
    std::vector<HostPixel> pixels;
    EffectWorld record{};

    FakeWorld(int32_t width, int32_t height, HostPixel fill = {0, 0, 0, 0});
    HostPixel &at(int32_t x, int32_t y) { return record.data[y * record.width + x]; }
};

class FakeHost {
public:
    enum Service { NewWorld, GetWorldPort, DisposeWorld, CopyWorld, FillWorld, Iterate, SampleAt, kServices };

    struct IterateCall {
        int32_t base, final;
        bool whole; // null area
        QdRect area;
        bool hasSource;
    };
    struct NewWorldCall {
        int32_t width, height, flags;
    };

    FakeHost(int32_t width = 640, int32_t height = 480);
    ~FakeHost();
    FakeHost(const FakeHost &) = delete;
    FakeHost &operator=(const FakeHost &) = delete;

    // Parameters and record for the next render.
    void setText(const std::string &text, uint16_t alignment = kAlignLeft, uint16_t style = 0);
    void setParams(int32_t size, Fixed x, Fixed y, HostPixel colour, bool composite);
    int32_t render(int32_t quality);

    // The service's nth call from now fails with `error`.
    void failAt(Service s, int32_t n, int32_t error = -108) { failAt_[s] = {calls_[s] + n, error}; }
    void cancelAtCheck(int32_t n, int32_t value = 1) { cancelAt_ = n, cancelValue_ = value; }
    int32_t calls(Service s) const { return calls_[s]; }

    HostInData in{};
    HostOutData out{};
    TextSettings settings{};
    FakeWorld input;
    FakeWorld output;
    std::array<ParamDef, 5> paramDefs{};
    std::array<ParamDef *, 5> params{};
    std::array<uint8_t, 256> drawGlobals{}; // the erase pattern (byte 118) is all 0: background

    std::vector<IterateCall> iterates;
    std::vector<NewWorldCall> newWorlds;
    std::vector<QdRect> copyTargets; // destination rectangle of each copyWorld (whole world: all -1)
    std::vector<std::pair<Fixed, Fixed>> samples;
    int32_t liveWorlds = 0;
    int32_t livePorts = 0;
    int32_t checks = 0;

private:
    static FakeHost &of(EffectRef ref) { return *reinterpret_cast<FakeHost *>(ref); }
    bool fails(Service s, int32_t *error);

    static int32_t CheckAbort(EffectRef ref);
    static const char *GetString(StringTableRef table, int32_t index);
    static void CopyString(char *dst, const char *src);
    static int32_t SampleAtFn(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out);
    static int32_t CopyWorldFn(EffectRef ref, EffectWorld *src, EffectWorld *dst, const QdRect *srcRect,
                               const QdRect *dstRect);
    static int32_t FillWorldFn(EffectRef ref, const HostPixel *colour, const QdRect *rect, EffectWorld *world);
    static int32_t IterateFn(HostInData *in, int32_t base, int32_t final, EffectWorld *src, const QdRect *area,
                             void *refcon, PixelFunc fn, EffectWorld *dst);
    static int32_t NewWorldFn(EffectRef ref, int32_t width, int32_t height, int32_t flags, EffectWorld *out);
    static int32_t GetWorldPortFn(EffectRef ref, EffectWorld *world, void **port, void **device);
    static int32_t DisposeWorldFn(EffectRef ref, EffectWorld *world);

    HostUtilTable utils_{};
    StringTableRef table_ = 0x5151;
    char *globalBlock_;
    char *settingsBlock_;
    std::map<const EffectWorld *, std::vector<HostPixel>> temps_;
    std::map<const EffectWorld *, void *> ports_;
    std::array<std::pair<int32_t, int32_t>, kServices> failAt_{};
    std::array<int32_t, kServices> calls_{};
    int32_t cancelAt_ = 0, cancelValue_ = 0;
};
