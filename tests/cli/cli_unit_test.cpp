// The command line's own helpers: value parsing, keyframe interpolation,
// project files, the property list reader, plates and proxies.
#include "session/animation.h"
#include "image.h"
#include "output.h"
#include "parse.h"
#include "pipeline.h"
#include "progress.h"
#include "project.h"
#include "record/stored_record.h"
#include "registration.h"
#include "res_builder.h"
#include "suggest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace quillomark;
using ::testing::HasSubstr;

namespace {

// --------------------------------------------------------------------------
// Values

TEST(ParseColour, AcceptsHexShortHexAndNames)
{
    struct Row {
        const char *text;
        Rgb rgb;
    };
    const Row rows[] = {
        {"#ff8000", {255, 128, 0}}, {"#FF8000", {255, 128, 0}}, {"#f80", {255, 136, 0}},   {"white", {255, 255, 255}},
        {"Red", {255, 0, 0}},       {" navy ", {0, 0, 128}},    {"grey", {128, 128, 128}}, {"#000000", {0, 0, 0}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(parseColour(r.text), r.rgb) << r.text;
}

TEST(ParseColour, RefusesWithTheValueInTheMessage)
{
    for (const char *bad : {"", "#", "#12345", "#1234567", "#gg0000", "blurple", "ff0000", "#ff 000"}) {
        try {
            parseColour(bad);
            ADD_FAILURE() << "accepted \"" << bad << "\"";
        } catch (const UsageError &e) {
            EXPECT_THAT(e.what(), HasSubstr(std::string("bad colour \"") + bad + "\""));
        }
    }
}

TEST(ParseColour, EveryNameRoundTripsThroughHex)
{
    const auto names = colourNames();
    for (const auto &name : names)
        EXPECT_EQ(parseColour(formatColour(parseColour(name))), parseColour(name)) << name;
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_GT(names.size(), 30u);
}

TEST(ParsePosition, PixelsAndPercentages)
{
    EXPECT_EQ(parsePosition("640,360"), (Position{{640, false}, {360, false}}));
    EXPECT_EQ(parsePosition("50%,25%"), (Position{{50, true}, {25, true}}));
    EXPECT_EQ(parsePosition("-10.5, 3"), (Position{{-10.5, false}, {3, false}}));
    EXPECT_DOUBLE_EQ(Coord({50, true}).resolve(1280), 640);
    EXPECT_DOUBLE_EQ(Coord({12.5, false}).resolve(1280), 12.5);
    for (const char *bad : {"", "1", "1,2,3", "a,b", "1,", ",1", "40000,0", "nan,1", "1%%,2"})
        EXPECT_THROW(parsePosition(bad), UsageError) << bad;
}

TEST(ParseFrameRange, RangesAndSingleFrames)
{
    EXPECT_EQ(parseFrameRange("101-200"), (FrameRange{101, 200}));
    EXPECT_EQ(parseFrameRange("7"), (FrameRange{7, 7}));
    EXPECT_EQ(parseFrameRange("0-0").count(), 1);
    EXPECT_EQ(parseFrameRange("101-200").count(), 100);
    for (const char *bad : {"", "-", "5-2", "-3", "a-b", "1-2-3", "1.5", "1-", "99999999"})
        EXPECT_THROW(parseFrameRange(bad), UsageError) << bad;
}

TEST(ParseKeyframe, SplitsAtTheFirstEquals)
{
    const KeyText k = splitKeyframe("12=50%,50%", "position");
    EXPECT_EQ(k.frame, 12);
    EXPECT_EQ(k.value, "50%,50%");
    for (const char *bad : {"", "12", "=5", "x=5", "-1=5", "3=", "3= "})
        EXPECT_THROW(splitKeyframe(bad, "size"), UsageError) << bad;
}

TEST(ParseDownsample, OneOrTwoRatios)
{
    EXPECT_EQ(parseDownsample("1/2"), (Downsample{{1, 2}, {1, 2}}));
    EXPECT_EQ(parseDownsample("1/2,1/4"), (Downsample{{1, 2}, {1, 4}}));
    EXPECT_EQ(parseDownsample("1"), (Downsample{{1, 1}, {1, 1}}));
    EXPECT_EQ(formatDownsample(parseDownsample("1/2,1/4")), "1/2,1/4");
    EXPECT_EQ(formatDownsample(parseDownsample("3/4")), "3/4");
    // A zero denominator would divide by zero in the module's size scaling.
    for (const char *bad : {"", "0", "1/0", "0/2", "3/2", "-1/2", "1/2,", "a/b", "1/2/3"})
        EXPECT_THROW(parseDownsample(bad), UsageError) << bad;
}

TEST(ParsePlateSize, WithinTheHostsCoordinates)
{
    EXPECT_EQ(parsePlateSize("1280x720"), (PlateSize{1280, 720}));
    EXPECT_EQ(parsePlateSize("32767X1"), (PlateSize{32767, 1}));
    for (const char *bad : {"", "1280", "0x720", "32768x10", "x", "12x-3", "1280x720x3"})
        EXPECT_THROW(parsePlateSize(bad), UsageError) << bad;
}

TEST(ParseInt, BoundsAreInclusive)
{
    EXPECT_EQ(parseInt("0", "size", 0, 512), 0);
    EXPECT_EQ(parseInt("512", "size", 0, 512), 512);
    EXPECT_THROW(parseInt("513", "size", 0, 512), UsageError);
    EXPECT_THROW(parseInt("12px", "size", 0, 512), UsageError);
}

TEST(SplitTextLines, EscapesAndRealBreaks)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(splitTextLines("one\\ntwo"), (V{"one", "two"}));
    EXPECT_EQ(splitTextLines("one\ntwo\r\nthree\rfour"), (V{"one", "two", "three", "four"}));
    EXPECT_EQ(splitTextLines("C:\\\\temp\\x"), (V{"C:\\temp\\x"}));
    EXPECT_EQ(splitTextLines("a\\\\nb"), (V{"a\\nb"})) << "an escaped backslash does not start a break";
    EXPECT_EQ(splitTextLines(""), (V{""}));
    EXPECT_EQ(splitTextLines("end\\"), (V{"end\\"}));
    EXPECT_EQ(splitTextLines("\\n"), (V{"", ""}));
}

TEST(FootageValues, RatesBitratesAndNamesAsUsersWriteThem)
{
    struct Rate {
        const char *text;
        corvane::media::FrameRate rate;
    };
    for (const Rate r : {Rate{"24", {24, 1}}, Rate{"23.976", {24000, 1001}}, Rate{"29.97", {30000, 1001}},
                         Rate{"59.94", {60000, 1001}}, Rate{"12.5", {12500, 1000}}, Rate{"30000/1001", {30000, 1001}}})
        EXPECT_EQ(parseFrameRate(r.text), r.rate) << r.text;
    for (const char *bad : {"0", "-24", "24fps", "", "1/0", "1e9"})
        EXPECT_THROW(parseFrameRate(bad), UsageError) << bad;
    EXPECT_EQ(parseBitrate("8M"), 8000000);
    EXPECT_EQ(parseBitrate("2500k"), 2500000);
    EXPECT_EQ(parseBitrate("800000"), 800000);
    for (const char *bad : {"8G", "fast", "10", ""})
        EXPECT_THROW(parseBitrate(bad), UsageError) << bad;
    EXPECT_THROW(parseFramePattern("a.%d.%d.png"), UsageError);
}

// --------------------------------------------------------------------------
// Keyframes

TEST(Track, HoldsBeforeAndAfterAndBlendsBetween)
{
    Track<int32_t> t;
    t.add(10, 20, "size");
    t.add(20, 40, "size");
    t.add(15, 100, "size"); // keys sort by frame whatever order they come in
    struct Row {
        int32_t frame, value;
    };
    for (const Row r : {Row{0, 20}, Row{10, 20}, Row{11, 36}, Row{15, 100}, Row{16, 88}, Row{20, 40}, Row{99, 40}})
        EXPECT_EQ(t.at(r.frame), r.value) << "frame " << r.frame;
    EXPECT_THROW(t.add(15, 1, "size"), UsageError);
}

TEST(Track, ConstantsSetNoRangeAndEveryKeyframeDoes)
{
    Tracks tracks;
    tracks.size.setConstant(12);
    EXPECT_FALSE(tracks.keyedRange().has_value());
    tracks.size.add(50, 12, "size"); // one keyframe replaces the constant
    EXPECT_FALSE(tracks.animated());
    EXPECT_EQ(tracks.keyedRange(), (FrameRange{50, 50}));
    tracks.size = {};
    tracks.colour.add(3, {0, 0, 0}, "colour");
    tracks.colour.add(9, {255, 255, 255}, "colour");
    tracks.position.add(1, {}, "position");
    tracks.position.add(5, {}, "position");
    EXPECT_EQ(tracks.keyedRange(), (FrameRange{1, 9}));
}

TEST(Track, ColoursAndPositionsBlendPerChannel)
{
    Track<Rgb> c;
    c.add(1, {255, 0, 10}, "colour");
    c.add(3, {0, 0, 255}, "colour");
    EXPECT_EQ(c.at(2), (Rgb{128, 0, 133})); // halves round away from zero
    Track<Position> p;
    p.add(0, {{0, false}, {100, false}}, "position");
    p.add(4, {{10, false}, {0, false}}, "position");
    EXPECT_EQ(p.at(1), (Position{{2.5, false}, {75, false}}));
    EXPECT_EQ(resolvePosition({{50, true}, {10, false}}, 1280, 720), (Position{{640, false}, {10, false}}));
}

// --------------------------------------------------------------------------
// Projects

Project sampleProject()
{
    Project p;
    p.plate.size = {640, 360};
    p.plate.colour = {1, 2, 3};
    p.plate.gradientEnd = Rgb{250, 251, 252};
    p.draft = true;
    p.downsample = {{1, 2}, {1, 4}};
    p.frames = FrameRange{101, 200};
    ProjectLayer l;
    l.record = {0x00, 0xff, 0x2b, 0xed, 0x01, 0x00, 'H', 'i', 0x0d, 0x0a};
    l.composite = true;
    l.tracks.size.add(0, 72, "size");
    l.tracks.position.add(101, {{10, true}, {50, true}}, "position");
    l.tracks.position.add(200, {{1234.5625, false}, {-3, false}}, "position");
    l.tracks.colour.add(0, {255, 255, 255}, "colour");
    p.layers.push_back(l);
    ProjectLayer second;
    second.record =
        corvane::record::encode({.text = "Hi\r\nthere", .fontName = "Old Face", .style = 5, .alignment = 1});
    second.edits.lines = {{"Caf\xc3\xa9", "", "x"}};
    second.edits.bold = second.edits.italic = true;
    second.edits.underline = second.edits.outline = false;
    p.layers.push_back(second);
    return p;
}

TEST(ProjectJson, RoundTripsEveryField)
{
    const Project p = sampleProject();
    const std::string json = projectToJson(p, "/tmp");
    EXPECT_THAT(json, HasSubstr("\"record\": \"00ff2bed010048690d0a\""));
    // Edits still to be applied show as they are, the rest as the record has it.
    EXPECT_THAT(json, HasSubstr(R"("text": "Café\n\nx",
      "font": "Old Face",
      "style": [
        "bold",
        "italic"
      ],
      "alignment": "center",)"));
    EXPECT_EQ(projectFromJson(json, "/tmp"), p);
}

TEST(ProjectJson, ReadableFieldsThatDifferFromTheRecordAreEdits)
{
    const std::string record =
        toHex(corvane::record::encode({.text = "A\r\nB", .fontName = "Liberation Serif", .style = 3, .alignment = 2}));
    struct Row {
        const char *name, *fields;
        TextChoice edits;
    };
    const Row rows[] = {
        {"AsTheRecord",
         R"("text": "A\nB", "font": "Liberation Serif", "style": ["italic", "bold"], "alignment": "right")",
         {}},
        {"VersionOneHasNone", "", {}},
        {"Text", R"("text": "A\nC")", {.lines = {{"A", "C"}}}},
        {"FontByCase", R"("font": "liberation serif")", {.font = "liberation serif"}},
        {"StyleAsAWhole",
         R"("style": ["bold"])",
         {.bold = true, .italic = false, .underline = false, .outline = false}},
        {"Alignment", R"("alignment": "centre")", {.alignment = 1}},
    };
    for (const Row &r : rows) {
        const std::string text = R"({"format": "quillomark-project", "version": 2, "layers": [{"record": ")" + record +
                                 "\"" + (*r.fields ? ", " : "") + r.fields + "}]}";
        EXPECT_EQ(projectFromJson(text, "").layers.at(0).edits, r.edits) << r.name;
    }
}

TEST(ProjectJson, PlateImagePathIsRelativeToTheProject)
{
    Project p;
    p.plate.image = "/data/shots/plate.png";
    const std::string json = projectToJson(p, "/data/shots/comp");
    EXPECT_THAT(json, HasSubstr("\"image\": \"../plate.png\""));
    EXPECT_EQ(projectFromJson(json, "/data/shots/comp").plate.image, "/data/shots/plate.png");
}

TEST(ProjectJson, RefusesDamagedFilesClearly)
{
    struct Row {
        const char *json;
        const char *message;
    };
    const std::string head = R"({"format": "quillomark-project", "version": 2, )";
    const Row rows[] = {
        {"{", "not valid JSON"},
        {"[]", "not a Quillomark project"},
        {R"({"format": 5, "layers": []})", "not a Quillomark project"},
        {R"({"format": "quillomark-project", "version": 7, "layers": []})", "version 7 is not supported"},
        {R"({"format": "quillomark-project", "version": 4294967297, "layers": []})", "version 4294967297 is not"},
        {R"({"format": "quillomark-project", "version": 1})", "no \"layers\" list"},
        {R"("layers": {}})", "layers: expected a list of layers, not an object"},
        {R"("layers": [{}]})", "layers[0]: no \"record\""},
        {R"("layers": [{"record": "0g"}]})", "layers[0].record: \"0g\" at digit 1 is not hex"},
        {R"("layers": [{"record": 5}]})", "layers[0].record: expected the record in hex, not a number"},
        {R"("layers": [{"record": "abc"}]})", "odd number of hex digits"},
        {R"("layers": [{"record": "00", "composite": 1}]})",
         "layers[0].composite: expected true or false, not a number"},
        {R"("layers": [{"record": "00", "size": [{"frame": 1}]}]})", "layers[0].size[0]: expected a keyframe"},
        {R"("layers": [{"record": "00", "size": [{"frame": 1, "value": 2}, {"frame": 1, "value": 3}]}]})",
         "layers[0].size[1]: two size keyframes at frame 1"},
        {R"("layers": [{"record": "00", "size": 18446744073709551615}]})",
         "layers[0].size: expected a whole number from -1000000 to 1000000, not 18446744073709551615"},
        {R"("layers": [{"record": "00", "size": [{"frame": -1, "value": 2}]}]})", "layers[0].size[0].frame: expected"},
        {R"("layers": [{"record": "00", "color": "blurple"}]})", "layers[0].color: bad colour \"blurple\""},
        {R"("layers": [{"record": "00", "color": [{"frame": 1, "value": 7}]}]})",
         "layers[0].color[0].value: expected a colour"},
        {R"("layers": [{"record": "00", "position": "1,2,3"}]})", "layers[0].position: bad position"},
        {R"("layers": [{"record": "00", "size": []}]})", "layers[0].size: expected a value or a list of keyframes"},
        {R"("layers": [{"record": "00", "colour": "red"}]})", "layers[0].colour: unknown key; did you mean \"color\"?"},
        {R"("layers": [{"record": "00", "style": ["blod"]}]})", "layers[0].style[0]: \"blod\" is not a style"},
        {R"("layers": [{"record": "00", "alignment": "middle"}]})", "layers[0].alignment: bad alignment"},
        {R"("layers": [{"record": "00", "text": "a\tb"}]})", "layers[0]: text: line 1 holds a control character"},
        {R"("layers": [{"record": "00", "font": "\u65e5"}]})", "layers[0].font: "},
        {R"("qualty": "high", "layers": []})", "qualty: unknown key; did you mean \"quality\"?"},
        {R"("quality": "best", "layers": []})", "quality: expected \"draft\" or \"high\", not \"best\""},
        {R"("downsample": "1/0", "layers": []})", "downsample: bad downsample ratio"},
        {R"("plate": {"size": "10"}, "layers": []})", "plate.size: bad plate size"},
        {R"("plate": {"image": "a.png", "color": "red"}, "layers": []})", "plate: an image plate has no size"},
    };
    for (const Row &r : rows) {
        std::string text = r.json;
        if (text.rfind("\"", 0) == 0)
            text = head + text;
        try {
            projectFromJson(text, "");
            ADD_FAILURE() << "accepted " << text;
        } catch (const ProjectError &e) {
            EXPECT_THAT(e.what(), HasSubstr(r.message)) << text;
        }
    }
}

TEST(ProjectFile, SavesCompletelyOrNotAtAll)
{
    const fs::path dir = fs::path(QM_TEST_OUTPUT_DIR) / "cli_unit";
    fs::create_directories(dir);
    const std::string path = (dir / "saved.json").string();
    saveProject(path, sampleProject());
    EXPECT_FALSE(fs::exists(path + ".partial"));
    EXPECT_EQ(loadProject(path), sampleProject());
    try {
        loadProject((dir / "missing.json").string());
        ADD_FAILURE();
    } catch (const ProjectError &e) {
        EXPECT_THAT(e.what(), HasSubstr("cannot read project"));
    }
    EXPECT_THROW(saveProject((dir / "no/such/dir/p.json").string(), sampleProject()), ProjectError);
}

TEST(Hex, RoundTrip)
{
    const std::vector<uint8_t> bytes = {0x00, 0xff, 0x2b, 0xed, 0x7f, 0x80};
    EXPECT_EQ(toHex(bytes), "00ff2bed7f80");
    EXPECT_EQ(fromHex("00FF2bed7f80", "r"), bytes);
    EXPECT_THROW(fromHex("+1", "r"), ProjectError);
}

// --------------------------------------------------------------------------
// The property list

std::vector<uint8_t> le32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

uint32_t code(const char (&c)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(c[0])) << 24 | static_cast<uint8_t>(c[1]) << 16 |
           static_cast<uint8_t>(c[2]) << 8 | static_cast<uint8_t>(c[3]);
}

void addProperty(std::vector<uint8_t> &list, const char (&key)[5], std::vector<uint8_t> data, uint32_t declared)
{
    for (auto part : {le32(code("ZQVK")), le32(code(key)), le32(0), le32(declared)})
        list.insert(list.end(), part.begin(), part.end());
    while (data.size() % 4)
        data.push_back(0);
    list.insert(list.end(), data.begin(), data.end());
}

std::vector<uint8_t> samplePipl()
{
    std::vector<uint8_t> list = {1, 0, 0, 0, 0, 0};
    auto count = le32(5);
    list.insert(list.end(), count.begin(), count.end());
    addProperty(list, "kind", le32(code("eFKT")), 4);
    addProperty(list, "name", {4, 'Q', 'u', 'i', 'l', 0, 0, 0}, 8);
    addProperty(list, "wx86", {'m', 'a', 'i', 'n', 0}, 5);
    addProperty(list, "eINF", {1, 0}, 2); // declared 2, takes 4
    addProperty(list, "eVER", le32(0x00190600), 4);
    return list;
}

TEST(Pipl, DecodesCodesStringsAndWords)
{
    const Registration r = decodePipl(samplePipl());
    ASSERT_EQ(r.properties.size(), 5u);
    EXPECT_EQ(r.properties[0].vendor, "ZQVK");
    EXPECT_EQ(r.kind, "eFKT");
    EXPECT_EQ(r.name, "Quil");
    EXPECT_EQ(r.entryPoint, "main");
    EXPECT_EQ(r.properties[3].data.size(), 2u);
    EXPECT_EQ(r.version, 0x00190600u);
    EXPECT_FALSE(r.globalFlags.has_value());
}

TEST(Pipl, CutShortOrOverlongIsAnError)
{
    auto list = samplePipl();
    for (size_t keep : {size_t{0}, size_t{9}, size_t{20}, list.size() - 1})
        EXPECT_THROW(decodePipl(std::span(list).first(keep)), RegistrationError) << keep;
    auto overlong = samplePipl();
    overlong[10 + 12] = 0xF0; // the first property declares more than there is
    EXPECT_THROW(decodePipl(overlong), RegistrationError);
}

TEST(Pipl, EmbeddedResourcesAreFoundByTheirLengthWord)
{
    // An empty entry, one resource, then the length word, inside other bytes.
    std::vector<size_t> ends;
    std::vector<uint8_t> res =
        qmtest::buildRes({{uint16_t{10}, uint16_t{7}, 0, {'a', 'b', 'c', 'd', 'e', 'f'}}}, &ends);
    res.resize(ends.back());
    const uint32_t length = static_cast<uint32_t>(res.size()); // 70
    std::vector<uint8_t> file(40, 0x11);
    file.insert(file.end(), res.begin(), res.end());
    file.resize(40 + 72, 0);
    auto word = le32(length);
    file.insert(file.end(), word.begin(), word.end());
    file.resize(file.size() + 16, 0x22);

    const auto found = findEmbeddedResources(file);
    ASSERT_EQ(found.size(), length);
    EXPECT_EQ(found.data(), file.data() + 40);
    auto noWord = file;
    noWord[40 + 72] = 0;
    EXPECT_TRUE(findEmbeddedResources(noWord).empty());
    EXPECT_TRUE(findEmbeddedResources({}).empty());
}

TEST(Pipl, TheBuiltModuleRegistersAsTheQuillomarkEffect)
{
    const Registration r = readRegistration(QM_MODULE_PATH);
    EXPECT_EQ(r.name, "Quillomark");
    EXPECT_EQ(r.category, "Text");
    EXPECT_EQ(r.kind, "eFKT");
    EXPECT_EQ(r.entryPoint, "main");
    EXPECT_EQ(r.matchName, "QZRV Quillomark2");
    EXPECT_EQ(r.version, 0x00190600u);
    EXPECT_EQ(r.globalFlags, 0x61u);
    EXPECT_EQ(r.properties.size(), 11u);
    EXPECT_THROW(readRegistration("/nonexistent/module.so"), RegistrationError);
}

// --------------------------------------------------------------------------
// Images

TEST(Plate, GradientRunsTopToBottom)
{
    const RgbaImage g = toRgba(makeGradientPlate(3, 5, {0, 0, 0}, {200, 100, 40}));
    EXPECT_THAT(std::vector<int>(g.pixel(2, 0), g.pixel(2, 0) + 4), ::testing::ElementsAre(0, 0, 0, 255));
    EXPECT_THAT(std::vector<int>(g.pixel(1, 2), g.pixel(1, 2) + 4), ::testing::ElementsAre(100, 50, 20, 255));
    EXPECT_THAT(std::vector<int>(g.pixel(0, 4), g.pixel(0, 4) + 4), ::testing::ElementsAre(200, 100, 40, 255));
    const RgbaImage one = toRgba(makeGradientPlate(1, 1, {9, 8, 7}, {0, 0, 0}));
    EXPECT_EQ(one.pixel(0, 0)[0], 9);
}

TEST(Downscale, AveragesAreasWeightedByAlpha)
{
    RgbaImage src(4, 2);
    // left 2x2 block: opaque red and transparent (whatever colour): red at half alpha
    const uint8_t red[4] = {255, 0, 0, 255}, clear[4] = {0, 255, 0, 0};
    for (int y = 0; y < 2; ++y) {
        std::copy(red, red + 4, src.pixel(0, y));
        std::copy(clear, clear + 4, src.pixel(1, y));
        for (int x = 2; x < 4; ++x) {
            uint8_t *p = src.pixel(x, y);
            p[0] = static_cast<uint8_t>(x == 2 ? 10 : 30), p[1] = 20, p[2] = 40, p[3] = 255;
        }
    }
    const RgbaImage half = toRgba(downscale(fromRgba(src), 2, 1));
    EXPECT_THAT(std::vector<int>(half.pixel(0, 0), half.pixel(0, 0) + 4), ::testing::ElementsAre(255, 0, 0, 128));
    EXPECT_THAT(std::vector<int>(half.pixel(1, 0), half.pixel(1, 0) + 4), ::testing::ElementsAre(20, 20, 40, 255));

    // Uneven ratios cover every source pixel exactly once in total.
    const media::Image flat = makePlate(7, 5, {90, 60, 30});
    const RgbaImage odd = toRgba(downscale(flat, 3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_THAT(std::vector<int>(odd.pixel(x, y), odd.pixel(x, y) + 4),
                        ::testing::ElementsAre(90, 60, 30, 255));
    EXPECT_EQ(downscale(flat, 7, 5), flat);
}

// Every file left in `dir` and below.
std::vector<std::string> filesIn(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Output, WritesUnderTheFinalNameOnlyWhenComplete)
{
    const fs::path dir = fs::path(QM_TEST_OUTPUT_DIR) / "cli_unit" / "output";
    fs::remove_all(dir);
    const std::string target = (dir / "sub" / "img.png").string();
    const media::Image img = makePlate(8, 4, {1, 2, 3});
    writeImageAtomically(target, img, {});
    EXPECT_EQ(media::readImage(target), img);
    // A format nobody writes, a folder: nothing under any name.
    EXPECT_THROW(writeImageAtomically((dir / "img.unknownformat").string(), img, {}), ImageError);
    EXPECT_THROW(writeImageAtomically(dir.string(), img, {}), ImageError) << "a folder is not an image";
    EXPECT_THAT(filesIn(dir), ::testing::ElementsAre("sub/img.png"));
}

TEST(Output, ReadingRefusesMissingAndDamagedFiles)
{
    const fs::path dir = fs::path(QM_TEST_OUTPUT_DIR) / "cli_unit";
    fs::create_directories(dir);
    EXPECT_THROW(readImage((dir / "none.png").string()), ImageError);
    const std::string fake = (dir / "fake.png").string();
    std::ofstream(fake) << "\x89PNG but not really";
    try {
        readImage(fake);
        ADD_FAILURE() << "a damaged file was read";
    } catch (const ImageError &e) {
        EXPECT_THAT(e.what(), HasSubstr(fake));
    }
}

TEST(Suggest, NearMissesOnlyAndTheNearest)
{
    const std::vector<std::string> names = {"color", "composite", "position", "--color", "--colour", "render"};
    struct Row {
        const char *word, *expected;
    } rows[] = {
        {"colour", "color"},
        {"Colr", "color"},
        {"--colr", "--color"},
        {"rendr", "render"},
        {"psoition", "position"}, // a swap is one slip
        {"size", ""},
        {"x", ""},
        {"compose", "composite"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(nearest(r.word, names), r.expected) << r.word;
}

TEST(Progress, LineShowsOverallShareAndFrame)
{
    EXPECT_EQ(ProgressBar::line(0, 1, 1, 0.5, 10), "[#####-----] 50%");
    EXPECT_EQ(ProgressBar::line(1, 4, 102, 0.0, 8), "[##------] 25%  frame 102 (2/4)");
    EXPECT_EQ(ProgressBar::line(3, 4, 104, 1.0, 4), "[####] 100%  frame 104 (4/4)");
    EXPECT_EQ(ProgressBar::line(0, 1, 1, 7.0, 4), "[####] 100%") << "the host's values are clamped";
    EXPECT_EQ(ProgressBar::plainLine(2, 8, 102, 10.0), "frame 102 (2/8) elapsed 10.0s eta 30.0s");
    EXPECT_EQ(ProgressBar::plainLine(2, 100, 102, 3725.0), "frame 102 (2/100) elapsed 1h02m eta 50h42m");
}

// --------------------------------------------------------------------------
// The frame loop, with a sink that fails or slows chosen frames.

struct SinkScript {
    const char *name;
    int32_t encoders;
    std::set<int32_t> failing; // writes that throw "frame N"
    int32_t slow = 0;          // a write that pauses first
    int32_t renderFails = 0;   // the render that throws "render N"
    const char *error;         // what the run throws; empty: nothing
};

class ScriptedSink final : public FrameSink {
public:
    explicit ScriptedSink(const SinkScript &s) : script_(s) {}
    int32_t encoders() const override { return script_.encoders; }
    void write(int32_t frame, media::Image) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(frame == script_.slow ? 100 : 1));
        held.fetch_sub(1);
        if (script_.failing.count(frame))
            throw std::runtime_error("frame " + std::to_string(frame));
        std::lock_guard lock(mutex);
        written.push_back(frame);
    }
    const SinkScript &script_;
    std::mutex mutex;
    std::vector<int32_t> written; // in the order the writes ended
    std::atomic<int32_t> held{0}, mostHeld{0};
};

class PipelineTest : public ::testing::TestWithParam<SinkScript> {};

TEST_P(PipelineTest, WritesEachFrameOnceReportsInOrderAndStopsAtTheFirstError)
{
    const SinkScript &script = GetParam();
    ScriptedSink sink(script);
    struct : FrameSource {
        media::Image image = makePlate(2, 1, {0, 0, 0});
        const media::Image &plate(int32_t) override { return image; }
    } source;
    std::vector<int32_t> reported;
    PipelineSteps steps;
    steps.started = [](int32_t) {};
    steps.render = [&](const media::Image &plate, int32_t frame) {
        if (frame == script.renderFails)
            throw std::runtime_error("render " + std::to_string(frame));
        sink.mostHeld.store(std::max(sink.mostHeld.load(), sink.held.fetch_add(1) + 1));
        return plate;
    };
    steps.written = [&](int32_t frame, int32_t count) {
        reported.push_back(frame);
        EXPECT_EQ(count, static_cast<int32_t>(reported.size()));
    };
    std::string error;
    try {
        runPipeline({1, 20}, source, sink, steps);
    } catch (const std::runtime_error &e) {
        error = e.what();
    }
    EXPECT_EQ(error, script.error);
    // Every encoder is joined: the writes that began have all ended.
    std::vector<int32_t> written = sink.written;
    if (script.encoders == 1) {
        EXPECT_TRUE(std::is_sorted(written.begin(), written.end())) << "one encoder writes in frame order";
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(reported, written) << "reported in frame order, once each";
    EXPECT_EQ(std::adjacent_find(written.begin(), written.end()), written.end()) << "a frame written twice";
    EXPECT_LE(sink.mostHeld.load(), script.encoders + 2);
    if (script.slow && !script.failing.count(script.slow)) {
        EXPECT_TRUE(std::count(written.begin(), written.end(), script.slow)) << "the write in flight was cut short";
    }
    if (!*script.error) {
        EXPECT_EQ(written.size(), 20u);
    }
    if (script.renderFails) {
        EXPECT_EQ(written.size(), static_cast<size_t>(script.renderFails - 1)) << "rendered frames are written";
    }
    // The renderer stops soon after a write fails: the frames held then, and
    // as many again that a slow thread can render before it hears of it.
    if (!script.failing.empty() && !written.empty()) {
        EXPECT_LE(written.back(), *script.failing.rbegin() + 2 * (script.encoders + 2));
    }
}

const SinkScript kSinkScripts[] = {
    {"OneEncoder", 1, {}, 0, 0, ""},
    {"FourEncoders", 4, {}, 0, 0, ""},
    {"FailedWrite", 3, {5}, 0, 0, "frame 5"},
    {"EarlierFrameErrorWins", 2, {3, 4}, 3, 0, "frame 3"},
    {"InFlightWriteEnds", 2, {6}, 5, 0, "frame 6"},
    {"FailedRender", 2, {}, 0, 7, "render 7"},
};

INSTANTIATE_TEST_SUITE_P(Table, PipelineTest, ::testing::ValuesIn(kSinkScripts),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
