// What a render command hands the module: the parameter array, the output
// world and the render fields of the input record. A wrapper module format
// forwards every command to the real module except the render, which it
// captures instead.
#include "lifecycle_support.h"

#include <fstream>
#include <sstream>

using namespace corvane;
using namespace qmtest;

namespace {

struct Capture {
    int renders = 0;
    std::vector<Bytes> slots;
    std::vector<ParamDef> defs;
    EffectWorld *output = nullptr;
    Bytes in;
};
Capture gCapture;
EffectMainFn gRealMain = nullptr;

int32_t capturingMain(int32_t cmd, HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    if (cmd != CmdRender)
        return gRealMain(cmd, in, out, params, output);
    ++gCapture.renders;
    gCapture.slots.clear();
    gCapture.defs.clear();
    for (int i = 0; i < 5; ++i) {
        const auto *p = reinterpret_cast<const uint8_t *>(params[i]);
        gCapture.slots.emplace_back(p, p + sizeof(ParamDef));
        gCapture.defs.push_back(*params[i]);
    }
    gCapture.output = output;
    const auto *raw = reinterpret_cast<const uint8_t *>(in);
    gCapture.in.assign(raw, raw + sizeof(HostInData));
    return 0;
}

class CapturingModule : public LoadedModule {
public:
    CapturingModule(std::string path, std::unique_ptr<LoadedModule> real)
        : path_(std::move(path)), real_(std::move(real))
    {
        gRealMain = real_->entry();
    }
    EffectMainFn entry() const override { return capturingMain; }
    const std::string &path() const override { return path_; }

private:
    std::string path_;
    std::unique_ptr<LoadedModule> real_;
};

// A file "QMWRAP<path of the real module>".
class CapturingLoader : public ModuleLoader {
public:
    const char *format() const override { return "render-capturing wrapper"; }
    bool recognises(std::span<const uint8_t> head) const override
    {
        return head.size() >= 6 && std::memcmp(head.data(), "QMWRAP", 6) == 0;
    }
    std::unique_ptr<LoadedModule> load(const std::string &path) const override
    {
        std::ifstream f(path);
        std::stringstream ss;
        ss << f.rdbuf();
        return std::make_unique<CapturingModule>(path, loadModule(ss.str().substr(6)));
    }
};

class RenderParams : public ::testing::Test {
protected:
    static std::string wrapperPath()
    {
        static const std::string path = [] {
            registerModuleLoader(std::make_shared<CapturingLoader>());
            const std::string p = std::string(QM_TEST_OUTPUT_DIR) + "/capturing.module";
            std::ofstream(p) << "QMWRAP" << QM_MODULE_PATH;
            return p;
        }();
        return path;
    }
    void SetUp() override
    {
        gCapture = {};
        ASSERT_EQ(host.globalSetup(), 0);
    }
    Host host{wrapperPath()};
};

template <class T> T at(const Bytes &b, size_t offset)
{
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

TEST_F(RenderParams, ArrayCarriesTheLayerAndTheRegisteredDefinitionsWithThisFramesValues)
{
    ASSERT_EQ(host.paramSetup(), 0);
    Instance &inst = host.newInstance();
    ASSERT_EQ(inst.setup(), 0);
    World input(40, 30, HostPixel{255, 1, 2, 3});
    World output(40, 30);
    output.setExtent(QdRect{2, 3, 20, 30});
    RenderSettings s;
    s.size = 48;
    s.x = (12 << 16) + 0x8000;
    s.y = (7 << 16) + 0x4000;
    s.colour = HostPixel{9, 10, 20, 30};
    s.composite = true;
    s.quality = 0;
    s.downsampleXNum = 1;
    s.downsampleXDen = 2;
    s.downsampleYNum = -3;
    s.downsampleYDen = 0x80000001u;
    ASSERT_EQ(inst.render(s, input, output), 0);
    ASSERT_EQ(gCapture.renders, 1);
    EXPECT_EQ(gCapture.output, &output.record());
    EXPECT_EQ(gCapture.output->extent.left, 3);

    const auto &d = gCapture.defs;
    EXPECT_EQ(d[0].u.layer.data, input.record().data);
    EXPECT_EQ(d[0].u.layer.width, 40);
    EXPECT_EQ(d[0].u.layer.height, 30);
    EXPECT_EQ(d[0].u.layer.rowBytes, 160);
    EXPECT_EQ(d[1].u.slider.value, 48);
    EXPECT_EQ(d[2].u.point.x, s.x);
    EXPECT_EQ(d[2].u.point.y, s.y);
    EXPECT_EQ(d[3].u.color.value.red, 10);
    EXPECT_EQ(d[3].u.color.value.blue, 30);
    EXPECT_EQ(d[4].u.checkbox.value, 1);

    // Apart from the current values, each slot is the definition as registered.
    const size_t valueAt[5] = {0, 56, 56, 56, 56};
    const size_t valueSize[5] = {0, 4, 8, 4, 4};
    for (int i = 1; i <= 4; ++i) {
        const auto *reg = reinterpret_cast<const uint8_t *>(&host.parameters()[i - 1].registered);
        for (size_t b = 0; b < sizeof(ParamDef); ++b)
            if (b < valueAt[i] || b >= valueAt[i] + valueSize[i]) {
                EXPECT_EQ(gCapture.slots[i][b], reg[b]) << "slot " << i << " byte " << b;
            }
    }
    const HostInData *in = reinterpret_cast<const HostInData *>(gCapture.in.data());
    EXPECT_EQ(in->quality, 0);
    EXPECT_EQ(in->downsampleXNum, 1);
    EXPECT_EQ(in->downsampleXDen, 2u);
    EXPECT_EQ(in->downsampleYNum, -3);
    EXPECT_EQ(in->downsampleYDen, 0x80000001u);
    EXPECT_EQ(in->sequenceData, inst.handle());

#if defined(__i386__)
    // The same, read at the record's byte offsets as a 32-bit host lays them.
    const Bytes &layer = gCapture.slots[0];
    EXPECT_EQ(at<int16_t>(layer, 80), 30); // height, read by the module as 16-bit
    EXPECT_EQ(at<int32_t>(layer, 56 + 20), 40);
    EXPECT_EQ(at<uint32_t>(layer, 56 + 12), reinterpret_cast<uintptr_t>(input.record().data));
    EXPECT_EQ(at<int32_t>(gCapture.slots[1], 56), 48);
    EXPECT_EQ(at<int32_t>(gCapture.slots[2], 56), s.x);
    EXPECT_EQ(at<int32_t>(gCapture.slots[2], 60), s.y);
    EXPECT_EQ(hex(gCapture.slots[3], 56, 4), "09 0A 14 1E ");
    EXPECT_EQ(at<int32_t>(gCapture.slots[4], 56), 1);
    EXPECT_EQ(at<int32_t>(gCapture.in, 96), 0);
    EXPECT_EQ(at<int32_t>(gCapture.in, 192), -3);
    EXPECT_EQ(at<uint32_t>(gCapture.in, 196), 0x80000001u);
#endif
}

TEST_F(RenderParams, RenderBeforeParameterSetupIsAClearError)
{
    Instance &inst = host.newInstance();
    ASSERT_EQ(inst.setup(), 0);
    World input(4, 4), output(4, 4);
    EXPECT_THROW(inst.render(RenderSettings{}, input, output), HostError);
    EXPECT_EQ(gCapture.renders, 0);
    EXPECT_THROW(host.defaultSettings(), HostError);
}

} // namespace
