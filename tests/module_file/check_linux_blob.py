"""Compares the resources linked into Quillomark.QPX with the compiled
resource image embedded in the Linux module (symbol qmResourceBlob), which
the Win32 stand-in builds its dialogs from: both must carry the same
resources with the same bytes.

usage: check_linux_blob.py Quillomark.QPX Quillomark.so [--xml report.xml]
The check is skipped, saying why, when the Linux module has not been built."""
import argparse
import os
import unittest

import pefile

import qmres

ARGS = None


def pe_resources(path):
    pe = pefile.PE(path)
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = (str(t.name) if t.name is not None else t.id, str(n.name) if n.name is not None else n.id,
                       lang.id)
                out[key] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return out


class LinuxBlob(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(ARGS.linux_module):
            raise unittest.SkipTest(f"{ARGS.linux_module} not built; build the native preset first")
        with open(ARGS.linux_module, "rb") as f:
            blob = qmres.elf_symbol_bytes(f.read(), "qmResourceBlob")
        cls.blob = {(t, n, lang): data for t, n, lang, data in qmres.parse_res(blob)}
        cls.pe = pe_resources(ARGS.module)

    def test_dialog_template_is_identical(self):
        key = (qmres.RT_DIALOG, 101, qmres.LANG_EN_US)
        self.assertEqual(len(self.blob[key]), qmres.DIALOG_SIZE)
        self.assertEqual(self.blob[key].hex(), self.pe[key].hex())

    def test_same_resources_with_same_bytes(self):
        self.assertEqual(sorted(map(str, self.blob)), sorted(map(str, self.pe)))
        for key, data in self.pe.items():
            with self.subTest(resource=key):
                self.assertEqual(self.blob[key], data)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("module")
    parser.add_argument("linux_module")
    parser.add_argument("--xml")
    ARGS = parser.parse_args()
    qmres.run([LinuxBlob], ARGS.xml)
