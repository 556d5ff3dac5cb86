// Footage in, footage out: numbered sequences, video clips with their
// sound, resumed renders and damaged media, through the built program.
#include "cli_fixture.h"
#include "media/video.h"
#include "output.h"
#if QM_CLI_VIDEO
#include "clip_maker.h"
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <thread>

namespace media = corvane::media;
using ::testing::HasSubstr;

namespace {

// OpenEXR where the build has it; the 32-bit build's sequences are PNG.
const std::string kExt = QM_CLI_ALL_FORMATS ? ".exr" : ".png";

class FootageTest : public CliTest {
protected:
    // Frames 1-10 of a flat plate whose red channel tells the frame.
    void writePlates(const std::string &prefix)
    {
        media::ImageShape shape{.width = 96, .height = 48, .channels = 3};
        shape.type = QM_CLI_ALL_FORMATS ? media::PixelType::Half : media::PixelType::UInt8;
        shape.colourSpace = QM_CLI_ALL_FORMATS ? media::kLinear : media::kSrgb;
        for (int f = 1; f <= 10; ++f) {
            media::Image plate(shape);
            for (int32_t y = 0; y < shape.height; ++y)
                for (int32_t x = 0; x < shape.width; ++x)
                    plate.set(x, y, 0, redOf(f));
            quillomark::writeImageAtomically(path(prefix + frameDigits(f) + kExt), plate, {});
        }
    }
    static float redOf(int frame) { return static_cast<float>(frame) / 16.0f; }
    static std::string frameDigits(int f)
    {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04d", f);
        return digits;
    }
    // The red of a corner the text never reaches.
    float cornerRed(const std::string &name) const { return media::readImage(path(name)).get(0, 0, 0); }

    RunResult titled(std::vector<std::string> args) const
    {
        std::vector<std::string> all = {"render", "Hi", "--composite", "--size", "20", "--color", "red"};
        all.insert(all.end(), args.begin(), args.end());
        return cli(all);
    }
};

TEST_F(FootageTest, SequenceInSequenceOutFrameForFrame)
{
    writePlates("plate.");
    // The span comes from the files on disk when --frames is not given.
    const RunResult r = titled({"--input", path("plate.%04d" + kExt), "-o", path("out/shot.####" + kExt)});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int f = 1; f <= 10; ++f)
        EXPECT_EQ(cornerRed("out/shot." + frameDigits(f) + kExt), cornerRed("plate." + frameDigits(f) + kExt))
            << "frame " << f;
    EXPECT_FALSE(fs::exists(path("out/shot.0011" + kExt)));
}

TEST_F(FootageTest, AMissingFrameIsNamedHeldOrBlack)
{
    writePlates("p.");
    fs::remove(path("p.0005" + kExt));
    const std::string in = path("p.$F4" + kExt);
    RunResult r = titled({"--input", in, "--frames", "3-6", "-o", path("e.@@@@" + kExt)});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("p.0005" + kExt));
    EXPECT_FALSE(fs::exists(path("e.0003" + kExt))) << "refused before any frame";
    struct Row {
        const char *missing;
        int shows; // the plate frame 5 shows; 0: black
    } rows[] = {{"hold", 4}, {"black", 0}};
    for (const Row &row : rows) {
        const std::string out = std::string(row.missing) + ".%04d" + kExt;
        r = titled({"--input", in, "--frames", "4-6", "--missing", row.missing, "-o", path(out)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(cornerRed(std::string(row.missing) + ".0005" + kExt),
                  row.shows ? cornerRed("p." + frameDigits(row.shows) + kExt) : 0.0f)
            << row.missing;
        EXPECT_EQ(cornerRed(std::string(row.missing) + ".0006" + kExt), cornerRed("p.0006" + kExt)) << row.missing;
    }
}

TEST_F(FootageTest, SkipExistingRendersOnlyTheFramesAKilledJobLeft)
{
    const std::vector<std::string> job = {"--plate", "64x32", "--frames", "1-6", "-o", path("r/r.%04d.png")};
    ASSERT_EQ(titled(job).status, 0);
    // As a kill leaves it: two frames never renamed into place, one partial file.
    fs::remove(path("r/r.0003.png"));
    fs::remove(path("r/r.0006.png"));
    std::ofstream(path("r/.r.0003.png.AbCdEf.partial")) << "half";
    struct stat before;
    ASSERT_EQ(::stat(path("r/r.0002.png").c_str(), &before), 0);
    std::vector<std::string> resume = job;
    resume.push_back("--skip-existing");
    const RunResult r = titled(resume);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("r/r.0003.png") + "\n" + path("r/r.0006.png") + "\n");
    EXPECT_THAT(r.err, HasSubstr("4 frame(s) already written"));
    struct stat after;
    ASSERT_EQ(::stat(path("r/r.0002.png").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "a complete frame was written again";
    EXPECT_EQ(quillomark::readImage(path("r/r.0003.png")).rgba, quillomark::readImage(path("r/r.0002.png")).rgba);
}

#if QM_CLI_VIDEO

TEST_F(FootageTest, ClipInClipOutKeepsFramesRateAndSound)
{
    cliptest::makeClip(path("in.mp4"), {.width = 160, .height = 96, .frames = 12, .rateNum = 25});
    const RunResult r = titled({"--input", path("in.mp4"), "--position", "25%,50%", "-o", path("out.mp4")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("out.mp4") + "\n");
    const auto in = cliptest::clipFacts(path("in.mp4")), out = cliptest::clipFacts(path("out.mp4"));
    EXPECT_EQ(out.videoFrames, 12);
    EXPECT_EQ(std::pair(out.rateNum, out.rateDen), std::pair(25, 1));
    ASSERT_FALSE(in.audioPackets.empty());
    EXPECT_TRUE(out.audioPackets == in.audioPackets) << "the sound is not the source's, packet for packet";

    auto clip = media::openVideoReader(path("out.mp4"));
    for (int32_t f : {0, 11}) {
        const media::Image frame = clip->read(f);
        double sx = 0, sy = 0, n = 0;
        for (int32_t y = 0; y < frame.height(); ++y)
            for (int32_t x = 0; x < frame.width(); ++x)
                if (frame.get(x, y, 0) - frame.get(x, y, 1) > 0.4f) { // red text over grey
                    sx += x, sy += y, ++n;
                }
        ASSERT_GT(n, 20) << "no text in frame " << f;
        EXPECT_NEAR(sx / n, 160 * 0.25 + 8, 8) << "frame " << f; // the anchor is the block's left edge
        EXPECT_NEAR(sy / n, 48, 5) << "frame " << f;
        EXPECT_NEAR(frame.get(150, 5, 1) * 255, cliptest::greyOf(f), 4) << "the plate of frame " << f;
    }
}

TEST_F(FootageTest, TextAloneKeepsItsAlphaInAMov)
{
    const std::vector<std::string> text = {"render", "Alpha", "--plate", "96x32", "--size", "24"};
    auto with = [&](std::vector<std::string> extra) {
        auto all = text;
        all.insert(all.end(), extra.begin(), extra.end());
        return cli(all);
    };
    ASSERT_EQ(with({"-o", path("still.png")}).status, 0);
    const RunResult r = with({"--frames", "1-2", "-o", path("alpha.mov")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto clip = media::openVideoReader(path("alpha.mov"));
    ASSERT_TRUE(clip->shape().hasAlpha);
    const media::Image got = clip->read(1);
    const media::Image want = media::readImage(path("still.png"));
    float worst = 0;
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 96; ++x)
            worst = std::max(worst, std::abs(got.get(x, y, 3) - want.get(x, y, 3)));
    EXPECT_LE(worst, 2.0f / 255);
}

TEST_F(FootageTest, DamagedOrRefusedFootageSaysWhyAndWritesNothing)
{
    cliptest::makeClip(path("whole.mp4"), {.frames = 4});
    const std::string whole = slurp(path("whole.mp4"));
    std::ofstream(path("cut.mp4")) << whole.substr(0, whole.size() * 2 / 3);
    std::ofstream(path("noise.mp4")) << std::string(10000, '\x5a');
    struct Row {
        std::vector<std::string> args;
        int status;
        const char *says;
    } rows[] = {
        {{"--input", path("noise.mp4"), "-o", path("o.mp4")}, 1, "noise.mp4"},
        {{"--input", path("cut.mp4"), "-o", path("o.mp4")}, 1, "cut.mp4"},
        {{"--input", path("whole.mp4"), "--skip-existing", "-o", path("o.mp4")}, 2, "written whole"},
        {{"--input", path("whole.mp4"), "--frames", "2-9", "-o", path("o.mp4")}, 2, "holds frames 1-4"},
        {{"--input", path("whole.mp4"), "--timecode", "-o", path("o.mp4")}, 2, "no start timecode"},
        {{"--plate", "65x32", "-o", path("o.mp4")}, 2, "steps of 2x2"},
    };
    for (const Row &row : rows) {
        const RunResult r = titled(row.args);
        EXPECT_EQ(r.status, row.status) << row.says << ": " << r.err;
        EXPECT_THAT(r.err, HasSubstr(row.says));
        EXPECT_FALSE(fs::exists(path("o.mp4"))) << row.says;
    }
    for (const auto &e : fs::directory_iterator(dir_))
        EXPECT_NE(e.path().extension(), ".partial") << e.path();
}

TEST_F(FootageTest, ACancelledVideoLeavesNoFile)
{
    Running run(command({"render", "Stop", "--plate", "1280x720", "--frames", "1-400", "-o", path("v/c.mp4")}),
                dir_.string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!(fs::exists(path("v")) && !fs::is_empty(path("v"))) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.signal(SIGINT);
    const auto r = run.waitFor(std::chrono::seconds(5));
    ASSERT_TRUE(r) << "still running after the signal";
    EXPECT_EQ(r->status, 130) << r->err;
    EXPECT_THAT(r->err, HasSubstr("no video file was written"));
    EXPECT_TRUE(fs::is_empty(path("v")));
}

#endif

} // namespace
