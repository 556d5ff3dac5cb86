// String services: string tables, formatString and copyString.
#include "host_impl.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace corvane {
namespace {

constexpr int32_t kParamErr = -50;
constexpr int32_t kMaxTableEntries = 4096;
const char *const kEndMark = reinterpret_cast<const char *>(~static_cast<uintptr_t>(0));
// Values handed to modules; distinct across hosts so a stale one is caught.
StringTableRef gNextTableRef = 0x51A0;

int32_t openStringTable(const char *const *table, int32_t id, const char *effectName, int32_t count,
                        StringTableRef *out)
{
    Host::Impl *impl = activeImpl();
    if (!impl)
        return kParamErr;
    const auto *fault = impl->hit(Service::OpenStringTable);
    if (fault && !fault->partial)
        return fault->error;
    if (!table || !out) {
        impl->misuse("openStringTable: no table or no place for its value");
        return kParamErr;
    }
    int32_t entries = 0;
    while (entries < kMaxTableEntries && table[entries] != kEndMark) {
        if (!table[entries]) {
            impl->misuse("openStringTable: entry " + std::to_string(entries) + " is null before the end mark");
            return kParamErr;
        }
        ++entries;
    }
    if (entries == kMaxTableEntries) {
        impl->misuse("openStringTable: no end mark within " + std::to_string(kMaxTableEntries) + " entries");
        return kParamErr;
    }
    TableEntry t;
    t.open = true;
    t.info.ref = gNextTableRef++;
    t.info.table = table;
    t.info.entries = entries;
    t.info.id = id;
    t.info.countArgument = count;
    if (effectName)
        t.info.effectName.assign(effectName, strnlen(effectName, 255));
    try {
        impl->tables.push_back(std::move(t));
    } catch (...) {
        return -108;
    }
    *out = impl->tables.back().info.ref;
    return fault ? fault->error : 0;
}

const char *getString(StringTableRef ref, int32_t index)
{
    Host::Impl *owner = nullptr;
    TableEntry *t = findTable(ref, &owner);
    Host::Impl *impl = owner ? owner : activeImpl();
    if (impl)
        impl->hit(Service::GetString);
    if (!t || !t->open) {
        if (impl)
            impl->misuse("getString: table " + std::to_string(ref) + " is not open");
        return "";
    }
    if (index < 0 || index >= t->info.entries) {
        impl->misuse("getString: index " + std::to_string(index) + " outside the table's " +
                     std::to_string(t->info.entries) + " entries");
        return "";
    }
    return t->info.table[index]; // the module's own string, not a copy
}

void closeStringTable(StringTableRef ref)
{
    Host::Impl *owner = nullptr;
    TableEntry *t = findTable(ref, &owner);
    Host::Impl *impl = owner ? owner : activeImpl();
    if (impl)
        impl->hit(Service::CloseStringTable);
    if (!t || !t->open) {
        if (impl)
            impl->misuse("closeStringTable: table " + std::to_string(ref) + " is not open");
        return;
    }
    t->open = false;
}

void formatString(char *buffer, const char *format, ...)
{
    if (Host::Impl *impl = activeImpl())
        impl->hit(Service::FormatString);
    if (!buffer)
        return;
    if (!format) {
        buffer[0] = 0;
        return;
    }
    va_list args;
    va_start(args, format);
    formatBounded(buffer, kReturnMessageSize, format, args);
    va_end(args);
}

void copyString(char *dst, const char *src)
{
    if (Host::Impl *impl = activeImpl())
        impl->hit(Service::CopyString);
    copyBounded(dst, kReturnMessageSize, src);
}

// Bounded output: keeps counting past the end so callers could learn the
// full length, but never stores beyond capacity - 1 characters.
struct Sink {
    char *dst;
    size_t limit;
    size_t n = 0;
    void put(char c)
    {
        if (n < limit)
            dst[n] = c;
        ++n;
    }
    void pad(char c, int32_t count)
    {
        for (int32_t i = 0; i < count; ++i)
            put(c);
    }
};

struct FieldFormat {
    bool left = false, zero = false, plus = false, space = false, alt = false;
    int32_t width = 0;
    int32_t precision = -1;
};

void emitText(Sink &out, const FieldFormat &field, const char *text, size_t len)
{
    const int32_t fill = field.width > static_cast<int32_t>(len) ? field.width - static_cast<int32_t>(len) : 0;
    if (!field.left)
        out.pad(' ', fill);
    for (size_t i = 0; i < len; ++i)
        out.put(text[i]);
    if (field.left)
        out.pad(' ', fill);
}

void emitInteger(Sink &out, const FieldFormat &field, bool negative, uint64_t magnitude, unsigned base, bool upper,
                 const char *prefix)
{
    char digits[32];
    int32_t nd = 0;
    const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[nd++] = set[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    if (field.precision == 0 && nd == 1 && digits[0] == '0')
        nd = 0; // "%.0d" of zero prints nothing
    const char *sign = negative ? "-" : field.plus ? "+" : field.space ? " " : "";
    const int32_t signLen = static_cast<int32_t>(std::strlen(sign)) + static_cast<int32_t>(std::strlen(prefix));
    const int32_t zeros = field.precision > nd ? field.precision - nd : 0;
    const int32_t body = signLen + zeros + nd;
    int32_t fill = field.width > body ? field.width - body : 0;
    const bool zeroPad = field.zero && !field.left && field.precision < 0;
    if (!field.left && !zeroPad)
        out.pad(' ', fill);
    for (const char *p = sign; *p; ++p)
        out.put(*p);
    for (const char *p = prefix; *p; ++p)
        out.put(*p);
    if (zeroPad)
        out.pad('0', fill);
    out.pad('0', zeros);
    while (nd > 0)
        out.put(digits[--nd]);
    if (field.left)
        out.pad(' ', fill);
}

} // namespace

size_t copyBounded(char *dst, size_t capacity, const char *src)
{
    if (!dst || capacity == 0)
        return 0;
    const size_t len = src ? strnlen(src, capacity - 1) : 0;
    std::memmove(dst, src ? src : "", len);
    dst[len] = 0;
    return len;
}

// printf-like, with the host's meaning of sizes: no modifier and `l` are
// 32-bit, `ll` 64-bit, `h` 16-bit, `hh` 8-bit. Unknown conversions are
// written out as they stand.
size_t formatBounded(char *dst, size_t capacity, const char *format, va_list args)
{
    if (!dst || capacity == 0)
        return 0;
    Sink out{dst, capacity - 1};
    for (const char *p = format; *p;) {
        if (*p != '%') {
            out.put(*p++);
            continue;
        }
        const char *start = p++;
        FieldFormat field;
        for (;; ++p) {
            if (*p == '-')
                field.left = true;
            else if (*p == '0')
                field.zero = true;
            else if (*p == '+')
                field.plus = true;
            else if (*p == ' ')
                field.space = true;
            else if (*p == '#')
                field.alt = true;
            else
                break;
        }
        if (*p == '*') {
            field.width = va_arg(args, int32_t);
            if (field.width < 0) {
                field.left = true;
                field.width = -field.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                field.width = std::min(field.width * 10 + (*p++ - '0'), 4096);
        }
        if (*p == '.') {
            ++p;
            field.precision = 0;
            if (*p == '*') {
                field.precision = va_arg(args, int32_t);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9')
                    field.precision = std::min(field.precision * 10 + (*p++ - '0'), 4096);
            }
        }
        int size = 32;
        if (p[0] == 'l' && p[1] == 'l') {
            size = 64;
            p += 2;
        } else if (p[0] == 'h' && p[1] == 'h') {
            size = 8;
            p += 2;
        } else if (*p == 'l') {
            ++p;
        } else if (*p == 'h') {
            size = 16;
            ++p;
        }
        const char conv = *p;
        if (conv)
            ++p;
        switch (conv) {
        case 'd':
        case 'i': {
            int64_t v = size == 64 ? va_arg(args, int64_t) : static_cast<int64_t>(va_arg(args, int32_t));
            if (size == 16)
                v = static_cast<int16_t>(v);
            else if (size == 8)
                v = static_cast<int8_t>(v);
            const uint64_t mag = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            emitInteger(out, field, v < 0, mag, 10, false, "");
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t v = size == 64 ? va_arg(args, uint64_t) : static_cast<uint64_t>(va_arg(args, uint32_t));
            if (size == 16)
                v = static_cast<uint16_t>(v);
            else if (size == 8)
                v = static_cast<uint8_t>(v);
            const unsigned base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
            const char *prefix = field.alt && v != 0 ? (conv == 'x'   ? "0x"
                                                        : conv == 'X' ? "0X"
                                                        : conv == 'o' ? "0"
                                                                      : "")
                                                     : "";
            FieldFormat s = field;
            s.plus = s.space = false;
            emitInteger(out, s, false, v, base, conv == 'X', prefix);
            break;
        }
        case 'c': {
            const char c = static_cast<char>(va_arg(args, int32_t));
            emitText(out, field, &c, 1);
            break;
        }
        case 's': {
            const char *s = va_arg(args, const char *);
            if (!s)
                s = "(null)";
            const size_t len = field.precision >= 0 ? strnlen(s, static_cast<size_t>(field.precision)) : std::strlen(s);
            emitText(out, field, s, len);
            break;
        }
        case '%':
            out.put('%');
            break;
        default: // not a conversion this host knows: keep the text
            for (const char *q = start; q < p; ++q)
                out.put(*q);
            break;
        }
    }
    const size_t stored = std::min(out.n, out.limit);
    dst[stored] = 0;
    return out.n;
}

void installStringServices(HostInData &in, HostUtilTable &utils)
{
    in.openStringTable = openStringTable;
    in.getString = getString;
    in.closeStringTable = closeStringTable;
    utils.formatString = formatString;
    utils.copyString = copyString;
}

} // namespace corvane
