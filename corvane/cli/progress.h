// Progress on stderr, fed by the host's progress reports during each frame.
// The bar redraws one line at most ten times a second and stays silent for
// a single quick frame; the plain style, for logs that are not a terminal,
// writes one line per finished frame with the time so far and the time to go.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quillomark {

class ProgressBar {
public:
    enum class Style { Off, Bar, Plain };
    // `frames`: how many frames the run renders; `always`: draw even for a
    // single frame from the start.
    ProgressBar(std::FILE *out, Style style, int32_t frames, bool always = false);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    void startFrame(int32_t index, int32_t frameNumber); // index 0..frames-1
    void report(int32_t current, int32_t total);         // the host's (current, total)
    // `frameNumber` is written, the `written`th of the run; the bar follows
    // the rendering, the plain lines the writes.
    void frameDone(int32_t frameNumber, int32_t written);
    // Ends the line, if one was drawn: at 100% when the run completed.
    void finish(bool completed = true);

    Style style() const { return style_; }
    // Wipes a drawn bar so that other output can take the line; the next
    // report draws it again.
    void clearLine();

    // The line as it would be drawn for this state (without the leading CR).
    static std::string line(int32_t index, int32_t frames, int32_t frameNumber, double fraction, int width = 30);
    // The plain style's line after `done` of `frames` frames, `seconds` in.
    static std::string plainLine(int32_t done, int32_t frames, int32_t frameNumber, double seconds);

private:
    void draw(bool force);

    std::FILE *out_;
    Style style_;
    int32_t frames_;
    bool always_;
    int32_t index_ = 0, frameNumber_ = 0;
    double fraction_ = 0;
    bool drawn_ = false;
    int lastWidth_ = 0;
    std::chrono::steady_clock::time_point start_, last_;
};

} // namespace quillomark
