#include "registration.h"

#include "res_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quillomark {

namespace {

uint32_t le32(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A four-character code is a little-endian word whose top byte is the
// first character, so the file holds it reversed.
std::string fourCC(uint32_t v)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((v >> shift) & 0xFF);
    return s;
}

std::string pascalString(const std::vector<uint8_t> &d)
{
    if (d.empty())
        return {};
    const size_t n = std::min<size_t>(d[0], d.size() - 1);
    return std::string(d.begin() + 1, d.begin() + 1 + static_cast<std::ptrdiff_t>(n));
}

std::string cString(const std::vector<uint8_t> &d)
{
    const auto end = std::find(d.begin(), d.end(), 0);
    return std::string(d.begin(), end);
}

constexpr uint8_t kEmptyEntry[32] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0,
                                     0, 0, 0, 0, 0,    0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0};

size_t align4(size_t n)
{
    return (n + 3) & ~static_cast<size_t>(3);
}

// Walks .res entries from `start`; returns the image's length when one
// entry's end is followed by that very length as a word.
size_t embeddedLength(std::span<const uint8_t> file, size_t start)
{
    size_t at = 32;
    for (int entries = 0; entries < 4096; ++entries) {
        const size_t here = start + align4(at);
        if (at > 32 && here + 4 <= file.size() && le32(file, here) == at)
            return at;
        if (here + 8 > file.size())
            return 0;
        const uint32_t dataSize = le32(file, here), headerSize = le32(file, here + 4);
        if (headerSize < 32 || headerSize % 4 != 0 || headerSize > 4096 || dataSize > file.size())
            return 0;
        at = align4(at) + headerSize + dataSize;
        if (start + at > file.size())
            return 0;
    }
    return 0;
}

std::vector<uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw RegistrationError("cannot read module \"" + path + "\": no such file or not readable");
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

Registration decodePipl(std::span<const uint8_t> b)
{
    if (b.size() < 10)
        throw RegistrationError("property list is " + std::to_string(b.size()) + " bytes, shorter than its header");
    const uint32_t count = le32(b, 6);
    Registration reg;
    size_t at = 10;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 16 > b.size())
            throw RegistrationError("property list ends inside property " + std::to_string(i + 1) + " of " +
                                    std::to_string(count));
        PiplProperty p;
        p.vendor = fourCC(le32(b, at));
        p.key = fourCC(le32(b, at + 4));
        p.id = le32(b, at + 8);
        const uint32_t length = le32(b, at + 12);
        if (length > b.size() - at - 16)
            throw RegistrationError("property " + std::to_string(i + 1) + " (" + p.key + ") declares " +
                                    std::to_string(length) + " bytes, more than the list holds");
        p.data.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 16),
                      b.begin() + static_cast<std::ptrdiff_t>(at + 16 + length));
        at += 16 + align4(length);

        const auto word = [&p]() -> std::optional<uint32_t> {
            if (p.data.size() < 4)
                return std::nullopt;
            return le32(p.data, 0);
        };
        if (p.key == "kind" && p.data.size() >= 4)
            reg.kind = fourCC(le32(p.data, 0));
        else if (p.key == "name")
            reg.name = pascalString(p.data);
        else if (p.key == "catg")
            reg.category = pascalString(p.data);
        else if (p.key == "wx86")
            reg.entryPoint = cString(p.data);
        else if (p.key == "eMNA")
            reg.matchName = pascalString(p.data);
        else if (p.key == "eVER")
            reg.version = word();
        else if (p.key == "eGLO")
            reg.globalFlags = word();
        reg.properties.push_back(std::move(p));
    }
    return reg;
}

std::span<const uint8_t> findEmbeddedResources(std::span<const uint8_t> file)
{
    for (size_t at = 0; at + sizeof kEmptyEntry <= file.size(); at += 4) {
        if (!std::equal(std::begin(kEmptyEntry), std::end(kEmptyEntry), file.begin() + static_cast<std::ptrdiff_t>(at)))
            continue;
        if (const size_t length = embeddedLength(file, at))
            return file.subspan(at, length);
    }
    return {};
}

Registration readRegistration(const std::string &path)
{
    const std::vector<uint8_t> file = readFile(path);
    try {
        corvane::ResourceFile resources;
        if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
            resources = corvane::ResourceFile::parsePe(file);
        } else {
            const auto blob = findEmbeddedResources(file);
            if (blob.empty())
                throw RegistrationError("module \"" + path + "\" carries no compiled resources");
            resources = corvane::ResourceFile::parse(blob);
        }
        const corvane::Resource *pipl = resources.find("PIPL", kPiplId);
        if (!pipl)
            throw RegistrationError("module \"" + path + "\" has no property list (PIPL " + std::to_string(kPiplId) +
                                    ")");
        return decodePipl(pipl->data);
    } catch (const RegistrationError &) {
        throw;
    } catch (const std::exception &e) {
        throw RegistrationError("module \"" + path + "\": damaged resources: " + e.what());
    }
}

} // namespace quillomark
