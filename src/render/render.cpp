#include "render/render.h"

#include <algorithm>

namespace {

int16_t Clamp16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

Fixed Clamp32(int64_t v)
{
    return static_cast<Fixed>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

QdRect MakeQdRect(int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    QdRect r;
    r.top = Clamp16(top);
    r.left = Clamp16(left);
    r.bottom = Clamp16(bottom);
    r.right = Clamp16(right);
    return r;
}

// What one render works with, read once from the host's records.
struct RenderJob {
    HostInData *in;
    HostOutData *out;
    EffectWorld *output;
    const TextSettings *settings; // locked for the job's whole life
    int16_t pointSize;            // at the current resolution
    QdRect block1x;
    QdRect block4x;
    int16_t rightAllowance;
    Fixed px, py;
    int32_t progressBase;
    int32_t progressFinal;
};

void Report(const RenderJob &job, int32_t index)
{
    ReportMessage(job.in, job.out, GetStringTableRef(job.in), index);
}

// The drawing failed: the library's error goes back with the out-of-memory text.
void ReportDrawingFailure(const RenderJob &job)
{
    Report(job, kStrNoMemory);
    job.out->outFlags = kErrorMessageFlags;
}

int32_t RenderDraft(RenderJob &job)
{
    DraftPlacement place;
    if (!PlaceDraftBlock(&job.block1x, job.rightAllowance, job.px, job.py, job.settings->alignment,
                         job.output->width, job.output->height, &place))
        return 0;
    const int32_t width = place.section.right - place.section.left;
    const int32_t height = place.section.bottom - place.section.top;
    if (width <= 0) // only a negative allowance can do this: nothing to draw
        return 0;

    HostUtilTable *utils = job.in->utils;
    const EffectRef ref = job.in->effectRef;
    EffectWorld temp{};
    int32_t err = utils->newWorld(ref, width, height, 1, &temp); // pixels start at zero
    if (err != 0) {
        Report(job, kStrNoTextBuffer);
        return err;
    }

    void *port = nullptr;
    void *device = nullptr;
    err = utils->getWorldPort(ref, &temp, &port, &device);
    if (err == 0 && !port)
        err = memFullErr;
    if (err != 0) {
        // Without a port there is nowhere to draw: as short of a buffer as newWorld failing.
        Report(job, kStrNoTextBuffer);
    } else {
        err = DrawTextBlock(job.in->drawGlobals, job.settings, job.pointSize, nullptr, &place.block,
                            static_cast<GWorldPtr>(port), static_cast<GDHandle>(device));
        if (err != 0)
            ReportDrawingFailure(job);
        else
            err = utils->copyWorld(ref, &temp, job.output, nullptr, &place.section);
    }

    const int32_t released = utils->disposeWorld(ref, &temp);
    return err != 0 ? err : released;
}

int32_t RenderHighQuality(RenderJob &job)
{
    HighQualityPlacement place;
    if (!PlaceHighQualityBlock(&job.block4x, job.rightAllowance, job.px, job.py, job.settings->alignment,
                               &job.output->extent, &place))
        return 0;
    const int32_t width = place.sectionQd.right - place.sectionQd.left;
    const int32_t height = place.sectionQd.bottom - place.sectionQd.top;
    if (width <= 0 || height <= 0)
        return 0;
    if (width > kMaxHighQualitySection || height > kMaxHighQualitySection) {
        // Four times this would not fit the offscreen's 16-bit bounds.
        Report(job, kStrNoTextBuffer);
        return memFullErr;
    }

    HostUtilTable *utils = job.in->utils;
    const EffectRef ref = job.in->effectRef;
    EffectWorld temp{};
    int32_t err = utils->newWorld(ref, width, height, 0, &temp);
    if (err != 0) {
        Report(job, kStrNoTextBuffer);
        return err;
    }

    const QdRect bounds = MakeQdRect(0, 0, width * 4, height * 4);
    GWorldPtr offscreen = nullptr;
    err = NewGWorld(&offscreen, 1, &bounds, nullptr, nullptr, 8);
    if (err == 0 && !offscreen)
        err = memFullErr;
    if (err != 0) {
        Report(job, kStrNoTextBuffer);
    } else {
        PixMapHandle pixels = offscreen->portPixMap;
        LockPixels(pixels);
        // Offscreen cell (i, j) is then the block's pixel (section left + i, section top + j).
        const int32_t dh = -4 * place.sectionQd.left;
        const int32_t dv = -4 * place.sectionQd.top;
        const QdRect drawing = MakeQdRect(job.block4x.left + dh, job.block4x.top + dv, job.block4x.right + dh,
                                          job.block4x.bottom + dv);
        err = DrawTextBlock(job.in->drawGlobals, job.settings, static_cast<int16_t>(job.pointSize * 4), &bounds,
                            &drawing, offscreen, nullptr);
        if (err != 0) {
            ReportDrawingFailure(job);
        } else {
            const PixMap *map = *pixels;
            err = ReduceCoverage(reinterpret_cast<const uint8_t *>(map->baseAddr), bounds.right - bounds.left,
                                 bounds.bottom - bounds.top, map->rowBytes & 0x3FFF, temp.data, temp.rowBytes,
                                 job.in);
        }
        DisposeGWorld(offscreen);

        if (err == 0) {
            job.progressBase = place.areaQd.bottom - place.areaQd.top;
            // Progress is 16-bit to the host: stop at its top rather than wrap.
            job.progressFinal = Clamp16(static_cast<int64_t>(job.progressFinal) + job.progressBase);
            err = TransferCoverage(job.in, place.x0, place.y0, 0, job.progressFinal, &temp, job.output,
                                   &place.areaQd);
        }
    }

    const int32_t released = utils->disposeWorld(ref, &temp);
    return err != 0 ? err : released;
}

// Steps that run with the settings record locked.
int32_t RenderLocked(RenderJob &job, ParamDef **params)
{
    HostInData *in = job.in;
    int16_t fontNumber = 0;
    GetFNum(job.settings->fontName, &fontNumber);
    int32_t err = MeasureTextExtents(fontNumber, job.pointSize, static_cast<int16_t>(job.settings->style),
                                     job.settings->text, &job.block1x, &job.block4x, &job.rightAllowance);
    if (err != 0)
        return err;
    err = in->checkAbort(in->effectRef);
    if (err != 0)
        return err;

    err = in->quality == 0 ? RenderDraft(job) : RenderHighQuality(job);
    if (err != 0)
        return err;
    err = in->checkAbort(in->effectRef);
    if (err != 0)
        return err;

    BlendRefcon blend{};
    blend.colour = params[3]->u.color.value;
    blend.composite = params[4]->u.checkbox.value != 0 ? 1 : 0;
    return in->utils->iterate(in, job.progressBase, job.progressFinal, &params[0]->u.layer, nullptr, &blend,
                              BlendPixel, job.output);
}

} // namespace

int32_t ScalePointSize(int16_t size, const HostInData *in, int16_t *scaled)
{
    // The host is not supposed to send a zero denominator; if one comes, say so
    // rather than divide by it.
    if (in->downsampleXDen == 0 || in->downsampleYDen == 0)
        return paramErr;
    const double ratio = (static_cast<double>(in->downsampleXNum) / in->downsampleXDen +
                          static_cast<double>(in->downsampleYNum) / in->downsampleYDen) *
                         0.5;
    // |size * ratio| <= 2^15 * 2^31, so the 64-bit truncation is always defined;
    // the low 16 bits are the size.
    const int64_t whole = static_cast<int64_t>(size * ratio);
    *scaled = static_cast<int16_t>(whole);
    return 0;
}

bool PlaceDraftBlock(const QdRect *blockRect1x, int16_t rightAllowance, Fixed px, Fixed py, uint16_t alignment,
                     int32_t outputWidth, int32_t outputHeight, DraftPlacement *placement)
{
    // 64 bits throughout: a block near the ends of the coordinate range must not wrap.
    const int64_t l = blockRect1x->left, t = blockRect1x->top, r = blockRect1x->right, b = blockRect1x->bottom;
    const int64_t x = px, y = py;
    // Middle, left or right edge on the position, to the nearest pixel; halves go up.
    const int64_t dv = (y + (t - b + 1) * 32768) >> 16;
    int64_t dh;
    if (alignment == kAlignLeft)
        dh = (x + 32768) >> 16;
    else if (alignment == kAlignCenter)
        dh = (x + (l - r + 1) * 32768) >> 16;
    else
        dh = (x - r * 65536 + 32768) >> 16;
    const int64_t left = l + dh, top = t + dv, right = r + dh, bottom = b + dv;

    // The clip bounds are a QdRect: the output, as far as 16-bit edges reach.
    const int64_t width = std::clamp<int64_t>(outputWidth, 0, INT16_MAX);
    const int64_t height = std::clamp<int64_t>(outputHeight, 0, INT16_MAX);
    const int64_t sl = std::max<int64_t>(left, 0), st = std::max<int64_t>(top, 0);
    const int64_t sr = std::min(right, width), sb = std::min(bottom, height);
    if (sr <= sl || sb <= st)
        return false;

    placement->block = MakeQdRect(left - sl, top - st, right - sl, bottom - st);
    // Widened after clipping, so it may reach past the output; the host clips.
    placement->section = MakeQdRect(sl, st, sr + rightAllowance, sb);
    return true;
}

bool PlaceHighQualityBlock(const QdRect *blockRect4x, int16_t rightAllowance, Fixed px, Fixed py,
                           uint16_t alignment, const QdRect *extent, HighQualityPlacement *placement)
{
    // The 4x block is a whole number of output pixels in 16.16.
    FixedRect block;
    QdToFixedRect(blockRect4x, &block);
    block.right /= 4;
    block.bottom /= 4;

    // Placed without rounding, in 64 bits: near the ends of the 16.16 range
    // the block may reach past it.
    int64_t dh = px;
    if (alignment == kAlignCenter)
        dh = px - ((static_cast<int64_t>(block.right) - block.left) >> 1);
    else if (alignment != kAlignLeft)
        dh = static_cast<int64_t>(px) - block.right;
    const int64_t dv = py - ((static_cast<int64_t>(block.bottom) - block.top) >> 1);
    const int64_t left = block.left + dh, top = block.top + dv;
    const int64_t right = block.right + dh, bottom = block.bottom + dv;

    // The extent lies inside the 16.16 range, so clipping the clamped block
    // gives the exact section whenever there is one.
    const FixedRect placed = {Clamp32(left), Clamp32(top), Clamp32(right), Clamp32(bottom)};
    FixedRect clip;
    QdToFixedRect(extent, &clip);
    FixedRect section;
    if (!SectFixedRect(&placed, &clip, &section))
        return false;

    // Relative to the block, the section is within the block's own size.
    const FixedRect relative = {static_cast<Fixed>(section.left - left), static_cast<Fixed>(section.top - top),
                                static_cast<Fixed>(section.right - left), static_cast<Fixed>(section.bottom - top)};
    FixedToQdRect(&relative, &placement->sectionQd);
    placement->sectionQd.right = Clamp16(static_cast<int64_t>(placement->sectionQd.right) + rightAllowance);

    FixedRect area;
    QdToFixedRect(&placement->sectionQd, &area);
    const int64_t areaLeft = left + area.left, areaTop = top + area.top;
    const int64_t areaRight = left + area.right, areaBottom = top + area.bottom;
    // Kept modulo 2^32: the sampler's two's-complement sums bring every
    // position inside the area back to its exact value.
    placement->x0 = static_cast<Fixed>(-areaLeft);
    placement->y0 = static_cast<Fixed>(-areaTop);
    // Outward to whole output pixels.
    placement->areaQd = MakeQdRect(areaLeft >> 16, areaTop >> 16, (areaRight + 65535) >> 16, (areaBottom + 65535) >> 16);
    return true;
}

extern "C" int32_t CmdRenderHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    const Handle handle = in->sequenceData;
    if (!handle || !*handle || reinterpret_cast<const TextSettings *>(*handle)->magic != kSettingsMagic) {
        ReportMessage(in, out, GetStringTableRef(in), kStrDamaged);
        out->outFlags = kErrorMessageFlags;
        return kErrSettingsDamaged;
    }

    HostUtilTable *utils = in->utils;
    EffectWorld *layer = &params[0]->u.layer;
    const int16_t size = static_cast<int16_t>(params[1]->u.slider.value);
    const bool composite = params[4]->u.checkbox.value != 0;

    int32_t err;
    if (size == 0 && composite) {
        err = utils->copyWorld(in->effectRef, layer, output, nullptr, nullptr);
    } else {
        const HostPixel clear = {0, 0, 0, 0};
        err = utils->fillWorld(in->effectRef, &clear, nullptr, output);
    }
    if (err != 0 || size < 1)
        return err;

    RenderJob job{};
    job.in = in;
    job.out = out;
    job.output = output;
    job.px = params[2]->u.point.x;
    job.py = params[2]->u.point.y;
    job.progressBase = 0;
    job.progressFinal = static_cast<int16_t>(layer->height);
    if (ScalePointSize(size, in, &job.pointSize) != 0) {
        utils->copyString(out->returnMessage, "Quillomark cannot render at the host's resolution.");
        out->outFlags = kErrorMessageFlags;
        return paramErr;
    }

    HLock(handle);
    job.settings = reinterpret_cast<const TextSettings *>(*handle);
    err = RenderLocked(job, params);
    HUnlock(handle);
    return err;
}
