// The subcommands of `quillomark`, apart from their command-line wiring.
// Each returns the program's exit status; errors are reported on stderr.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillomark {

// Exit statuses.
enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,     // an image, project or module file could not be used
    kExitUsage = 2,      // the command line is wrong
    kExitModule = 3,     // the module refused a command (its message is shown)
    kExitCancelled = 130 // Ctrl-C
};

struct RenderOptions {
    std::string text, textOption, textFile;
    std::string font;
    // Empty: a new layer is plain and not composited, or takes the project's
    // composite setting; a changed layer keeps its own.
    std::optional<bool> bold, italic, underline, outline;
    std::optional<bool> composite;
    std::string align;
    std::string size, position, colour;
    std::vector<std::string> sizeKeys, positionKeys, colourKeys;
    bool draft = false, highQuality = false;
    std::string downsample;
    std::string input, plate, plateColour, plateGradient;
    std::string frames;
    std::string output;
    std::string depth, alpha, colourSpace; // the output's; empty: from the plate and the format
    bool force = false;                    // replace write-protected files
    std::string compression;               // zlib level 0-9; empty: fast
    std::string threads;                   // empty or 0: every core
    std::string missing;                   // a sequence's missing frame: "error", "hold" or "black"
    bool timecode = false;                 // number a clip's frames from its start timecode
    bool skipExisting = false;             // leave frames already written alone
    std::string fps, codec, crf, bitrate;  // a video file's
    std::string project, saveProject;
    int32_t layer = 0;     // the project's layer the options change, from 1; 0: the only or last
    bool addLayer = false; // the options describe a new layer over the project's
    std::string progress;  // "bar" or "plain"; empty: a bar on a terminal
    bool quiet = false;    // errors only
    bool listFiles = true; // print each file written on stdout
};

int runRender(const std::string &modulePath, const RenderOptions &options);
int runDemo(const std::string &modulePath, const std::string &output, bool quiet);
int runInfo(const std::string &modulePath);
int runFonts(const std::string &modulePath);
int runColours();

// The module beside this program, else where the install puts it.
std::string defaultModulePath();

} // namespace quillomark
