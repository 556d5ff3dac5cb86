#include "progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillomark {

namespace {
// A single frame earns a bar only when it is slow enough to wonder about.
constexpr auto kQuietStart = std::chrono::milliseconds(500);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
} // namespace

ProgressBar::ProgressBar(std::FILE *out, Style style, int32_t frames, bool always)
    : out_(out), style_(style), frames_(std::max(frames, 1)), always_(always || frames > 1),
      start_(std::chrono::steady_clock::now())
{
}

ProgressBar::~ProgressBar()
{
    finish(false);
}

std::string ProgressBar::line(int32_t index, int32_t frames, int32_t frameNumber, double fraction, int width)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    const double overall = std::clamp((index + fraction) / std::max(frames, 1), 0.0, 1.0);
    const int filled = static_cast<int>(std::floor(overall * width));
    std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] ";
    bar += std::to_string(static_cast<int>(std::floor(overall * 100))) + "%";
    if (frames > 1)
        bar += "  frame " + std::to_string(frameNumber) + " (" + std::to_string(index + 1) + "/" +
               std::to_string(frames) + ")";
    return bar;
}

namespace {

// "4.2s", "3m05s", "2h03m".
std::string duration(double seconds)
{
    seconds = std::max(seconds, 0.0);
    const auto s = static_cast<int64_t>(std::llround(seconds));
    char buf[32];
    if (seconds < 59.95)
        std::snprintf(buf, sizeof buf, "%.1fs", seconds);
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lldm%02llds", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%lldh%02lldm", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60));
    return buf;
}

} // namespace

std::string ProgressBar::plainLine(int32_t done, int32_t frames, int32_t frameNumber, double seconds)
{
    // The frames so far set the pace of those to come.
    const double eta = done > 0 ? seconds / done * (frames - done) : 0.0;
    return "frame " + std::to_string(frameNumber) + " (" + std::to_string(done) + "/" + std::to_string(frames) +
           ") elapsed " + duration(seconds) + " eta " + duration(eta);
}

void ProgressBar::frameDone(int32_t frameNumber, int32_t written)
{
    if (style_ != Style::Plain)
        return;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    std::fprintf(out_, "%s\n", plainLine(written, frames_, frameNumber, elapsed.count()).c_str());
    std::fflush(out_);
}

void ProgressBar::startFrame(int32_t index, int32_t frameNumber)
{
    index_ = index;
    frameNumber_ = frameNumber;
    fraction_ = 0;
    draw(true);
}

void ProgressBar::report(int32_t current, int32_t total)
{
    fraction_ = total > 0 ? static_cast<double>(current) / total : 0.0;
    draw(false);
}

void ProgressBar::draw(bool force)
{
    if (style_ != Style::Bar)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!always_ && now - start_ < kQuietStart)
        return;
    if (!force && drawn_ && now - last_ < kRedrawEvery)
        return;
    last_ = now;
    drawn_ = true;
    const std::string text = line(index_, frames_, frameNumber_, fraction_);
    lastWidth_ = static_cast<int>(text.size());
    std::fprintf(out_, "\r%s", text.c_str());
    std::fflush(out_);
}

void ProgressBar::clearLine()
{
    if (!drawn_)
        return;
    std::fprintf(out_, "\r%*s\r", lastWidth_, "");
    std::fflush(out_);
    drawn_ = false;
}

void ProgressBar::finish(bool completed)
{
    if (!drawn_)
        return;
    if (completed) {
        fraction_ = 1.0;
        index_ = frames_ - 1;
        std::fprintf(out_, "\r%s", line(index_, frames_, frameNumber_, fraction_).c_str());
    }
    std::fputc('\n', out_);
    std::fflush(out_);
    drawn_ = false;
}

} // namespace quillomark
