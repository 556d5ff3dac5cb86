// The subcommands of `quillomark`, apart from their command-line wiring.
// Each returns the program's exit status; errors are reported on stderr.
#pragma once

#include <cstdint>
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
    std::string text, textOption;
    std::string font;
    bool bold = false, italic = false, underline = false, outline = false;
    std::string align;
    std::string size, position, colour;
    std::vector<std::string> sizeKeys, positionKeys, colourKeys;
    bool composite = false;
    bool draft = false, highQuality = false;
    std::string downsample;
    std::string input, plate, plateColour, plateGradient;
    std::string frames;
    std::string output;
    std::string depth, alpha, colourSpace; // the output's; empty: from the plate and the format
    bool force = false;                    // replace write-protected files
    std::string project, saveProject;
    bool progress = false, quiet = false;
    bool listFiles = true; // print each file written on stdout
};

int runRender(const std::string &modulePath, const RenderOptions &options);
int runDemo(const std::string &modulePath, const std::string &output, bool quiet);
int runInfo(const std::string &modulePath);
int runFonts(const std::string &modulePath);
int runColours();

// The module built beside this program.
std::string defaultModulePath();

} // namespace quillomark
