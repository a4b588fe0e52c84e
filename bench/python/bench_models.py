"""korvanex.models against the usual numpy/scipy code, a plain C++ loop and the peer library.

Run by scripts/bench-python.sh (never by the tests), on an otherwise idle machine. Every time is
the best of several runs (the run least disturbed by other processes); every ratio is the other
side's time over ours, measured in this run.
"""

import argparse
import math
import os
import pathlib
import re
import subprocess
import sys
import time

import numpy as np
from scipy.optimize import brentq
from scipy.special import ndtr

from korvanex import models
from korvanex._native import models as native

ROOT = pathlib.Path(__file__).resolve().parents[2]
SQRT_2PI = math.sqrt(2 * math.pi)


def best_time(function, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def book(n, seed=1):
    rng = np.random.default_rng(seed)
    spot = rng.uniform(50, 150, n)
    return (spot, spot * rng.uniform(0.7, 1.3, n), rng.uniform(0.0, 0.08, n),
            rng.uniform(0.05, 2.0, n), rng.uniform(0.05, 0.6, n), rng.uniform(0.0, 0.05, n))


def numpy_greeks(s, k, r, t, v, q):
    """Black-Scholes with a dividend yield the usual way: one array expression per Greek."""
    sqrt_t = np.sqrt(t)
    d1 = (np.log(s / k) + (r - q + 0.5 * v * v) * t) / (v * sqrt_t)
    d2 = d1 - v * sqrt_t
    carry = np.exp(-q * t)
    discount = np.exp(-r * t)
    density = np.exp(-0.5 * d1 * d1) / SQRT_2PI
    return (
        s * carry * ndtr(d1) - k * discount * ndtr(d2),
        k * discount * ndtr(-d2) - s * carry * ndtr(-d1),
        carry * ndtr(d1),
        carry * (ndtr(d1) - 1.0),
        -s * carry * density * v / (2 * sqrt_t) - r * k * discount * ndtr(d2)
        + q * s * carry * ndtr(d1),
        -s * carry * density * v / (2 * sqrt_t) + r * k * discount * ndtr(-d2)
        - q * s * carry * ndtr(-d1),
        carry * density / (s * v * sqrt_t),
        s * carry * density * sqrt_t,
        k * t * discount * ndtr(d2),
        -k * t * discount * ndtr(-d2),
    )


def numpy_call(s, k, r, t, v, q):
    sqrt_t = np.sqrt(t)
    d1 = (np.log(s / k) + (r - q + 0.5 * v * v) * t) / (v * sqrt_t)
    d2 = d1 - v * sqrt_t
    return s * np.exp(-q * t) * ndtr(d1) - k * np.exp(-r * t) * ndtr(d2)


def numpy_newton(target, s, k, r, t, q, tolerance=1e-8, max_steps=50):
    """Vectorised Newton iteration on the call price, from 0.3, until every option settled."""
    v = np.full_like(target, 0.3)
    sqrt_t = np.sqrt(t)
    with np.errstate(divide="ignore", invalid="ignore"):
        return _newton_steps(v, target, s, k, r, t, q, sqrt_t, tolerance, max_steps)


def _newton_steps(v, target, s, k, r, t, q, sqrt_t, tolerance, max_steps):
    for _ in range(max_steps):
        d1 = (np.log(s / k) + (r - q + 0.5 * v * v) * t) / (v * sqrt_t)
        d2 = d1 - v * sqrt_t
        price = s * np.exp(-q * t) * ndtr(d1) - k * np.exp(-r * t) * ndtr(d2)
        vega = s * np.exp(-q * t) * np.exp(-0.5 * d1 * d1) / SQRT_2PI * sqrt_t
        step = (price - target) / vega
        v = np.clip(v - step, 1e-4, 5.0)
        if np.max(np.abs(step)) < tolerance:
            break
    return v


def scalar_call(s, k, r, t, v, q):
    sqrt_t = math.sqrt(t)
    d1 = (math.log(s / k) + (r - q + 0.5 * v * v) * t) / (v * sqrt_t)
    d2 = d1 - v * sqrt_t
    return s * math.exp(-q * t) * ndtr(d1) - k * math.exp(-r * t) * ndtr(d2)


def peer_figure():
    """The peer engine's time per option (call and put) from the peer benchmark's table."""
    text = (ROOT / "docs" / "performance.md").read_text()
    for line in text.splitlines():
        if line.startswith("| BjeAmericanCall + BjeAmericanPut"):
            cells = [c.strip() for c in line.strip("|").split("|")]
            value, unit = re.match(r"([\d.]+)\s*(ns|us|ms)", cells[3]).groups()
            return float(value) * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3}[unit]
    raise RuntimeError("no Bjerksund-Stensland row in docs/performance.md")


MEMORY_CHILD = r"""
import sys, numpy as np
from korvanex import models
def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024
family, n, steps = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = np.random.default_rng(1)
spot = rng.uniform(50, 150, n)
args = [spot, spot * 1.05, np.full(n, 0.03), np.full(n, 1.0), np.full(n, 0.25), np.zeros(n)]
keywords = {"steps": steps} if steps else {}
warm = {"steps": 2} if steps else {}
getattr(models, family)(*[a[:100] for a in args], **warm)  # threads and pages warmed up
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets the peak resident size
before = status("VmRSS:")
result = getattr(models, family)(*args, **keywords)
peak = status("VmHWM:")
outputs = sum(np.asarray(r).nbytes for r in (result if isinstance(result, tuple) else [result]))
print(before, peak, outputs)
"""


def peak_memory(family, n, steps=0):
    done = subprocess.run([sys.executable, "-c", MEMORY_CHILD, family, str(n), str(steps)],
                          capture_output=True, text=True, check=True, env=os.environ)
    before, peak, outputs = map(int, done.stdout.split())
    return peak - before, outputs


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--options", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--brentq-sample", type=int, default=2000)
    parser.add_argument("--tree-options", type=int, default=10_000)
    parser.add_argument("--tree-steps", type=int, default=500)
    a = parser.parse_args()
    n = a.options
    threads = models.get_threads()
    rows = []

    def row(what, ours, other, against, target):
        ratio = other / ours
        rows.append((what, against, ours / n * 1e9, other / n * 1e9, ratio, target))

    print(f"{n} random options, {threads} threads, best of {a.repeat} runs; "
          f"load average {os.getloadavg()[0]:.1f}", flush=True)
    s, k, r, t, v, q = book(n)

    ours = best_time(lambda: models.bs_greeks(s, k, r, t, v, q), a.repeat)
    other = best_time(lambda: numpy_greeks(s, k, r, t, v, q), a.repeat)
    row("bs_greeks (prices and all Greeks)", ours, other, "numpy + scipy.special.ndtr", 8)

    target = models.bs_price(s, k, r, t, v, q)
    ours = best_time(lambda: models.bs_implied_vol(target, s, k, r, t, q), a.repeat)
    newton = best_time(lambda: numpy_newton(target, s, k, r, t, q), max(1, a.repeat // 2))
    row("bs_implied_vol (the bisection's result)", ours, newton, "numpy Newton, vectorised", 10)
    sample = a.brentq_sample
    # Options whose price moves with volatility across the whole bracket, so that brentq's
    # bracket holds a sign change for each.
    chosen = np.flatnonzero((np.abs(np.log(s / k)) < 0.1) & (t > 0.25))[:sample]
    sample = len(chosen)
    start = time.perf_counter()
    for i in chosen:
        args = (s[i], k[i], r[i], t[i], q[i])
        brentq(lambda x: scalar_call(args[0], args[1], args[2], args[3], x, args[4]) - target[i],
               1e-6, 10.0, xtol=1e-6)
    per_option = (time.perf_counter() - start) / sample
    row("bs_implied_vol", ours, per_option * n, f"scipy.optimize.brentq per option "
        f"({sample} timed)", 200)

    peer = peer_figure()
    rf = np.zeros(n)
    ours = best_time(lambda: models.bjs_price(s, k, r, t, v, q), a.repeat)
    # The peer's figure prices the call and the put: half of it per price.
    row("bjs_price (call)", ours, peer / 2 * n, "peer engine per price, peer benchmark's figure", 8)
    ours = best_time(lambda: models.bjs_greeks(s, k, r, t, v, q), max(1, a.repeat // 2))
    # The Greeks are difference quotients of 16 distinct prices per option (the unbumped call
    # and put, 4 spot, 4 time, 2 volatility and 4 rate bumps), which the peer engine would need
    # as well.
    row("bjs_greeks (10 values from 16 prices)", ours, peer / 2 * 16 * n,
        "peer engine per price x 16, peer benchmark's figure", 8)

    # The loop writes fresh outputs too, as the binding does.
    loop = best_time(lambda: native.reference_loop("bs_greeks", [s, k, r, t, v, q],
                                                   [np.empty(n) for _ in range(10)]), a.repeat)
    ours = best_time(lambda: models.bs_greeks(s, k, r, t, v, q, threads=1), a.repeat)
    row("bs_greeks, 1 thread: binding's own cost", ours, loop, "plain C++ loop (ratio >= 0.87)",
        1 / 1.15)
    loop = best_time(lambda: native.reference_loop("bjs_price", [s, k, r, t, v, q, rf],
                                                   [np.empty(n)]), a.repeat)
    ours = best_time(lambda: models.bjs_price(s, k, r, t, v, q, threads=1), a.repeat)
    row("bjs_price, 1 thread: binding's own cost", ours, loop, "plain C++ loop (ratio >= 0.87)",
        1 / 1.15)

    m = a.tree_options
    ts, tk, tr, tt, tv, tq = book(m, seed=2)
    two = best_time(lambda: models.binomial_greeks(ts, tk, tr, tt, tv, tq,
                                                     steps=a.tree_steps, threads=2), 1)
    single = best_time(lambda: models.binomial_greeks(ts, tk, tr, tt, tv, tq,
                                                        steps=a.tree_steps, threads=1), 1)
    rows.append((f"binomial_greeks American, {m} options, N = {a.tree_steps}, 2 threads",
                 "the same on 1 thread", two / m * 1e9, single / m * 1e9, single / two, 1.8))

    print()
    print("| Ours | Against | Ours per option | Theirs per option | Ratio | Target |")
    print("|---|---|---|---|---|---|")
    for what, against, mine, theirs, ratio, goal in rows:
        met = "met" if ratio >= goal else "not met"
        print(f"| {what} | {against} | {mine:.1f} ns | {theirs:.1f} ns | {ratio:.2f} | "
              f">= {goal:.2f}: {met} |")

    print()
    print("Peak memory above the inputs during one call (outputs included):")
    # The largest trees show the fixed amount per thread (each thread's tree workspace).
    for family, count, steps in (("bs_greeks", n, 0), ("bjs_price", n, 0),
                                 ("binomial_greeks", 8, 5000)):
        extra, out = peak_memory(family, count, steps)
        tree = f", N = {steps}" if steps else ""
        print(f"  {family}, {count} options{tree}: {extra / 2**20:.2f} MiB, of which outputs "
              f"{out / 2**20:.2f} MiB ({threads} threads)")


if __name__ == "__main__":
    main()
