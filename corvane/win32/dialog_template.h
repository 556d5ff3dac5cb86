// Extended dialog templates (DLGTEMPLATEEX followed by DLGITEMTEMPLATEEX
// records), as the resource compiler writes them for a DIALOGEX statement.
//
// Text in a template is UTF-16; it is kept here in Windows-1252, the code
// page of the stand-in's controls. Coordinates are dialog units.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::win32 {

struct TemplateError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The standard control classes, by the ordinal a template names them with.
enum class ControlClass : uint16_t {
    Button = 0x0080,
    Edit = 0x0081,
    Static = 0x0082,
    ListBox = 0x0083,
    ScrollBar = 0x0084,
    ComboBox = 0x0085,
};

struct ItemTemplate {
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint32_t id = 0; // -1 is 0xFFFFFFFF
    bool classIsOrdinal = true;
    uint16_t classOrdinal = 0;
    std::string className; // when the class is named
    bool titleIsOrdinal = false;
    uint16_t titleOrdinal = 0; // e.g. an icon for a static
    std::string title;
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false; // anything but the standard dialog class
    std::string title;
    // Only when the style has DS_SETFONT (or DS_SHELLFONT).
    bool hasFont = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charSet = 0;
    std::string typeface;
    std::vector<ItemTemplate> items;
};

// Parses a template; throws TemplateError naming what is wrong and where.
// Reads nothing outside `bytes`.
DialogTemplate parseDialogTemplate(std::span<const uint8_t> bytes);

} // namespace corvane::win32
