#!/usr/bin/env python3
"""Counts test cases per build from the GoogleTest XML reports and ctest's
logs, and prints one closing line for the whole run."""
import glob
import os
import re
import sys
import xml.etree.ElementTree as ET

NOTES = {
    "native": "x86_64",
    "native-asan": "x86_64, ASan+UBSan",
    "native-tsan": "x86_64, ThreadSanitizer: host and render suites",
    "i386": "32-bit, run under qemu-i386",
    "win32": "Quillomark.QPX inspected as a PE file",
    "fuzz": "clang libFuzzer, ASan+UBSan: 15 s a target",
}


def gtest_counts(build):
    passed = failed = skipped = 0
    for path in glob.glob(os.path.join(build, "test-results", "*.xml")):
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            failed += 1
            continue
        for case in root.iter("testcase"):
            if case.find("failure") is not None:
                failed += 1
            elif case.get("result") == "skipped" or case.find("skipped") is not None:
                skipped += 1
            else:
                passed += 1
    return passed, failed, skipped


def has_failure(path):
    try:
        return any(c.find("failure") is not None for c in ET.parse(path).getroot().iter("testcase"))
    except ET.ParseError:
        return True


def ctest_counts(log):
    """Tests that are not GoogleTest programs count once each."""
    if not os.path.exists(log):
        return None
    text = open(log, encoding="utf-8", errors="replace").read()
    m = re.search(r"(\d+)% tests passed, (\d+) tests failed out of (\d+)", text)
    if not m:
        return None
    return int(m.group(3)) - int(m.group(2)), int(m.group(2))


def main():
    base, presets = sys.argv[1], sys.argv[2:]
    total_p = total_f = total_s = 0
    for preset in presets:
        build = os.path.join(base, preset)
        p, f, s = gtest_counts(build)
        programs = len(glob.glob(os.path.join(build, "test-results", "*.xml")))
        ct = ctest_counts(os.path.join(base, "logs", f"{preset}-test.log"))
        if ct is not None:
            ct_passed, ct_failed = ct
            failed_programs = sum(1 for x in glob.glob(os.path.join(build, "test-results", "*.xml"))
                                  if has_failure(x))
            # ctest counts each GoogleTest program once; the rest are scripts.
            p += max(0, ct_passed - (programs - failed_programs))
            # A program that crashed leaves no report: count ctest's failures
            # beyond those the reports already show.
            f += max(0, ct_failed - failed_programs)
        status_file = os.path.join(base, "logs", f"{preset}-status")
        status = open(status_file).read().strip() if os.path.exists(status_file) else "not run"
        if status in ("configure failed", "build failed", "not run"):
            f += 1  # the build itself is a failure
        print(f"  {preset:12s} {status:14s} {p:5d} passed, {f} failed, {s} skipped  ({NOTES.get(preset, '')})")
        total_p += p
        total_f += f
        total_s += s
    print(f"Total: {total_p} passed, {total_f} failed, {total_s} skipped")
    return 1 if total_f else 0


if __name__ == "__main__":
    sys.exit(main())
