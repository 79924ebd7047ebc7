#!/usr/bin/env python3
"""Counts the GoogleTest cases of each suite from their XML reports and prints one line a
suite (native, Windows-side, end-to-end) and a closing total."""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def count(files):
    passed = failed = skipped = 0
    for path in files:
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            failed += 1  # a report cut off by a crash
            continue
        for case in root.iter("testcase"):
            if case.find("failure") is not None:
                failed += 1
            elif case.get("result") == "skipped" or case.find("skipped") is not None:
                skipped += 1
            else:
                passed += 1
    return passed, failed, skipped


def main(results):
    suites = [
        ("native", glob.glob(os.path.join(results, "native", "*.xml"))),
        ("windows-side", glob.glob(os.path.join(results, "win", "win_*.xml"))),
        ("end-to-end", glob.glob(os.path.join(results, "win", "e2e_*.xml"))),
    ]
    total = [0, 0, 0]
    for name, files in suites:
        p, f, s = count(files)
        total = [total[0] + p, total[1] + f, total[2] + s]
        print(f"{name}: {p} passed, {f} failed, {s} skipped ({len(files)} programs)")
    print(f"{total[0]} passed, {total[1]} failed, {total[2]} skipped")


if __name__ == "__main__":
    main(sys.argv[1])
