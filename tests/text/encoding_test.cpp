// The one text converter: Windows-1252 both ways, UTF-8 strictly, UTF-16 as
// Windows writes it.
#include "text/encoding.h"

#include <gtest/gtest.h>

#include <vector>

using namespace corvane::text;

namespace {

// What a refusal says, or "" when the conversion succeeds.
std::string refusal(std::string_view utf8)
{
    try {
        utf8ToCp1252(utf8);
    } catch (const EncodingError &e) {
        EXPECT_FALSE(tryUtf8ToCp1252(utf8)) << utf8;
        return e.what();
    }
    EXPECT_TRUE(tryUtf8ToCp1252(utf8)) << utf8;
    return "";
}

TEST(Cp1252, ConvertsTheWholeTable)
{
    const struct {
        const char *utf8;
        const char *cp1252;
    } rows[] = {
        {"plain ASCII\r\n", "plain ASCII\r\n"},
        {"caf\xC3\xA9", "caf\xE9"},               // e acute
        {"\xE2\x82\xAC", "\x80"},                 // euro
        {"\xC5\xB8", "\x9F"},                     // Y diaeresis
        {"\xE2\x80\x94\xE2\x84\xA2", "\x97\x99"}, // em dash, trade mark
        {"\xC3\xBF\xC2\xA0", "\xFF\xA0"},
        {"\xC2\x81\xC2\x9D", "\x81\x9D"}, // the unassigned bytes keep their C1 controls
    };
    for (const auto &r : rows) {
        EXPECT_EQ(utf8ToCp1252(r.utf8), r.cp1252) << r.utf8;
        EXPECT_EQ(cp1252ToUtf8(r.cp1252), r.utf8) << r.utf8;
    }
    std::string every;
    for (int b = 1; b < 256; ++b)
        every += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(every)), every);
}

// Every refusal names the byte or character and where it stands; the
// decodable edges of each length get past the decoder to the code page.
TEST(Utf8, OneStrictnessNamingTheOffenceAndItsPosition)
{
    const std::string invalid = "not valid UTF-8: ";
    const struct {
        const char *what;
        std::string_view utf8;
        std::string says;
    } rows[] = {
        {"stray continuation", "ab\x80", invalid + "byte 0x80 at position 2 starts no character"},
        {"lead past F7", "\xF8\x88\x80\x80\x80", invalid + "byte 0xF8 at position 0 starts no character"},
        {"lone lead", "\xC3", invalid + "the character begun by byte 0xC3 at position 0 is cut short"},
        {"cut short", "a\xE2\x82", invalid + "the character begun by byte 0xE2 at position 1 is cut short"},
        {"not continued",
         "\xE2"
         "A\x82",
         invalid + "byte 0x41 at position 1 does not continue the character begun at position 0"},
        {"overlong NUL", std::string_view("\xC0\x80", 2),
         invalid + "bytes 0xC0 0x80 at position 0 are an overlong form of U+0000"},
        {"overlong two bytes", "x\xC1\xAF", invalid + "bytes 0xC1 0xAF at position 1 are an overlong form of U+006F"},
        {"overlong three bytes", "\xE0\x80\xAF",
         invalid + "bytes 0xE0 0x80 0xAF at position 0 are an overlong form of U+002F"},
        {"overlong four bytes", "\xF0\x82\x82\xAC",
         invalid + "bytes 0xF0 0x82 0x82 0xAC at position 0 are an overlong form of U+20AC"},
        {"high surrogate", "\xED\xA0\x80", invalid + "bytes 0xED 0xA0 0x80 at position 0 encode the surrogate U+D800"},
        {"low surrogate", "ok\xED\xBF\xBF", invalid + "bytes 0xED 0xBF 0xBF at position 2 encode the surrogate U+DFFF"},
        {"past U+10FFFF", "\xF4\x90\x80\x80",
         invalid + "bytes 0xF4 0x90 0x80 0x80 at position 0 encode U+110000, past U+10FFFF"},
        {"least two bytes", "\xC2\xA0", ""},
        {"least three bytes", "\xE0\xA0\x80", "U+0800) at position 0 cannot be written in Windows-1252"},
        {"before the surrogates", "\xED\x9F\xBF", "U+D7FF) at position 0 cannot"},
        {"after the surrogates", "\xEE\x80\x80", "U+E000) at position 0 cannot"},
        {"least four bytes", "\xF0\x90\x80\x80", "U+10000) at position 0 cannot"},
        {"greatest", "\xF4\x8F\xBF\xBF", "U+10FFFF) at position 0 cannot"},
    };
    for (const auto &r : rows) {
        const std::string said = refusal(r.utf8);
        if (r.says.empty())
            EXPECT_EQ(said, "") << r.what;
        else
            EXPECT_NE(said.find(r.says), std::string::npos) << r.what << ": " << said;
    }
}

TEST(Utf8, CharactersOutsideTheCodePageAreNamed)
{
    EXPECT_EQ(refusal("ok \xE2\x9C\x93 no"), "the character \"\xE2\x9C\x93\" (U+2713) at position 3 cannot be written "
                                             "in Windows-1252, the module's code page");
    // A control is named by its number only; 0x80 is the euro, not U+0080.
    EXPECT_NE(refusal("\xC2\x80").find("character U+0080 at position 0"), std::string::npos);
    EXPECT_NE(refusal("\xF0\x9F\x98\x80").find("(U+1F600)"), std::string::npos);
}

TEST(Utf8, ReplacingConversionMarksEachCharacterItCannotHold)
{
    const struct {
        const char *label, *utf8, *cp1252;
        size_t replaced;
    } rows[] = {
        {"held", "caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80", 0},
        {"outside the code page",
         "a\xE2\x9C\x93"
         "b\xF0\x9F\x98\x80",
         "a?b?", 2},
        {"stray byte",
         "a\xFF"
         "b",
         "a?b", 1},
        {"broken sequence keeps the byte that broke it", "\xE2\x82z", "?z", 1},
        {"cut short at the end", "ok\xE2\x82", "ok?", 1},
        {"overlong", "\xC0\xAF.", "?.", 1},
    };
    for (const auto &r : rows) {
        size_t replaced = 99;
        EXPECT_EQ(utf8ToCp1252Replacing(r.utf8, '?', &replaced), r.cp1252) << r.label;
        EXPECT_EQ(replaced, r.replaced) << r.label;
    }
}

TEST(Utf16, PairsJoinAndUnpairedSurrogatesBecomeReplacements)
{
    const struct {
        const char *what;
        std::u16string units;
        const char *utf8;
        const char *cp1252;
    } rows[] = {
        {"Latin and euro", u"\u00C9T\u20AC", "\xC3\x89T\xE2\x82\xAC", "\xC9T\x80"},
        {"outside 1252", u"\u0153x\u4E00", "\xC5\x93x\xE4\xB8\x80", "\x9Cx?"},
        {"pair", u"\U0001F600x", "\xF0\x9F\x98\x80x", "?x"},
        {"high at the end", {u'a', 0xD800}, "a\xEF\xBF\xBD", "a?"},
        {"low alone",
         {0xDC00, u'b'},
         "\xEF\xBF\xBD"
         "b",
         "?b"},
        {"high before a pair", {0xD800, 0xD800, 0xDC00}, "\xEF\xBF\xBD\xF0\x90\x80\x80", "??"},
    };
    for (const auto &r : rows) {
        std::vector<uint8_t> le;
        for (char16_t u : r.units) {
            le.push_back(static_cast<uint8_t>(u));
            le.push_back(static_cast<uint8_t>(u >> 8));
        }
        EXPECT_EQ(utf16leToUtf8(le), r.utf8) << r.what;
        EXPECT_EQ(utf16ToCp1252(r.units), r.cp1252) << r.what;
    }
    EXPECT_THROW(utf16leToUtf8(std::vector<uint8_t>{0x41, 0x00, 0x42}), EncodingError);
}

} // namespace
