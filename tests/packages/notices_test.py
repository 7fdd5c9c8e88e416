#!/usr/bin/env python3
"""scripts/third_party_notices.py on a small machine-readable copyright file:
the parts that apply to the files used, shown once for two components that
share it, the system's licence text for a common licence and the file's own
text for another; and a release with a missing copyright file must fail."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "third_party_notices.py")
COPYRIGHT = """Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: demo

Files: *
Copyright: 2020 Someone
License: LGPL-2.1+

Files: tests/*
Copyright: 2020 Someone Else
License: GPL-3+

Files: src/inflate/*
Copyright: 2021 A Third
License: Zlib

License: Zlib
 The zlib licence's words.
 .
 Second paragraph.
"""


def run(components, out):
    return subprocess.run([sys.executable, SCRIPT, components, out, "Title"],
                          capture_output=True, text=True)


def main():
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        copyright_file = os.path.join(tmp, "copyright")
        with open(copyright_file, "w") as f:
            f.write(COPYRIGHT)
        components = os.path.join(tmp, "components.tsv")
        with open(components, "w") as f:
            f.write("demo\t1.0-1\t%s\tbuilt in\tfiles:src/\n" % copyright_file)
            f.write("demo-extra\t1.0-1\t%s\talso built in\tfiles:src/\n" % copyright_file)
        out = os.path.join(tmp, "out")
        result = run(components, out)
        if result.returncode != 0:
            sys.exit("notices failed: " + result.stderr)
        notices = open(os.path.join(out, "THIRD-PARTY-NOTICES.txt")).read()
        licences = sorted(os.listdir(os.path.join(out, "LICENSES")))
        if "1. demo 1.0-1" not in notices or "Someone Else" in notices:
            failures.append("the notice is not the heading and the parts for src/")
        if notices.count("2021 A Third") != 1 or "the same as under 1. demo 1.0-1 above" not in notices:
            failures.append("a copyright file two components share is not shown once")
        if licences != ["LGPL-2.1.txt", "Zlib.txt"]:
            failures.append("licences %s, not LGPL-2.1 and Zlib" % licences)
        elif open(os.path.join(out, "LICENSES", "Zlib.txt")).read() != \
                "The zlib licence's words.\n\nSecond paragraph.\n":
            failures.append("the Zlib text is not the copyright file's")
        elif open(os.path.join(out, "LICENSES", "LGPL-2.1.txt")).read() != \
                open("/usr/share/common-licenses/LGPL-2.1").read():
            failures.append("LGPL-2.1 is not the system's text")

        with open(components, "a") as f:
            f.write("gone\t2\t%s\tlinked\t\n" % os.path.join(tmp, "missing", "copyright"))
        result = run(components, os.path.join(tmp, "out2"))
        if result.returncode == 0 or "missing/copyright" not in result.stderr:
            failures.append("a missing copyright file did not fail the notices")
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print("ok: notices from a copyright file; a missing one fails")


if __name__ == "__main__":
    main()
