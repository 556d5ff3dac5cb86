// The shipped Quillomark.QPX itself, loaded by the host: every import it
// has is provided, it starts and runs like Quillomark.so, and files that
// are not such a module are refused with a clear message.
#include "pe_test_support.h"

#include "host.h"
#include "host_imports.h"
#include "pe_module.h"
#include "thread_block.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

using namespace corvane::pe;
using corvane::Host;
using corvane::HostError;
using testing::HasSubstr;

namespace {

const std::string kQpx = QM_QPX_PATH;

// Records every import while the host's bindings answer.
struct RecordingImports : ImportResolver {
    struct Seen {
        std::string name;
        bool provided;
    };
    std::vector<Seen> seen;
    void *resolve(const ImportRef &ref) override
    {
        void *address = HostImports::instance().resolve(ref);
        seen.push_back({describe(ref), address != nullptr});
        return address;
    }
};

// The check that fails as soon as the shipped module imports something the
// loader does not provide: the message lists every such import.
TEST(ShippedModule, EveryImportIsProvidedByTheHost)
{
    RecordingImports imports;
    try {
        PeImage::load(kQpx, imports, LoadOptions{.initialize = false});
    } catch (const PeError &e) {
        ADD_FAILURE() << e.what();
    }
    ASSERT_FALSE(imports.seen.empty());
    std::set<std::string> dlls;
    for (const auto &s : imports.seen) {
        EXPECT_TRUE(s.provided) << s.name << " is imported by Quillomark.QPX but not provided";
        std::string dll = s.name.substr(0, s.name.find('!'));
        std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
        dlls.insert(dll);
    }
    // Nothing beyond the system libraries and the porting library.
    for (const std::string &dll : dlls)
        EXPECT_THAT((std::vector<std::string>{"corvane1.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"}),
                    testing::Contains(dll));
    EXPECT_TRUE(dlls.count("corvane1.dll"));
}

TEST(ShippedModule, LoadsWithMainItsOnlyExport)
{
    auto module = PeModule::load(kQpx);
    EXPECT_EQ(module->image().exportNames(), std::vector<std::string>{"main"});
    EXPECT_NE(module->entry(), nullptr);
    EXPECT_NE(module->entry(), module->rawMain()); // calls go through the thread-block entry
    EXPECT_GE(module->image().tlsIndex(), 0);      // the runtime's TLS directory
}

TEST(ShippedModule, ItsResourcesAreTheCompiledScript)
{
    auto module = PeModule::load(kQpx);
    const auto &mine = module->image().resources();
    const std::vector<uint8_t> compiled = qmtest::readBytes(QM_RES_FILE);
    const auto script = corvane::ResourceFile::parse(compiled);
    ASSERT_EQ(mine.resources().size(), script.resources().size());
    for (const auto &r : script.resources()) {
        const auto match = std::find_if(mine.resources().begin(), mine.resources().end(), [&](const auto &m) {
            return m.type == r.type && m.name == r.name && m.language == r.language;
        });
        ASSERT_NE(match, mine.resources().end()) << (r.type.isId ? std::to_string(r.type.id) : r.type.name);
        EXPECT_TRUE(std::equal(match->data.begin(), match->data.end(), r.data.begin(), r.data.end()));
    }
}

TEST(ShippedModule, TwoCopiesLoadSideBySide)
{
    auto first = PeModule::load(kQpx);
    auto second = PeModule::load(kQpx);
    EXPECT_TRUE(second->image().relocated());
    EXPECT_NE(first->entry(), second->entry());
    Host a(kQpx), b(kQpx);
    ASSERT_EQ(a.globalSetup(), 0);
    ASSERT_EQ(b.globalSetup(), 0);
    EXPECT_EQ(a.about(), b.about());
}

// The host drives the Windows module exactly as the Linux one.
TEST(ShippedModule, HostGetsTheSameAnswersAsFromTheSharedObject)
{
    Host qpx(kQpx);
    Host so(QM_MODULE_PATH);
    EXPECT_EQ(qpx.globalSetup(), so.globalSetup());
    EXPECT_EQ(qpx.out().outFlags, so.out().outFlags);
    EXPECT_EQ(qpx.about(), so.about());
    EXPECT_FALSE(qpx.about().empty());
    EXPECT_EQ(qpx.paramSetup(), so.paramSetup());
    ASSERT_EQ(qpx.parameters().size(), so.parameters().size());
    for (size_t i = 0; i < qpx.parameters().size(); ++i) {
        const auto &p = qpx.parameters()[i], &q = so.parameters()[i];
        EXPECT_EQ(p.name, q.name);
        EXPECT_EQ(p.type, q.type);
        EXPECT_EQ(p.sliderMin, q.sliderMin);
        EXPECT_EQ(p.sliderMax, q.sliderMax);
        EXPECT_EQ(p.sliderDefault, q.sliderDefault);
        EXPECT_EQ(p.label, q.label);
    }
    auto &i = qpx.newInstance();
    auto &j = so.newInstance();
    EXPECT_EQ(i.setup(), j.setup());
    EXPECT_EQ(i.storedRecord(), j.storedRecord());
    EXPECT_EQ(i.teardown(), j.teardown());
    EXPECT_EQ(qpx.globalTeardown(), so.globalTeardown());
    EXPECT_TRUE(qpx.live().empty()) << qpx.live();
    EXPECT_TRUE(qpx.misuses().empty());
}

TEST(ShippedModule, CalledFromAnotherThreadItGetsThatThreadsBlock)
{
    Host qpx(kQpx);
    ASSERT_EQ(qpx.globalSetup(), 0);
    std::string fromThread;
    std::thread t([&] { fromThread = qpx.about(); });
    t.join();
    EXPECT_EQ(fromThread, qpx.about());
}

std::vector<uint8_t> storedRecord(const std::string &text, const std::string &font, uint16_t style, uint16_t align)
{
    return corvane::record::encode({.text = text, .fontName = font, .style = style, .alignment = align});
}

// Renders through one module; the input is a pattern so compositing shows.
std::vector<uint8_t> renderWith(Host &host, const std::vector<uint8_t> &record, const corvane::RenderSettings &settings,
                                int32_t &result)
{
    corvane::Instance &instance = host.newInstance();
    result = instance.setup();
    if (result == 0) {
        instance.setStoredRecord(record);
        corvane::World input(160, 96), output(160, 96);
        for (int32_t y = 0; y < input.height(); ++y)
            for (int32_t x = 0; x < input.width(); ++x)
                input.at(x, y) =
                    HostPixel{255, static_cast<uint8_t>(x), static_cast<uint8_t>(y * 2), static_cast<uint8_t>(x ^ y)};
        result = instance.render(settings, input, output);
        std::vector<uint8_t> bytes(output.pixels().size() * sizeof(HostPixel));
        std::memcpy(bytes.data(), output.pixels().data(), bytes.size());
        host.removeInstance(instance);
        return bytes;
    }
    host.removeInstance(instance);
    return {};
}

TEST(ShippedModule, RendersAreByteIdenticalToTheSharedObjects)
{
    Host qpx(kQpx);
    Host so(QM_MODULE_PATH);
    for (Host *h : {&qpx, &so}) {
        ASSERT_EQ(h->globalSetup(), 0) << h->message();
        ASSERT_EQ(h->paramSetup(), 0) << h->message();
    }
    struct Row {
        const char *name;
        std::vector<uint8_t> record;
        corvane::RenderSettings settings;
    };
    const corvane::RenderSettings plain = so.defaultSettings();
    corvane::RenderSettings big = plain, composite = plain, draft = plain, half = plain;
    big.size = 40;
    big.x = 8 << 16;
    big.y = 30 << 16;
    composite.composite = true;
    composite.colour = HostPixel{200, 10, 20, 250};
    composite.x = (20 << 16) + 0x8000;
    draft.quality = 0;
    half.downsampleXDen = 2;
    half.downsampleYDen = 2;
    const Row rows[] = {
        {"plain", storedRecord("Quillomark", "DejaVu Sans", 0, 0), plain},
        {"lines", storedRecord("First line\r\nSecond, longer line\r\n3", "DejaVu Sans", 0, 1), big},
        {"styled", storedRecord("Bold italic under", "DejaVu Serif", 1 | 2 | 4, 2), composite},
        {"outline", storedRecord("Outline", "Liberation Sans", 8, 0), draft},
        {"unknown font", storedRecord("Fallback \xe9", "No Such Font", 0, 0), half},
    };
    for (const Row &row : rows) {
        int32_t a = -1, b = -1;
        const auto fromQpx = renderWith(qpx, row.record, row.settings, a);
        const auto fromSo = renderWith(so, row.record, row.settings, b);
        EXPECT_EQ(a, b) << row.name;
        EXPECT_EQ(a, 0) << row.name << ": " << qpx.message();
        ASSERT_EQ(fromQpx.size(), fromSo.size()) << row.name;
        EXPECT_TRUE(fromQpx == fromSo) << row.name << ": renders differ";
        // Text was drawn: the output is not all one value.
        EXPECT_NE(std::count(fromQpx.begin(), fromQpx.end(), fromQpx.front()), std::ptrdiff_t(fromQpx.size()))
            << row.name;
    }
    EXPECT_EQ(qpx.globalTeardown(), 0);
    EXPECT_TRUE(qpx.live().empty()) << qpx.live();
    EXPECT_TRUE(qpx.misuses().empty());
}

TEST(ShippedModule, CallsRestoreTheCallersFs)
{
    Host qpx(kQpx);
    const uint16_t before = currentFsSelector();
    ASSERT_EQ(qpx.globalSetup(), 0);
    EXPECT_EQ(currentFsSelector(), before);
    EXPECT_EQ(qpx.globalTeardown(), 0);
    EXPECT_EQ(currentFsSelector(), before);
}

// Foreign or damaged files given to the host as modules.
TEST(ForeignModules, AreRefusedWithAClearMessage)
{
    std::vector<uint8_t> qpx = qmtest::readBytes(kQpx);
    ASSERT_GT(qpx.size(), 4096u);
    const qmtest::ScratchFile truncated("truncated.QPX", std::vector<uint8_t>(qpx.begin(), qpx.begin() + 3000));
    const qmtest::ScratchFile headerOnly("header.QPX", std::vector<uint8_t>(qpx.begin(), qpx.begin() + 40));
    const qmtest::ScratchFile text("notes.QPX", std::vector<uint8_t>{'n', 'o', 't', 'e', 's', '\n'});

    struct Row {
        std::string path;
        std::string message;
    };
    const Row rows[] = {
        {qmtest::fixture("pe_runtime.dll"), "exports no `main`"},
        {qmtest::fixture("pe_amd64.dll"), "64-bit"},
        {truncated.path(), "truncated"},
        {headerOnly.path(), "not a PE file"},
        {text.path(), "not a module this host can load"},
        {qmtest::fixture("pe_unprovided.dll"), "KERNEL32.dll!GetCurrentDirectoryA, KERNEL32.dll!GetTickCount"},
    };
    for (const Row &row : rows) {
        try {
            Host host(row.path);
            ADD_FAILURE() << row.path << " was accepted";
        } catch (const HostError &e) {
            EXPECT_THAT(e.what(), HasSubstr(row.path)) << row.path;
            EXPECT_THAT(e.what(), HasSubstr(row.message)) << row.path;
        }
    }
}

// Copies of the shipped module patched as damaged files arrive: each is
// refused, naming the check that failed, before the host calls into it.
TEST(ForeignModules, PatchedCopiesAreRefusedWithTheCheckThatFailed)
{
    using qmtest::PeBytes;
    const auto va = [](const PeBytes &f, uint32_t section) {
        return f.get<uint32_t>(f.section(section, offsetof(SectionHeader, virtualAddress)));
    };
    struct Row {
        const char *name;
        std::function<void(PeBytes &)> patch;
        std::string message;
    };
    const Row rows[] = {
        {"overlapping.QPX",
         [&](PeBytes &f) { f.set<uint32_t>(f.section(1, offsetof(SectionHeader, virtualAddress)), va(f, 0) + 0x1000); },
         "section .data overlaps section .text"},
        {"over_headers.QPX",
         [](PeBytes &f) { f.set<uint32_t>(f.section(0, offsetof(SectionHeader, virtualAddress)), 0x200); },
         "section .text at 0x200 is not aligned to the section alignment 0x1000"},
        {"imports_moved.QPX",
         [&](PeBytes &f) {
             f.set<uint32_t>(f.directory(kDirImport), va(f, 2)); // into .rdata's data
             f.set<uint32_t>(f.directory(kDirImport) + 4, 0x100);
         },
         "the name of an imported DLL at"},
        {"entry_in_data.QPX",
         [&](PeBytes &f) { f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, addressOfEntryPoint)), va(f, 2)); },
         "the entry point at 0x7000 lies in section .rdata, which is not executable"},
        {"main_in_data.QPX",
         [&](PeBytes &f) {
             const auto exports = f.get<ExportDirectory>(f.fileOffset(f.get<uint32_t>(f.directory(kDirExport))));
             f.set<uint32_t>(f.fileOffset(exports.addressOfFunctions), va(f, 2));
         },
         "the export main at 0x7000 lies in section .rdata, which is not executable"},
    };
    for (const Row &row : rows) {
        PeBytes file(qmtest::readBytes(kQpx));
        row.patch(file);
        const qmtest::ScratchFile scratch(row.name, file.bytes);
        try {
            Host host(scratch.path());
            ADD_FAILURE() << row.name << " was accepted";
        } catch (const HostError &e) {
            EXPECT_THAT(e.what(), HasSubstr(scratch.path())) << row.name;
            EXPECT_THAT(e.what(), HasSubstr(row.message)) << row.name;
        }
        EXPECT_EQ(PeImage::findByFileName(row.name), nullptr) << row.name;
    }
}

// A DLL on the full mingw runtime starts and stops on the shims alone.
TEST(ForeignModules, MingwRuntimeStartsAndStopsOnTheShims)
{
    auto image = PeImage::load(qmtest::fixture("pe_runtime.dll"), HostImports::instance());
    EXPECT_EQ(qmtest::callExport<int (*)(const char *)>(*image, "notMain", "hello"), 5);
    image.reset(); // detach runs the runtime's exit code
}

} // namespace
