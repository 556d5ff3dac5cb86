"""Shared pieces of the module-file checks: the expected resources written out
as tables, encoders that turn those tables into bytes, readers for dialog
templates, version records, .res images and ELF symbol tables, and a runner
that writes a GoogleTest-style XML report."""
import os
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

LANG_EN_US = 1033
RT_DIALOG = 5
RT_VERSION = 16

# ---------------------------------------------------------------------------
# Dialog 101

BUTTON, EDIT, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85

DIALOG_HEADER = {
    "version": 1,
    "signature": 0xFFFF,
    "help_id": 0,
    "ex_style": 0,
    "style": 0x800008C4,
    "count": 14,
    "x": 0, "y": 0, "cx": 236, "cy": 156,
    "menu": 0,            # ordinal-or-string field: empty
    "window_class": 0,
    "title": "",
    "point_size": 8, "weight": 0, "italic": 0, "charset": 1,
    "face": "MS Sans Serif",
}

# id, class ordinal, style, extended style, x, y, cx, cy, caption
DIALOG_CONTROLS = [
    (1, BUTTON, 0x50010001, 0, 132, 139, 45, 13, "&OK"),
    (2, BUTTON, 0x50010000, 0, 184, 139, 44, 13, "&Cancel"),
    (1002, BUTTON, 0x50010003, 0, 30, 31, 40, 8, "&Bold"),
    (1003, BUTTON, 0x50010003, 0, 30, 39, 40, 8, "&Italic"),
    (1005, BUTTON, 0x50010003, 0, 75, 39, 81, 8, "&Outline"),
    (1004, BUTTON, 0x50010003, 0, 75, 31, 83, 8, "&Underline"),
    (-1, STATIC, 0x50020000, 0, 7, 22, 91, 8, "Style:"),
    (-1, STATIC, 0x50020000, 0x1000, 120, 22, 39, 8, "Alignment:"),
    (1006, BUTTON, 0x50000009, 0, 165, 23, 64, 8, "&Left"),
    (1007, BUTTON, 0x50000009, 0, 165, 31, 64, 8, "C&enter"),
    (1008, BUTTON, 0x50000009, 0, 165, 39, 64, 8, "&Right"),
    (1001, COMBOBOX, 0x50210103, 0, 54, 7, 104, 165, ""),
    (-1, STATIC, 0x50020000, 0, 7, 7, 44, 8, "Font:"),
    (1000, EDIT, 0x50811084, 0, 7, 50, 222, 83, ""),
]
DIALOG_SIZE = 688


def _sz(text):
    return text.encode("utf-16-le") + b"\0\0"


def _pad4(buf):
    return buf + b"\0" * (-len(buf) % 4)


def encode_dialog():
    """The extended dialog template the tables above describe."""
    h = DIALOG_HEADER
    out = struct.pack("<HHIIIHhhhh", h["version"], h["signature"], h["help_id"], h["ex_style"], h["style"],
                      h["count"], h["x"], h["y"], h["cx"], h["cy"])
    out += struct.pack("<HH", h["menu"], h["window_class"]) + _sz(h["title"])
    out += struct.pack("<HHBB", h["point_size"], h["weight"], h["italic"], h["charset"]) + _sz(h["face"])
    for cid, cls, style, ex_style, x, y, cx, cy, caption in DIALOG_CONTROLS:
        out = _pad4(out)
        out += struct.pack("<IIIhhhhi", 0, ex_style, style, x, y, cx, cy, cid)
        out += struct.pack("<HH", 0xFFFF, cls) + _sz(caption) + struct.pack("<H", 0)
    return out


class Reader:
    """Little-endian reads that fail loudly at the end of the bytes."""

    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        size = struct.calcsize(fmt)
        if self.pos + size > len(self.data):
            raise ValueError(f"truncated: {size} bytes wanted at offset {self.pos} of {len(self.data)}")
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += size
        return values if len(values) > 1 else values[0]

    def sz(self):
        end = self.pos
        while True:
            if end + 2 > len(self.data):
                raise ValueError(f"unterminated string at offset {self.pos}")
            if self.data[end:end + 2] == b"\0\0":
                break
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        if self.data[self.pos:self.pos + 2] == b"\xff\xff":
            self.pos += 2
            return self.take("<H")
        text = self.sz()
        return text if text else 0

    def align4(self):
        self.pos += -self.pos % 4


def parse_dialog(data):
    """Reads an extended dialog template into (header dict, list of control tuples, bytes used)."""
    r = Reader(data)
    h = {}
    (h["version"], h["signature"], h["help_id"], h["ex_style"], h["style"], h["count"],
     h["x"], h["y"], h["cx"], h["cy"]) = r.take("<HHIIIHhhhh")
    h["menu"] = r.sz_or_ord()
    h["window_class"] = r.sz_or_ord()
    h["title"] = r.sz()
    if h["style"] & 0x40:  # DS_SETFONT
        h["point_size"], h["weight"], h["italic"], h["charset"] = r.take("<HHBB")
        h["face"] = r.sz()
    controls = []
    help_ids = []
    for _ in range(h["count"]):
        r.align4()
        help_id, ex_style, style, x, y, cx, cy, cid = r.take("<IIIhhhhi")
        cls = r.sz_or_ord()
        caption = r.sz_or_ord()
        extra = r.take("<H")
        r.pos += extra
        controls.append((cid, cls, style, ex_style, x, y, cx, cy, caption if caption != 0 else ""))
        help_ids.append((help_id, extra))
    return h, controls, help_ids, r.pos


# ---------------------------------------------------------------------------
# Classic-layout resources

DLOG_BYTES = struct.pack("<H4hHHHIHBBH", 1, 115, 145, 431, 593, 1, 0, 1, 0, 128, 0, 0, 0)

# kind, top, left, bottom, right, text
DITL_ITEMS = [
    (4, 288, 372, 308, 440, "OK"),
    (4, 288, 292, 308, 356, "Cancel"),
    (16, 100, 10, 272, 438, ""),
    (0, 8, 66, 24, 284, ""),
    (136, 8, 18, 24, 62, "Font:"),
    (5, 55, 66, 71, 130, "Bold"),
    (5, 71, 66, 87, 126, "Italic"),
    (5, 39, 143, 55, 229, "Underline"),
    (5, 55, 143, 71, 223, "Outline"),
    (5, 71, 143, 87, 227, "Shadow"),
    (136, 39, 18, 55, 62, "Style:"),
    (6, 39, 353, 55, 417, "Left"),
    (6, 55, 353, 71, 417, "Center"),
    (6, 71, 353, 87, 417, "Right"),
    (136, 39, 273, 55, 348, "Alignment:"),
]


def encode_ditl():
    out = struct.pack("<HH", 1, len(DITL_ITEMS) - 1)
    for kind, top, left, bottom, right, text in DITL_ITEMS:
        raw = text.encode("ascii")
        out += struct.pack("<I4hBB", 0, top, left, bottom, right, kind, len(raw)) + raw
        if len(raw) % 2:
            out += b"\0"
    return out


MNUU_BYTES = struct.pack("<H", 3) + b"Font" + b"\0\0\0"

# ---------------------------------------------------------------------------
# Property list 16000

def fourcc(code):
    """A four-character code as the little-endian number the file stores."""
    assert len(code) == 4
    return struct.pack("<I", int.from_bytes(code.encode("ascii"), "big"))


# key, declared length, data (unpadded)
PIPL_PROPERTIES = [
    ("kind", 4, fourcc("eFKT")),
    ("name", 12, bytes([10]) + b"Quillomark" + b"\0"),
    ("catg", 8, bytes([4]) + b"Text" + b"\0\0\0"),
    ("wx86", 8, b"main\0" + b"\0\0\0"),
    ("ePVR", 4, bytes([2, 0, 0, 0])),
    ("eSVR", 4, bytes([0x0B, 0, 0, 0])),
    ("eVER", 4, struct.pack("<I", 0x00190600)),
    ("eINF", 2, bytes([1, 0])),
    ("eGLO", 4, struct.pack("<I", 0x61)),
    ("eMNA", 20, bytes([16]) + b"QZRV Quillomark2" + b"\0\0\0"),
    ("rsFL", 4, bytes(4)),
]
PIPL_VENDOR = "ZQVK"
PIPL_SIZE = 262


def encode_pipl():
    out = struct.pack("<HII", 1, 0, len(PIPL_PROPERTIES))
    for key, length, data in PIPL_PROPERTIES:
        assert len(data) == length
        out += fourcc(PIPL_VENDOR) + fourcc(key) + struct.pack("<II", 0, length) + data
        out += b"\0" * (-length % 4)
    return out


def parse_pipl(data):
    """[(vendor, key, id, declared length, data bytes, padding bytes)] read from the list."""
    r = Reader(data)
    version, reserved, count = r.take("<HII")
    props = []
    for _ in range(count):
        vendor, key, pid, length = r.take("<IIII")
        body = data[r.pos:r.pos + length]
        r.pos += length
        pad_len = -length % 4
        pad = data[r.pos:r.pos + pad_len]
        r.pos += pad_len
        props.append((vendor.to_bytes(4, "big").decode("latin-1"), key.to_bytes(4, "big").decode("latin-1"),
                      pid, length, body, pad))
    return (version, reserved, count), props, r.pos


# ---------------------------------------------------------------------------
# Version record

VERSION_SIZE = 812
VERSION_FIXED = {
    "signature": 0xFEEF04BD,
    "struct_version": 0x00010000,
    "file_ms": 0x00030002, "file_ls": 0x00600000,
    "product_ms": 0x0003000B, "product_ls": 0x00600000,
    "flags_mask": 0x3F,
    "flags": 0,
    "os": 0x00000004,
    "type": 2,
    "subtype": 0,
    "date_ms": 0, "date_ls": 0,
}
# None: the value is ours to choose (checked as present and non-empty)
VERSION_STRINGS = [
    ("CompanyName", None),
    ("FileDescription", "Corvane Plug-in"),
    ("FileVersion", "3.1"),
    ("InternalName", "Quillomark"),
    ("LegalCopyright", None),
    ("OriginalFilename", "Quillomark.QPX"),
    ("ProductName", None),
    ("ProductVersion", "3.1"),
]


class VersionNode:
    def __init__(self, key, value_type, value, children, length):
        self.key, self.type, self.value, self.children, self.length = key, value_type, value, children, length


def parse_version_node(data, pos, end, text_values):
    """One node of a version record at pos; children run to the node's own length."""
    r = Reader(data, pos)
    length, value_length, value_type = r.take("<HHH")
    if length < 6 or pos + length > end:
        raise ValueError(f"version node at {pos}: length {length} runs past {end}")
    node_end = pos + length
    key = r.sz()
    r.align4()
    if value_type == 1 and text_values:
        raw = data[r.pos:r.pos + 2 * value_length]
        if value_length and raw[-2:] != b"\0\0":
            raise ValueError(f"version string {key!r}: value of {value_length} units is not zero-terminated")
        value = raw[:-2].decode("utf-16-le")
        r.pos += 2 * value_length
    else:
        value = data[r.pos:r.pos + value_length]
        r.pos += value_length
    r.align4()
    children = []
    while r.pos < node_end:
        child = parse_version_node(data, r.pos, node_end, text_values or key == "StringFileInfo")
        children.append(child)
        r.pos += child.length
        r.align4()
    return VersionNode(key, value_type, value, children, length)


def parse_fixed_info(raw):
    names = ["signature", "struct_version", "file_ms", "file_ls", "product_ms", "product_ls", "flags_mask",
             "flags", "os", "type", "subtype", "date_ms", "date_ls"]
    return dict(zip(names, struct.unpack("<13I", raw)))


# ---------------------------------------------------------------------------
# .res images and ELF files

def parse_res(data):
    """[(type, name, language, bytes)] of a .res image, the leading empty entry left out."""
    if data[:32] != struct.pack("<IIHHHH", 0, 32, 0xFFFF, 0, 0xFFFF, 0) + bytes(16):
        raise ValueError("not a 32-bit .res image")
    out = []
    pos = 32
    while pos < len(data):
        r = Reader(data, pos)
        data_size, header_size = r.take("<II")
        rtype = r.sz_or_ord()
        rname = r.sz_or_ord()
        r.align4()
        _, _, language, _, _ = r.take("<IHHII")
        start = pos + header_size
        if start + data_size > len(data):
            raise ValueError(f".res entry at {pos} runs past the end")
        out.append((rtype, rname, language, data[start:start + data_size]))
        pos = start + data_size
        pos += -pos % 4
    return out


def elf_symbol_bytes(data, symbol):
    """The bytes of a defined symbol in an ELF file, located through .symtab."""
    if data[:4] != b"\x7fELF" or data[5] != 1:
        raise ValueError("not a little-endian ELF file")
    is64 = data[4] == 2
    if is64:
        shoff, = struct.unpack_from("<Q", data, 0x28)
        shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
        sh_fmt, sym_fmt = "<IIQQQQIIQQ", "<IBBHQQ"
    else:
        shoff, = struct.unpack_from("<I", data, 0x20)
        shentsize, shnum = struct.unpack_from("<HH", data, 0x2E)
        sh_fmt, sym_fmt = "<IIIIIIIIII", "<IIIBBH"
    sections = [struct.unpack_from(sh_fmt, data, shoff + i * shentsize) for i in range(shnum)]
    # name, type, flags, addr, offset, size, link, info, align, entsize
    for sec in sections:
        if sec[1] != 2:  # SHT_SYMTAB
            continue
        strtab = sections[sec[6]]
        for off in range(sec[4], sec[4] + sec[5], sec[9]):
            if is64:
                name, _, _, shndx, value, size = struct.unpack_from(sym_fmt, data, off)
            else:
                name, value, size, _, _, shndx = struct.unpack_from(sym_fmt, data, off)
            start = strtab[4] + name
            if data[start:data.index(b"\0", start)] != symbol.encode():
                continue
            if shndx == 0 or shndx >= len(sections):
                raise ValueError(f"{symbol} is not defined in a section")
            home = sections[shndx]
            file_off = value - home[3] + home[4]
            return data[file_off:file_off + size]
    raise ValueError(f"{symbol} not found in the symbol table (stripped?)")


# ---------------------------------------------------------------------------
# Runner

class _IdRecordingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.ran_ids = []

    def startTest(self, test):
        self.ran_ids.append(test.id())
        super().startTest(test)


def run(test_classes, xml_path=None):
    """Runs the test classes, writes a GoogleTest-style report, exits 0 or 1."""
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(c) for c in test_classes)
    runner = unittest.TextTestRunner(verbosity=2, stream=sys.stdout, resultclass=_IdRecordingResult)
    result = runner.run(suite)
    if xml_path:
        _write_xml(xml_path, result)
    sys.exit(0 if result.wasSuccessful() else 1)


def _write_xml(path, result):
    failures = {t.id(): msg for t, msg in result.failures + result.errors}
    skipped = {t.id(): msg for t, msg in result.skipped}
    root = ET.Element("testsuites")
    suite = ET.SubElement(root, "testsuite", name=os.path.basename(path).rsplit(".", 1)[0])
    # A class skipped as a whole never starts its tests; it is reported once.
    ids = result.ran_ids + [i for i in skipped if i not in result.ran_ids]
    for test_id in ids:
        cls, name = test_id.rsplit(".", 1) if " " not in test_id else ("", test_id)
        case = ET.SubElement(suite, "testcase", name=name, classname=cls.split(".")[-1])
        if test_id in failures:
            failure = ET.SubElement(case, "failure", message=failures[test_id].strip().splitlines()[-1])
            failure.text = failures[test_id]
        elif test_id in skipped:
            case.set("result", "skipped")
            ET.SubElement(case, "skipped", message=skipped[test_id])
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ET.ElementTree(root).write(path, encoding="utf-8", xml_declaration=True)
