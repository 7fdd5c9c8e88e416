#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt and LICENSES/ for a release zip from the
components file a cross-build wrote (scripts/debian-source.sh): one heading
per component with its Debian version, then that package's copyright file
as Debian ships it, or the paragraphs of it that apply to the files used (the
components file says which). LICENSES/ gets each licence those files name: the system's copy
from /usr/share/common-licenses where there is one, else the text the
copyright file carries. A missing copyright file is an error.

  third_party_notices.py COMPONENTS OUT_DIR TITLE [--crlf]
"""
import fnmatch
import os
import re
import sys
import textwrap

COMMON = "/usr/share/common-licenses"


def paragraphs(text):
    """The paragraphs of a machine-readable copyright file as field dicts."""
    result = []
    for block in re.split(r"\n\s*\n", text):
        fields, name = {}, None
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and name:
                fields[name].append(line[1:])
            elif ":" in line and not line.startswith("#"):
                name, value = line.split(":", 1)
                fields[name] = [value.strip()]
        if fields:
            result.append(fields)
    return result


def licence_names(expression):
    """The licences an expression like "GPL-3+ with GCC exception or MIT" names."""
    expression = re.sub(r"\bwith\b.*?\bexception\b", " ", expression, flags=re.I)
    return [n for n in re.split(r"[\s,()]+|\bor\b|\band\b", expression) if n]


def common_licence(name):
    base = name.rstrip("+")
    return base if os.path.isfile(os.path.join(COMMON, base)) else None


def covers(patterns, used):
    """Whether a Files paragraph applies to one of the used paths; a path
    ending in / stands for everything under it."""
    for pattern in patterns:
        for path in used:
            if fnmatch.fnmatchcase(path, pattern):
                return True
            if path.endswith("/") and pattern.startswith(path):
                return True
    return False


def select(text, wanted):
    """The notice and {file name stem: licence text or None for the system's
    copy} for one copyright file. WANTED narrows it: "files:PATH" keeps, of a
    machine-readable file, the header, the Files paragraphs that apply to PATH
    and the licences they name; "licence:NAME" keeps only those common
    licences that a free-form file refers to; "spdx:FILE" adds the licences
    of FILE's SPDX-License-Identifier line."""
    used = [w[6:] for w in wanted if w.startswith("files:")]
    keep = [w[8:] for w in wanted if w.startswith("licence:")]
    found = {}
    for path in (w[5:] for w in wanted if w.startswith("spdx:")):
        with open(path, encoding="utf-8") as f:
            spdx = re.search(r"SPDX-License-Identifier:\s*(.+)", f.read())
        for name in licence_names(spdx.group(1)) if spdx else []:
            if common_licence(name):
                found[common_licence(name)] = None
    if not text.startswith("Format:"):
        for name in re.findall(re.escape(COMMON) + r"/([A-Za-z0-9.+-]*[A-Za-z0-9+])", text):
            if common_licence(name) and (not keep or name in keep):
                found[common_licence(name)] = None
        return text, found
    blocks = [b for b in re.split(r"\n\s*\n", text.strip("\n")) if b.strip()]
    parsed = [paragraphs(b)[0] for b in blocks]
    named, heads, texts, kept = set(), set(), {}, []
    for block, fields in zip(blocks, parsed):
        if "Files" in fields:
            if used and not covers(" ".join(fields["Files"]).split(), used):
                continue
            if "License" in fields:
                heads.add(fields["License"][0])
                named.update(licence_names(fields["License"][0]))
        kept.append(block)
        if "License" in fields and len(fields["License"]) > 1:
            texts[fields["License"][0]] = "\n".join(
                "" if line.strip() == "." else line for line in fields["License"][1:])
    if used:  # drop the licence paragraphs that no kept Files paragraph names
        kept = [b for b, f in zip(blocks, parsed) if b in kept and
                ("Files" in f or "License" not in f or f["License"][0] in named | heads)]
    for name in sorted(named):
        if common_licence(name):
            found[common_licence(name)] = None
        elif name in texts:
            found[name] = texts[name]
    for head in heads:  # a licence with an exception has its own text
        if head in texts and head not in named:
            found[head] = texts[head]
    return "\n\n".join(kept) + "\n", found


def main():
    args = [a for a in sys.argv[1:] if a != "--crlf"]
    crlf = "--crlf" in sys.argv
    if len(args) != 3:
        sys.exit(__doc__.strip())
    components_file, out, title = args
    rows = []
    with open(components_file, encoding="utf-8") as f:
        for line in f:
            if line.strip():
                name, version, path, how, *used = line.rstrip("\n").split("\t")
                rows.append((name, version, path, how, used[0].split() if used else []))
    missing = [path for _, _, path, _, _ in rows if not os.path.isfile(path)]
    if missing:
        sys.exit("third_party_notices: no copyright file: " + ", ".join(missing))

    os.makedirs(os.path.join(out, "LICENSES"), exist_ok=True)
    written = {}  # file name -> text

    def add_licence(stem, body, component):
        stem = re.sub(r"[^A-Za-z0-9.+_-]", "_", stem)
        if body is None:
            with open(os.path.join(COMMON, stem), encoding="utf-8") as f:
                body = f.read()
        body = body.rstrip("\n") + "\n"
        name = stem + ".txt"
        if name in written and written[name] != body:
            name = "%s-%s.txt" % (stem, re.sub(r"[^A-Za-z0-9]+", "-", component).strip("-"))
        written[name] = body
        return name

    sections, index = [], []
    shown = {}  # copyright text -> the heading that shows it
    for number, (name, version, path, how, used) in enumerate(rows, 1):
        with open(path, encoding="utf-8") as f:
            text, licences = select(f.read(), used)
        files = [add_licence(stem, body, name) for stem, body in licences.items()]
        heading = "%d. %s %s" % (number, name, version)
        index.append("  " + heading)
        rule = "=" * 78
        texts = ", ".join("LICENSES/" + f for f in sorted(set(files))) or "in the copyright file below"
        source = "Debian's copyright file for it" + (
            ", the parts that apply:" if any(w.startswith("files:") for w in used) else ":")
        body = ["", text.rstrip("\n"), ""]
        if text in shown:  # two packages of one source share their copyright file
            source, body = "Debian's copyright file for it: the same as under %s above." % shown[text], [""]
        shown.setdefault(text, heading)
        lines = [heading] + [textwrap.fill(t, 78, initial_indent="   ", subsequent_indent="   ",
                                           break_on_hyphens=False, break_long_words=False)
                             for t in (how, "Licence texts: " + texts, source)]
        sections.append("\n".join([rule] + lines + [rule] + body))

    intro = [title, "",
             "quex_invi's own code is under the MIT licence: see LICENSE.txt. It is built",
             "with the parts of other projects listed here. Under each heading: the Debian",
             "package it came from and its version, how it is in the program, and that",
             "package's copyright file as Debian ships it (of the longer ones, the parts",
             "that apply to what is in the program). The licence texts are in LICENSES/.",
             "", "Contents"] + index + [""]
    newline = "\r\n" if crlf else "\n"
    with open(os.path.join(out, "THIRD-PARTY-NOTICES.txt"), "w", encoding="utf-8", newline=newline) as f:
        f.write("\n".join(intro + sections))
    for name, body in written.items():
        with open(os.path.join(out, "LICENSES", name), "w", encoding="utf-8", newline=newline) as f:
            f.write(body)


if __name__ == "__main__":
    main()
