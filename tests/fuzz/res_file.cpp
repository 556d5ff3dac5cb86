// Compiled resources (.res images) as a resource compiler or a damaged copy
// leaves them: read, searched, and scanned for entry ends. Every fault must
// be a FormatError; nothing may be read outside the bytes.
#include "byte_reader.h"
#include "res_file.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    corvane::ResourceFile::entryEnds(bytes, 64);
    try {
        const auto file = corvane::ResourceFile::parse(bytes);
        file.find(corvane::kResTypeDialog, 101);
        file.find("PIPL", 16000);
    } catch (const corvane::FormatError &) {
    }
    return 0;
}
