"""Calls from several Python threads, Abort from a second thread, and kxauto's results."""

import json
import math
import os
import random
import subprocess
import threading

import numpy as np
import pytest

from conftest import BUILD_DIR
from korvanex import automation as A


class ThreadRecorder:
    def __init__(self):
        self.done = []

    def OnDone(self, LastMethod, ErrorCode, ErrorString):
        self.done.append((threading.current_thread(), LastMethod, ErrorCode, ErrorString))


def run_threads(targets, timeout=300):
    errors = []

    def guarded(target):
        try:
            target()
        except BaseException as e:  # reported on the main thread
            errors.append(e)

    threads = [threading.Thread(target=guarded, args=(t,)) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout)
    assert not any(t.is_alive() for t in threads), "a thread did not finish"
    if errors:
        raise errors[0]


def tree_price(q, steps, flag=0):
    return q.BinPutPrice(100, 100, 0.05, 1, 0.2, 0, 1, None, steps, flag)


@pytest.mark.parametrize("blocking_mode", [1, 0])
def test_worker_calls_from_plain_threads_wait_for_their_worker(registered_component,
                                                               blocking_mode):
    q = A.DispatchWithEvents("Korvane.Quantorb", ThreadRecorder)
    q.BlockingMode = blocking_mode
    expected = {steps: tree_price(q, steps) for steps in (50, 51, 52, 53)}
    q.done.clear()
    got = {}

    def caller(steps):
        def call():
            for _ in range(5):
                got.setdefault(steps, set()).add(tree_price(q, steps))
        return call

    run_threads([caller(s) for s in expected])
    # Every thread got exactly its own results, and its own Done events, on itself.
    assert got == {s: {v} for s, v in expected.items()}
    assert len(q.done) == 20
    by_thread = {}
    for ident, last, code, text in q.done:
        by_thread.setdefault(ident, []).append((last, code, text))
    assert len(by_thread) == 4 and all(len(v) == 5 for v in by_thread.values())
    assert all(e == (2, 0, "No Error") for v in by_thread.values() for e in v)
    q.close()


def test_abort_from_a_second_thread_ends_a_long_skew(registered_component):
    # The abort can only land while the skew runs if the call released the GIL.
    q = A.DispatchWithEvents("Korvane.Quantorb", ThreadRecorder)
    strikes = np.linspace(60, 140, 200)
    calls = np.full(200, 12.0)
    finished = threading.Event()
    outcome = {}

    def skew():
        try:
            outcome["result"] = q.BinImpliedVolatilitySkew(
                100, strikes, 0.05, 1, 0, 1, None, 2000, 0, calls, MaxIter=100)
        finally:
            finished.set()

    def abort():
        # Repeated: a request before the worker starts is cleared by the call itself.
        while not finished.wait(0.02):
            q.Abort()

    run_threads([skew, abort])
    assert outcome["result"] is None  # the outputs are left as passed (empty)
    ident, last, code, text = q.done[-1]
    assert (last, code, text) == (1, 3100, "Data processing aborted.")
    assert ident is not threading.current_thread()
    # The object is usable afterwards.
    assert q.BSCallPrice(100, 100, 0.05, 1, 0.2, 0) == 10.450575619322265
    q.close()


MARKET = ["StockPrice", "ExercisePrice", "InterestRate", "TimeToMaturity", "Volatility",
          "DividendRate"]


def random_calls(count, seed=20261207):
    """(member, keyword arguments) of every family, a few with refused inputs."""
    rng = random.Random(seed)
    closed = ["BSCallPrice", "BSPutPrice", "BSDelta", "BSTheta", "BSRho", "BSGamma", "BSVega"]
    american = ["BJECallPrice", "BJEPutPrice", "BJEDelta", "BJEVega"]
    tree = ["BinCallPrice", "BinDelta", "BinPrice"]
    calls = []
    for _ in range(count):
        s, k = rng.uniform(50, 150), rng.uniform(50, 150)
        r, t, q = rng.uniform(-0.02, 0.1), rng.uniform(0.05, 3), rng.uniform(0, 0.06)
        sigma = rng.uniform(0.05, 0.8) if rng.random() > 0.05 else rng.choice([0.0, -0.1])
        market = dict(zip(MARKET, [s, k, r, t, sigma, q]))
        family = rng.random()
        if family < 0.4:
            calls.append((rng.choice(closed), market))
        elif family < 0.6:
            calls.append((rng.choice(american), dict(market, ModelType=rng.randint(0, 3),
                                                     ForeignInterestRate=rng.uniform(0, 0.05))))
        elif family < 0.75:
            calls.append((rng.choice(tree), dict(market, ModelType=rng.randint(0, 3),
                                                 BinSteps=rng.randint(1, 60),
                                                 FlagEurAm=rng.randint(0, 1))))
        elif family < 0.85:
            calls.append(("BSImpliedVolatility", dict(
                StockPrice=s, ExercisePrice=k, InterestRate=r, TimeToMaturity=t,
                DividendRate=q, CallValue=rng.uniform(0.5, 30))))
        elif family < 0.93:
            n = rng.randint(1, 5)
            calls.append(("BSImpliedVolatilitySkew", dict(
                StockPrice=s, ExercisePrice=[rng.uniform(50, 150) for _ in range(n)],
                InterestRate=r, TimeToMaturity=t, DividendRate=q,
                CallValue=[rng.uniform(0.5, 30) for _ in range(n)],
                PutValue=[rng.uniform(0.5, 30) for _ in range(n)])))
        else:
            days, series = rng.randint(2, 8), rng.randint(1, 3)
            calls.append(("HistoricalVolatility", dict(
                Prices=[[rng.uniform(90, 110) for _ in range(series)] for _ in range(days)],
                TradingDays=rng.choice([0, 252, 365]))))
    return calls


def from_json(value):
    if isinstance(value, str):
        return float(value)  # "nan", "inf", "-inf"
    if isinstance(value, list):
        return np.array([from_json(v) for v in value], dtype=float)
    return value


def same(a, b):
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return a.shape == b.shape and bool(np.all((a == b) | (np.isnan(a) & np.isnan(b))))


def test_same_results_as_kxauto(registered_component):
    calls = random_calls(300)
    lines = "".join(json.dumps({"member": n, "args": a}) + "\n" for n, a in calls)
    done = subprocess.run([str(BUILD_DIR / "bin" / "kxauto"), "--batch", "Korvane.Quantorb"],
                          input=lines, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ))
    answers = [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]
    assert len(answers) == len(calls)
    q = A.Dispatch("Korvane.Quantorb")
    failures = 0
    for (name, kwargs), answer in zip(calls, answers):
        # kxauto reports every output; the results are those the caller left out.
        expected = {k: from_json(v) for k, v in answer["outputs"].items() if k not in kwargs}
        try:
            got = getattr(q, name)(**kwargs)
        except A.AutomationError as e:
            failures += 1
            assert e.hresult == answer["hresult"], (name, kwargs)
            assert all(same(v, expected[k]) for k, v in e.outputs.items()), (name, kwargs)
            continue
        assert answer["hresult"] >= 0, (name, kwargs)
        results = got._asdict() if isinstance(got, tuple) else {next(iter(expected)): got}
        assert results.keys() == expected.keys(), (name, kwargs)
        assert all(same(results[k], expected[k]) for k in expected), (name, kwargs, got)
    assert 0 < failures < len(calls)  # both outcomes were compared
    q.close()
