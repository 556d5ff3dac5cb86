// Loading modules by path, and the loader interface other formats plug into.
#include "test_support.h"

#include <fstream>

using namespace corvane;

namespace {

std::string hostErrorOf(const std::string &path)
{
    try {
        Host host(path);
    } catch (const HostError &e) {
        return e.what();
    }
    return "";
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST(Loader, RefusesWhatIsNotAModuleWithAClearMessage)
{
    const std::string dir = QM_TEST_OUTPUT_DIR;
    const std::string text = dir + "/not-a-module.txt";
    std::ofstream(text) << "just some text\n";
    const std::string fakeElf = dir + "/truncated.so";
    std::ofstream(fakeElf, std::ios::binary) << "\x7F"
                                                "ELF\x01\x01";

    struct Row {
        std::string path, says;
    };
    const Row rows[] = {
        {dir + "/no-such-module.so", "module not found"}, {dir, "not a module file"},
        {text, "not a module this host can load"},        {fakeElf, "cannot be loaded as a module"},
        {QM_NO_MAIN_MODULE, "exports no `main`"},         {"", "no module path"},
    };
    for (const Row &r : rows) {
        const std::string msg = hostErrorOf(r.path);
        EXPECT_TRUE(contains(msg, r.says)) << r.path << ": " << msg;
        if (!r.path.empty()) {
            EXPECT_TRUE(contains(msg, r.path)) << "the message names the file: " << msg;
        }
    }
}

TEST(Loader, LoadsTheModuleAndFindsItsMain)
{
    Host host(QM_MODULE_PATH);
    EXPECT_NE(host.entry(), nullptr);
    EXPECT_EQ(host.command(12, nullptr), 0);
}

// A stand-in format: files that start with "QMFAKE" and whose `main`
// records what it was asked.
int32_t gFakeCommands = 0;
int32_t fakeMain(int32_t command, HostInData *, HostOutData *out, ParamDef **, EffectWorld *)
{
    ++gFakeCommands;
    out->numParams = command;
    return 1000 + command;
}

class FakeModule : public LoadedModule {
public:
    explicit FakeModule(std::string path) : path_(std::move(path)) {}
    EffectMainFn entry() const override { return fakeMain; }
    const std::string &path() const override { return path_; }

private:
    std::string path_;
};

class FakeLoader : public ModuleLoader {
public:
    const char *format() const override { return "fake module"; }
    bool recognises(std::span<const uint8_t> head) const override
    {
        return head.size() >= 6 && std::memcmp(head.data(), "QMFAKE", 6) == 0;
    }
    std::unique_ptr<LoadedModule> load(const std::string &path) const override
    {
        return std::make_unique<FakeModule>(path);
    }
};

TEST(Loader, OtherFormatsPlugInBesideTheSharedObjectLoader)
{
    registerModuleLoader(std::make_shared<FakeLoader>());
    const std::string path = std::string(QM_TEST_OUTPUT_DIR) + "/fake.module";
    std::ofstream(path, std::ios::binary) << "QMFAKE and the rest";
    {
        Host host(path);
        EXPECT_EQ(host.entry(), &fakeMain);
        EXPECT_EQ(host.command(4, nullptr), 1004);
        EXPECT_EQ(host.out().numParams, 4);
    }
    EXPECT_EQ(gFakeCommands, 1); // no lifecycle was started, so none torn down
    // The shared-object loader is still there, and an unknown file lists both.
    Host real(QM_MODULE_PATH);
    const std::string text = std::string(QM_TEST_OUTPUT_DIR) + "/not-a-module.bin";
    std::ofstream(text) << "????";
    const std::string msg = hostErrorOf(text);
    EXPECT_TRUE(contains(msg, "fake module")) << msg;
    EXPECT_TRUE(contains(msg, "ELF shared object")) << msg;
}

} // namespace
