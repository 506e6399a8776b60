#!/usr/bin/env python3
"""The Wine layer is one switch. Configures a scratch tree of the project with TALVEX_WINE=OFF,
as a Windows target built natively is configured, and checks the tests CTest would run there:
every test program started directly, no Wine wrapper, no prefix set-up or tear-down, no test
that needs the prefix. The same checks run against this (Wine) tree, which must show the
opposite, so that a check that cannot fail is noticed.

    native_configure.py <source dir> <scratch dir> <toolchain file> <this build tree>
"""
import json
import os
import shutil
import subprocess
import sys


def tests_of(tree):
    out = subprocess.run(["ctest", "--test-dir", tree, "--show-only=json-v1"], check=True,
                         capture_output=True, text=True).stdout
    tests = {}
    for test in json.loads(out)["tests"]:
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        tests[test["name"]] = (test.get("command", []), props)
    return tests


def wine_traits(tests):
    """What ties a test list to Wine: test names, commands and fixtures."""
    traits = []
    for name, (command, props) in tests.items():
        if name.startswith("wine."):
            traits.append(f"{name}: a prefix fixture")
        if any("wine" in part for part in command):
            traits.append(f"{name}: runs under a Wine wrapper ({command[0]})")
        if "wine" in props.get("FIXTURES_REQUIRED", []):
            traits.append(f"{name}: needs the wine fixture")
    return traits


def main():
    source, scratch, toolchain, this_tree = sys.argv[1:5]
    shutil.rmtree(scratch, ignore_errors=True)
    configure = subprocess.run(
        ["cmake", "-S", source, "-B", scratch, "-G", "Ninja",
         f"-DCMAKE_TOOLCHAIN_FILE={toolchain}", "-DCMAKE_BUILD_TYPE=Release",
         "-DTALVEX_WINE=OFF", "-DTALVEX_LINT=OFF"],
        capture_output=True, text=True)
    if configure.returncode != 0:
        print(configure.stdout + configure.stderr)
        return 1
    wine = tests_of(this_tree)
    gtests = [n for n, (cmd, _) in wine.items() if cmd and cmd[-1].endswith(f"/{n}.exe")]
    # CTest lists a command only when its program exists; the scratch tree is never built.
    os.makedirs(os.path.join(scratch, "bin"), exist_ok=True)
    for name in gtests:
        open(os.path.join(scratch, "bin", name + ".exe"), "wb").close()
    native = tests_of(scratch)
    failures = []

    for trait in wine_traits(native):
        failures.append("native tree: " + trait)
    # The same GoogleTest programs, each run directly.
    if not gtests:
        failures.append("this tree: no test program found")
    for name in gtests:
        command = native.get(name, ([], {}))[0]
        if not command or not command[0].endswith(f"/{name}.exe"):
            failures.append(f"native tree: {name} is not run directly: {command}")

    # The Wine tree has exactly what the native one must not.
    if not wine_traits(wine) or "wine.prefix_up" not in wine:
        failures.append("this tree: no Wine traits found, so the checks above prove nothing")

    print(f"{len(native)} tests in the native tree, {len(wine)} in this one; "
          f"{len(gtests)} test programs compared")
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
