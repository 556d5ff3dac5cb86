// A progress bar on stderr, fed by the host's progress reports during each
// frame. It redraws one line at most ten times a second and stays silent
// when disabled (not a terminal, or --quiet) or for a single quick frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quillomark {

class ProgressBar {
public:
    // `frames`: how many frames the run renders; `always`: draw even for a
    // single frame from the start.
    ProgressBar(std::FILE *out, bool enabled, int32_t frames, bool always = false);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    void startFrame(int32_t index, int32_t frameNumber); // index 0..frames-1
    void report(int32_t current, int32_t total);         // the host's (current, total)
    // Ends the line, if one was drawn: at 100% when the run completed.
    void finish(bool completed = true);

    bool enabled() const { return enabled_; }
    // Wipes a drawn bar so that other output can take the line; the next
    // report draws it again.
    void clearLine();

    // The line as it would be drawn for this state (without the leading CR).
    static std::string line(int32_t index, int32_t frames, int32_t frameNumber, double fraction, int width = 30);

private:
    void draw(bool force);

    std::FILE *out_;
    bool enabled_;
    int32_t frames_;
    bool always_;
    int32_t index_ = 0, frameNumber_ = 0;
    double fraction_ = 0;
    bool drawn_ = false;
    int lastWidth_ = 0;
    std::chrono::steady_clock::time_point start_, last_;
};

} // namespace quillomark
