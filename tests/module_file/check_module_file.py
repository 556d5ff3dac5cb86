"""Inspects the shipped Quillomark.QPX as a PE file: its export, its imports
and every resource it carries, byte for byte.

usage: check_module_file.py Quillomark.QPX Corvane1.def [--xml report.xml]"""
import argparse
import struct
import unittest

import pefile

import qmres

ARGS = None
PE = None


def setUpModule():
    global PE
    if PE is None:
        PE = pefile.PE(ARGS.module)


def resources():
    """{(type, name): (language, code page, bytes)} with types and names as ordinals or strings."""
    out = {}
    for t in PE.DIRECTORY_ENTRY_RESOURCE.entries:
        tkey = str(t.name) if t.name is not None else t.id
        for n in t.directory.entries:
            nkey = str(n.name) if n.name is not None else n.id
            for lang in n.directory.entries:
                entry = lang.data.struct
                out.setdefault((tkey, nkey), []).append(
                    (lang.id, entry.CodePage, PE.get_data(entry.OffsetToData, entry.Size)))
    return out


def resource(rtype, name):
    entries = resources()[(rtype, name)]
    assert len(entries) == 1, f"{rtype}/{name} exists in {len(entries)} languages"
    return entries[0][2]


class Exports(unittest.TestCase):
    def test_only_export_is_main(self):
        names = [s.name for s in PE.DIRECTORY_ENTRY_EXPORT.symbols]
        self.assertEqual(names, [b"main"])

    def test_directory_names_the_shipped_file(self):
        self.assertEqual(PE.DIRECTORY_ENTRY_EXPORT.name, b"Quillomark.QPX")

    def test_main_is_code_not_a_forwarder(self):
        sym = PE.DIRECTORY_ENTRY_EXPORT.symbols[0]
        self.assertIsNone(sym.forwarder)
        section = PE.get_section_by_rva(sym.address)
        self.assertIsNotNone(section)
        self.assertTrue(section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"])


class Imports(unittest.TestCase):
    ALLOWED = {"corvane1.dll", "user32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll"}

    def imports(self):
        return {e.dll.decode().lower(): e.imports for e in PE.DIRECTORY_ENTRY_IMPORT}

    def test_porting_library_is_imported_by_its_name(self):
        self.assertIn(b"Corvane1.dll", [e.dll for e in PE.DIRECTORY_ENTRY_IMPORT])

    def test_no_other_libraries(self):
        self.assertLessEqual(set(self.imports()), self.ALLOWED)

    def test_porting_imports_are_contract_names(self):
        with open(ARGS.porting_def) as f:
            lines = [line.split(";")[0].split() for line in f]
        exported = {words[0] for words in lines if words and words[0] not in ("LIBRARY", "EXPORTS")}
        for imp in self.imports()["corvane1.dll"]:
            with self.subTest(ordinal=imp.ordinal, name=imp.name):
                self.assertIsNotNone(imp.name, "imported by ordinal")
                self.assertIn(imp.name.decode(), exported)


class ResourceSet(unittest.TestCase):
    def test_exactly_the_module_resources_in_us_english(self):
        found = resources()
        self.assertEqual(set(found), {(qmres.RT_DIALOG, 101), ("DLOG", 128), ("DITL", 128), ("MNUU", 128),
                                      ("PIPL", 16000), (qmres.RT_VERSION, 1)})
        for key, entries in found.items():
            with self.subTest(resource=key):
                self.assertEqual([lang for lang, _, _ in entries], [qmres.LANG_EN_US])

    def test_sizes(self):
        for key, size in [((qmres.RT_DIALOG, 101), qmres.DIALOG_SIZE), (("PIPL", 16000), qmres.PIPL_SIZE),
                          ((qmres.RT_VERSION, 1), qmres.VERSION_SIZE), (("DLOG", 128), 26),
                          (("DITL", 128), 294), (("MNUU", 128), 9)]:
            with self.subTest(resource=key):
                self.assertEqual(len(resource(*key)), size)


class Dialog(unittest.TestCase):
    def setUp(self):
        self.data = resource(qmres.RT_DIALOG, 101)
        self.header, self.controls, self.extras, self.used = qmres.parse_dialog(self.data)

    def test_header(self):
        for field, value in qmres.DIALOG_HEADER.items():
            with self.subTest(field=field):
                self.assertEqual(self.header[field], value)

    def test_controls_in_tab_order(self):
        self.assertEqual(len(self.controls), len(qmres.DIALOG_CONTROLS))
        for i, (got, want) in enumerate(zip(self.controls, qmres.DIALOG_CONTROLS), 1):
            with self.subTest(control=i, caption=want[-1]):
                self.assertEqual(got, want)

    def test_no_help_ids_or_creation_data(self):
        self.assertEqual(self.extras, [(0, 0)] * 14)

    def test_bytes(self):
        self.assertEqual(self.used, len(self.data))
        self.assertEqual(self.data, qmres.encode_dialog())


class ClassicLayout(unittest.TestCase):
    def test_bytes(self):
        for name, want in [("DLOG", qmres.DLOG_BYTES), ("DITL", qmres.encode_ditl()), ("MNUU", qmres.MNUU_BYTES)]:
            with self.subTest(resource=name):
                self.assertEqual(resource(name, 128).hex(), want.hex())


class PropertyList(unittest.TestCase):
    def setUp(self):
        self.data = resource("PIPL", 16000)

    def test_bytes(self):
        self.assertEqual(self.data.hex(), qmres.encode_pipl().hex())

    def test_codes_read_back_in_natural_order(self):
        header, props, used = qmres.parse_pipl(self.data)
        self.assertEqual(header, (1, 0, 11))
        self.assertEqual(used, qmres.PIPL_SIZE)
        self.assertEqual([(p[0], p[1]) for p in props], [("ZQVK", k) for k, _, _ in qmres.PIPL_PROPERTIES])
        self.assertEqual(self.data[10:18], b"KVQZdnik")

    def test_only_the_info_property_is_declared_short(self):
        _, props, _ = qmres.parse_pipl(self.data)
        short = [(p[1], p[3]) for p in props if p[3] % 4]
        self.assertEqual(short, [("eINF", 2)])
        for p in props:
            self.assertEqual(p[2], 0, p[1])
            self.assertEqual(p[5], bytes(len(p[5])), p[1])

    def test_entry_point_is_the_export(self):
        _, props, _ = qmres.parse_pipl(self.data)
        wx86 = next(p[4] for p in props if p[1] == "wx86")
        self.assertEqual(wx86.split(b"\0")[0], PE.DIRECTORY_ENTRY_EXPORT.symbols[0].name)


class VersionRecord(unittest.TestCase):
    def setUp(self):
        self.data = resource(qmres.RT_VERSION, 1)
        self.root = qmres.parse_version_node(self.data, 0, len(self.data), False)

    def test_root_and_fixed_part(self):
        self.assertEqual(self.root.key, "VS_VERSION_INFO")
        self.assertEqual(self.root.length, qmres.VERSION_SIZE)
        self.assertEqual(len(self.root.value), 52)
        fixed = qmres.parse_fixed_info(self.root.value)
        for field, value in qmres.VERSION_FIXED.items():
            with self.subTest(field=field):
                self.assertEqual(fixed[field], value)

    def test_blocks_in_order(self):
        self.assertEqual([c.key for c in self.root.children], ["StringFileInfo", "VarFileInfo"])
        self.assertEqual([c.key for c in self.root.children[0].children], ["040904e4"])

    def test_strings_in_order(self):
        table = self.root.children[0].children[0]
        got = [(s.key, s.type, s.value) for s in table.children]
        self.assertEqual([k for k, _, _ in got], [k for k, _ in qmres.VERSION_STRINGS])
        for (key, value_type, value), (_, want) in zip(got, qmres.VERSION_STRINGS):
            with self.subTest(key=key):
                self.assertEqual(value_type, 1)
                if want is None:
                    self.assertTrue(value.strip())
                else:
                    self.assertEqual(value, want)

    def test_original_filename_matches_export_directory(self):
        table = self.root.children[0].children[0]
        original = next(s.value for s in table.children if s.key == "OriginalFilename")
        self.assertEqual(original.encode(), PE.DIRECTORY_ENTRY_EXPORT.name)

    def test_translation(self):
        var = self.root.children[1].children
        self.assertEqual([v.key for v in var], ["Translation"])
        self.assertEqual(struct.unpack("<HH", var[0].value), (0x0409, 0x04E4))

    def test_loader_reads_the_same(self):
        # pefile's own reading of the record agrees with ours.
        fixed = PE.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS),
                         (0x00030002, 0x00600000, 0x0003000B, 0x00600000))
        strings = {}
        for info in PE.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        self.assertEqual(strings["OriginalFilename"], "Quillomark.QPX")
        self.assertEqual(strings["FileDescription"], "Corvane Plug-in")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("module")
    parser.add_argument("porting_def")
    parser.add_argument("--xml")
    ARGS = parser.parse_args()
    qmres.run([Exports, Imports, ResourceSet, Dialog, ClassicLayout, PropertyList, VersionRecord], ARGS.xml)
