"""What one call costs from Python's automation client, family by family, next to the model.

Registers the built component into a private registry (never the user's), then times back-to-back
calls of one member of each family through korvanex.automation and, in the same run, the same
computation through korvanex.models on one element (the model plus numpy's per-call overhead).
Prints microseconds per call (median of --repeats runs of --calls calls).

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python/bench_calls.py [--build DIR]
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np


def per_call_us(fn, calls, repeats):
    fn()  # the first call loads and starts what later calls reuse
    runs = []
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        runs.append((time.perf_counter() - start) / calls * 1e6)
    return statistics.median(runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    sys.path.insert(0, str(build / "python"))

    registry = tempfile.mkdtemp(prefix="kx-bench-registry-")
    os.environ["KX_REGISTRY_DIR"] = registry
    os.environ["KX_MACHINE_REGISTRY_DIR"] = tempfile.mkdtemp(prefix="kx-bench-machine-")
    subprocess.run([str(build / "bin" / "kxregsvr"), str(build / "lib" / "KorvaneX.so")],
                   check=True, timeout=60, stdout=subprocess.DEVNULL)

    from korvanex import automation, models

    q = automation.Dispatch("Korvane.Quantorb")
    strikes = np.array([90.0, 95, 100, 105, 110])
    calls = models.bs_price(100, strikes, 0.05, 1, 0.25)
    puts = models.bs_price(100, strikes, 0.05, 1, 0.25, kind="put")
    prices = 100 * np.exp(0.01 * np.sin(np.arange(250) * 0.7))
    rows = [
        ("BSCallPrice", lambda: q.BSCallPrice(100, 100, 0.05, 1, 0.2, 0),
         lambda: models.bs_price(100, 100, 0.05, 1, 0.2)),
        ("BinCallPrice, 10 steps",
         lambda: q.BinCallPrice(100, 100, 0.05, 1, 0.2, 0, 1, 0, 10, 1),
         lambda: models.binomial_price(100, 100, 0.05, 1, 0.2, steps=10, american=False)),
        ("BSImpliedVolatilitySkew, 5 strikes, both",
         lambda: q.BSImpliedVolatilitySkew(100, strikes, 0.05, 1, 0, calls, puts),
         lambda: (models.bs_implied_vol(calls, 100, strikes, 0.05, 1),
                  models.bs_implied_vol(puts, 100, strikes, 0.05, 1, kind="put"))),
        ("HistoricalVolatility1, 250 prices", lambda: q.HistoricalVolatility1(prices, 250),
         lambda: models.historical_volatility(prices, 250)),
    ]
    print(f"{'member':40} {'automation client':>18} {'korvanex.models':>16}   (µs per call)")
    for name, call, model in rows:
        print(f"{name:40} {per_call_us(call, args.calls, args.repeats):18.1f} "
              f"{per_call_us(model, args.calls, args.repeats):16.1f}")
    q.close()


if __name__ == "__main__":
    main()
