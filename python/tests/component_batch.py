"""Calls the component's methods through `kxauto --batch`, for comparisons with korvanex.models.

The component is registered into a temporary registry; the build folder is the one the korvanex
package was laid out in (build/<type>/python/korvanex), or KX_BUILD_DIR.
"""

import json
import math
import os
import pathlib
import subprocess

import korvanex

PROG_ID = "Korvane.Quantorb"
BATCH_TIMEOUT = 120


def build_dir():
    configured = os.environ.get("KX_BUILD_DIR")
    if configured:
        return pathlib.Path(configured).resolve()
    return pathlib.Path(korvanex.__file__).resolve().parents[2]


class Component:
    """One registered component; `call` runs a batch of calls in one kxauto process."""

    def __init__(self, registry_dir):
        build = build_dir()
        self.kxauto = build / "bin" / "kxauto"
        module = build / "lib" / "KorvaneX.so"
        regsvr = build / "bin" / "kxregsvr"
        for needed in (self.kxauto, module, regsvr):
            if not needed.exists():
                raise RuntimeError(f"{needed} is missing: build kxauto, kxregsvr and KorvaneX")
        self.env = dict(os.environ, KX_REGISTRY_DIR=str(registry_dir))
        subprocess.run([str(regsvr), str(module)], env=self.env, check=True, timeout=60,
                       stdout=subprocess.DEVNULL)

    def call(self, calls):
        """calls: (member, args) pairs; returns kxauto's result objects in the same order."""
        lines = []
        for member, args in calls:
            if isinstance(args, dict):
                args = {name: _json_value(v) for name, v in args.items()}
            else:
                args = [_json_value(v) for v in args]
            lines.append(json.dumps({"member": member, "args": args}))
        done = subprocess.run([str(self.kxauto), "--batch", PROG_ID], env=self.env, check=True,
                              timeout=BATCH_TIMEOUT, input="\n".join(lines) + "\n",
                              capture_output=True, text=True)
        results = [json.loads(line) for line in done.stdout.splitlines() if line.strip()]
        assert len(results) == len(calls), done.stderr
        return results


def _json_value(value):
    if isinstance(value, (list, tuple)):
        return [_json_value(v) for v in value]
    if isinstance(value, float) and not math.isfinite(value):
        return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")
    if hasattr(value, "item"):
        return _json_value(value.item())
    return value


def error_code(result):
    """The ErrorCode of the call's Done event."""
    (done,) = [e for e in result["events"] if e["event"] == "Done"]
    return done["ErrorCode"]


def outputs(result):
    """The call's outputs as doubles, in the method's order (non-finite ones from their text)."""
    return [_number(v) for v in result["outputs"].values()]


def _number(value):
    if value is None:
        return math.nan
    return float(value)
