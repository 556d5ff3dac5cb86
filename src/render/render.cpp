#include "render/render.h"

#include <algorithm>

namespace {

int16_t Clamp16(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

// An output size as a bounds edge: 0 to the largest 16-bit coordinate.
int16_t ClampEdge(int32_t v)
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, 0, INT16_MAX));
}

bool Fits16(int64_t v)
{
    return v >= INT16_MIN && v <= INT16_MAX;
}

// The allowance only ever widens: a font that reports a negative widest
// character would otherwise narrow the section, down to nothing at all, and
// visible text would silently not be drawn.
int16_t WideningOf(int16_t rightAllowance)
{
    return std::max<int16_t>(rightAllowance, 0);
}

bool FitsFixed(int64_t v)
{
    return v >= INT32_MIN && v <= INT32_MAX;
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
    if (!PlaceDraftBlock(&job.block1x, job.rightAllowance, job.px, job.py, job.settings->alignment, job.output->width,
                         job.output->height, &place))
        return 0;
    const int32_t width = place.section.right - place.section.left;
    const int32_t height = place.section.bottom - place.section.top;

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
        // The section starts inside the measured block (left and top 0), so four
        // times its corner is less than the block's 4x size: the move stays 16-bit.
        QdRect drawing = job.block4x;
        _OffsetRect(&drawing, static_cast<int16_t>(-4 * place.sectionQd.left),
                    static_cast<int16_t>(-4 * place.sectionQd.top));
        err = DrawTextBlock(job.in->drawGlobals, job.settings, static_cast<int16_t>(job.pointSize * 4), &bounds,
                            &drawing, offscreen, nullptr);
        if (err != 0) {
            ReportDrawingFailure(job);
        } else {
            const PixMap *map = *pixels;
            err = ReduceCoverage(reinterpret_cast<const uint8_t *>(map->baseAddr), bounds.right - bounds.left,
                                 bounds.bottom - bounds.top, map->rowBytes & 0x3FFF, temp.data, temp.rowBytes, job.in);
        }
        DisposeGWorld(offscreen);

        if (err == 0) {
            job.progressBase = place.areaQd.bottom - place.areaQd.top;
            // Progress is 16-bit to the host: stop at its top rather than wrap.
            job.progressFinal = Clamp16(static_cast<int64_t>(job.progressFinal) + job.progressBase);
            err = TransferCoverage(job.in, place.x0, place.y0, 0, job.progressFinal, &temp, job.output, &place.areaQd);
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
                              BlendPixelFor(&blend), job.output);
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
    // The clip bounds are a QdRect: the output, as far as 16-bit edges reach.
    QdRect bounds;
    _SetRect(&bounds, 0, 0, ClampEdge(outputWidth), ClampEdge(outputHeight));

    // Middle, left or right edge on the position, to the nearest pixel; halves go up.
    // In 64 bits: near the ends of the 16.16 range these sums leave 32 bits.
    QdRect block = *blockRect1x;
    const int64_t x = px, y = py;
    const int64_t dv = (y + (int64_t{block.top} - block.bottom + 1) * 32768) >> 16;
    int64_t dh;
    if (alignment == kAlignLeft)
        dh = (x + 32768) >> 16;
    else if (alignment == kAlignCenter)
        dh = (x + (int64_t{block.left} - block.right + 1) * 32768) >> 16;
    else
        dh = (x - int64_t{block.right} * 65536 + 32768) >> 16;

    // The library's rectangles are 16-bit and may wrap. A block whose offset or
    // near edges leave that range lies wholly outside it, so outside the bounds
    // (for a block whose left and top are 0 or more, as measured). Edges that
    // pass the range's far end are set aside before the move: the bounds end
    // inside the range, so the section is the same, and they are put back once
    // the block is in the section's coordinates.
    const int64_t left = block.left + dh, top = block.top + dv;
    const int64_t right = block.right + dh, bottom = block.bottom + dv;
    if (!Fits16(dh) || !Fits16(dv) || left > INT16_MAX || top > INT16_MAX || right < INT16_MIN || bottom < INT16_MIN)
        return false;
    const int64_t asideLeft = std::max<int64_t>(INT16_MIN - left, 0);
    const int64_t asideTop = std::max<int64_t>(INT16_MIN - top, 0);
    const int64_t asideRight = std::max<int64_t>(right - INT16_MAX, 0);
    const int64_t asideBottom = std::max<int64_t>(bottom - INT16_MAX, 0);
    block.left = static_cast<int16_t>(block.left + asideLeft);
    block.top = static_cast<int16_t>(block.top + asideTop);
    block.right = static_cast<int16_t>(block.right - asideRight);
    block.bottom = static_cast<int16_t>(block.bottom - asideBottom);

    _OffsetRect(&block, static_cast<int16_t>(dh), static_cast<int16_t>(dv));
    QdRect section;
    if (!SectRect(&block, &bounds, &section))
        return false;
    // The block in the temporary world's coordinates; the section starts inside the bounds.
    _OffsetRect(&block, static_cast<int16_t>(-section.left), static_cast<int16_t>(-section.top));
    placement->block =
        MakeQdRect(block.left - asideLeft, block.top - asideTop, block.right + asideRight, block.bottom + asideBottom);

    // Widened after clipping, so it may reach past the output; the host clips.
    section.right = Clamp16(int64_t{section.right} + WideningOf(rightAllowance));
    placement->section = section;
    return true;
}

bool PlaceHighQualityBlock(const QdRect *blockRect4x, int16_t rightAllowance, Fixed px, Fixed py, uint16_t alignment,
                           const QdRect *extent, HighQualityPlacement *placement)
{
    // The 4x block is a whole number of output pixels in 16.16.
    FixedRect block;
    QdToFixedRect(blockRect4x, &block);
    block.right /= 4;
    block.bottom /= 4;

    // Placed without rounding. In 64 bits: the position minus the block's size
    // can leave the 16.16 range.
    int64_t dh = px;
    if (alignment == kAlignCenter)
        dh = px - ((int64_t{block.right} - block.left) >> 1);
    else if (alignment != kAlignLeft)
        dh = int64_t{px} - block.right;
    const int64_t dv = py - ((int64_t{block.bottom} - block.top) >> 1);

    // The section is measured from the block's top-left corner, so those edges
    // must be 16.16 values whose negation is one too. A block that starts
    // before the range lies more than 24000 pixels left of or above every
    // world's first pixel: nothing visible. Far edges past the range's end stop
    // there in OffsetFixedRect, beyond every clip, which leaves the section alone.
    const int64_t left = block.left + dh, top = block.top + dv;
    if (!FitsFixed(dh) || !FitsFixed(dv) || left <= INT32_MIN || top <= INT32_MIN || left > INT32_MAX ||
        top > INT32_MAX)
        return false;
    OffsetFixedRect(&block, static_cast<Fixed>(dh), static_cast<Fixed>(dv));

    FixedRect clip;
    QdToFixedRect(extent, &clip);
    FixedRect section;
    if (!SectFixedRect(&block, &clip, &section))
        return false;

    // Relative to the block: within the block's own size, far inside 32 bits.
    OffsetFixedRect(&section, -block.left, -block.top);
    FixedToQdRect(&section, &placement->sectionQd);
    placement->sectionQd.right = Clamp16(int64_t{placement->sectionQd.right} + WideningOf(rightAllowance));

    FixedRect area;
    QdToFixedRect(&placement->sectionQd, &area);
    // The area's corner lies between the block's and the section's: a 16.16
    // value above the range's start, so its negation fits.
    placement->x0 = -(block.left + area.left);
    placement->y0 = -(block.top + area.top);
    // In output pixels, rounded outward; the widening may pass the range's end
    // and stops there, past every world.
    OffsetFixedRect(&area, block.left, block.top);
    FixedToQdRect(&area, &placement->areaQd);
    return true;
}

extern "C" int32_t CmdRenderHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    if (!HasGlobalBlock(in))
        return ReportNoGlobalBlock(in, out);
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
