// The display's device context and font enumeration.
#include "test_dialog.h"

#include "codepage.h"
#include "corvane1_ext.h"

#include <cstring>

using namespace corvane::win32;
using namespace qmtest;

// Reading the system's font configuration loses a few bytes inside
// fontconfig's own parser, out of this program's reach.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace {

struct Seen {
    std::string face;
    std::string fullName;
    std::string style;
    uint8_t charSet;
    DWORD type;
    LPARAM data;
};

std::vector<Seen> gSeen;
int gStopAfter = -1;

int CALLBACK Collect(const LOGFONTA *font, const TEXTMETRICA *metrics, DWORD type, LPARAM data)
{
    const auto *full = reinterpret_cast<const ENUMLOGFONTA *>(font);
    // Names always arrive terminated within their fields.
    EXPECT_NE(std::memchr(font->lfFaceName, 0, LF_FACESIZE), nullptr);
    EXPECT_NE(std::memchr(full->elfFullName, 0, LF_FULLFACESIZE), nullptr);
    EXPECT_EQ(metrics->tmCharSet, font->lfCharSet);
    gSeen.push_back({font->lfFaceName, reinterpret_cast<const char *>(full->elfFullName),
                     reinterpret_cast<const char *>(full->elfStyle), font->lfCharSet, type, data});
    return gStopAfter >= 0 && static_cast<int>(gSeen.size()) >= gStopAfter ? 0 : 1;
}

class Gdi : public StandInTest {
protected:
    void SetUp() override
    {
        StandInTest::SetUp();
        gSeen.clear();
        gStopAfter = -1;
    }
};

} // namespace

TEST_F(Gdi, OnlyTheDisplayHasADeviceContext)
{
    HDC a = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC b = CreateDCA("display", nullptr, nullptr, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(liveDeviceContexts(), 2);
    EXPECT_EQ(CreateDCA("WINSPOOL", "Printer", nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateDCA(nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(DeleteDC(a));
    EXPECT_FALSE(DeleteDC(a)); // already gone
    EXPECT_TRUE(DeleteDC(b));
    EXPECT_FALSE(DeleteDC(nullptr));
    EXPECT_EQ(liveDeviceContexts(), 0);

    setCreateDCFails(true);
    EXPECT_EQ(CreateDCA("DISPLAY", nullptr, nullptr, nullptr), nullptr);
    setCreateDCFails(false);
    HDC c = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_NE(c, nullptr);
    DeleteDC(c);
}

TEST_F(Gdi, EnumeratesAGivenListAsItStandsWithItsTypeBits)
{
    const std::string longFace(40, 'F');
    setFontList({
        {"Arial", "Arial", ANSI_CHARSET, TRUETYPE_FONTTYPE},
        {"Courier", "Courier", ANSI_CHARSET, RASTER_FONTTYPE},
        {"@MS Gothic", "@MS Gothic", SHIFTJIS_CHARSET, TRUETYPE_FONTTYPE},
        {"Arial", "Arial Bold", ANSI_CHARSET, TRUETYPE_FONTTYPE},
        {longFace, std::string(80, 'G'), 2, DEVICE_FONTTYPE | RASTER_FONTTYPE},
    });
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_EQ(EnumFontsA(dc, nullptr, Collect, 42), 1);
    ASSERT_EQ(gSeen.size(), 5u);
    EXPECT_EQ(gSeen[0].face, "Arial");
    EXPECT_EQ(gSeen[0].type, static_cast<DWORD>(TRUETYPE_FONTTYPE));
    EXPECT_EQ(gSeen[0].style, "Regular");
    EXPECT_EQ(gSeen[1].type, static_cast<DWORD>(RASTER_FONTTYPE));
    EXPECT_EQ(gSeen[2].charSet, SHIFTJIS_CHARSET);
    EXPECT_EQ(gSeen[2].fullName, "@MS Gothic");
    EXPECT_EQ(gSeen[3].fullName, "Arial Bold");
    EXPECT_EQ(gSeen[4].face, std::string(31, 'F')); // fields keep their terminator
    EXPECT_EQ(gSeen[4].fullName, std::string(63, 'G'));
    EXPECT_EQ(gSeen[4].type, static_cast<DWORD>(DEVICE_FONTTYPE | RASTER_FONTTYPE));
    for (const Seen &s : gSeen)
        EXPECT_EQ(s.data, 42);

    gSeen.clear();
    EXPECT_EQ(EnumFontsA(dc, "ARIAL", Collect, 0), 1); // one face, in every style
    EXPECT_EQ(gSeen.size(), 2u);

    gSeen.clear();
    gStopAfter = 2;
    EXPECT_EQ(EnumFontsA(dc, nullptr, Collect, 0), 0); // the callback's 0 ends it
    EXPECT_EQ(gSeen.size(), 2u);

    gSeen.clear();
    HDC stale = dc;
    DeleteDC(dc);
    EXPECT_EQ(EnumFontsA(stale, nullptr, Collect, 0), 0);
    EXPECT_EQ(EnumFontsA(nullptr, nullptr, Collect, 0), 0);
    EXPECT_TRUE(gSeen.empty());
}

TEST_F(Gdi, AnEmptyListEnumeratesNothing)
{
    setFontList({});
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_EQ(EnumFontsA(dc, nullptr, Collect, 0), 1);
    EXPECT_TRUE(gSeen.empty());
    DeleteDC(dc);
}

TEST_F(Gdi, TheLibrarysFontsOncePerFaceWithTheirKind)
{
    const int32_t count = CorvaneFontCount();
    ASSERT_GT(count, 0);
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    EnumFontsA(dc, nullptr, Collect, 0);
    DeleteDC(dc);
    ASSERT_FALSE(gSeen.empty());
    EXPECT_LE(gSeen.size(), static_cast<size_t>(count));
    for (size_t i = 0; i < gSeen.size(); ++i) {
        EXPECT_TRUE(gSeen[i].type == TRUETYPE_FONTTYPE || gSeen[i].type == RASTER_FONTTYPE) << gSeen[i].face;
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(equalNoCase(gSeen[i].face, gSeen[j].face)) << gSeen[i].face;
    }
    CorvaneFontDesc first{};
    ASSERT_EQ(CorvaneGetFontDesc(0, &first), 0);
    EXPECT_EQ(gSeen[0].face, first.faceName);
    EXPECT_EQ(gSeen[0].type,
              first.scalable ? static_cast<DWORD>(TRUETYPE_FONTTYPE) : static_cast<DWORD>(RASTER_FONTTYPE));

    // A list set by a test replaces them until the library's are asked for again.
    setFontList({{"Only", "Only"}});
    EXPECT_EQ(currentFonts().size(), 1u);
    useLibraryFonts();
    EXPECT_EQ(currentFonts().size(), gSeen.size());
}
