// The frei0r plug-in driven as a frei0r host drives it: loaded with dlopen,
// reached only through the functions frei0r.h declares.
extern "C" {
#include <frei0r.h>
}

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace {

constexpr unsigned kWidth = 256, kHeight = 128;
using Frame = std::vector<uint32_t>;
using Pos = f0r_param_position_t;
using Colour = f0r_param_color_t;
// Parameter values in the order they are set: {index, value}.
using Values = std::vector<std::pair<int, std::variant<double, const char *, Pos, Colour>>>;

void *plugin()
{
    static void *dl = dlopen(QM_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    return dl;
}
// A frei0r function of the plug-in, looked up as a host looks it up.
#define F0R(name) reinterpret_cast<decltype(&name)>(dlsym(plugin(), #name))

const Frame &plate()
{
    static const Frame frame = [] {
        Frame f(kWidth * kHeight);
        for (unsigned i = 0; i < f.size(); ++i)
            f[i] = 0xFF000000u | (i % kWidth) << 8 | (i / kWidth); // a gradient: compositing shows
        return f;
    }();
    return frame;
}

struct Instance {
    f0r_instance_t handle = F0R(f0r_construct)(kWidth, kHeight);
    ~Instance() { F0R(f0r_destruct)(handle); }
    void set(const Values &values)
    {
        for (auto [index, value] : values)
            std::visit([&](auto v) { F0R(f0r_set_param_value)(handle, &v, index); }, value);
    }
    Frame render(double time = 0)
    {
        Frame out(kWidth * kHeight);
        F0R(f0r_update)(handle, time, plate().data(), out.data());
        return out;
    }
};

// Two lines at 32 pt with `values` set over them, in a fresh instance.
Frame renderWith(const Values &values)
{
    Instance i;
    i.set({{0, "Ag\nWy"}, {2, 0.0625}});
    i.set(values);
    return i.render();
}

class Frei0rPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(plugin(), nullptr) << dlerror();
        ASSERT_EQ(F0R(f0r_init)(), 1);
    }
    static void TearDownTestSuite() { F0R(f0r_deinit)(); }
};

TEST_F(Frei0rPlugin, BadValuesDrawAsTheirClampedOrDefaultValues)
{
    const double nan = std::nan("");
    const std::string huge(100000, 'W'), kept(254, 'W'); // the options dialog keeps 254
    const struct {
        const char *label;
        Values bad, same;
    } rows[] = {
        {"NaN size: the default", {{2, nan}}, {{2, 36 / 512.0}}},
        {"size above 1", {{2, 7.5}}, {{2, 1.0}}},
        {"size below 0", {{2, -3.0}}, {{2, 0.0}}},
        {"position outside", {{3, Pos{-2, 9}}}, {{3, Pos{0, 1}}}},
        {"NaN position: the centre", {{3, Pos{0.1, 0.1}}, {3, Pos{nan, nan}}}, {}},
        {"colour out of range, NaN: red's 0",
         {{4, Colour{0, 0, 1}}, {4, Colour{4, -1, float(nan)}}},
         {{4, Colour{1, 0, 0}}}},
        {"NaN and huge booleans", {{6, 1.0}, {6, nan}, {10, 0.0}, {10, 1e300}}, {}},
        {"empty text", {{0, ""}}, {{0, " "}}},
        {"null text", {{0, static_cast<const char *>(nullptr)}}, {{0, ""}}},
        {"huge text", {{0, huge.c_str()}}, {{0, kept.c_str()}}},
        {"outside Windows-1252, controls, broken UTF-8", {{0, "a\xE2\x9C\x93\tb\xFF\xE2\x82z"}}, {{0, "a??b??z"}}},
        {"empty font", {{1, ""}}, {{1, "DejaVu Sans"}}},
        {"unknown font", {{1, "No Such Face"}}, {{1, "DejaVu Sans"}}},
        {"unknown alignment", {{5, "diagonal"}}, {{5, "left"}}},
        {"no such parameter", {{12, 1.0}, {-1, 1.0}}, {}},
    };
    ASSERT_NE(renderWith({}), plate());
    for (const auto &r : rows)
        EXPECT_EQ(renderWith(r.bad), renderWith(r.same)) << r.label;
}

TEST_F(Frei0rPlugin, InstancesUpdatedFromTwoThreadsMatchFreshOnes)
{
    constexpr int kFrames = 24;
    const char *texts[2][2] = {{"One", "One\nmore"}, {"Two", "Three\\nlines\nhere"}};
    // Frame f: the size grows, draft quality on odd frames, and the text
    // changes half-way, so a running instance takes the options dialog again.
    auto frame = [&](int t, int f) {
        return Values{{0, texts[t][f >= kFrames / 2]}, {2, 0.04 + 0.004 * f}, {11, double(f % 2)}};
    };
    std::vector<Frame> expected[2], got[2];
    for (int t = 0; t < 2; ++t)
        for (int f = 0; f < kFrames; ++f)
            expected[t].push_back(renderWith(frame(t, f)));
    ASSERT_NE(expected[0][0], expected[0][kFrames - 1]);
    ASSERT_NE(expected[0][0], expected[1][0]);

    auto run = [&](int t) {
        Instance i;
        for (int f = 0; f < kFrames; ++f) {
            i.set(frame(t, f));
            got[t].push_back(i.render(f / 25.0));
        }
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(got[0], expected[0]);
    EXPECT_EQ(got[1], expected[1]);
}

TEST_F(Frei0rPlugin, InitFailsWithAMessageWhenTheModuleCannotLoad)
{
    F0R(f0r_deinit)();
    for (const char *path : {"/nonexistent/Quillomark.so", QM_FREI0R_PLUGIN /* no module entry */}) {
        setenv("QUILLOMARK_MODULE", path, 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(F0R(f0r_init)(), 0) << path;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot load the Quillomark module"), std::string::npos);
        EXPECT_EQ(F0R(f0r_construct)(kWidth, kHeight), nullptr) << path;
    }
    unsetenv("QUILLOMARK_MODULE");
    ASSERT_EQ(F0R(f0r_init)(), 1);
    EXPECT_NE(renderWith({}), plate()) << "the module loads again";
}

} // namespace
