// Windows modules as the loader reads them: headers, the checks made before
// mapping, the image laid out as mapped, and its import, export, relocation,
// TLS and resource tables, in both layouts. Every fault must be a
// FormatError; nothing may be read or written outside the bytes.
#include "pe_file.h"
#include "res_file.h"

#include <cstdint>
#include <span>
#include <vector>

using namespace corvane;
using namespace corvane::pe;

namespace {

// Larger images are refused by no check here, only by the engine's memory
// limit: laying them out would measure the allocator, not the reader.
constexpr uint32_t kMaxLaidOut = 64u << 20;

template <typename F> void refusedOrDone(F f)
{
    try {
        f();
    } catch (const FormatError &) {
    }
}

void loadAsTheLoaderDoes(std::span<const uint8_t> file)
{
    const Headers headers = readHeaders(file, true);
    checkLoadable(headers, file.size());
    if (mappedSize(headers) > kMaxLaidOut)
        return;
    std::vector<uint8_t> image(mappedSize(headers));
    layOut(file, headers, image);
    refusedOrDone([&] { applyRelocations(image, readRelocations(image, headers), 0x10000); });
    refusedOrDone([&] { readImports(image, headers); });
    refusedOrDone([&] {
        const ExportTable exports(image, headers.directory(kDirExport));
        exports.names();
        exports.find("main");
        exports.find(uint16_t{1});
    });
    refusedOrDone([&] { readTls(image, headers.directory(kDirTls), headers.optional.imageBase); });
    refusedOrDone([&] { ResourceFile::parsePe(image, PeLayout::Mapped); });
    pageProtections(headers);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> file(data, size);
    refusedOrDone([&] { readHeaders(file); });
    refusedOrDone([&] { ResourceFile::parsePe(file, PeLayout::File); });
    refusedOrDone([&] { loadAsTheLoaderDoes(file); });
    return 0;
}
