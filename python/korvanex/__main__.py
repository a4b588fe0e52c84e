"""python3 -m korvanex: registers the component module that this package carries.

    python3 -m korvanex register [--user | --machine]    # --user is the default
    python3 -m korvanex unregister [--user | --machine]
    python3 -m korvanex version
"""

from __future__ import annotations

import argparse
import pathlib
import sys

from korvanex import __version__

COMPONENT = "KorvaneX.so"


def component_path():
    """The component module next to the package's extension, or None (a build without it)."""
    path = pathlib.Path(__file__).resolve().parent / COMPONENT
    return path if path.exists() else None


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m korvanex",
                                     description="The korvanex package's component module.")
    commands = parser.add_subparsers(dest="command", required=True)
    for name, text in (("register", "register the component (DllRegisterServer)"),
                       ("unregister", "remove its registration (DllUnregisterServer)")):
        command = commands.add_parser(name, help=text)
        scope = command.add_mutually_exclusive_group()
        scope.add_argument("--user", action="store_true",
                           help="the user's registry ($KX_REGISTRY_DIR; the default)")
        scope.add_argument("--machine", action="store_true",
                           help="the machine's registry ($KX_MACHINE_REGISTRY_DIR), as root")
        command.add_argument("--module", type=pathlib.Path,
                             help="another module to register instead of the package's own")
    commands.add_parser("version", help="print the version")
    args = parser.parse_args(argv)
    if args.command == "version":
        print(f"korvanex {__version__}")
        return 0
    from korvanex._native import automation

    module = args.module.resolve() if args.module else component_path()
    if module is None:
        print(f"korvanex: this package carries no {COMPONENT}; pass --module", file=sys.stderr)
        return 2
    hresult, name, registry = automation.register_server(str(module), bool(args.machine),
                                                         args.command == "unregister")
    entry = "DllUnregisterServer" if args.command == "unregister" else "DllRegisterServer"
    print(f"{entry} {module}: {name} (0x{hresult & 0xFFFFFFFF:08X})")
    print(f"registry file {registry}", file=sys.stdout if hresult >= 0 else sys.stderr)
    return 0 if hresult >= 0 else 1


if __name__ == "__main__":
    sys.exit(main())
