// Builds extended dialog templates byte by byte, so tests can hand the
// stand-in exactly the bytes they mean (.res images: res_builder.h).
#pragma once

#include "../resources/res_builder.h"
#include "resource_ids.h"
#include "text/encoding.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qmtest {

inline constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83, kComboBox = 0x85;

struct Item {
    uint32_t id;
    uint16_t classOrdinal; // 0: use className
    uint32_t style;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 40, cy = 10;
    std::string caption = {};   // Windows-1252
    std::string className = {}; // when classOrdinal is 0
};

struct Dialog {
    uint32_t style = 0x800008C4;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 236, cy = 156;
    std::string title;
    uint16_t pointSize = 8;
    std::string face = "MS Sans Serif";
    uint8_t charSet = 1;
    std::vector<Item> items;
};

// A template growing field by field, with the resource builder's writers.
class TemplateWriter {
public:
    void u8(uint8_t v) { b_.push_back(v); }
    void u16(uint16_t v) { put16(b_, v); }
    void u32(uint32_t v) { put32(b_, v); }
    // 1252 bytes as UTF-16.
    void wide(const std::string &s)
    {
        for (unsigned char c : s)
            u16(static_cast<uint16_t>(corvane::text::cp1252ToUnicode(c)));
        u16(0);
    }
    void align4() { pad4(b_); }
    size_t size() const { return b_.size(); }
    Bytes take() { return std::move(b_); }

private:
    Bytes b_;
};

inline std::vector<uint8_t> build(const Dialog &d)
{
    TemplateWriter b;
    b.u16(1);
    b.u16(0xFFFF);
    b.u32(0);
    b.u32(d.exStyle);
    b.u32(d.style);
    b.u16(static_cast<uint16_t>(d.items.size()));
    b.u16(static_cast<uint16_t>(d.x));
    b.u16(static_cast<uint16_t>(d.y));
    b.u16(static_cast<uint16_t>(d.cx));
    b.u16(static_cast<uint16_t>(d.cy));
    b.u16(0); // menu
    b.u16(0); // class
    b.wide(d.title);
    if (d.style & 0x40) {
        b.u16(d.pointSize);
        b.u16(0);
        b.u8(0);
        b.u8(d.charSet);
        b.wide(d.face);
    }
    for (const Item &it : d.items) {
        b.align4();
        b.u32(0);
        b.u32(it.exStyle);
        b.u32(it.style);
        b.u16(static_cast<uint16_t>(it.x));
        b.u16(static_cast<uint16_t>(it.y));
        b.u16(static_cast<uint16_t>(it.cx));
        b.u16(static_cast<uint16_t>(it.cy));
        b.u32(it.id);
        if (it.classOrdinal) {
            b.u16(0xFFFF);
            b.u16(it.classOrdinal);
        } else {
            b.wide(it.className);
        }
        b.wide(it.caption);
        b.u16(0); // no creation data
    }
    return b.take();
}

// The options dialog as its table gives it.
inline Dialog optionsDialog()
{
    Dialog d;
    d.items = {
        {1, kButton, 0x50010001, 0, 132, 139, 45, 13, "&OK"},
        {2, kButton, 0x50010000, 0, 184, 139, 44, 13, "&Cancel"},
        {kIdBoldBox, kButton, 0x50010003, 0, 30, 31, 40, 8, "&Bold"},
        {kIdItalicBox, kButton, 0x50010003, 0, 30, 39, 40, 8, "&Italic"},
        {kIdOutlineBox, kButton, 0x50010003, 0, 75, 39, 81, 8, "&Outline"},
        {kIdUnderlineBox, kButton, 0x50010003, 0, 75, 31, 83, 8, "&Underline"},
        {0xFFFFFFFF, kStatic, 0x50020000, 0, 7, 22, 91, 8, "Style:"},
        {0xFFFFFFFF, kStatic, 0x50020000, 0x1000, 120, 22, 39, 8, "Alignment:"},
        {kIdAlignLeft, kButton, 0x50000009, 0, 165, 23, 64, 8, "&Left"},
        {kIdAlignCenter, kButton, 0x50000009, 0, 165, 31, 64, 8, "C&enter"},
        {kIdAlignRight, kButton, 0x50000009, 0, 165, 39, 64, 8, "&Right"},
        {kIdFontList, kComboBox, 0x50210103, 0, 54, 7, 104, 165, ""},
        {0xFFFFFFFF, kStatic, 0x50020000, 0, 7, 7, 44, 8, "Font:"},
        {kIdTextField, kEdit, 0x50811084, 0, 7, 50, 222, 83, ""},
    };
    return d;
}

} // namespace qmtest
