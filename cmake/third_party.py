#!/usr/bin/env python3
"""Third-party notices and the list of linked components, from the release link's map.

  third_party.py --map <link map> --table third-party.json --version <version>
                 --search-dir <dir>... --own-dir <dir> --tool <program>...
                 --notices <THIRD-PARTY-NOTICES.txt> --components <components.json>

The map is either lld's MSVC-style map (-Xlink=-map:), whose lines end in "library:member" or
"object", or GNU ld's -Map, whose lines name "/path/library.a(member)". A library named by the map
is looked for in the search directories as the linker did; files under the own directory are this
project's. Every other file must be claimed by a component of the table, and every component the
map shows code from is listed with the version of the Debian package it came from and its licence.
Nothing is written unless all of it is known: a partial notice is worse than none.
"""
import argparse
import fnmatch
import json
import os
import re
import subprocess
import sys
import textwrap


class Failure(Exception):
    pass


# lld: " 0001:00008cd0       pthread_mutex_lock  0000000140009cd0  f  libpthread:libwinpthread_la-mutex.o"
MS_LINE = re.compile(r"^\s*[0-9a-f]{4}:[0-9a-f]{8}\s+\S+\s+[0-9a-f]{16}\s+(?:[fi]\s+)*(\S+)\s*$")
# GNU ld, memory map section: " .text  0x0000000140001000  0x1c0 /usr/lib/.../libstdc++.a(eh_alloc.o)"
GNU_LINE = re.compile(r"^\s*(?:\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)\s*$")


def linked_files(map_text, search_dirs, own_dir):
    """The outside files the executable has code or data from, as absolute paths."""
    names = set()
    if "Linker script and memory map" in map_text:
        body = map_text.split("Linker script and memory map", 1)[1]
        for line in body.splitlines():
            m = GNU_LINE.match(line)
            if m and int(m.group(1), 16) > 0:
                names.add(re.sub(r"\([^)]*\)$", "", m.group(2)))
    else:
        for line in map_text.splitlines():
            m = MS_LINE.match(line)
            if m and not m.group(1).startswith("<"):
                token = m.group(1)
                names.add(token.split(":", 1)[0] + ".a" if ":" in token else token)
    found = set()
    for name in names:
        if name.endswith(".obj"):
            continue  # CMake's objects: this project's own code
        if os.path.isabs(name) or os.sep in name:
            path = os.path.abspath(name)
        else:
            own = [os.path.join(d, name) for d, _, files in os.walk(own_dir) if name in files]
            if own:
                continue
            candidates = [os.path.join(d, name) for d in search_dirs]
            path = next((c for c in candidates if os.path.isfile(c)), None)
            if path is None:
                raise Failure(f"the link map names {name}, found in none of {', '.join(search_dirs)}")
        if not path.startswith(os.path.abspath(own_dir) + os.sep):
            found.add(path)
    if not found:
        raise Failure("the link map names no outside file at all: not a map of this link")
    return sorted(found)


def run(args):
    try:
        return subprocess.run(args, check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        detail = getattr(error, "stderr", "") or str(error)
        raise Failure(f"{' '.join(args)}: {detail.strip()}") from None


def debian_package(path):
    """(package, version, architecture) of the Debian package that installed path."""
    out = None
    for candidate in (os.path.realpath(path), path):
        try:
            out = run(["dpkg-query", "-S", candidate])
            break
        except Failure:
            continue
    if out is None:
        raise Failure(f"no Debian package owns {path}: its version cannot be read")
    package = out.splitlines()[0].split(":")[0].strip()
    fields = run(["dpkg-query", "-W", "-f=${Version}\t${Architecture}", package]).split("\t")
    if len(fields) != 2 or not fields[0]:
        raise Failure(f"dpkg-query gives no version for {package} (owner of {path})")
    return package, fields[0], fields[1]


def distro():
    values = {}
    try:
        with open("/etc/os-release", encoding="utf-8") as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                values[key] = value.strip('"')
    except OSError:
        pass
    return f"{values.get('ID', 'debian')}-{values.get('VERSION_ID', 'unknown')}"


def purl(package, version, arch, dist):
    # Package URLs percent-encode the version's reserved characters (":" of an epoch, "+").
    quoted = version.replace("%", "%25").replace(":", "%3A").replace("+", "%2B")
    return f"pkg:deb/debian/{package}@{quoted}?arch={arch}&distro={dist}"


def dep5_paragraphs(path):
    with open(path, encoding="utf-8") as f:
        return [p for p in re.split(r"\n\s*\n", f.read()) if p.strip()]


def field(paragraph, name):
    m = re.search(rf"^{name}:[ \t]*(.*(?:\n[ \t].*)*)", paragraph, re.M)
    return m.group(1) if m else None


def licence_notice(copyright_path, patterns):
    """The copyright file's paragraphs for the given Files patterns, and the licence texts they
    name but do not carry."""
    paragraphs = dep5_paragraphs(copyright_path)
    chosen = []
    for pattern in patterns:
        match = [p for p in paragraphs if (field(p, "Files") or "").split() and
                 pattern in (field(p, "Files") or "").split()]
        if not match:
            raise Failure(f"{copyright_path} has no Files paragraph for {pattern}")
        chosen += [p for p in match if p not in chosen]
    texts = []
    for p in chosen:
        licence = field(p, "License") or ""
        if "\n" in licence.strip():
            continue  # carries its text
        for name in re.split(r"\s+(?:and|or)\s+", licence.strip()):
            standalone = [q for q in paragraphs if field(q, "Files") is None and
                          (field(q, "License") or "").split("\n")[0].strip() == name]
            if not standalone:
                raise Failure(f"{copyright_path} has no text for the licence {name}")
            texts += [q for q in standalone if q not in texts and q not in chosen]
    return "\n\n".join(chosen + texts)


def exception_text(copyright_path, start, end):
    with open(copyright_path, encoding="utf-8") as f:
        text = f.read()
    begin = text.find(start)
    stop = text.find(end, begin)
    if begin < 0 or stop < 0:
        raise Failure(f"{copyright_path} does not hold the text from '{start}' to '{end}'")
    return text[begin:stop + len(end)]


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--map", required=True)
    parser.add_argument("--table", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--search-dir", action="append", default=[])
    parser.add_argument("--own-dir", required=True)
    parser.add_argument("--tool", action="append", default=[])
    parser.add_argument("--notices", required=True)
    parser.add_argument("--components", required=True)
    args = parser.parse_args(argv)

    with open(args.map, encoding="utf-8", errors="replace") as f:
        files = linked_files(f.read(), args.search_dir, args.own_dir)
    with open(args.table, encoding="utf-8") as f:
        table = json.load(f)["components"]
    dist = distro()

    claimed = {}
    for path in files:
        owners = [c for c in table if os.path.basename(path) in c["files"]]
        if not owners:
            raise Failure(f"the link map names {path}, which no component of {args.table} covers")
        if len(owners) > 1:
            package = debian_package(path)[0]
            owners = [c for c in owners if package in c.get("packages", [package])]
            if not owners:
                raise Failure(f"{path} comes from {package}, which no component of {args.table} "
                              f"that lists {os.path.basename(path)} names")
        claimed.setdefault(owners[0]["name"], []).append(path)

    components, sections = [], []
    for entry in table:
        paths = claimed.get(entry["name"])
        if not paths:
            continue  # none of its code is in the executable
        packages = {debian_package(p) for p in paths}
        if len(packages) != 1:
            raise Failure(f"{entry['name']} comes from several packages "
                          f"({', '.join(sorted(p[0] for p in packages))}): split it in {args.table}")
        package, version, arch = packages.pop()
        linked = sorted(os.path.basename(p) for p in paths)
        components.append({
            "name": entry["name"], "description": entry["description"],
            "license": entry["license"], "package": package, "version": version,
            "purl": purl(package, version, arch, dist), "linked": linked})
        head = (textwrap.fill(f"{entry['name']}: {entry['description']}", 78) + "\n" +
                f"Debian package: {package} {version}\n"
                f"Linked from: {', '.join(linked)}\n"
                f"Licence: {entry['license']}\n")
        if "notice" in entry:
            copyright_path = entry["notice"]["copyright"].format(package=package)
            body = licence_notice(copyright_path, entry["notice"]["files"])
            lead = f"Its copyright notices and licences, as {copyright_path} gives them:"
            sections.append(f"{head}\n{textwrap.fill(lead, 78)}\n\n{body}\n")
        else:
            copyright_path = entry["exception"]["copyright"].format(package=package)
            body = exception_text(copyright_path, entry["exception"]["from"],
                                  entry["exception"]["to"])
            lead = ("No notice needs to go with the executable: the code linked from it is "
                    "covered by the GCC Runtime Library Exception, which lets a program compiled "
                    "with it be shipped under terms of its own choice. The exception's text, "
                    f"from {copyright_path}:")
            sections.append(f"{head}\n{textwrap.fill(lead, 78)}\n\n{body}\n")

    tools = []
    for tool in args.tool:
        package, version, arch = debian_package(tool)
        if package not in [t["package"] for t in tools]:
            tools.append({"package": package, "version": version,
                          "purl": purl(package, version, arch, dist)})

    rule = "=" * 78 + "\n"
    notices = (f"Third-party notices for talvex-updater {args.version}\n\n" +
               textwrap.fill("talvex-updater.exe is linked statically. Besides the code of "
                             "talvex-updater itself (MIT, see LICENSE), it holds code from the "
                             "components below, as the release link's map lists them, each with "
                             "the Debian package it was built from.", 78) + "\n\n"
               + "".join(rule + "\n" + s + "\n" for s in sections))
    os.makedirs(os.path.dirname(os.path.abspath(args.notices)), exist_ok=True)
    with open(args.notices, "w", encoding="utf-8", newline="\n") as f:
        f.write(notices)
    with open(args.components, "w", encoding="utf-8", newline="\n") as f:
        json.dump({"components": components, "tools": tools}, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except Failure as failure:
        print(f"third-party notices: {failure}", file=sys.stderr)
        sys.exit(1)
