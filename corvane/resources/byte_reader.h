// The project's one reader of little-endian bytes: resources, PE images,
// dialog templates and property lists are all read through it. Every read
// is bounds-checked; one that would leave the bytes throws FormatError.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace corvane {

// Bytes that do not hold what they should: cut short, or a field out of range.
struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace corvane

namespace corvane::detail {

[[noreturn]] inline void fail(const std::string &what)
{
    throw FormatError(what);
}

// True when [offset, offset + size) lies inside `total` bytes, without
// overflowing.
inline bool fits(size_t total, size_t offset, size_t size)
{
    return offset <= total && size <= total - offset;
}

inline std::span<const uint8_t> slice(std::span<const uint8_t> bytes, size_t offset, size_t size, const char *what)
{
    if (!fits(bytes.size(), offset, size)) {
        fail(std::string(what) + ": " + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
             " run past the end (" + std::to_string(bytes.size()) + " bytes)");
    }
    return bytes.subspan(offset, size);
}

inline uint8_t read8(std::span<const uint8_t> bytes, size_t offset, const char *what)
{
    return slice(bytes, offset, 1, what)[0];
}

// A packed record of little-endian fields (the PE headers and tables), as
// stored: every target of this project is little-endian.
template <typename T> T readRecord(std::span<const uint8_t> bytes, size_t offset, const char *what)
{
    static_assert(std::is_trivially_copyable_v<T> && std::endian::native == std::endian::little);
    T record;
    std::memcpy(&record, slice(bytes, offset, sizeof(T), what).data(), sizeof(T));
    return record;
}

inline uint16_t read16(std::span<const uint8_t> bytes, size_t offset, const char *what)
{
    auto b = slice(bytes, offset, 2, what);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t read32(std::span<const uint8_t> bytes, size_t offset, const char *what)
{
    auto b = slice(bytes, offset, 4, what);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

} // namespace corvane::detail

namespace corvane {

// Reads one field after another from the start of the bytes. A read past
// the end throws FormatError "<name> ends inside <what> at byte <offset>".
class ByteCursor {
public:
    ByteCursor(std::span<const uint8_t> bytes, std::string name) : bytes_(bytes), name_(std::move(name)) {}

    size_t offset() const { return pos_; }
    size_t remaining() const { return bytes_.size() - pos_; }

    std::span<const uint8_t> take(size_t n, const char *what)
    {
        if (remaining() < n)
            detail::fail(name_ + " ends inside " + what + " at byte " + std::to_string(pos_));
        const auto taken = bytes_.subspan(pos_, n);
        pos_ += n;
        return taken;
    }
    void skip(size_t n, const char *what) { take(n, what); }
    uint8_t u8(const char *what) { return take(1, what)[0]; }
    uint16_t u16(const char *what) { return detail::read16(take(2, what), 0, what); }
    uint32_t u32(const char *what) { return detail::read32(take(4, what), 0, what); }
    int16_t i16(const char *what) { return static_cast<int16_t>(u16(what)); }

    // To the next multiple of four from the start, or to the end when that
    // lies past it.
    void alignTo4() { pos_ = std::min((pos_ + 3) & ~size_t{3}, bytes_.size()); }

private:
    std::span<const uint8_t> bytes_;
    std::string name_;
    size_t pos_ = 0;
};

} // namespace corvane
