// Project files: JSON that keeps everything a render needs, so it can be
// rendered again, on another machine or split across a farm by frame range.
// Each layer keeps its instance's settings record exactly as the host holds
// it (stored, big-endian bytes, in hex) with its parameter keyframes; beside
// the record it shows the text, font, style and alignment as readable
// fields, which a user may edit. On loading, the readable fields that differ
// from the record's own values go to the module through its options dialog,
// as the command line's options do. The plate is an image path (relative to
// the project's folder) or a generated plate.
//
//   {
//     "format": "quillomark-project", "version": 2,
//     "plate": {"size": "1280x720", "color": "#1d2b53"},
//     "quality": "high", "downsample": "1/1", "frames": "1-24",
//     "layers": [{
//       "text": "Title\nSubtitle", "font": "DejaVu Sans",
//       "style": ["bold"], "alignment": "center",
//       "record": "00ff2bed0100...",
//       "composite": true,
//       "size": 72,
//       "position": [{"frame": 1, "value": "10%,50%"}, {"frame": 24, "value": "90%,50%"}],
//       "color": "#ffffff"
//     }]
//   }
//
// A parameter is one value (constant) or a list of keyframes. Version 1
// files (layers with the record alone) load as they are. Every error names
// the key's path in the file, such as layers[0].color, and what was expected;
// an unknown key is an error.
#pragma once

#include "parse.h"
#include "session/session.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

struct ProjectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PlateSetup {
    std::string image;              // an input image, or empty for a generated plate
    PlateSize size{1280, 720};      // generated plate
    Rgb colour{0x1d, 0x2b, 0x53};   // generated plate, or the gradient's top
    std::optional<Rgb> gradientEnd; // bottom colour of a vertical gradient
    bool operator==(const PlateSetup &) const = default;
};

// A layer of a project: its record and parameters, and the readable fields
// that differ from the record, still to be applied through the dialog.
struct ProjectLayer : LayerSetup {
    TextChoice edits;
    bool operator==(const ProjectLayer &) const = default;
};

struct Project {
    PlateSetup plate;
    bool draft = false;
    Downsample downsample;
    std::optional<FrameRange> frames;
    std::vector<ProjectLayer> layers;
    bool operator==(const Project &) const = default;
};

std::string toHex(const std::vector<uint8_t> &bytes);
std::vector<uint8_t> fromHex(const std::string &hex, const std::string &what); // throws ProjectError

// The readable fields of a stored record: each line of its text, its font,
// style and alignment. The text is none when line breaks other than the
// dialog's CR LF make it impossible to show faithfully, and everything is
// none for bytes that are not a record.
TextChoice readableFields(const std::vector<uint8_t> &record);

std::string projectToJson(const Project &project, const std::string &projectDir); // throws ProjectError
Project projectFromJson(const std::string &json, const std::string &projectDir);  // throws ProjectError

// Writes through a temporary name, as images are written.
void saveProject(const std::string &path, const Project &project);
// Refuses anything but a regular file before opening it.
Project loadProject(const std::string &path);

} // namespace quillomark
