#!/usr/bin/python3
"""Re-records the pinned stream sizes and hashes of tests/e2e/perf_regression_test.cpp.

usage: scripts/rerecord_pinned_streams.py [BUILD_DIR]   (default build/release, already built)

Runs the two pinning tests, reads the sizes and hashes the encoder produces now from their
failure messages, and writes them into the test's tables.  Only for a commit that changes the
encoder's output on purpose: its message must say why the bytes changed.
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TEST = os.path.join(ROOT, "tests", "e2e", "perf_regression_test.cpp")


def failures(build):
    out = subprocess.run([os.path.join(build, "tests", "aacs_e2e_tests"),
                          "--gtest_filter=LcRegression.*:PerfRegression.GenericAndMmx*"],
                         capture_output=True, text=True).stdout
    found = {}
    pattern = r"Expected equality of these values:\n  (.*?)\n    Which is: (.*?)\n  .*?\n(?:    Which is: .*?\n)?(.*?)\n"
    for lhs, value, name in re.findall(pattern, out):
        found.setdefault(name.split(", column")[0].strip(), {})[lhs.strip()] = value.strip().strip('"')
    return found


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
    found = failures(build)
    if not found:
        print("nothing to re-record: the pinned streams match")
        return
    text = open(TEST).read()
    for name, values in found.items():
        # A field the failure output does not name kept its recorded value.
        if "Fnv1a(e.bytes)" in values or "e.bytes.size()" in values:  # {"clip", kbps, 0x...ull, size}
            text = re.sub(r'(\{"%s", \d+, )0x([0-9a-f]+)ull, (\d+)\}' % re.escape(name),
                          lambda m: "%s0x%016xull, %s}" % (
                              m.group(1), int(values.get("Fnv1a(e.bytes)", str(int(m.group(2), 16)))),
                              values.get("e.bytes.size()", m.group(3))), text)
        if "Sha256Hex(bytes)" in values or "bytes.size()" in values:  # {"name", ...,\n     "sha", size}
            text = re.sub(r'(\{"%s",.*?\n\s+)"([0-9a-f]{64})", (\d+)\}' % re.escape(name),
                          lambda m: '%s"%s", %s}' % (m.group(1), values.get("Sha256Hex(bytes)", m.group(2)),
                                                     values.get("bytes.size()", m.group(3))), text, flags=re.S)
    open(TEST, "w").write(text)
    print("re-recorded %d pinned streams in %s" % (len(found), os.path.relpath(TEST, ROOT)))


if __name__ == "__main__":
    main()
