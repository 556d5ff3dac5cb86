#include "frame_pattern.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace corvane::media {

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

[[noreturn]] void malformed(const std::string &name, const std::string &why)
{
    throw PatternError("bad file name \"" + name + "\": " + why);
}

constexpr const char *kHowTo = "the frame number is written %04d, %d, ####, @@@@ or $F4 (e.g. out.%04d.png); a "
                               "literal % is %%";

} // namespace

FramePattern::FramePattern(const std::string &name)
{
    std::string *side = &prefix_;
    auto token = [&](size_t width) {
        if (numbered_)
            malformed(name, "it holds more than one frame number");
        numbered_ = true;
        width_ = static_cast<int>(width);
        side = &suffix_;
    };
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '%') {
            if (i + 1 < name.size() && name[i + 1] == '%') {
                *side += '%';
                ++i;
                continue;
            }
            size_t j = i + 1;
            while (j < name.size() && isDigit(name[j]))
                ++j;
            const std::string width = name.substr(i + 1, j - i - 1);
            // %d or %0Nd with N 1-9: zero padding only, never spaces in a name
            const bool widthOk = width.empty() || (width.size() == 2 && width[0] == '0' && width[1] != '0');
            if (j >= name.size() || name[j] != 'd' || !widthOk)
                malformed(name, kHowTo);
            token(width.empty() ? 0 : static_cast<size_t>(width[1] - '0'));
            i = j;
        } else if (c == '#' || c == '@') {
            size_t j = i;
            while (j < name.size() && name[j] == c)
                ++j;
            token(j - i);
            i = j - 1;
        } else if (c == '$' && i + 1 < name.size() && name[i + 1] == 'F') {
            size_t j = i + 2;
            if (j < name.size() && isDigit(name[j]) && name[j] != '0')
                ++j;
            token(j > i + 2 ? static_cast<size_t>(name[i + 2] - '0') : 0);
            i = j - 1;
        } else {
            *side += c;
        }
    }
    if (numbered_ && suffix_.find('/') != std::string::npos)
        malformed(name, "the frame number must be in the file's name, not in a folder's");
    const size_t slash = prefix_.rfind('/');
    if (slash != std::string::npos) {
        folder_ = prefix_.substr(0, slash + 1);
        if (numbered_)
            prefix_.erase(0, slash + 1);
    }
}

std::string FramePattern::at(int32_t frame) const
{
    if (!numbered_)
        return prefix_;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", width_, static_cast<int>(frame));
    return folder_ + prefix_ + digits + suffix_;
}

std::optional<int32_t> FramePattern::frameOf(const std::string &fileName) const
{
    if (!numbered_ || fileName.size() <= prefix_.size() + suffix_.size() ||
        fileName.compare(0, prefix_.size(), prefix_) ||
        fileName.compare(fileName.size() - suffix_.size(), suffix_.size(), suffix_))
        return std::nullopt;
    const std::string digits = fileName.substr(prefix_.size(), fileName.size() - prefix_.size() - suffix_.size());
    // As written by at(): zero-padded to the width, or longer without padding.
    if (digits.size() > 9 || digits.size() < static_cast<size_t>(width_) ||
        (digits.size() > static_cast<size_t>(std::max(width_, 1)) && digits[0] == '0'))
        return std::nullopt;
    for (char d : digits)
        if (!isDigit(d))
            return std::nullopt;
    return static_cast<int32_t>(std::stol(digits));
}

} // namespace corvane::media
