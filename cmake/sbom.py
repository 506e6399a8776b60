#!/usr/bin/env python3
"""The CycloneDX bill of materials of one release artefact.

  sbom.py --components <components.json> --version <version> --purl <package URL>
          --root <dir> --out <bom.json> [--source-dir <dir>]
          [--validator <dir> --node <node>] <file relative to root>...

It names talvex-updater itself, each component linked into talvex-updater.exe (from
third_party.py), the toolchain that built it, and every listed file of the artefact with its
SHA-256. The same inputs give the same bytes: the timestamp is SOURCE_DATE_EPOCH or the source
commit's time, the serial number is derived from the content. With a validator the document is
checked against the schema before it is kept; an invalid one is never left behind.
"""
import argparse
import datetime
import hashlib
import json
import os
import subprocess
import sys
import uuid

SPEC_VERSION = "1.6"


def timestamp(source_dir):
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch and source_dir:
        try:
            epoch = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                   check=True, capture_output=True, text=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            epoch = None
    if not epoch:
        return None
    moment = datetime.datetime.fromtimestamp(int(epoch), tz=datetime.timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            digest.update(block)
    return digest.hexdigest()


def bom(linked, version, purl, root, files, moment):
    project = {
        "type": "application", "bom-ref": "talvex-updater", "name": "talvex-updater",
        "version": version,
        "description": "Installs a Windows application's update once the application has exited, "
                       "then starts it again",
        "licenses": [{"license": {"id": "MIT"}}], "purl": purl}
    libraries = [{
        "type": "library", "bom-ref": f"linked:{c['name']}", "name": c["name"],
        "version": c["version"], "description": c["description"],
        "licenses": [{"expression": c["license"]}], "purl": c["purl"],
        "properties": [{"name": "talvex:linked-from", "value": f} for f in c["linked"]]}
        for c in linked["components"]]
    shipped = [{
        "type": "file", "bom-ref": f"file:{name}", "name": name,
        "hashes": [{"alg": "SHA-256", "content": sha256(os.path.join(root, name))}]}
        for name in sorted(set(files))]
    tools = [{"type": "application", "name": t["package"], "version": t["version"],
              "purl": t["purl"]} for t in linked["tools"]]
    metadata = {"tools": {"components": tools}, "component": project}
    if moment:
        metadata = {"timestamp": moment, **metadata}
    document = {
        "bomFormat": "CycloneDX", "specVersion": SPEC_VERSION, "version": 1,
        "metadata": metadata, "components": libraries + shipped,
        "dependencies": [{"ref": "talvex-updater",
                          "dependsOn": [lib["bom-ref"] for lib in libraries]}] +
                        [{"ref": lib["bom-ref"]} for lib in libraries]}
    content = json.dumps(document, sort_keys=True).encode()
    serial = uuid.UUID(bytes=hashlib.sha256(content).digest()[:16], version=5)
    return {"bomFormat": "CycloneDX", "specVersion": SPEC_VERSION,
            "serialNumber": f"urn:uuid:{serial}", **document}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--components", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--purl", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--source-dir")
    parser.add_argument("--validator")
    parser.add_argument("--node")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args(argv)
    with open(args.components, encoding="utf-8") as f:
        linked = json.load(f)
    missing = [name for name in args.files if not os.path.isfile(os.path.join(args.root, name))]
    if missing:
        print(f"bill of materials: not in {args.root}: {', '.join(missing)}", file=sys.stderr)
        return 1
    document = bom(linked, args.version, args.purl, args.root, args.files,
                   timestamp(args.source_dir))
    partial = args.out + ".tmp"
    with open(partial, "w", encoding="utf-8", newline="\n") as f:
        json.dump(document, f, indent=2)
        f.write("\n")
    if args.validator:
        check = subprocess.run([args.node, os.path.join(os.path.dirname(__file__), "..", "tools",
                                                        "sbom-validator", "validate.js"),
                                args.validator, partial])
        if check.returncode != 0:
            os.remove(partial)
            print(f"bill of materials: {args.out} fails CycloneDX validation", file=sys.stderr)
            return 1
    os.replace(partial, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
