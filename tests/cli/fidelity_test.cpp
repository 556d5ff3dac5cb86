// What quillomark does to plates and files: deep plates keep their
// precision, alpha follows each format's convention, every failed write is
// an error that leaves nothing behind, and what cannot be read is refused
// at once with the reader's own reason.
#include "cli_fixture.h"
#include "output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace quillomark;
using ::testing::HasSubstr;

namespace {

// Files in `dir` (not below), sorted.
std::vector<std::string> filesIn(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

media::Image rgbPlate(int32_t w, int32_t h, media::PixelType type, const std::string &space)
{
    media::ImageShape shape;
    shape.width = w, shape.height = h, shape.channels = 3, shape.type = type, shape.colourSpace = space;
    return media::Image(shape);
}

// --------------------------------------------------------------------------
// Deep plates: untouched pixels pass bit for bit, text pixels match the
// module's own 8-bit compositing within rounding.

struct DeepPlate {
    const char *name, *ext;
    media::PixelType type;
    float peak; // brightest plate value; above 1 the plate is HDR
    bool needsOiio;
};

class DeepPlateTest : public CliTest, public ::testing::WithParamInterface<DeepPlate> {};

TEST_P(DeepPlateTest, UntouchedPixelsPassAndTextMatchesTheModule)
{
    const DeepPlate &row = GetParam();
    if (row.needsOiio && !QM_CLI_ALL_FORMATS)
        GTEST_SKIP() << "this build writes PNG only";
    const bool linear = std::string(row.ext) == "exr";
    media::Image plate = rgbPlate(160, 64, row.type, linear ? media::kLinear : media::kSrgb);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 160; ++x)
            for (int32_t c = 0; c < 3; ++c) // a gradient finer than 8 bits, up to the peak
                plate.set(x, y, c, row.peak * static_cast<float>((x * 409 + y * 7 + c * 1001) % 65536) / 65535.0f);
    const std::string in = path(std::string("plate.") + row.ext), out = path(std::string("out.") + row.ext);
    writeImageAtomically(in, plate, {});
    // The 8-bit reference: the same plate in 8 bits, through the module.
    writeImageAtomically(path("plate8.png"),
                         plate.converted(media::PixelType::UInt8, false, media::AlphaMode::Straight), {});

    const std::vector<std::string> text = {"render", "Deep", "--size", "40", "--color", "white"};
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = text;
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = cli(args);
        ASSERT_EQ(r.status, 0) << r.err;
    };
    run({"--input", in, "--composite", "-o", out});
    run({"--input", path("plate8.png"), "--composite", "-o", path("ref.png")});
    run({"--input", path("plate8.png"), "-o", path("alone.png")});

    const media::Image result = media::readImage(out);
    ASSERT_EQ(result.shape().type, row.type) << "the plate's precision is kept";
    ASSERT_EQ(result.channels(), 3) << "RGB in, RGB out";
    const RgbaImage ref = readImage(path("ref.png")), alone = readImage(path("alone.png"));
    int64_t untouched = 0, covered = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 160; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            const uint8_t coverage = alone.pixel(x, y)[3];
            if (coverage == 0) {
                ++untouched;
                ASSERT_EQ(std::memcmp(result.pixel(x, y), plate.pixel(x, y), result.shape().pixelBytes()), 0);
                continue;
            }
            ++covered;
            for (int32_t c = 0; c < 3; ++c) {
                const float base = plate.get(x, y, c), b = coverage / 255.0f, got = result.get(x, y, c);
                if (row.peak <= 1.0f) // within rounding of the module's 8 bits (and the plate's own rounding to 8)
                    ASSERT_NEAR(got * 255.0f, ref.pixel(x, y)[c], 1.5f);
                else // HDR: white at the coverage over the unclipped plate
                    ASSERT_NEAR(got, b + base * (1.0f - b), 0.01f * std::max(1.0f, base));
            }
        }
    EXPECT_GT(untouched, 5000);
    EXPECT_GT(covered, 300);
}

const DeepPlate kDeepPlates[] = {
    {"Png16", "png", media::PixelType::UInt16, 1.0f, false},
    {"Tiff16", "tif", media::PixelType::UInt16, 1.0f, true},
    {"ExrHalf", "exr", media::PixelType::Half, 1.0f, true},
    {"ExrFloatHdr", "exr", media::PixelType::Float, 4.0f, true},
};
INSTANTIATE_TEST_SUITE_P(Table, DeepPlateTest, ::testing::ValuesIn(kDeepPlates),
                         [](const auto &info) { return std::string(info.param.name); });

// --------------------------------------------------------------------------
// Alpha and colour follow the output format's conventions.

#if QM_CLI_ALL_FORMATS
struct Convention {
    const char *name;
    std::vector<std::string> args;
    bool premultiplied;
    float r, g, b; // the text colour as the file holds it
};

class ConventionTest : public CliTest, public ::testing::WithParamInterface<Convention> {};

TEST_P(ConventionTest, TextAloneInTheFormatsAlphaAndColourSpace)
{
    const Convention &row = GetParam();
    std::vector<std::string> args = {"render", "Key", "--color", "gold", "--size", "30", "--plate", "96x40"};
    for (const std::string &a : row.args)
        args.push_back(a[0] == '@' ? path(a.substr(1)) : a);
    const RunResult r = cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const media::Image k = media::readImage(path("k.exr"));
    ASSERT_EQ(k.channels(), 4);
    int64_t edges = 0;
    for (int32_t y = 0; y < k.height(); ++y)
        for (int32_t x = 0; x < k.width(); ++x) {
            const float a = k.get(x, y, 3), scale = row.premultiplied ? a : 1.0f;
            if (a == 0.0f)
                continue;
            edges += a < 1.0f;
            const float want[3] = {row.r * scale, row.g * scale, row.b * scale};
            for (int32_t c = 0; c < 3; ++c)
                ASSERT_NEAR(k.get(x, y, c), want[c], 0.002f) << x << "," << y << " channel " << c;
        }
    EXPECT_GT(edges, 50) << "anti-aliased edges were checked";
}

// Gold, #ffd700, in scene-linear light: 215/255 through the sRGB curve.
const Convention kConventions[] = {
    {"ExrIsPremultipliedLinear", {"-o", "@k.exr"}, true, 1.0f, 0.6795f, 0.0f},
    {"StraightOnRequest", {"--alpha", "straight", "-o", "@k.exr"}, false, 1.0f, 0.6795f, 0.0f},
    {"SrgbOnRequest", {"--colorspace", "sRGB", "-o", "@k.exr"}, true, 1.0f, 215 / 255.0f, 0.0f},
};
INSTANTIATE_TEST_SUITE_P(Table, ConventionTest, ::testing::ValuesIn(kConventions),
                         [](const auto &info) { return std::string(info.param.name); });
#endif

// --------------------------------------------------------------------------
// Writes that fail are errors and leave nothing behind.

// A noise plate that compresses to nothing.
std::string noisePlate(const std::string &path)
{
    media::Image plate = rgbPlate(1280, 720, media::PixelType::UInt8, media::kSrgb);
    std::mt19937 random(7);
    for (size_t i = 0; i < plate.shape().bytes(); ++i)
        plate.data()[i] = static_cast<std::byte>(random());
    writeImageAtomically(path, plate, {});
    return path;
}

// A small tmpfs, mounted in a mount namespace of its own when the
// system allows it.
class FullDiskTest : public CliTest {
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        disk_ = path("disk");
        fs::create_directories(disk_);
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=300k") != 0)
            GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); needs root";
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            ::umount(disk_.c_str());
    }
    std::string disk_;
    bool mounted_ = false;
};

TEST_F(FullDiskTest, EveryFormatAndSequenceFailsCleanly)
{
    const std::string plate = noisePlate(path("noise.png"));
    // A complete earlier file under the name stays as it was.
    const RunResult first = cli({"render", "x", "--plate", "64x32", "-o", disk_ + "/a.png"});
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string before = slurp(disk_ + "/a.png");
    std::vector<std::string> outputs = {"a.png", "s.%d.png"};
    if (QM_CLI_ALL_FORMATS)
        outputs.insert(outputs.end(), {"a.exr", "a.tif", "s.%d.jpg"});
    for (const std::string &name : outputs) {
        SCOPED_TRACE(name);
        // Sequences fill the disk with several writes in flight.
        const RunResult r = cli({"render", "x", "-i", plate, "--composite", "--frames", name[0] == 's' ? "1-5" : "1",
                                 "--threads", "4", "-q", "-o", disk_ + "/" + name});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr("cannot write \"" + disk_ + "/"));
        for (const std::string &f : filesIn(disk_)) {
            if (f != "a.png") { // what a sequence completed before the disk filled reads whole
                EXPECT_EQ(readImage(disk_ + "/" + f).width, 1280) << f;
            }
        }
        EXPECT_THAT(filesIn(disk_), ::testing::Each(::testing::Not(HasSubstr("partial"))));
    }
    EXPECT_EQ(slurp(disk_ + "/a.png"), before);
}

TEST_F(CliTest, WriteProtectedTargetIsRefusedUnlessForced)
{
    const std::string target = path("out.png");
    ASSERT_EQ(cli({"render", "old", "--plate", "32x16", "-o", target}).status, 0);
    const std::string before = slurp(target);
    ::chmod(target.c_str(), 0444);
    ::chmod(dir_.c_str(), 0777); // the folder is the user's to write
    auto asUser = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        const auto rest = command(args);
        argv.insert(argv.end(), rest.begin(), rest.end());
        return runProgram(argv, dir_.string());
    };
    const RunResult probe = asUser({"--version"});
    if (probe.status != 0)
        GTEST_SKIP() << "cannot run as an unprivileged user here: " << probe.err;
    RunResult r = asUser({"render", "new", "--plate", "32x16", "-o", target});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot write \"" + target + "\": Permission denied"));
    EXPECT_EQ(slurp(target), before);
    r = asUser({"render", "new", "--plate", "32x16", "--force", "-o", target});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(slurp(target), before);
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u) << "the replaced file keeps its mode";
    EXPECT_THAT(filesIn(dir_.string()), ::testing::ElementsAre("out.png"));
}

TEST_F(CliTest, TwoRunsWritingTheSameFramesBothFinish)
{
    const std::vector<std::string> args = {"render", "Farm", "--plate", "320x180",       "--frames",
                                           "1-6",    "-q",   "-o",      path("f.%d.png")};
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    Running a(command(args), (dir_ / "a").string()), b(command(args), (dir_ / "b").string());
    const RunResult ra = a.wait(), rb = b.wait();
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    for (int f = 1; f <= 6; ++f)
        EXPECT_EQ(readImage(path("f." + std::to_string(f) + ".png")).width, 320);
    EXPECT_THAT(filesIn(dir_.string()), ::testing::Each(::testing::Not(HasSubstr("partial"))));
}

TEST_F(CliTest, EveryWritableFormatWritesAWholeFile)
{
    for (const std::string &ext : media::writableExtensions()) {
        SCOPED_TRACE(ext);
        const std::string out = path("w" + ext);
        // Large enough for every format's default layout (JPEG 2000's
        // resolution levels want 64 pixels a side).
        const RunResult r = cli({"render", "W", "--plate", "96x64", "-o", out});
        ASSERT_EQ(r.status, 0) << r.err;
        const media::Image back = media::readImage(out);
        EXPECT_EQ(back.width(), 96);
        EXPECT_EQ(back.height(), 64);
    }
}

// --------------------------------------------------------------------------
// Plates that cannot be read are refused at once, with the reader's reason
// and the file's name.

struct Unreadable {
    const char *name;
    std::function<std::string(const CliTest &)> make; // returns the plate's path
    const char *reason;
    bool needsOiio;
};

class UnreadableTest : public CliTest, public ::testing::WithParamInterface<Unreadable> {};

// A copy of a plate of `type` cut in half, inside its pixel data.
std::string cutPlate(const CliTest &t, const std::string &ext, media::PixelType type)
{
    media::Image plate = rgbPlate(640, 64, type, ext == ".exr" ? media::kLinear : media::kSrgb);
    for (size_t i = 0; i < plate.shape().bytes(); ++i)
        plate.data()[i] = static_cast<std::byte>(i * 7919 % 251);
    writeImageAtomically(t.path("whole" + ext), plate, {});
    const std::string bytes = slurp(t.path("whole" + ext));
    std::ofstream(t.path("cut" + ext), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    return t.path("cut" + ext);
}

TEST_P(UnreadableTest, RefusedAtOnceWithTheReason)
{
    const Unreadable &row = GetParam();
    if (row.needsOiio && !QM_CLI_ALL_FORMATS)
        GTEST_SKIP() << "this build reads PNG only";
    const std::string plate = row.make(*this);
    Running run(command({"render", "x", "-i", plate, "-q", "-o", path("out.png")}), dir_.string());
    // Not a speed check: a read that never ends would wait forever.
    const auto r = run.waitFor(std::chrono::seconds(30));
    ASSERT_TRUE(r) << "still reading";
    EXPECT_EQ(r->status, 1) << r->err; // a leak found by a sanitizer build changes the status
    EXPECT_THAT(r->err, HasSubstr("\"" + plate + "\": "));
    EXPECT_THAT(r->err, HasSubstr(row.reason));
    EXPECT_FALSE(fs::exists(path("out.png")));
}

const Unreadable kUnreadable[] = {
    {"Device", [](const CliTest &) { return std::string("/dev/zero"); }, "it is a device, not a regular file", false},
    {"Fifo",
     [](const CliTest &t) {
         ::mkfifo(t.path("fifo").c_str(), 0600);
         return t.path("fifo");
     },
     "it is a FIFO (a pipe), not a regular file", false},
    {"Directory", [](const CliTest &t) { return t.path(""); }, "it is a directory", false},
    {"PngCutInsideItsPixels", [](const CliTest &t) { return cutPlate(t, ".png", media::PixelType::UInt16); },
     "the file ends early, inside its IDAT chunk", false},
    {"ExrCutInsideItsPixels", [](const CliTest &t) { return cutPlate(t, ".exr", media::PixelType::Half); },
     "Unexpected end of file", true},
    {"WiderThanTheModule",
     [](const CliTest &t) {
         writeImageAtomically(t.path("wide.png"), rgbPlate(40000, 1, media::PixelType::UInt8, media::kSrgb), {});
         return t.path("wide.png");
     },
     "the module's coordinates take images from 1x1 to 32767x32767", false},
};
INSTANTIATE_TEST_SUITE_P(Table, UnreadableTest, ::testing::ValuesIn(kUnreadable),
                         [](const auto &info) { return std::string(info.param.name); });

// A raised cancel flag (a signal's work) stops reads and writes between
// bands of rows and leaves no file behind.
TEST_F(CliTest, CancelStopsReadingAndWriting)
{
    std::vector<std::string> exts = {".png"};
    if (QM_CLI_ALL_FORMATS)
        exts.push_back(".exr");
    for (const std::string &ext : exts) {
        SCOPED_TRACE(ext);
        const media::Image plate = rgbPlate(64, 640, ext == ".png" ? media::PixelType::UInt8 : media::PixelType::Half,
                                            ext == ".png" ? media::kSrgb : media::kLinear);
        writeImageAtomically(path("in" + ext), plate, {});
        media::cancelFlag().store(true);
        EXPECT_THROW(media::readImage(path("in" + ext)), media::Cancelled);
        EXPECT_THROW(writeImageAtomically(path("out" + ext), plate, {}), media::Cancelled);
        media::cancelFlag().store(false);
        EXPECT_THAT(filesIn(dir_.string()), ::testing::ElementsAre("in" + ext));
        fs::remove(path("in" + ext));
    }
}

// --------------------------------------------------------------------------
// Frames and text as the user gave them.

TEST_F(CliTest, OneKeyframeSetsTheFrameRendered)
{
    const RunResult r = cli({"render", "Shot", "--size-key", "1001=40", "-o", path("sh.%04d.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("sh.1001.png") + "\n");
}

TEST_F(CliTest, LinesTheFieldCannotShowAreNamed)
{
    const RunResult r = cli({"render", "A\\nB\\nC\\nD\\nE\\nF\\nG\\nH\\nI\\nJ\\nK\\nL", "-o", path("l.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("text field shows 10 lines and takes no line break beyond them; of the text's 12 "
                                 "lines (34 characters) it kept lines 1 to 9 as typed, and line 10 reads \"JKL\""));
}

} // namespace
