#include "glyph_cache.h"

#include FT_CACHE_H
#include FT_MODULE_H

#include <cstdlib>
#include <set>
#include <string>
#include <utility>

namespace corvane1 {
namespace {

// Glyph images of a few sizes of a few faces: the 4x text of a frame at
// 72 points is some hundred kilobytes.
constexpr FT_UInt kMaxFaces = 8;
constexpr FT_UInt kMaxSizes = 16;
constexpr FT_ULong kMaxBytes = 32ul << 20;

// A face as the cache names it: its file and index, kept in a set so the
// address stays put.
using FaceKey = std::pair<std::string, int32_t>;

FT_Error openFace(FTC_FaceID id, FT_Library library, FT_Pointer, FT_Face *face)
{
    const auto *key = static_cast<const FaceKey *>(id);
    return FT_New_Face(library, key->first.c_str(), key->second, face);
}

// Some FreeType releases (2.12 among them) leave the cache manager's weight
// count as the allocator hands it over; from zeroed memory it starts at 0,
// else the cache takes itself for full and keeps almost nothing.
void *zeroedAlloc(FT_Memory, long size)
{
    return std::calloc(1, static_cast<size_t>(size));
}
void freeBlock(FT_Memory, void *block)
{
    std::free(block);
}
void *resize(FT_Memory, long, long size, void *block)
{
    return std::realloc(block, static_cast<size_t>(size));
}
FT_MemoryRec_ gZeroedMemory = {nullptr, zeroedAlloc, freeBlock, resize};

class GlyphCache {
public:
    GlyphCache()
    {
        if (FT_New_Library(&gZeroedMemory, &library_) != 0) {
            library_ = nullptr;
            return;
        }
        FT_Add_Default_Modules(library_);
        FT_Set_Default_Properties(library_);
        if (FTC_Manager_New(library_, kMaxFaces, kMaxSizes, kMaxBytes, openFace, nullptr, &manager_) != 0 ||
            FTC_ImageCache_New(manager_, &images_) != 0)
            images_ = nullptr;
    }

    FT_Glyph lookup(const ResolvedFace &face, int32_t ppem, uint32_t glyph, FT_Int32 flags)
    {
        // Bitmap fonts draw at their nearest strike, which the cache's sizes
        // do not choose; they are drawn directly.
        if (!images_ || !face.face || !FT_IS_SCALABLE(face.face) || ppem <= 0)
            return nullptr;
        FTC_ImageTypeRec type{};
        type.face_id = id(face);
        type.width = static_cast<FT_UInt>(ppem);
        type.height = static_cast<FT_UInt>(ppem);
        type.flags = flags;
        FT_Glyph image = nullptr;
        if (FTC_ImageCache_Lookup(images_, &type, glyph, &image, nullptr) != 0)
            return nullptr;
        return image;
    }

private:
    FTC_FaceID id(const ResolvedFace &face)
    {
        return const_cast<FaceKey *>(&*keys_.emplace(face.file, face.index).first);
    }

    FT_Library library_ = nullptr;
    FTC_Manager manager_ = nullptr;
    FTC_ImageCache images_ = nullptr;
    std::set<FaceKey> keys_;
};

// Never destroyed: text may still be drawn while the process exits.
GlyphCache &cache()
{
    static GlyphCache *c = new GlyphCache;
    return *c;
}

} // namespace

const FT_Outline *cachedOutline(const ResolvedFace &face, int32_t ppem, uint32_t glyph)
{
    FT_Glyph g = cache().lookup(face, ppem, glyph, FT_LOAD_TARGET_MONO);
    if (!g || g->format != FT_GLYPH_FORMAT_OUTLINE)
        return nullptr;
    return &reinterpret_cast<FT_OutlineGlyph>(g)->outline;
}

FT_BitmapGlyph cachedBitmap(const ResolvedFace &face, int32_t ppem, uint32_t glyph)
{
    FT_Glyph g = cache().lookup(face, ppem, glyph, FT_LOAD_TARGET_MONO | FT_LOAD_RENDER);
    if (!g || g->format != FT_GLYPH_FORMAT_BITMAP)
        return nullptr;
    return reinterpret_cast<FT_BitmapGlyph>(g);
}

} // namespace corvane1
