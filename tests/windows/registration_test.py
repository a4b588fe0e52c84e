#!/usr/bin/python3
"""Registers KorvaneX.dll with regsvr32 under Wine, reads the keys back with reg query and
compares every listed tree whole with registration_keys.txt; then unregisters and checks that
every tree is gone while the parents the script marks NoRemove stay.

usage: registration_test.py <build dir> <KorvaneX.dll>
"""
import ntpath
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOTS = {"HKEY_CLASSES_ROOT": "HKCR", "HKEY_CURRENT_USER": "HKCU"}
KEPT_PARENTS = [r"HKCR\CLSID", r"HKCU\Software\Microsoft\Office\Excel\Addins"]


def wine(build, *args):
    run = os.path.join(HERE, "..", "..", "scripts", "wine-run.sh")
    return subprocess.run([run, build, *args], capture_output=True, text=True,
                          encoding="utf-8", errors="replace", timeout=600)


def windows_path(build, path):
    out = wine(build, "winepath", "-w", path)
    return out.stdout.strip()


def query(build, tree):
    """The tree as a set of lines in the list's format; None when the key is absent."""
    # The 64-bit view: with 32-bit Wine installed, "reg" starts as a 32-bit program.
    out = wine(build, "reg", "query", tree, "/s", "/reg:64")
    if out.returncode != 0:
        if "unable to find" not in (out.stdout + out.stderr).lower():
            print(f"reg query {tree}: exit {out.returncode}: {out.stderr.strip()}")
        return None
    lines, key = {tree}, None
    for raw in out.stdout.splitlines():
        if not raw.strip():
            continue
        if not raw.startswith(" "):
            root, _, rest = raw.strip().partition("\\")
            key = ROOTS.get(root, root) + ("\\" + rest if rest else "")
            lines.add(key)
            continue
        parts = raw.strip().split(None, 2)
        name, kind = parts[0], parts[1]
        data = parts[2] if len(parts) > 2 else ""
        lines.add(f"{key} | {name} | {kind} | {data}")
    return lines


def expected_trees(module, folder):
    trees, current = {}, None
    with open(os.path.join(HERE, "registration_keys.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("[tree "):
                current = line[len("[tree "):-1]
                trees[current] = set()
                continue
            line = line.replace("%MODULE%", module).replace("%FOLDER%", folder)
            trees[current].add(line)
            trees[current].add(line.split(" | ")[0])  # every value's key is a key line too
    return trees


def main():
    build, dll = sys.argv[1], os.path.abspath(sys.argv[2])
    module = windows_path(build, dll)
    trees = expected_trees(module, ntpath.dirname(module))
    failures = []

    reg = wine(build, "regsvr32", "/s", module)
    if reg.returncode != 0:
        failures.append(f"regsvr32 exited with {reg.returncode}")
    for tree, want in trees.items():
        got = query(build, tree)
        if got is None:
            failures.append(f"{tree}: missing after registration")
            continue
        for line in sorted(want - got):
            failures.append(f"missing: {line}")
        for line in sorted(got - want):
            failures.append(f"unexpected: {line}")

    unreg = wine(build, "regsvr32", "/s", "/u", module)
    if unreg.returncode != 0:
        failures.append(f"regsvr32 /u exited with {unreg.returncode}")
    for tree in trees:
        if query(build, tree) is not None:
            failures.append(f"{tree}: still there after unregistration")
    for parent in KEPT_PARENTS:
        if query(build, parent) is None:
            failures.append(f"{parent}: removed by unregistration")

    # Registered again for the tests that create the object.
    if wine(build, "regsvr32", "/s", module).returncode != 0:
        failures.append("registering again failed")
    for f in failures:
        print(f)
    print("registration: " + ("FAILED" if failures else "OK"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
