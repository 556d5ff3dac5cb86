#include "registration.h"

#include "byte_reader.h"
#include "pe_file.h"
#include "res_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quillomark {

namespace {

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

size_t align4(size_t n)
{
    return (n + 3) & ~static_cast<size_t>(3);
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
    corvane::ByteCursor list(b, "property list");
    list.skip(6, "the header");
    const uint32_t count = list.u32("the header");
    Registration reg;
    for (uint32_t i = 0; i < count; ++i) {
        if (list.remaining() < 16)
            throw RegistrationError("property list ends inside property " + std::to_string(i + 1) + " of " +
                                    std::to_string(count));
        PiplProperty p;
        p.vendor = fourCC(list.u32("a property"));
        p.key = fourCC(list.u32("a property"));
        p.id = list.u32("a property");
        const uint32_t length = list.u32("a property");
        if (length > list.remaining())
            throw RegistrationError("property " + std::to_string(i + 1) + " (" + p.key + ") declares " +
                                    std::to_string(length) + " bytes, more than the list holds");
        const auto data = list.take(length, "a property");
        p.data.assign(data.begin(), data.end());
        list.skip(std::min(align4(length) - length, list.remaining()), "padding");

        const auto word = [&p]() -> std::optional<uint32_t> {
            if (p.data.size() < 4)
                return std::nullopt;
            return corvane::detail::read32(p.data, 0, "a word");
        };
        if (p.key == "kind" && p.data.size() >= 4)
            reg.kind = fourCC(*word());
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
    constexpr size_t kMaxEntries = 4096;
    for (size_t at = 0; at + 32 <= file.size(); at += 4) {
        const auto rest = file.subspan(at);
        if (!corvane::ResourceFile::opensResImage(rest))
            continue;
        for (const size_t end : corvane::ResourceFile::entryEnds(rest, kMaxEntries)) {
            if (corvane::detail::fits(rest.size(), align4(end), 4) &&
                corvane::detail::read32(rest, align4(end), "a length") == end)
                return rest.first(end);
        }
    }
    return {};
}

Registration readRegistration(const std::string &path)
{
    const std::vector<uint8_t> file = readFile(path);
    try {
        corvane::ResourceFile resources;
        if (corvane::pe::looksLikePe(file)) {
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
