// Project files: JSON that keeps everything a render needs, so it can be
// rendered again, on another machine or split across a farm by frame range.
// Each layer keeps its instance's settings record exactly as the host holds
// it (stored, big-endian bytes, in hex) with its parameter keyframes; the
// plate is an image path (relative to the project's folder) or a
// generated plate.
//
//   {
//     "format": "quillomark-project", "version": 1,
//     "plate": {"size": "1280x720", "color": "#1d2b53"},
//     "quality": "high", "downsample": "1/1", "frames": "1-24",
//     "layers": [{
//       "record": "00ff2bed0100...",
//       "composite": true,
//       "size": 72,
//       "position": [{"frame": 1, "value": "10%,50%"}, {"frame": 24, "value": "90%,50%"}],
//       "color": "#ffffff"
//     }]
//   }
//
// A parameter is one value (constant) or a list of keyframes.
#pragma once

#include "parse.h"
#include "session/layer.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

struct ProjectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PlateSpec {
    std::string image;              // an input image, or empty for a generated plate
    PlateSize size{1280, 720};      // generated plate
    Rgb colour{0x1d, 0x2b, 0x53};   // generated plate, or the gradient's top
    std::optional<Rgb> gradientEnd; // bottom colour of a vertical gradient
    bool operator==(const PlateSpec &) const = default;
};

struct Project {
    PlateSpec plate;
    bool draft = false;
    Downsample downsample;
    std::optional<FrameRange> frames;
    std::vector<LayerSpec> layers;
    bool operator==(const Project &) const = default;
};

std::string toHex(const std::vector<uint8_t> &bytes);
std::vector<uint8_t> fromHex(const std::string &hex, const std::string &what); // throws ProjectError

std::string projectToJson(const Project &project, const std::string &projectDir);
Project projectFromJson(const std::string &json, const std::string &projectDir); // throws ProjectError

// Writes through a temporary name, as images are written.
void saveProject(const std::string &path, const Project &project);
Project loadProject(const std::string &path);

} // namespace quillomark
