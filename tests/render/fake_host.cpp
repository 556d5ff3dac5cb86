#include "fake_host.h"
#include "fake_porting.h"

#include <algorithm>
#include <cstring>

using namespace qmtest;

FakeWorld::FakeWorld(int32_t width, int32_t height, HostPixel fill)
    : pixels(static_cast<size_t>(width) * static_cast<size_t>(height), fill)
{
    record.data = pixels.data();
    record.rowBytes = width * 4;
    record.width = width;
    record.height = height;
    record.extent = QdRect{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
}

namespace {

HostPixel *PixelAt(EffectWorld *w, int32_t x, int32_t y)
{
    return reinterpret_cast<HostPixel *>(reinterpret_cast<uint8_t *>(w->data) + y * w->rowBytes) + x;
}

QdRect Whole(const EffectWorld *w)
{
    return QdRect{0, 0, static_cast<int16_t>(w->height), static_cast<int16_t>(w->width)};
}

} // namespace

FakeHost::FakeHost(int32_t width, int32_t height) : input(width, height), output(width, height)
{
    utils_.sampleAt = SampleAtFn;
    utils_.copyWorld = CopyWorldFn;
    utils_.fillWorld = FillWorldFn;
    utils_.iterate = IterateFn;
    utils_.newWorld = NewWorldFn;
    utils_.getWorldPort = GetWorldPortFn;
    utils_.disposeWorld = DisposeWorldFn;
    utils_.copyString = CopyString;
    in.utils = &utils_;
    in.effectRef = reinterpret_cast<EffectRef>(this);
    in.checkAbort = CheckAbort;
    in.getString = GetString;
    in.drawGlobals = drawGlobals.data();
    in.downsampleXNum = in.downsampleYNum = 1;
    in.downsampleXDen = in.downsampleYDen = 1;
    globalBlock_ = reinterpret_cast<char *>(&table_);
    in.globalData = &globalBlock_;
    settingsBlock_ = reinterpret_cast<char *>(&settings);
    in.sequenceData = &settingsBlock_;

    settings.magic = kSettingsMagic;
    settings.version = kSettingsVersion;
    const char font[] = "Geneva";
    settings.fontName[0] = sizeof font - 1;
    std::memcpy(settings.fontName + 1, font, sizeof font - 1);

    for (size_t i = 0; i < params.size(); ++i)
        params[i] = &paramDefs[i];
    paramDefs[0].u.layer = input.record;
    setParams(36, 100 << 16, 50 << 16, HostPixel{0, 255, 0, 0}, false);
}

FakeHost::~FakeHost()
{
    for (auto &p : ports_)
        fake::disposeDeepPort(static_cast<GWorldPtr>(p.second));
}

void FakeHost::setText(const std::string &text, uint16_t alignment, uint16_t style)
{
    std::memset(settings.text, 0, sizeof settings.text);
    std::memcpy(settings.text, text.data(), std::min(text.size(), sizeof settings.text));
    settings.alignment = alignment;
    settings.style = style;
}

void FakeHost::setParams(int32_t size, Fixed x, Fixed y, HostPixel colour, bool composite)
{
    paramDefs[1].u.slider.value = size;
    paramDefs[2].u.point.x = x;
    paramDefs[2].u.point.y = y;
    paramDefs[3].u.color.value = colour;
    paramDefs[4].u.checkbox.value = composite ? 1 : 0;
}

int32_t FakeHost::render(int32_t quality)
{
    in.quality = quality;
    return CmdRenderHandler(&in, &out, params.data(), &output.record);
}

bool FakeHost::fails(Service s, int32_t *error)
{
    ++calls_[s];
    if (failAt_[s].first != 0 && calls_[s] == failAt_[s].first) {
        *error = failAt_[s].second;
        return true;
    }
    return false;
}

int32_t FakeHost::CheckAbort(EffectRef ref)
{
    FakeHost &h = of(ref);
    ++h.checks;
    return h.cancelAt_ != 0 && h.checks >= h.cancelAt_ ? h.cancelValue_ : 0;
}

const char *FakeHost::GetString(StringTableRef table, int32_t index)
{
    return table == 0x5151 && index >= 0 && index < kStringCount ? gStringTable[index] : "";
}

void FakeHost::CopyString(char *dst, const char *src)
{
    std::strncpy(dst, src, kReturnMessageSize - 1);
    dst[kReturnMessageSize - 1] = 0;
}

int32_t FakeHost::SampleAtFn(EffectRef ref, Fixed x, Fixed y, SamplingBlock *block, HostPixel *out)
{
    FakeHost &h = of(ref);
    int32_t err = 0;
    if (h.fails(SampleAt, &err))
        return err;
    h.samples.emplace_back(x, y);
    // Bilinear between the four pixels around (x, y); outside is transparent.
    EffectWorld *w = block->src;
    const int32_t ix = x >> 16, iy = y >> 16;
    const int64_t fx = x & 0xFFFF, fy = y & 0xFFFF;
    const auto alpha = [w](int32_t px, int32_t py) -> int64_t {
        if (px < 0 || py < 0 || px >= w->width || py >= w->height)
            return 0;
        return PixelAt(w, px, py)->alpha;
    };
    const int64_t sum = alpha(ix, iy) * (65536 - fx) * (65536 - fy) + alpha(ix + 1, iy) * fx * (65536 - fy) +
                        alpha(ix, iy + 1) * (65536 - fx) * fy + alpha(ix + 1, iy + 1) * fx * fy;
    *out = HostPixel{static_cast<uint8_t>((sum + (int64_t{1} << 31)) >> 32), 0, 0, 0};
    return 0;
}

int32_t FakeHost::CopyWorldFn(EffectRef ref, EffectWorld *src, EffectWorld *dst, const QdRect *srcRect,
                              const QdRect *dstRect)
{
    FakeHost &h = of(ref);
    int32_t err = 0;
    if (h.fails(CopyWorld, &err))
        return err;
    h.copyTargets.push_back(dstRect ? *dstRect : QdRect{-1, -1, -1, -1});
    const QdRect s = srcRect ? *srcRect : Whole(src);
    const QdRect d = dstRect ? *dstRect : Whole(dst);
    const int32_t w = std::min(s.right - s.left, d.right - d.left);
    const int32_t ht = std::min(s.bottom - s.top, d.bottom - d.top);
    for (int32_t y = 0; y < ht; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t dx = d.left + x, dy = d.top + y, sx = s.left + x, sy = s.top + y;
            if (dx < 0 || dy < 0 || dx >= dst->width || dy >= dst->height || sx < 0 || sy < 0 || sx >= src->width ||
                sy >= src->height)
                continue;
            *PixelAt(dst, dx, dy) = *PixelAt(src, sx, sy);
        }
    return 0;
}

int32_t FakeHost::FillWorldFn(EffectRef ref, const HostPixel *colour, const QdRect *, EffectWorld *world)
{
    FakeHost &h = of(ref);
    int32_t err = 0;
    if (h.fails(FillWorld, &err))
        return err;
    for (int32_t y = 0; y < world->height; ++y)
        for (int32_t x = 0; x < world->width; ++x)
            *PixelAt(world, x, y) = *colour;
    return 0;
}

int32_t FakeHost::IterateFn(HostInData *in, int32_t base, int32_t final, EffectWorld *src, const QdRect *area,
                            void *refcon, PixelFunc fn, EffectWorld *dst)
{
    FakeHost &h = of(in->effectRef);
    int32_t err = 0;
    if (h.fails(Iterate, &err))
        return err;
    h.iterates.push_back(IterateCall{base, final, area == nullptr, area ? *area : Whole(dst), src != nullptr});
    const QdRect a = area ? *area : Whole(dst);
    for (int32_t y = std::max<int32_t>(a.top, 0); y < std::min<int32_t>(a.bottom, dst->height); ++y)
        for (int32_t x = std::max<int32_t>(a.left, 0); x < std::min<int32_t>(a.right, dst->width); ++x) {
            HostPixel *s = src && x < src->width && y < src->height ? PixelAt(src, x, y) : nullptr;
            err = fn(refcon, x, y, s, PixelAt(dst, x, y));
            if (err != 0)
                return err;
        }
    return 0;
}

int32_t FakeHost::NewWorldFn(EffectRef ref, int32_t width, int32_t height, int32_t flags, EffectWorld *out)
{
    FakeHost &h = of(ref);
    int32_t err = 0;
    h.newWorlds.push_back(NewWorldCall{width, height, flags});
    if (h.fails(NewWorld, &err))
        return err;
    // Without flag 1 the pixels are not promised clear: start them as noise.
    const HostPixel start = flags & 1 ? HostPixel{0, 0, 0, 0} : HostPixel{0x33, 0x44, 0x55, 0x66};
    std::vector<HostPixel> &pixels = h.temps_[out];
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), start);
    *out = EffectWorld{};
    out->data = pixels.data();
    out->rowBytes = width * 4;
    out->width = width;
    out->height = height;
    out->extent = QdRect{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
    ++h.liveWorlds;
    return 0;
}

int32_t FakeHost::GetWorldPortFn(EffectRef ref, EffectWorld *world, void **port, void **device)
{
    FakeHost &h = of(ref);
    int32_t err = 0;
    if (h.fails(GetWorldPort, &err))
        return err;
    void *&p = h.ports_[world];
    if (!p) {
        p = fake::newDeepPort(world->data, world->rowBytes, world->width, world->height);
        ++h.livePorts;
    }
    *port = p;
    *device = reinterpret_cast<void *>(0xDE51CE);
    return 0;
}

int32_t FakeHost::DisposeWorldFn(EffectRef ref, EffectWorld *world)
{
    FakeHost &h = of(ref);
    int32_t err = 0;
    const bool failed = h.fails(DisposeWorld, &err);
    // Released even when reporting an error, as a host would.
    const auto port = h.ports_.find(world);
    if (port != h.ports_.end()) {
        fake::disposeDeepPort(static_cast<GWorldPtr>(port->second));
        h.ports_.erase(port);
        --h.livePorts;
    }
    if (h.temps_.erase(world))
        --h.liveWorlds;
    return failed ? err : 0;
}
