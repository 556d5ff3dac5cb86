// The media library's frame-numbered names and its video back end, on
// clips made by the test.
#include "media/frame_pattern.h"
#include "media/video.h"
#if QM_TEST_VIDEO
#include "clip_maker.h"
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace corvane::media;
using ::testing::HasSubstr;

namespace {

TEST(FramePattern, TokensAsEachToolWritesThem)
{
    struct Row {
        const char *name, *frame7, *fileOf7;
    } rows[] = {
        {"out.%04d.png", "out.0007.png", "out.0007.png"},
        {"out.%d.png", "out.7.png", "out.7.png"},
        {"shot/out.####.exr", "shot/out.0007.exr", "out.0007.exr"},
        {"out.@@@.exr", "out.007.exr", "out.007.exr"},
        {"out.$F4.exr", "out.0007.exr", "out.0007.exr"},
        {"out.$F.exr", "out.7.exr", "out.7.exr"},
        {"100%%_%02d.png", "100%_07.png", "100%_07.png"},
        {"plain.png", "plain.png", nullptr},
        {"cost$5.png", "cost$5.png", nullptr},
    };
    for (const Row &r : rows) {
        const FramePattern p(r.name);
        EXPECT_EQ(p.at(7), r.frame7) << r.name;
        EXPECT_EQ(p.numbered(), r.fileOf7 != nullptr) << r.name;
        if (r.fileOf7)
            EXPECT_EQ(p.frameOf(r.fileOf7), 7) << r.name;
    }
    EXPECT_EQ(FramePattern("f%09d").at(12), "f000000012");
    EXPECT_EQ(FramePattern("f.##.png").at(1234), "f.1234.png"); // longer numbers are written whole
}

TEST(FramePattern, NamesThatDoNotFitAreNotFrames)
{
    const FramePattern p("out.####.exr");
    for (const char *name : {"out.007.exr", "out.00007.exr", "out.0007.png", "cut.0007.exr", "out.00a7.exr"})
        EXPECT_EQ(p.frameOf(name), std::nullopt) << name;
    EXPECT_EQ(p.frameOf("out.12345.exr"), 12345);
}

TEST(FramePattern, MalformedNamesSayHowToWriteTheNumber)
{
    for (const char *bad : {"out.%s.png", "out.%4d.png", "out.%00d.png", "a%d%d.png", "a.##.#.png", "%d/x.png", "x%"})
        EXPECT_THROW(FramePattern{bad}, PatternError) << bad;
}

#if QM_TEST_VIDEO

class Video : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::path(QM_TEST_OUTPUT_DIR) / "media" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    // A written clip, read back.
    std::unique_ptr<VideoReader> written(const std::string &name, const std::vector<Image> &frames,
                                         const VideoOptions &options = {})
    {
        auto writer = openVideoWriter(path(name), path(name), frames.at(0).shape(), options);
        for (const Image &f : frames)
            writer->write(f);
        writer->close();
        return openVideoReader(path(name));
    }
    fs::path dir_;
};

float meanGrey(const Image &image)
{
    double sum = 0;
    for (int32_t y = 0; y < image.height(); ++y)
        for (int32_t x = 0; x < image.width(); ++x)
            sum += image.get(x, y, 1);
    return static_cast<float>(sum / (image.width() * image.height()) * 255.0);
}

TEST_F(Video, ReadsEachFrameInOrderAndBySeeking)
{
    cliptest::makeClip(path("in.mov"), {.width = 64, .height = 48, .frames = 60, .timecode = "01:00:00:00"});
    auto reader = openVideoReader(path("in.mov"));
    EXPECT_EQ(reader->frameCount(), 60);
    EXPECT_EQ(reader->rate(), (FrameRate{25, 1}));
    EXPECT_EQ(reader->startTimecode(), 25 * 3600);
    EXPECT_EQ(reader->shape().width, 64);
    EXPECT_FALSE(reader->shape().hasAlpha);
    // The greys repeat every 12 frames (20 + 20 i wraps in 8 bits).
    for (int32_t frame : {0, 1, 2, 9, 3, 50, 51, 11, 59})
        EXPECT_NEAR(meanGrey(reader->read(frame)), cliptest::greyOf(frame), 3.0) << "frame " << frame;
    EXPECT_THROW(reader->read(60), MediaError);
}

TEST_F(Video, AlphaRoundTripsThroughProRes4444)
{
    ImageShape shape{.width = 32, .height = 16, .channels = 4, .type = PixelType::UInt8, .hasAlpha = true};
    std::vector<Image> frames(3, Image(shape));
    for (size_t i = 0; i < frames.size(); ++i)
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                frames[i].set(x, y, 0, 0.8f);
                frames[i].set(x, y, 3, static_cast<float>((x * 8 + i * 40) % 256) / 255.0f);
            }
    auto back = written("alpha.mov", frames, {.rate = {30, 1}});
    ASSERT_TRUE(back->shape().hasAlpha);
    EXPECT_EQ(back->frameCount(), 3);
    EXPECT_EQ(back->rate(), (FrameRate{30, 1}));
    for (int32_t i = 0; i < 3; ++i) {
        const Image got = back->read(i);
        for (int32_t x = 0; x < 32; ++x)
            EXPECT_NEAR(got.get(x, 8, 3), frames[i].get(x, 8, 3), 1.5 / 255) << "frame " << i << " x " << x;
    }
}

TEST_F(Video, CopiesTheSoundPacketForPacket)
{
    cliptest::makeClip(path("in.mp4"), {.frames = 12});
    auto in = openVideoReader(path("in.mp4"));
    std::vector<Image> frames;
    for (int32_t i = 0; i < in->frameCount(); ++i)
        frames.push_back(in->read(i));
    written("out.mp4", frames, {.rate = in->rate(), .copyFrom = path("in.mp4")});
    const auto original = cliptest::clipFacts(path("in.mp4")), copy = cliptest::clipFacts(path("out.mp4"));
    EXPECT_EQ(copy.videoFrames, 12);
    EXPECT_EQ(copy.rateNum, 25);
    ASSERT_FALSE(original.audioPackets.empty());
    EXPECT_EQ(copy.audioPackets, original.audioPackets);
}

TEST_F(Video, RefusesWhatItCannotReadOrWriteInWords)
{
    std::ofstream(path("garbage.mp4")) << std::string(4096, 'x');
    cliptest::makeClip(path("whole.mp4"), {});
    const std::string whole = std::string(std::istreambuf_iterator<char>(std::ifstream(path("whole.mp4")).rdbuf()), {});
    std::ofstream(path("truncated.mp4")) << whole.substr(0, whole.size() / 2);
    for (const char *bad : {"garbage.mp4", "truncated.mp4", "missing.mov"})
        EXPECT_THAT([&] { openVideoReader(path(bad))->read(9); }, ::testing::ThrowsMessage<MediaError>(HasSubstr(bad)));

    const ImageShape odd{.width = 33, .height = 16, .channels = 3};
    struct Row {
        const char *file;
        ImageShape shape;
        VideoOptions options;
        const char *says;
    } rows[] = {
        {"a.mp4", odd, {}, "steps of 2x2"},
        {"a.mp4", {.width = 32, .height = 16, .channels = 3}, {.codec = "nosuch"}, "no video encoder named"},
        {"a.mov", {.width = 32, .height = 16, .channels = 3}, {.codec = "prores_ks", .crf = 20}, "--bitrate"},
        {"a.mp4", {.width = 32, .height = 16, .channels = 3}, {.codec = "prores_ks"}, "cannot hold"},
    };
    for (const Row &r : rows)
        EXPECT_THAT([&] { checkVideoOutput(r.file, r.shape, r.options); },
                    ::testing::ThrowsMessage<MediaError>(HasSubstr(r.says)))
            << r.says;
    EXPECT_THAT(checkVideoOutput("a.mp4", {.width = 32, .height = 16, .channels = 3}, {}),
                HasSubstr("yuv420p, CRF 18"));
}

#else

TEST(Video, BuildsWithoutTheLibrariesSaySo)
{
    EXPECT_THAT([] { openVideoReader("clip.mov"); },
                ::testing::ThrowsMessage<MediaError>(HasSubstr("this build reads and writes no video")));
}

#endif

} // namespace
