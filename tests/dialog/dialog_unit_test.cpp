// The dialog's own functions, linked in directly: the font filter, the
// enumeration callback and the modal run with the module-level values.
#include "dialog/options_dialog.h"
#include "entry/module.h"
#include "resource_ids.h"
#include "scripted_user.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

using namespace corvane::win32;

namespace {

std::vector<uint8_t> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The module's compiled resources, named as the module names itself.
class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetStandIn();
        res_ = readFile(QM_RES_FILE_PATH);
        ASSERT_FALSE(res_.empty());
        descriptor_ = QmModuleDescriptor{QM_MODULE_DESCRIPTOR_MAGIC, static_cast<uint32_t>(res_.size()), res_.data()};
        saved_ = gModuleHandle;
        gModuleHandle = &descriptor_;
    }
    void TearDown() override
    {
        gModuleHandle = saved_;
        resetStandIn();
        EXPECT_EQ(liveWindows(), 0);
        EXPECT_EQ(liveDeviceContexts(), 0);
    }

    std::vector<uint8_t> res_;
    QmModuleDescriptor descriptor_{};
    void *saved_ = nullptr;
};

ENUMLOGFONTA font(const char *face, const char *fullName, uint8_t charSet)
{
    ENUMLOGFONTA f{};
    std::strncpy(f.elfLogFont.lfFaceName, face, LF_FACESIZE - 1);
    std::strncpy(reinterpret_cast<char *>(f.elfFullName), fullName, LF_FULLFACESIZE - 1);
    f.elfLogFont.lfCharSet = charSet;
    return f;
}

struct Offer {
    ENUMLOGFONTA font;
    DWORD type;
};
std::vector<Offer> gOffers;
std::vector<int> gAnswers;

INT_PTR CALLBACK OfferFonts(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        const LPARAM list = reinterpret_cast<LPARAM>(GetDlgItem(dialog, kIdFontList));
        TEXTMETRICA metrics{};
        for (const Offer &o : gOffers)
            gAnswers.push_back(AddFontProc(&o.font.elfLogFont, &metrics, o.type, list));
        return 1;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, 0);
    return 0;
}

} // namespace

TEST(VerticalFarEastFont, AtSignFacesOfTheFourCharacterSetsOnly)
{
    for (int charSet = 0; charSet < 256; ++charSet) {
        const bool farEast = charSet == 128 || charSet == 129 || charSet == 134 || charSet == 136;
        const auto at = font("@X", "@X", static_cast<uint8_t>(charSet));
        const auto plain = font("X", "X", static_cast<uint8_t>(charSet));
        EXPECT_EQ(IsVerticalFarEastFont(at.elfFullName, &at.elfLogFont), farEast) << charSet;
        EXPECT_FALSE(IsVerticalFarEastFont(plain.elfFullName, &plain.elfLogFont)) << charSet;
    }
    // The full name decides, not the face name.
    const auto faceOnly = font("@Gulim", "Gulim", HANGUL_CHARSET);
    EXPECT_FALSE(IsVerticalFarEastFont(faceOnly.elfFullName, &faceOnly.elfLogFont));
    const auto fullOnly = font("Gulim", "@Gulim", HANGUL_CHARSET);
    EXPECT_TRUE(IsVerticalFarEastFont(fullOnly.elfFullName, &fullOnly.elfLogFont));
    const auto empty = font("", "", SHIFTJIS_CHARSET);
    EXPECT_FALSE(IsVerticalFarEastFont(empty.elfFullName, &empty.elfLogFont));
}

TEST_F(ModuleResources, AddFontProcListsEachFaceOnceAndAlwaysGoesOn)
{
    gOffers.clear();
    gAnswers.clear();
    ENUMLOGFONTA unterminated = font("", "Long", ANSI_CHARSET);
    std::memset(unterminated.elfLogFont.lfFaceName, 'L', LF_FACESIZE); // no terminator in the field
    gOffers = {
        {font("Arial", "Arial", 0), TRUETYPE_FONTTYPE},
        {font("Fixedsys", "Fixedsys", 0), RASTER_FONTTYPE},
        {font("Both", "Both", 0), RASTER_FONTTYPE | TRUETYPE_FONTTYPE},
        {font("Device", "Device", 0), DEVICE_FONTTYPE},
        {font("Vector", "Vector", 0), 0},
        {font("@MS Mincho", "@MS Mincho", SHIFTJIS_CHARSET), TRUETYPE_FONTTYPE},
        {font("@Johab", "@Johab", JOHAB_CHARSET), TRUETYPE_FONTTYPE},
        {font("ARIAL", "ARIAL", 0), TRUETYPE_FONTTYPE},
        {font("Arial", "Arial Bold", 0), TRUETYPE_FONTTYPE},
        {unterminated, TRUETYPE_FONTTYPE},
    };
    queueScript(Script()
                    .inspect([](LiveDialog &d) {
                        const std::vector<std::string> expected = {
                            "@Johab", "Arial", "Both", "Device", std::string(LF_FACESIZE, 'L'), "Vector"};
                        EXPECT_EQ(d.items(kIdFontList), expected);
                    })
                    .cancel());
    EXPECT_EQ(DialogBoxParamA(static_cast<HINSTANCE>(gModuleHandle), MAKEINTRESOURCEA(101), nullptr, OfferFonts, 0), 0);
    EXPECT_EQ(lastDialogReport().error, "");
    EXPECT_EQ(gAnswers, std::vector<int>(gOffers.size(), 1));
}

TEST_F(ModuleResources, ShowOptionsDialogRunsTheTemplateOnTheRecordItIsGiven)
{
    setFontList({{"Georgia", "Georgia", 0, TRUETYPE_FONTTYPE}, {"Tahoma", "Tahoma", 0, TRUETYPE_FONTTYPE}});
    TextSettings settings{};
    settings.magic = kSettingsMagic;
    settings.version = kSettingsVersion;
    settings.text[0] = 3; // length-prefixed while the dialog is open
    std::memcpy(settings.text + 1, "abc", 3);
    settings.style = 2;

    queueScript(Script()
                    .inspect([](LiveDialog &d) { EXPECT_EQ(d.text(kIdTextField), "abc"); })
                    .type("X")
                    .pickFont("Tahoma")
                    .ok());
    EXPECT_EQ(ShowOptionsDialog(&settings), 1);
    EXPECT_EQ(gDialogSettings, &settings);
    EXPECT_STREQ(gLastFontName, "Tahoma");
    EXPECT_EQ(settings.text[0], 4);
    EXPECT_EQ(std::string(settings.text + 1, 4), "Xabc");
    EXPECT_EQ(settings.fontName[0], 6);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(settings.fontName + 1), 6), "Tahoma");
    EXPECT_EQ(settings.style, 2);

    TextSettings other = settings;
    queueScript(Script().pickFont("Georgia").cancel());
    EXPECT_EQ(ShowOptionsDialog(&other), 0);
    EXPECT_EQ(gDialogSettings, &other); // never cleared
    EXPECT_STREQ(gLastFontName, "Tahoma");
    EXPECT_EQ(std::memcmp(&other, &settings, sizeof settings), 0);

    setDialogCreationFails(true);
    EXPECT_EQ(ShowOptionsDialog(&other), -1);
    EXPECT_EQ(std::memcmp(&other, &settings, sizeof settings), 0);
}
