// The built quillomark program, run as a user runs it: images it writes,
// sequences, projects, messages and exit statuses.
#include "cli_fixture.h"
#include "output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using quillomark::readImage;
using quillomark::RgbaImage;
using ::testing::HasSubstr;

namespace {

struct Ink {
    int64_t count = 0;
    double cx = 0, cy = 0;
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};

// Where the alpha channel of a render without composite is non-zero.
Ink inkOf(const RgbaImage &img)
{
    Ink ink;
    for (int32_t y = 0; y < img.height; ++y)
        for (int32_t x = 0; x < img.width; ++x)
            if (const uint8_t a = img.pixel(x, y)[3]) {
                ink.count += a;
                ink.cx += static_cast<double>(x) * a;
                ink.cy += static_cast<double>(y) * a;
                ink.left = std::min(ink.left, x);
                ink.top = std::min(ink.top, y);
                ink.right = std::max(ink.right, x + 1);
                ink.bottom = std::max(ink.bottom, y + 1);
            }
    if (ink.count) {
        ink.cx /= static_cast<double>(ink.count);
        ink.cy /= static_cast<double>(ink.count);
    }
    return ink;
}

bool samePixels(const RgbaImage &a, const RgbaImage &b)
{
    return a.width == b.width && a.height == b.height && a.rgba == b.rgba;
}

// --------------------------------------------------------------------------
// Pixels: text colour only where the text is, the plate everywhere else.

class QualityTest : public CliTest, public ::testing::WithParamInterface<bool> {};

TEST_P(QualityTest, TextColourOnlyWhereTheTextIsAndThePlateElsewhere)
{
    const bool draft = GetParam();
    std::vector<std::string> common = {"render",  "Hi\\nthere", "--plate", "320x160",    "--plate-color",
                                       "#204060", "--color",    "#ffe020", "--size",     "48",
                                       "--align", "center",     "--font",  "DejaVu Sans"};
    if (draft)
        common.push_back("--draft");
    auto alone = common, over = common;
    alone.insert(alone.end(), {"-o", path("alone.png")});
    over.insert(over.end(), {"--composite", "-o", path("over.png")});

    RunResult r = cli(alone);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("alone.png"));
    r = cli(over);
    ASSERT_EQ(r.status, 0) << r.err;

    // The generated plate is opaque: only text drawn alone needs alpha.
    EXPECT_EQ(quillomark::media::readImage(path("over.png")).channels(), 3);
    EXPECT_EQ(quillomark::media::readImage(path("alone.png")).channels(), 4);
    const RgbaImage a = readImage(path("alone.png")), o = readImage(path("over.png"));
    ASSERT_EQ(a.width, 320);
    ASSERT_EQ(a.height, 160);
    ASSERT_EQ(o.width, 320);
    const uint8_t plate[4] = {0x20, 0x40, 0x60, 255}, text[3] = {0xff, 0xe0, 0x20};
    int64_t partial = 0, full = 0;
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x) {
            const uint8_t *cov = a.pixel(x, y), *px = o.pixel(x, y);
            const uint8_t c = cov[3];
            SCOPED_TRACE("pixel " + std::to_string(x) + "," + std::to_string(y));
            if (c == 0) {
                // no text: transparent black alone, the plate exactly over it
                ASSERT_EQ(cov[0] | cov[1] | cov[2], 0);
                ASSERT_TRUE(std::equal(px, px + 4, plate));
                continue;
            }
            // text: its colour exactly, alone; over the plate, between the two
            ASSERT_TRUE(std::equal(cov, cov + 3, text));
            ASSERT_EQ(px[3], 255);
            if (c == 255) {
                ++full;
                ASSERT_TRUE(std::equal(px, px + 3, text));
            } else {
                ++partial;
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_GE(px[ch], std::min(plate[ch], text[ch]));
                    ASSERT_LE(px[ch], std::max(plate[ch], text[ch]));
                }
            }
        }
    // Two lines of 48-point text, centred on the plate's middle.
    const Ink ink = inkOf(a);
    EXPECT_GT(full, 400);
    EXPECT_NEAR(ink.cx, 160, 20);
    EXPECT_NEAR(ink.cy, 80, 20);
    EXPECT_GT(ink.bottom - ink.top, 60) << "two lines";
    if (draft)
        EXPECT_EQ(partial, 0) << "draft quality draws aliased";
    else
        EXPECT_GT(partial, 100) << "high quality anti-aliases the edges";
}

INSTANTIATE_TEST_SUITE_P(DraftAndHigh, QualityTest, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Draft" : "HighQuality"; });

TEST_F(CliTest, InputPlateFromAFileIsKeptOutsideTheText)
{
    RgbaImage plate(64, 48);
    for (int32_t y = 0; y < plate.height; ++y)
        for (int32_t x = 0; x < plate.width; ++x) {
            uint8_t *p = plate.pixel(x, y);
            p[0] = static_cast<uint8_t>(x * 4), p[1] = static_cast<uint8_t>(y * 5), p[2] = 77, p[3] = 255;
        }
    quillomark::writeImageAtomically(path("plate.png"), quillomark::fromRgba(plate), {});
    RunResult r = cli({"render", ".", "--input", path("plate.png"), "--size", "12", "--position", "2,2", "--composite",
                       "--color", "white", "-o", path("out.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const RgbaImage out = readImage(path("out.png"));
    ASSERT_EQ(out.width, 64);
    // The bottom right, far from the dot, is the plate unchanged.
    for (int32_t y = 24; y < 48; ++y)
        for (int32_t x = 32; x < 64; ++x)
            ASSERT_TRUE(std::equal(out.pixel(x, y), out.pixel(x, y) + 4, plate.pixel(x, y))) << x << "," << y;
}

// --------------------------------------------------------------------------
// Animation

TEST_F(CliTest, ThreeFrameAnimationFollowsItsKeyframes)
{
    RunResult r = cli({"render",
                       "Go",
                       "--plate",
                       "320x120",
                       "--size",
                       "32",
                       "--align",
                       "center",
                       "--font",
                       "DejaVu Sans",
                       "--position-key",
                       "1=60,60",
                       "--position-key",
                       "3=260,60",
                       "--color-key",
                       "1=#ff0000",
                       "--color-key",
                       "3=#0000ff",
                       "-o",
                       path("seq/go.%04d.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("seq/go.0001.png") + "\n" + path("seq/go.0002.png") + "\n" + path("seq/go.0003.png") + "\n");
    EXPECT_FALSE(fs::exists(path("seq/go.0000.png")));
    EXPECT_FALSE(fs::exists(path("seq/go.0004.png")));

    Ink ink[3];
    for (int f = 0; f < 3; ++f) {
        const RgbaImage img = readImage(path("seq/go.000" + std::to_string(f + 1) + ".png"));
        ink[f] = inkOf(img);
        ASSERT_GT(ink[f].count, 0) << "frame " << f + 1;
        EXPECT_NEAR(ink[f].cy, 60, 4);
        if (f == 1) {
            // halfway between red and blue
            for (int32_t y = 0; y < img.height; ++y)
                for (int32_t x = 0; x < img.width; ++x) {
                    if (img.pixel(x, y)[3]) {
                        ASSERT_THAT(std::vector<int>(img.pixel(x, y), img.pixel(x, y) + 3),
                                    ::testing::ElementsAre(128, 0, 128));
                    }
                }
        }
    }
    // The same text moved by the keyed distance, 100 pixels a frame.
    EXPECT_NEAR(ink[0].cx, 60, 6);
    EXPECT_NEAR(ink[1].cx - ink[0].cx, 100, 1.0);
    EXPECT_NEAR(ink[2].cx - ink[1].cx, 100, 1.0);
}

TEST_F(CliTest, AnyFrameRenderedOnItsOwnMatchesTheWholeRun)
{
    const std::vector<std::string> anim = {"render",         "Farm",       "--plate",        "200x80",
                                           "--size-key",     "10=20",      "--size-key",     "14=40",
                                           "--position-key", "10=20%,50%", "--position-key", "14=80%,50%"};
    auto whole = anim, one = anim;
    whole.insert(whole.end(), {"-o", path("all/f.%03d.png")});
    one.insert(one.end(), {"--frames", "12", "-o", path("one/f.%03d.png")});
    RunResult r = cli(whole);
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli(one);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("one/f.012.png") + "\n");
    EXPECT_TRUE(samePixels(readImage(path("all/f.012.png")), readImage(path("one/f.012.png"))));

    // Sizes 20, 25, 30, 35, 40: the ink grows frame by frame.
    int32_t previous = 0;
    for (int f = 10; f <= 14; ++f) {
        const Ink ink = inkOf(readImage(path("all/f.0" + std::to_string(f) + ".png")));
        EXPECT_GT(ink.bottom - ink.top, previous) << "frame " << f;
        previous = ink.bottom - ink.top;
    }
}

TEST_F(CliTest, DownsampledProxyIsSmallerWithSmallerText)
{
    RunResult r = cli({"render", "Proxy", "--plate", "320x120", "--size", "40", "-o", path("full.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli({"render", "Proxy", "--plate", "320x120", "--size", "40", "--downsample", "1/2", "-o", path("half.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const RgbaImage full = readImage(path("full.png")), half = readImage(path("half.png"));
    EXPECT_EQ(half.width, 160);
    EXPECT_EQ(half.height, 60);
    const Ink f = inkOf(full), h = inkOf(half);
    EXPECT_NEAR(h.right - h.left, (f.right - f.left) / 2.0, 4);
    EXPECT_NEAR(h.cx, f.cx / 2, 3);
}

TEST_F(CliTest, ProgressBarFollowsTheFramesOnStderr)
{
    RunResult r = cli({"render", "P", "--plate", "64x32", "--frames", "1-2", "--progress", "-o", path("p.%d.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("frame 1 (1/2)"));
    EXPECT_THAT(r.err, HasSubstr("frame 2 (2/2)"));
    EXPECT_THAT(r.err, HasSubstr("] "));
    r = cli({"render", "P", "--plate", "64x32", "--frames", "1-2", "-o", path("q.%d.png")});
    ASSERT_EQ(r.status, 0);
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("frame 1"))) << "no bar when stderr is not a terminal";
    r = cli({"render", "P", "--plate", "64x32", "--frames", "7-8", "--progress=plain", "-o", path("l.%d.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, ::testing::MatchesRegex("frame 7 \\(1/2\\) elapsed [0-9.]+s eta [0-9.]+s\n"
                                               "frame 8 \\(2/2\\) elapsed [0-9.]+s eta 0.0s\n"));
    r = cli({"render", "P", "--plate", "64x32", "--font", "No Such Font", "--frames", "1-2", "--progress", "-q", "-o",
             path("s.%d.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "") << "quiet: no bar, no names, no warnings";
    EXPECT_TRUE(fs::exists(path("s.2.png")));
}

// Ctrl-C and a render farm's stop both cancel through the module's checks,
// however many threads render and write.
struct Interrupt {
    const char *name;
    int signal;
    const char *threads;
};

class InterruptTest : public CliTest, public ::testing::WithParamInterface<Interrupt> {};

TEST_P(InterruptTest, StopsTheSequencePromptlyLeavingOnlyCompleteFiles)
{
    Running run(command({"render", "Stop", "--plate", "1280x720", "--size", "200", "--frames", "1-400", "--threads",
                         GetParam().threads, "-o", path("c/c.%04d.png")}),
                dir_.string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(path("c/c.0001.png")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(path("c/c.0001.png")));
    run.signal(GetParam().signal);
    // Promptly: within 2 s, the time a farm scheduler waits before SIGKILL
    // (the emulated 32-bit build gets more).
    const auto r = run.waitFor(std::chrono::seconds(*QM_CLI_EMULATOR ? 10 : 2));
    ASSERT_TRUE(r) << "still running after the signal";
    EXPECT_EQ(r->status, 130) << r->err;
    EXPECT_THAT(r->err, HasSubstr("cancelled"));
    int files = 0;
    for (const auto &e : fs::directory_iterator(path("c"))) {
        EXPECT_EQ(e.path().extension(), ".png") << e.path() << " is not a finished image";
        const RgbaImage img = readImage(e.path().string());
        EXPECT_EQ(img.width, 1280);
        ++files;
    }
    EXPECT_GE(files, 1);
    EXPECT_LT(files, 400);
}

const Interrupt kInterrupts[] = {
    {"Int", SIGINT, "0"},
    {"TermOneThread", SIGTERM, "1"},
    {"IntEightThreads", SIGINT, "8"},
};

INSTANTIATE_TEST_SUITE_P(Signal, InterruptTest, ::testing::ValuesIn(kInterrupts),
                         [](const auto &info) { return std::string(info.param.name); });

// Threads share the work of a frame and of a sequence, never its bytes.
TEST_F(CliTest, AnyThreadCountWritesTheSameFiles)
{
    const std::vector<std::string> anim = {"render",         "Same\\nbytes", "--plate", "960x540",
                                           "--high-quality", "--size-key",   "1=30",    "--size-key",
                                           "4=60",           "--frames",     "1-4",     "--threads"};
    for (const char *threads : {"1", "2", "8"}) {
        auto args = anim;
        args.insert(args.end(), {threads, "-o", path(std::string("t") + threads + "/f.%d.png")});
        const RunResult r = cli(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    for (int f = 1; f <= 4; ++f) {
        const std::string name = "/f." + std::to_string(f) + ".png";
        const std::string one = slurp(path("t1" + name));
        EXPECT_FALSE(one.empty());
        EXPECT_EQ(slurp(path("t2" + name)), one) << name;
        EXPECT_EQ(slurp(path("t8" + name)), one) << name;
    }
}

// --------------------------------------------------------------------------
// Projects

TEST_F(CliTest, ProjectRoundTripRendersTheSamePixels)
{
    RunResult r = cli({"render",          "Round\\ntrip",
                       "--font",          "liberation serif",
                       "--italic",        "--underline",
                       "--align",         "right",
                       "--size",          "40",
                       "--position",      "300,60",
                       "--color",         "skyblue",
                       "--composite",     "--plate",
                       "320x120",         "--plate-gradient",
                       "#000000,#ffffff", "--save-project",
                       path("p.json"),    "-o",
                       path("a.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    // The record as the module stored it through its dialog: the text with
    // its typed line break as CR LF, the font as listed.
    const quillomark::Project saved = quillomark::projectFromJson(slurp(path("p.json")), dir_.string());
    EXPECT_EQ(
        corvane::record::decode(saved.layers.at(0).record),
        (corvane::record::Fields{.text = "Round\r\ntrip", .fontName = "Liberation Serif", .style = 6, .alignment = 2}));

    r = cli({"render", "--project", path("p.json"), "-o", path("b.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(samePixels(readImage(path("a.png")), readImage(path("b.png"))));
    EXPECT_GT(inkOf(readImage(path("a.png"))).count, 0);
}

// Two ways to one render: a project's readable fields edited by hand or
// changed by options, a text file, and the same given on the command line.
struct SameRender {
    const char *name;
    std::function<void(nlohmann::json &layer)> edit; // on the saved project's layer
    std::vector<std::string> a, b;                   // "@p": the edited project, "@t": a file holding "Bye"
};

class SameRenderTest : public CliTest, public ::testing::WithParamInterface<SameRender> {};

TEST_P(SameRenderTest, BothGiveThePixelsOfTheChangeAndNotTheOriginal)
{
    const SameRender &c = GetParam();
    const std::vector<std::string> base = {"--font", "DejaVu Sans", "--plate", "200x100"};
    auto run = [&](std::vector<std::string> args, const std::string &out) {
        for (auto &a : args)
            a = a == "@p" ? path("edited.json") : a == "@t" ? path("t.txt") : a;
        if (args[0] != "--project")
            args.insert(args.end(), base.begin(), base.end());
        args.insert(args.begin(), "render");
        args.insert(args.end(), {"-o", path(out)});
        const RunResult r = cli(args);
        EXPECT_EQ(r.status, 0) << r.err;
    };
    run({"Hello\\nWorld", "--align", "center", "--save-project", path("p.json")}, "base.png");
    nlohmann::json project = nlohmann::json::parse(slurp(path("p.json")));
    if (c.edit)
        c.edit(project["layers"][0]);
    std::ofstream(path("edited.json")) << project.dump(2);
    std::ofstream(path("t.txt")) << "Bye\n";
    run(c.a, "a.png");
    run(c.b, "b.png");
    const RgbaImage a = readImage(path("a.png"));
    EXPECT_TRUE(samePixels(a, readImage(path("b.png"))));
    EXPECT_FALSE(samePixels(a, readImage(path("base.png"))));
}

const SameRender kSameRenders[] = {
    {"EditedText", [](nlohmann::json &l) { l["text"] = "Bye"; }, {"--project", "@p"}, {"Bye", "--align", "center"}},
    {"EditedStyleAndAlignment",
     [](nlohmann::json &l) {
         l["style"] = {"italic"};
         l["alignment"] = "right";
     },
     {"--project", "@p"},
     {"Hello\\nWorld", "--italic", "--align", "right"}},
    {"OptionsChangeTheLastLayer",
     nullptr,
     {"--project", "@p", "--text", "Bye", "--size", "30"},
     {"Bye", "--align", "center", "--size", "30"}},
    {"TextFile", nullptr, {"--text-file", "@t", "--align", "center"}, {"Bye", "--align", "center"}},
};

INSTANTIATE_TEST_SUITE_P(Table, SameRenderTest, ::testing::ValuesIn(kSameRenders),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CliTest, AddedLayerCompositesAsTheProjectsLayerDoes)
{
    RunResult r = cli({"render", "A", "--composite", "--plate", "64x32", "--plate-color", "#102030", "--save-project",
                       path("p.json")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli({"render", "--project", path("p.json"), "--add-layer", "B", "--save-project", path("two.json"), "-o",
             path("two.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const quillomark::Project two = quillomark::loadProject(path("two.json"));
    ASSERT_EQ(two.layers.size(), 2u);
    EXPECT_TRUE(two.layers[1].composite);
    const uint8_t plate[4] = {0x10, 0x20, 0x30, 255};
    EXPECT_TRUE(std::equal(plate, plate + 4, readImage(path("two.png")).pixel(0, 0))) << "the plate survives";
}

TEST_F(CliTest, DamagedProjectRecordGetsTheModulesMessage)
{
    const std::string bad = editedProject("Damage", [](corvane::record::Fields &r) { r.magic = 0x00FF2BEE; });
    const RunResult r = cli({"render", "--project", bad, "-o", path("bad.png")});
    EXPECT_EQ(r.status, 3);
    EXPECT_THAT(r.err, HasSubstr("Quillomark internal structure damaged."));
    EXPECT_FALSE(fs::exists(path("bad.png")));
    EXPECT_FALSE(fs::exists(path("bad.png.partial")));
}

TEST_F(CliTest, ProjectRecordOfAnotherVersionIsReplacedWithAWarning)
{
    const std::string v2 = editedProject("Old", [](corvane::record::Fields &r) { r.version = 0x0200; });
    const RunResult r = cli({"render", "--project", v2, "-o", path("v2.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("replaced the project's settings record with a blank one"));
    EXPECT_EQ(inkOf(readImage(path("v2.png"))).count, 0) << "a blank record has no text";
}

// --------------------------------------------------------------------------
// Messages

struct BadInput {
    const char *name;
    std::vector<std::string> args;
    int status;
    const char *message;
};

class BadInputTest : public CliTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, ClearMessageAndNonZeroExit)
{
    const BadInput &c = GetParam();
    std::vector<std::string> args;
    mkfifo(path("fifo").c_str(), 0600);
    for (const auto &a : c.args)
        args.push_back(a == "@" ? path("x.png") : a == "@seq" ? path("x.%d.png") : a == "@fifo" ? path("fifo") : a);
    const RunResult r = cli(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_FALSE(fs::exists(path("x.png"))) << "nothing is written after an error";
}

const BadInput kBadInputs[] = {
    {"UnknownOption", {"render", "a", "--bogus", "-o", "@"}, 2, "--bogus"},
    {"NoSubcommand", {}, 2, "subcommand"},
    {"BadColour", {"render", "a", "--color", "blurple", "-o", "@"}, 2, "bad colour \"blurple\""},
    {"BadHexColour", {"render", "a", "--color", "#12345g", "-o", "@"}, 2, "bad colour \"#12345g\""},
    {"BadKeyframe", {"render", "a", "--size-key", "x=3", "-o", "@"}, 2, "bad size keyframe \"x=3\""},
    {"BadKeyframeValue", {"render", "a", "--color-key", "1=nope", "-o", "@"}, 2, "bad colour keyframe \"1=nope\""},
    {"DuplicateKeyframe",
     {"render", "a", "--size-key", "1=10", "--size-key", "1=20", "-o", "@"},
     2,
     "two size keyframes at frame 1"},
    {"ValueAndKeyframes",
     {"render", "a", "--size", "5", "--size-key", "1=10", "-o", "@"},
     2,
     "either --size or --size-key"},
    {"SizeOutOfRange",
     {"render", "a", "--size", "600", "-o", "@"},
     2,
     "size 600 is outside the module's range 0 to 512"},
    {"BadPosition", {"render", "a", "--position", "10", "-o", "@"}, 2, "bad position \"10\""},
    {"BadFrames", {"render", "a", "--frames", "5-2", "-o", "@"}, 2, "bad frame range \"5-2\""},
    {"SequenceWithoutNumber", {"render", "a", "--frames", "1-3", "-o", "@"}, 2, "put the frame number"},
    {"TwoFrameNumbers", {"render", "a", "-o", "x.%d.%d.png"}, 2, "more than one frame number"},
    {"UnknownFormat", {"render", "a", "-o", "x.nope"}, 2, "unknown image format"},
    {"BadAlignment", {"render", "a", "--align", "middle", "-o", "@"}, 2, "bad alignment \"middle\""},
    {"BadDownsample", {"render", "a", "--downsample", "2/1", "-o", "@"}, 2, "bad downsample ratio"},
    {"BadPlate", {"render", "a", "--plate", "0x10", "-o", "@"}, 2, "bad plate size \"0x10\""},
    {"OutputIsADirectory", {"render", "a", "-o", "/tmp"}, 1, "cannot write \"/tmp\": it is a directory"},
    {"PlateTooLargeForTheHost",
     {"render", "a", "--plate", "32767x32767", "--composite", "-o", "@"},
     1,
     "it is 32767x32767 (1073 million pixels); the host renders images of up to 134 million pixels"},
    {"InputAndPlate", {"render", "a", "--input", "p.png", "--plate", "10x10", "-o", "@"}, 2, "one or the other"},
    {"Unrepresentable", {"render", "\xe6\x97\xa5", "-o", "@"}, 2, "text:"},
    {"ControlCharacter", {"render", "a\tb", "-o", "@"}, 2, "control character"},
    {"NoText", {"render", "-o", "@"}, 2, "nothing to draw"},
    {"NoOutput", {"render", "a"}, 2, "-o FILE"},
    {"MissingImage",
     {"render", "a", "--input", "/nonexistent/plate.png", "-o", "@"},
     1,
     "cannot read image \"/nonexistent/plate.png\""},
    {"MissingModule", {"--module", "/nonexistent/Quillomark.so", "render", "a", "-o", "@"}, 1, "module not found"},
    {"MissingProject", {"render", "--project", "/nonexistent/p.json", "-o", "@"}, 1, "cannot read project"},
    {"DeviceProject", {"render", "--project", "/dev/zero", "-o", "@"}, 1, "it is a device, not a regular file"},
    {"FifoProject", {"render", "--project", "@fifo", "-o", "@"}, 1, "it is a FIFO (a pipe), not a regular file"},
    {"DirectoryProject", {"render", "--project", "/", "-o", "@"}, 1, "cannot read project \"/\": it is a directory"},
    {"FifoTextFile", {"render", "--text-file", "@fifo", "-o", "@"}, 1, "it is a FIFO (a pipe), not a regular file"},
    {"TextTwice", {"render", "a", "--text-file", "/dev/null", "-o", "@"}, 2, "give the text once"},
    {"LayerWithoutProject", {"render", "a", "--layer", "1", "-o", "@"}, 2, "--layer works on a project"},
    {"TooManyThreads", {"render", "a", "--threads", "257", "-o", "@"}, 2, "bad thread count \"257\""},
    {"BadCompression", {"render", "a", "--compression", "10", "-o", "@"}, 2, "bad compression \"10\""},
    {"BadProgressStyle", {"render", "a", "--progress=fancy", "-o", "@"}, 2, "bad progress style \"fancy\""},
    {"MistypedCommand", {"rendr", "a"}, 2, "unknown command \"rendr\"; did you mean \"render\"?"},
    {"MistypedOption",
     {"render", "a", "--colr=red", "-o", "@"},
     2,
     "unknown option \"--colr\"; did you mean \"--color\"?"},
};

INSTANTIATE_TEST_SUITE_P(Table, BadInputTest, ::testing::ValuesIn(kBadInputs),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CliTest, ImageThatIsNotAnImageIsRefused)
{
    std::ofstream(path("fake.png")) << "this is not a picture";
    const RunResult r = cli({"render", "a", "--input", path("fake.png"), "-o", path("out.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot read image \"" + path("fake.png") + "\""));
    EXPECT_FALSE(fs::exists(path("out.png")));
}

TEST_F(CliTest, ProjectThatIsNotJsonIsRefused)
{
    std::ofstream(path("p.json")) << "{ \"format\": \"quillomark-project\", ";
    const RunResult r = cli({"render", "--project", path("p.json"), "-o", path("out.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("not valid JSON"));
}

TEST_F(CliTest, UnknownFontWarnsAndNamesTheFallback)
{
    const RunResult r = cli({"render", "a", "--font", "No Such Font 123", "-o", path("out.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("warning: font \"No Such Font 123\" is not installed; using \"DejaVu Sans\""));
    EXPECT_TRUE(fs::exists(path("out.png")));
}

TEST_F(CliTest, OverlongTextIsCutAsTheDialogCutsIt)
{
    const RunResult r = cli({"render", std::string(300, 'w'), "--save-project", path("long.json")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("holds 254 characters (each line break counts two); of the text's 1 lines (300 "
                                 "characters) it kept line 1 reads \"" +
                                 std::string(254, 'w') + "\""));
}

// --------------------------------------------------------------------------
// info, fonts, demo

TEST_F(CliTest, InfoShowsRegistrationAndParameters)
{
    const RunResult r = cli({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *expected :
         {"Name          Quillomark", "Category      Text", "Kind          eFKT (effect)", "Entry point   main",
          "Version       0x00190600", "Global flags  0x00000061", "Match name    QZRV Quillomark2", "Size",
          "slider     0 to 512, default 36", "Position", "Text Color", "default #ff0000", "Composite On Original",
          "check box  default off"})
        EXPECT_THAT(r.out, HasSubstr(expected));
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, FontsAreWhatTheDialogLists)
{
    const RunResult r = cli({"fonts"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> fonts;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        fonts.push_back(line);
    EXPECT_THAT(fonts, ::testing::Contains("DejaVu Sans"));
    EXPECT_THAT(fonts, ::testing::Contains("Liberation Serif"));
    auto lower = [](std::string s) {
        for (char &c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (size_t i = 1; i < fonts.size(); ++i)
        EXPECT_LT(lower(fonts[i - 1]), lower(fonts[i])) << "sorted, each once";
}

TEST_F(CliTest, DemoWritesTheDemoFrameAndPrintsItsPath)
{
    const RunResult r = cli({"demo", "-o", path("demo.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("demo image: " + path("demo.png")));
    const RgbaImage img = readImage(path("demo.png"));
    EXPECT_EQ(img.width, 1280);
    EXPECT_EQ(img.height, 720);
    EXPECT_EQ(r.out, "demo image: " + path("demo.png") + "\n") << "the path, once";
    // Composited: opaque everywhere; white text, three lines centred.
    int64_t white = 0, transparent = 0;
    int32_t left = img.width, right = 0, top = img.height, bottom = 0;
    for (int32_t y = 0; y < img.height; ++y)
        for (int32_t x = 0; x < img.width; ++x) {
            const uint8_t *p = img.pixel(x, y);
            transparent += p[3] != 255;
            if (p[0] == 255 && p[1] == 255 && p[2] == 255) {
                ++white;
                left = std::min(left, x), right = std::max(right, x + 1);
                top = std::min(top, y), bottom = std::max(bottom, y + 1);
            }
        }
    EXPECT_EQ(transparent, 0);
    EXPECT_GT(white, 5000);
    EXPECT_NEAR((left + right) / 2.0, 640, 20);
    EXPECT_NEAR((top + bottom) / 2.0, 360, 30);
    EXPECT_GT(bottom - top, 150) << "three lines";
}

} // namespace
