#!/usr/bin/python3
"""Registers KorvaneX.dll with regsvr32 under Wine, reads the keys back with reg query and
compares every listed tree whole with registration_keys.txt; then unregisters and checks that
every tree is gone while the parents the script marks NoRemove stay, and that the class was in
the view of the registry of the DLL's bitness only. With --32 the DLL is the 32-bit one,
registered by the 32-bit regsvr32 and read by the 32-bit reg (syswow64).

usage: registration_test.py [--32] <build dir> <KorvaneX.dll>
"""
import ntpath
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOTS = {"HKEY_CLASSES_ROOT": "HKCR", "HKEY_CURRENT_USER": "HKCU"}
KEPT_PARENTS = [r"HKCR\CLSID", r"HKCU\Software\Microsoft\Office\Excel\Addins"]
CLASS_TREE = r"HKCR\CLSID\{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}"
BITS = ["--32"] if "--32" in sys.argv else []


def wine(build, *args):
    run = os.path.join(HERE, "..", "..", "scripts", "wine-run.sh")
    return subprocess.run([run, *BITS, build, *args], capture_output=True, text=True,
                          encoding="utf-8", errors="replace", timeout=600)


def windows_path(build, path):
    out = wine(build, "winepath", "-w", path)
    return out.stdout.strip()


def query(build, tree, view=None):
    """The tree as a set of lines in the list's format; None when the key is absent. view: 32 or
    64 for that view of the registry instead of the one of reg's bitness."""
    out = wine(build, "reg", "query", tree, "/s", *([f"/reg:{view}"] if view else []))
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


def expected_trees(module, folder, platform):
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
            line = line.replace("%PLATFORM%", platform)
            trees[current].add(line)
            trees[current].add(line.split(" | ")[0])  # every value's key is a key line too
    return trees


def main():
    build, dll = (a for a in sys.argv[1:] if a != "--32")
    dll = os.path.abspath(dll)
    module = windows_path(build, dll)
    trees = expected_trees(module, ntpath.dirname(module), "win32" if BITS else "win64")
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
    # The class is in its own view of the registry only (ProgIDs, type libraries and the add-in
    # key are shared between the views; classes are not).
    other_view = 64 if BITS else 32
    if query(build, CLASS_TREE, view=other_view) is not None:
        failures.append(f"{CLASS_TREE}: also in the {other_view}-bit view")

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
