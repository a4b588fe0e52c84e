#!/usr/bin/python3
"""The Linux build's results of the calls the Windows tests make, written as literals into
reference_values.h (C++ client) and reference_values.vbs (VBScript), so that the Windows
tests compare with them bit for bit or within a stated number of ULPs.

usage: reference_values.py <kxauto> [--check]   (the class registered for that kxauto)
--check compares the files with what the Linux build gives now and fails when they differ.
"""
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Largest distance in ULPs allowed between the Windows and the Linux result. Trees and the
# historical volatility only add, multiply, divide and take square roots around a few exp/log
# calls; Black-Scholes and Bjerksund-Stensland go through exp, log, pow and the normal
# distribution many times, where another C library may round differently. Under Wine 8 every
# value below came out bit-equal (0 ULPs); LIBM leaves room for a Windows C runtime whose
# exp/log/pow differ in the last bit.
EXACT, LIBM = 0, 4

K1 = {"lower_bound": 1, "values": [95, 100, 105]}
C1 = {"lower_bound": 1, "values": [10.5, 6.5, 4.5]}
P1 = {"lower_bound": 1, "values": [4.0, 6.0, 8.5]}
# (name, member, args, output, ulps); output "retval", a parameter name, or (name, index).
CALLS = [
    ("BSCallPrice", "BSCallPrice", [100, 100, 0.05, 1, 0.2, 0], "retval", LIBM),
    ("BSPutPrice", "BSPutPrice", [100, 95, 0.05, 0.5, 0.3, 0.02], "retval", LIBM),
    ("BSDelta.C", "BSDelta", [100, 100, 0.05, 1, 0.2, 0], "CDelta", LIBM),
    ("BSDelta.P", "BSDelta", [100, 100, 0.05, 1, 0.2, 0], "PDelta", LIBM),
    ("BSImpliedVolatility", "BSImpliedVolatility", [100, 100, 0.05, 1, 0, 10.45, 0], "retval", LIBM),
    ("BinCallPrice", "BinCallPrice", [100, 100, 0.05, 1, 0.2, 0, 1, 0, 200, 1], "retval", EXACT),
    ("BinPutPrice.American", "BinPutPrice", [100, 110, 0.05, 1, 0.25, 0.01, 1, 0, 150, 0],
     "retval", EXACT),
    ("BJECallPrice", "BJECallPrice", [100, 100, 0.05, 1, 0.2, 0.03, 1, 0], "retval", LIBM),
    ("BJEPutPrice", "BJEPutPrice", [100, 110, 0.05, 1, 0.25, 0.01, 1, 0], "retval", LIBM),
    ("HistoricalVolatility1", "HistoricalVolatility1", [[100, 110, 100, 105, 99], 252], "retval",
     EXACT),
]
SKEWS = [
    ("BSImpliedVolatilitySkew", [100, K1, 0.05, 1, 0, C1, P1, 0, 0, 0], LIBM),
    ("BinImpliedVolatilitySkew", [100, K1, 0.05, 1, 0, 1, 0, 100, 0, C1, P1, 0, 0, 0], EXACT),
    ("BJEImpliedVolatilitySkew", [100, K1, 0.05, 1, 0, 1, 0, C1, P1, 0, 0, 0], LIBM),
]
HV_2D = {"lower_bound": 1, "values": [[100, 50, 20], [110, 51, 18], [100, 52, 22], [105, 53, 19]]}


def Values(array):
    """The elements of a 1-D array result (kxauto writes a plain list for lower bound 0)."""
    return array["values"] if isinstance(array, dict) else array


def run(kxauto):
    lines = []
    for _, member, args, _, _ in CALLS:
        lines.append(json.dumps({"member": member, "args": args}))
    lines.append(json.dumps({"member": "Base", "put": 1}))
    for member, args, _ in SKEWS:
        lines.append(json.dumps({"member": member, "args": args}))
    lines.append(json.dumps({"member": "HistoricalVolatility", "args": [HV_2D, 252]}))
    out = subprocess.run([kxauto, "--batch", "--error-status", "Korvane.Quantorb"],
                         input="\n".join(lines) + "\n", capture_output=True, text=True,
                         timeout=300, check=True)
    results = [json.loads(l) for l in out.stdout.splitlines() if l.strip()]
    for r in results:
        if r.get("hresult") != 0:
            raise SystemExit(f"kxauto: {r}")
    del results[len(CALLS)]  # Base
    refs = []
    for (name, _, _, output, ulps), r in zip(CALLS, results):
        refs.append((name, r["retval"] if output == "retval" else r["outputs"][output], ulps))
    for (member, _, ulps), r in zip(SKEWS, results[len(CALLS):]):
        for side, key in (("C", "IVolatilityCall"), ("P", "IVolatilityPut")):
            for i, v in enumerate(Values(r["outputs"][key]), 1):
                refs.append((f"{member}.{side}{i}", v, ulps))
    for i, v in enumerate(Values(results[-1]["retval"]), 1):
        refs.append((f"HistoricalVolatility.{i}", v, EXACT))
    return refs


def header(refs):
    rows = "\n".join(f'    {{"{n}", {float(v).hex()}, {u}}},' for n, v, u in refs)
    return f"""// Written by reference_values.py from the Linux build's results; do not edit.
#pragma once
#include <cstdint>
#include <cstring>

namespace kx::windows_test {{

struct Reference {{
  const char* name;
  double value;
  std::int64_t max_ulps;
}};

inline constexpr Reference kReferences[] = {{
{rows}
}};

inline const Reference* FindReference(const char* name) {{
  for (const Reference& r : kReferences) {{
    if (std::strcmp(r.name, name) == 0) return &r;
  }}
  return nullptr;
}}

}}  // namespace kx::windows_test
"""


def vbscript(refs):
    # VBScript reads a decimal literal to the nearest double; 17 significant digits round-trip.
    rows = "\n".join(f'References.Add "{n}", Array({float(v)!r}, {u})' for n, v, u in refs)
    return ("' Written by reference_values.py from the Linux build's results; do not edit.\n"
            "Option Explicit\nDim References\nSet References = CreateObject(\"Scripting.Dictionary\")\n"
            + rows + "\n")


def main():
    refs = run(sys.argv[1])
    files = {os.path.join(HERE, "reference_values.h"): header(refs),
             os.path.join(HERE, "reference_values.vbs"): vbscript(refs)}
    if "--check" in sys.argv:
        stale = [p for p, text in files.items()
                 if not os.path.exists(p) or open(p, encoding="utf-8").read() != text]
        for p in stale:
            print(f"{p} differs from the Linux build's results: run {sys.argv[0]} <kxauto>")
        return 1 if stale else 0
    for p, text in files.items():
        with open(p, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
