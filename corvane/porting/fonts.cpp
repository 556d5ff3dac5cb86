// Font families through fontconfig. Every family name a font carries is a
// family here (so "DejaVu Sans Condensed" is one, as a Windows user knows
// it); names that Windows-1252 cannot spell, or too long for a face name,
// are left out because the module could never ask for them. Number 0 is the
// system font; the others follow in case-insensitive name order.
#include "fonts.h"

#include "text/encoding.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace corvane1 {
namespace {

namespace text = corvane::text;

constexpr const char *kSystemFamily = "DejaVu Sans";
constexpr size_t kMaxFaceName = 31; // a face name field holds 32 bytes

struct FaceFile {
    std::string file;
    int32_t index = 0;
    int32_t weight = FC_WEIGHT_REGULAR;
    int32_t slant = FC_SLANT_ROMAN;
    int32_t width = FC_WIDTH_NORMAL;
    bool scalable = true;
    std::string fullName; // 1252
};

struct Family {
    std::string name;   // 1252
    std::string folded; // for comparison
    std::vector<FaceFile> faces;
    bool ansi = true;
    int32_t choice[4] = {-1, -1, -1, -1}; // face picked per (bold, italic)
};

struct OpenFace {
    FT_Face face = nullptr;
    bool failed = false;
    uint32_t glyphs[256] = {};
};

std::string fold(const std::string &s)
{
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(text::cp1252Fold(static_cast<uint8_t>(c)));
    return out;
}

// A fontconfig string in 1252; none when it is not valid UTF-8 or holds a
// character 1252 cannot: such a name is one the module could never ask for.
std::optional<std::string> nameIn1252(const FcChar8 *utf8)
{
    return text::tryUtf8ToCp1252(reinterpret_cast<const char *>(utf8));
}

class FontTable {
public:
    FontTable() { load(); }

    std::vector<Family> families;

    OpenFace *openFace(const FaceFile &ff)
    {
        auto key = std::make_pair(ff.file, ff.index);
        auto it = open_.find(key);
        if (it != open_.end())
            return it->second->failed ? nullptr : it->second.get();
        auto of = std::make_unique<OpenFace>();
        if (!library_ || FT_New_Face(library_, ff.file.c_str(), ff.index, &of->face) != 0) {
            of->face = nullptr;
            of->failed = true;
        } else {
            // Text arrives as 1252 bytes: one lookup table per face.
            FT_Select_Charmap(of->face, FT_ENCODING_UNICODE);
            for (int b = 0; b < 256; ++b)
                of->glyphs[b] = FT_Get_Char_Index(of->face, text::cp1252ToUnicode(static_cast<uint8_t>(b)));
        }
        OpenFace *result = of->failed ? nullptr : of.get();
        open_.emplace(key, std::move(of));
        return result;
    }

private:
    FcConfig *config_ = nullptr;
    FT_Library library_ = nullptr;
    std::map<std::pair<std::string, int32_t>, std::unique_ptr<OpenFace>> open_;

    void load()
    {
        if (FT_Init_FreeType(&library_) != 0)
            library_ = nullptr;
        config_ = FcInitLoadConfigAndFonts();
        if (!config_)
            return;
        std::map<std::string, Family> byName;
        FcPattern *all = FcPatternCreate();
        FcObjectSet *os = FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_WEIGHT, FC_SLANT, FC_WIDTH, FC_SCALABLE,
                                           FC_CHARSET, FC_FULLNAME, FC_VARIABLE, nullptr);
        FcFontSet *set = all && os ? FcFontList(config_, all, os) : nullptr;
        for (int i = 0; set && i < set->nfont; ++i)
            addFont(set->fonts[i], byName);
        if (set)
            FcFontSetDestroy(set);
        if (os)
            FcObjectSetDestroy(os);
        if (all)
            FcPatternDestroy(all);

        std::string systemKey = fold(kSystemFamily);
        if (!byName.count(systemKey))
            systemKey = fallbackSystemKey(byName);
        auto sys = byName.find(systemKey);
        if (sys != byName.end()) {
            families.push_back(std::move(sys->second));
            byName.erase(sys);
        }
        for (auto &[key, family] : byName) // std::map: sorted by folded name
            families.push_back(std::move(family));
        if (families.size() > 32767) // font numbers are 16-bit
            families.resize(32767);
        // Everything needed is copied out: the configuration can go now.
        FcConfigDestroy(config_);
        config_ = nullptr;
    }

    // Without the usual default face: whatever fontconfig gives for sans-serif.
    std::string fallbackSystemKey(const std::map<std::string, Family> &byName)
    {
        std::string key;
        FcPattern *p = FcNameParse(reinterpret_cast<const FcChar8 *>("sans-serif"));
        if (p) {
            FcConfigSubstitute(config_, p, FcMatchPattern);
            FcDefaultSubstitute(p);
            FcResult r;
            FcPattern *m = FcFontMatch(config_, p, &r);
            FcChar8 *fam = nullptr;
            if (m && FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch)
                if (auto name = nameIn1252(fam))
                    key = fold(*name);
            if (m)
                FcPatternDestroy(m);
            FcPatternDestroy(p);
        }
        if (!byName.count(key))
            key = byName.empty() ? std::string() : byName.begin()->first;
        return key;
    }

    static void addFont(FcPattern *font, std::map<std::string, Family> &byName)
    {
        FcBool variable = FcFalse;
        if (FcPatternGetBool(font, FC_VARIABLE, 0, &variable) == FcResultMatch && variable)
            return; // named instances are listed on their own
        FcChar8 *file = nullptr;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch)
            return;
        FaceFile ff;
        ff.file = reinterpret_cast<const char *>(file);
        int v;
        if (FcPatternGetInteger(font, FC_INDEX, 0, &v) == FcResultMatch)
            ff.index = v;
        if (FcPatternGetInteger(font, FC_WEIGHT, 0, &v) == FcResultMatch)
            ff.weight = v;
        if (FcPatternGetInteger(font, FC_SLANT, 0, &v) == FcResultMatch)
            ff.slant = v;
        if (FcPatternGetInteger(font, FC_WIDTH, 0, &v) == FcResultMatch)
            ff.width = v;
        FcBool scalable = FcTrue;
        if (FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) == FcResultMatch)
            ff.scalable = scalable;
        FcChar8 *full = nullptr;
        if (FcPatternGetString(font, FC_FULLNAME, 0, &full) == FcResultMatch)
            ff.fullName = nameIn1252(full).value_or(std::string());
        bool ansi = true;
        FcCharSet *cs = nullptr;
        if (FcPatternGetCharSet(font, FC_CHARSET, 0, &cs) == FcResultMatch) {
            for (FcChar32 c = 0x20; c < 0x7F && ansi; ++c)
                ansi = FcCharSetHasChar(cs, c);
        }
        FcChar8 *fam = nullptr;
        for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &fam) == FcResultMatch; ++n) {
            const auto name = nameIn1252(fam);
            if (!name || name->empty() || name->size() > kMaxFaceName)
                continue;
            Family &f = byName[fold(*name)];
            if (f.name.empty()) {
                f.name = *name;
                f.folded = fold(*name);
            }
            f.faces.push_back(ff);
            f.ansi = f.ansi && ansi;
        }
    }
};

// Never destroyed: text may still be measured while the process exits, and
// fontconfig may have other users then.
FontTable &table()
{
    static FontTable *t = new FontTable;
    return *t;
}

bool isBold(const FaceFile &f)
{
    return f.weight >= FC_WEIGHT_DEMIBOLD;
}
bool isItalic(const FaceFile &f)
{
    return f.slant > FC_SLANT_ROMAN;
}

// The face closest to the wanted style: fewest styles to synthesise, then
// normal width, then the weight nearest regular or bold.
int32_t chooseFace(const Family &fam, bool bold, bool italic)
{
    int32_t best = -1;
    auto key = [&](const FaceFile &f) {
        int32_t missing = (isBold(f) != bold) + (isItalic(f) != italic);
        int32_t target = bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR;
        return std::make_tuple(missing, std::abs(f.width - FC_WIDTH_NORMAL), std::abs(f.weight - target),
                               std::abs(f.slant - (italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN)), f.file, f.index);
    };
    for (size_t i = 0; i < fam.faces.size(); ++i)
        if (best < 0 || key(fam.faces[i]) < key(fam.faces[best]))
            best = static_cast<int32_t>(i);
    return best;
}

bool resolveIn(Family &fam, bool bold, bool italic, ResolvedFace &out)
{
    int slot = (bold ? 1 : 0) | (italic ? 2 : 0);
    if (fam.choice[slot] < 0)
        fam.choice[slot] = chooseFace(fam, bold, italic);
    if (fam.choice[slot] < 0)
        return false;
    const FaceFile &ff = fam.faces[fam.choice[slot]];
    OpenFace *of = table().openFace(ff);
    if (!of)
        return false;
    out.face = of->face;
    out.file = ff.file;
    out.index = ff.index;
    out.synthBold = bold && !isBold(ff);
    out.synthItalic = italic && !isItalic(ff);
    out.glyphs = of->glyphs;
    return true;
}

} // namespace

int32_t fontCount()
{
    return static_cast<int32_t>(table().families.size());
}

bool resolveFace(int16_t font, bool bold, bool italic, ResolvedFace &out)
{
    auto &fams = table().families;
    if (font >= 0 && font < static_cast<int32_t>(fams.size()) && resolveIn(fams[font], bold, italic, out))
        return true;
    // An unknown number, or a face that will not open: the system font.
    return !fams.empty() && resolveIn(fams[0], bold, italic, out);
}

} // namespace corvane1

using namespace corvane1;

extern "C" {

void GetFNum(const unsigned char *pascalName, int16_t *fontNum)
{
    guarded([&] {
        enterCall();
        if (!fontNum) {
            setError(paramErr);
            return;
        }
        *fontNum = 0;
        if (pascalName && pascalName[0]) {
            std::string wanted = fold(std::string(reinterpret_cast<const char *>(pascalName + 1), pascalName[0]));
            auto &fams = table().families;
            for (size_t i = 0; i < fams.size(); ++i)
                if (fams[i].folded == wanted) {
                    *fontNum = static_cast<int16_t>(i);
                    break;
                }
        }
        setError(noErr);
    });
}

int32_t CorvaneFontCount(void)
{
    return guarded<int32_t>(0, [] { return fontCount(); });
}

int32_t CorvaneGetFontDesc(int32_t index, CorvaneFontDesc *out)
{
    return guarded<int32_t>(memFullErr, [&]() -> int32_t {
        auto &fams = table().families;
        if (!out || index < 0 || index >= static_cast<int32_t>(fams.size()) || index > 32767)
            return paramErr;
        Family &fam = fams[index];
        *out = CorvaneFontDesc{};
        std::memcpy(out->faceName, fam.name.data(), std::min(fam.name.size(), sizeof out->faceName - 1));
        int32_t regular = chooseFace(fam, false, false);
        std::string full =
            regular >= 0 && !fam.faces[regular].fullName.empty() ? fam.faces[regular].fullName : fam.name;
        std::memcpy(out->fullName, full.data(), std::min(full.size(), sizeof out->fullName - 1));
        out->scalable = regular >= 0 && fam.faces[regular].scalable ? 1 : 0;
        out->charSet = fam.ansi ? 0 : 2;
        out->fontNumber = static_cast<int16_t>(index);
        return noErr;
    });
}

} // extern "C"
