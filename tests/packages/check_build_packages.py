#!/usr/bin/env python3
"""Fails when a build compiles or links against a system file whose Debian
package scripts/install-deps.sh --test does not install, itself or through
the Depends of a package it installs. A package installed here by hand would
otherwise hide a missing install step until a fresh machine meets it.

Usage: check_build_packages.py BUILD_DIR SOURCE_DIR
"""
import glob
import os
import re
import subprocess
import sys


def listed_packages(source_dir):
    out = subprocess.run(["bash", os.path.join(source_dir, "scripts/install-deps.sh"),
                          "--list", "--test"], check=True, capture_output=True, text=True)
    return set(out.stdout.split())


def installed_relations():
    """Depends and Provides of every installed package, from dpkg's database."""
    out = subprocess.run(["dpkg-query", "-W", "-f=${Package}\t${Status}\t${Pre-Depends}, "
                          "${Depends}\t${Provides}\n"], check=True, capture_output=True,
                         text=True)
    depends, providers = {}, {}
    for line in out.stdout.splitlines():
        name, status, deps, provides = (line.split("\t") + ["", "", ""])[:4]
        if not status.endswith(" installed"):
            continue
        # Every alternative counts: whichever one apt picked is installed.
        depends[name] = {re.split(r"[\s:(]", alt.strip())[0]
                         for alt in re.split(r"[,|]", deps) if alt.strip()}
        for virtual in provides.split(","):
            if virtual.strip():
                providers.setdefault(re.split(r"[\s(]", virtual.strip())[0], set()).add(name)
    return depends, providers


def closure(roots, depends, providers):
    seen, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        todo.extend(depends.get(name, ()))
        todo.extend(providers.get(name, ()))
    return seen


def used_files(build_dir, source_dir):
    """System headers from the compiler's dependency files, and the libraries
    named on the link lines."""
    roots = [build_dir, source_dir]
    cache = os.path.join(build_dir, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache, encoding="utf-8") as f:
            roots += re.findall(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", f.read(), re.M)
    ours = tuple(os.path.realpath(r) + os.sep for r in roots)
    files = set()
    for dep in glob.glob(os.path.join(build_dir, "**", "*.o.d"), recursive=True):
        with open(dep, encoding="utf-8", errors="replace") as f:
            for token in f.read().replace("\\\n", " ").split():
                if token.startswith("/") and not token.endswith(":"):
                    files.add(os.path.normpath(token))
    libs = set()
    for link in glob.glob(os.path.join(build_dir, "**", "link.txt"), recursive=True):
        with open(link, encoding="utf-8") as f:
            for token in f.read().split():
                if token.startswith("/") and re.search(r"\.(so|a)(\.[0-9.]+)?$", token):
                    files.add(os.path.normpath(token))
                elif token.startswith("-l"):
                    libs.add(token[2:])
    for lib in libs:
        for suffix in (".so", ".a"):
            found = subprocess.run(["c++", f"-print-file-name=lib{lib}{suffix}"],
                                   capture_output=True, text=True).stdout.strip()
            if found.startswith("/"):
                files.add(os.path.normpath(found))
                break
    return {f for f in files
            if not os.path.realpath(f).startswith(ours) and not f.startswith(ours)}


def owners(paths):
    """Path -> owning packages; dpkg records merged-/usr files under either name."""
    candidates = {}
    for path in paths:
        real = os.path.realpath(path)
        names = {path, real}
        for name in list(names):
            if name.startswith("/usr/"):
                names.add(name[4:])
            else:
                names.add("/usr" + name)
        candidates[path] = names
    query = sorted({n for names in candidates.values() for n in names})
    out = subprocess.run(["dpkg-query", "-S"] + query, capture_output=True, text=True).stdout
    owned = {}
    for line in out.splitlines():
        packages, _, name = line.partition(": ")
        owned[name] = {p.strip().split(":")[0] for p in packages.split(",")}
    return {path: set().union(*(owned.get(n, set()) for n in names))
            for path, names in candidates.items()}


def main():
    if len(sys.argv) != 3:
        print("usage: check_build_packages.py BUILD_DIR SOURCE_DIR", file=sys.stderr)
        return 2
    build_dir, source_dir = sys.argv[1:]
    files = used_files(build_dir, source_dir)
    if not files:
        print(f"check_build_packages: no dependency files under {build_dir}", file=sys.stderr)
        return 1
    listed = listed_packages(source_dir)
    depends, providers = installed_relations()
    allowed = closure(listed, depends, providers)
    missing = {}
    unowned = []
    for path, packages in sorted(owners(files).items()):
        if not packages:
            unowned.append(path)
        elif not packages & allowed:
            for package in packages:
                missing.setdefault(package, []).append(path)
    for package, paths in sorted(missing.items()):
        print(f"check_build_packages: the build uses {len(paths)} file(s) of the Debian package "
              f"{package}, which scripts/install-deps.sh does not install (e.g. {paths[0]})")
    for path in unowned:
        print(f"check_build_packages: the build uses {path}, which no Debian package owns")
    print(f"check_build_packages: {len(files)} system files checked against "
          f"{len(listed)} listed packages ({len(allowed)} with their dependencies)")
    return 1 if missing or unowned else 0


if __name__ == "__main__":
    sys.exit(main())
