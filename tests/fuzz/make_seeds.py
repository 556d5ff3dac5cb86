#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, one folder per target, from
the module's compiled resources, the PE fixture DLLs and records made here.

    make_seeds.py OUT_DIR RES_FILE PE_FIXTURE_DIR
"""
import json
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "module_file"))
import qmres  # noqa: E402

RECORD_SIZE = 522


def record(text=b"", font=b"", style=0, align=0, magic=0x00FF2BED, version=0x0100):
    r = bytearray(RECORD_SIZE)
    struct.pack_into(">IH", r, 0, magic, version)
    r[6:6 + len(text)] = text
    r[262] = len(font) & 0xFF
    r[263:263 + len(font)] = font
    struct.pack_into(">HH", r, 518, style, align)
    return bytes(r)


def settings_records():
    hello = record(b"Hello\r\nWorld", b"DejaVu Sans", 1, 1)
    return {
        "blank": record(),
        "hello": hello + bytes([0, 48, 10, 16]),
        "hello_draft_composite_scrambled": hello + bytes([7, 64, 4, 30]),
        "styles_right": record(b"Quillomark \xe9\xe8", b"DejaVu Serif", 15, 2) + bytes([2, 30, 0, 0]),
        "alignment_out_of_range": record(b"x", b"DejaVu Sans", 0, 7) + bytes([0, 20]),
        "version_low_byte": record(b"kept", version=0x017F) + bytes([1, 12]),
        "version_replaced": record(b"dropped", version=0x0200),
        "magic_damaged": record(b"never drawn", magic=0x00FF2BEE),
        "text_unterminated": record(b"A" * 256, b"DejaVu Sans"),
        "font_name_full": record(b"long font", b"F" * 255),
        "short": record()[:10],
    }


def projects():
    layer = {"record": record(b"Fly", b"DejaVu Sans", 1, 1).hex(), "composite": True}
    keyed = dict(layer, size=[{"frame": 1, "value": 36}, {"frame": 24, "value": 144}],
                 position=[{"frame": 1, "value": "10%,50%"}, {"frame": 24, "value": "90%,50.5%"}],
                 color=[{"frame": 1, "value": "white"}, {"frame": 24, "value": "#ffcc00"}])
    base = {"format": "quillomark-project", "version": 1}
    return {
        "generated_plate": dict(base, plate={"size": "1280x720", "color": "#1d2b53"}, quality="high",
                                downsample="1/1", frames="1-24", layers=[layer]),
        "gradient_keyframes": dict(base, plate={"size": "320x200", "gradient": ["#000", "navy"]},
                                   quality="draft", downsample="1/2,2/3", layers=[keyed]),
        "image_plate": dict(base, plate={"image": "plates/a.png"}, layers=[dict(layer, size=72, color="red",
                                                                                 position="200,120")]),
        "two_layers": dict(base, layers=[layer, keyed]),
        "edited_fields": dict(base, version=2, layers=[dict(layer, text="Caf\u00e9\nTwo", font="Liberation Serif",
                                                            style=["bold", "outline"], alignment="right")]),
        "wrong_version": dict(base, version=3, layers=[]),
    }


def res_entry(rtype, name, data, language=1033):
    def field(v):
        return struct.pack("<HH", 0xFFFF, v) if isinstance(v, int) else qmres._sz(v)
    header = qmres._pad4(field(rtype) + field(name)) + struct.pack("<IHHII", 0, 0x1030, language, 0, 0)
    out = struct.pack("<II", len(data), 8 + len(header)) + header + data
    return qmres._pad4(out)


def main():
    out, res_path, fixtures = sys.argv[1:4]
    res = open(res_path, "rb").read()
    dialogs = [data for rtype, _, _, data in qmres.parse_res(res) if rtype == qmres.RT_DIALOG]
    lead = struct.pack("<IIHHHH", 0, 32, 0xFFFF, 0, 0xFFFF, 0) + bytes(16)
    unfonted = bytearray(qmres.encode_dialog())
    struct.pack_into("<I", unfonted, 12, struct.unpack_from("<I", unfonted, 12)[0] & ~0x40)

    corpora = {
        "settings_record": settings_records(),
        "project_json": {k: json.dumps(v, indent=1).encode() for k, v in projects().items()},
        "res_file": {
            "module": res,
            "named": lead + res_entry("CUSTOM", "NAMED", b"custom type and name") + res_entry(10, 2, b"zweite", 0x407),
            "lead_only": lead,
        },
        "pe_image": {name: open(os.path.join(fixtures, f"pe_{name}.dll"), "rb").read()
                     for name in ("basic", "runtime", "unprovided", "amd64")},
        "text": {
            "ascii": b"Hello\r\nWorld",
            "utf8_latin": "Déjà vu — “quotes” €".encode(),
            "utf8_outside_1252": "Ωmega 😀".encode(),
            "cp1252": bytes(range(0x80, 0x100)),
            "utf16_surrogates": "a😀b".encode("utf-16-le") + b"\x00\xd8" + b"\x00\xdc",
            "invalid_utf8": b"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82",
        },
        "dialog_template": dict({f"module_{i}": d for i, d in enumerate(dialogs)},
                                encoded=qmres.encode_dialog(), without_font=bytes(unfonted)),
    }
    for target, seeds in corpora.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    with open(os.path.join(out, "stamp"), "w") as f:
        f.write("seeds written\n")


if __name__ == "__main__":
    main()
