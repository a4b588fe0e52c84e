"""korvanex.dask on two worker processes started as the README says (dask-worker with a copy of
the package folder on PYTHONPATH): the same doubles as in process."""

import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

import numpy as np
import pytest

import korvanex
from korvanex import models

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")
import dask  # noqa: E402

from korvanex import dask as kxdask  # noqa: E402

CLUSTER_TIMEOUT = 60
RESULT_TIMEOUT = 240
OPTIONS = 3_000_000


def spread(index, factor, low, high):
    """A deterministic scatter of `index` over [low, high); the same doubles in numpy and dask."""
    return low + ((index * factor) % 1.0) * (high - low)


def book(index):
    spot = spread(index, 0.6180339887, 50.0, 150.0)
    return (spot, spot * spread(index, 0.4142135623, 0.7, 1.3),
            spread(index, 0.7320508075, 0.0, 0.08), spread(index, 0.2360679774, 0.05, 2.0),
            spread(index, 0.3166247903, 0.05, 0.6))


# Before the cluster starts: dask warns of a local scheduler while a client is active.
def test_different_chunks_and_broadcast_dimensions_in_process():
    spots = np.linspace(50, 150, 1000)
    strikes = np.linspace(60, 140, 90)
    spot = da.from_array(spots, chunks=300)[:, None]
    strike = da.from_array(strikes, chunks=17)[None, :]
    lazy = kxdask.bjs_greeks(spot, strike, 0.05, 1.0, 0.2, carry="currency", foreign_rate=0.01)
    got = dask.compute(*lazy, scheduler="synchronous")
    want = models.bjs_greeks(spots[:, None], strikes[None, :], 0.05, 1.0, 0.2, carry="currency",
                             foreign_rate=0.01)
    assert all(g.shape == (1000, 90) and np.array_equal(g, w) for g, w in zip(got, want))
    # The numpy functions take dask arrays too and hand them on.
    same_call = models.bjs_greeks(spot, strike, 0.05, 1.0, 0.2, carry="currency",
                                  foreign_rate=da.from_array(np.full(90, 0.01), chunks=45))
    assert dask.is_dask_collection(same_call.vega)
    got = dask.compute(*same_call, scheduler="synchronous")
    assert all(np.array_equal(g, w) for g, w in zip(got, want))
    tree = models.binomial_price(spot[:5], strike[:, :4], 0.05, 1.0, 0.2, steps=30, kind="put")
    assert np.array_equal(tree.compute(scheduler="synchronous"),
                          models.binomial_price(spots[:5, None], strikes[None, :4], 0.05, 1.0,
                                                0.2, steps=30, kind="put"))
    series = models.historical_volatility(da.from_array(np.outer(np.arange(1.0, 9.0), spots[:3]),
                                                        chunks=(3, 2)))
    assert np.array_equal(series.compute(scheduler="synchronous"),
                          models.historical_volatility(np.outer(np.arange(1.0, 9.0), spots[:3])))
    scalar = kxdask.bs_price(100.0, 100.0, 0.05, 1.0, 0.2).compute(scheduler="synchronous")
    assert scalar == models.bs_price(100.0, 100.0, 0.05, 1.0, 0.2)


def _stop(process):
    process.terminate()
    try:
        process.wait(timeout=CLUSTER_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


@pytest.fixture(scope="module")
def client():
    # The README's worker recipe as written: the package folder copied elsewhere, and
    # dask-scheduler / dask-worker started with that copy's parent on PYTHONPATH. The state
    # stays in a private folder under the build folder; only loopback is used.
    build = pathlib.Path(os.environ.get("KX_BUILD_DIR", "build/release")).resolve()
    work = pathlib.Path(tempfile.mkdtemp(prefix="dask-recipe-", dir=build))
    copy = work / "opt" / "korvanex-python"
    shutil.copytree(pathlib.Path(korvanex.__file__).parent, copy / "korvanex",
                    ignore=shutil.ignore_patterns("__pycache__"))
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    env["PYTHONPATH"] = str(copy)
    scheduler_file = work / "scheduler.json"
    started = []

    def start(name, *args):
        log = open(work / f"{name}.log", "w")
        started.append(subprocess.Popen([shutil.which(name) or name, *args], env=env, cwd=work,
                                        stdout=log, stderr=subprocess.STDOUT))
        log.close()

    try:
        start("dask-scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
              "--scheduler-file", str(scheduler_file))
        deadline = time.monotonic() + CLUSTER_TIMEOUT
        while not scheduler_file.exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        address = json.loads(scheduler_file.read_text())["address"]
        for i in range(2):
            start("dask-worker", address, "--nthreads", "1", "--host", "127.0.0.1",
                  "--no-dashboard", "--local-directory", str(work / f"worker-{i}"))
        with distributed.Client(address, timeout=CLUSTER_TIMEOUT) as c:
            c.wait_for_workers(2, timeout=CLUSTER_TIMEOUT)
            # The workers price with the copy, not with the build folder's package.
            where = c.run(eval, "__import__('korvanex').__file__")
            assert all(pathlib.Path(p).is_relative_to(copy) for p in where.values()), where
            yield c
    finally:
        for process in reversed(started):
            _stop(process)
        shutil.rmtree(work, ignore_errors=True)


def compute(client, *lazy):
    return client.gather(client.compute(list(lazy)), errors="raise")


def test_millions_of_prices_on_two_workers_equal_numpy(client):
    index = da.arange(OPTIONS, chunks=250_000, dtype=np.float64)
    spot, strike, rate, time, vol = book(index)
    lazy = kxdask.bs_price(spot, strike, rate, time, vol, 0.01, kind="put", threads=1)
    assert lazy.shape == (OPTIONS,) and lazy.npartitions == 12
    with distributed.get_task_stream(client) as stream:
        remote = client.compute(lazy).result(timeout=RESULT_TIMEOUT)
    local = models.bs_price(*book(np.arange(OPTIONS, dtype=np.float64)), 0.01, kind="put")
    assert remote.dtype == np.float64
    assert np.array_equal(remote.view(np.uint64), local.view(np.uint64))
    # Both worker processes priced blocks.
    assert len({task["worker"] for task in stream.data}) == 2


def test_greeks_trees_and_series_equal_numpy(client):
    n = 200_000
    index = da.arange(n, chunks=40_000, dtype=np.float64).reshape(400, 500).rechunk((100, 250))
    local_index = np.arange(n, dtype=np.float64).reshape(400, 500)
    inputs, local_inputs = book(index), book(local_index)
    foreign = spread(index, 0.11, 0.0, 0.05)
    local_foreign = spread(local_index, 0.11, 0.0, 0.05)
    greeks = kxdask.bjs_greeks(*inputs, carry="currency", foreign_rate=foreign)
    small = [a[:20, :10] for a in inputs]
    tree = kxdask.binomial_greeks(*small, steps=60, american=True)
    prices = 100 * np.exp(np.cumsum(np.sin(local_index) * 0.01, axis=0))
    series = kxdask.historical_volatility(da.from_array(prices, chunks=(50, 100)), 252)
    results = compute(client, *greeks, *tree, series)
    expected = (list(models.bjs_greeks(*local_inputs, carry="currency",
                                       foreign_rate=local_foreign))
                + list(models.binomial_greeks(*[a[:20, :10] for a in local_inputs], steps=60))
                + [models.historical_volatility(prices, 252)])
    assert len(results) == len(expected) == 21
    for got, want in zip(results, expected):
        assert got.shape == want.shape
        assert np.array_equal(np.isnan(got), np.isnan(want))
        assert np.array_equal(np.nan_to_num(got), np.nan_to_num(want))


def test_refused_elements_raise_on_request(client):
    spot = da.from_array(np.array([100.0, 90.0, 80.0, -1.0, 90.0]), chunks=2)
    lazy = kxdask.bs_price(spot, 100.0, 0.05, 1.0, 0.2, errors="raise")
    # The index in the whole array, not in the block.
    with pytest.raises(models.ModelError, match="element \\(3,\\): error 6010") as raised:
        client.compute(lazy).result(timeout=RESULT_TIMEOUT)
    assert raised.value.index == (3,)
    assert np.isnan(compute(client, kxdask.bs_price(spot, 100.0, 0.05, 1.0, 0.2))[0][3])


def test_global_index_kind_per_element_and_skipna_in_process():
    grid = da.from_array(np.full((4, 6), 100.0), chunks=(2, 4))
    vols = np.full((4, 6), 0.2)
    vols[3, 5] = -0.1
    kinds = np.where(np.arange(6) % 2, "put", "call")
    lazy = kxdask.bjs_price(grid, 95.0, 0.05, 1.0, da.from_array(vols, chunks=(2, 4)),
                            kind=kinds, errors="raise")
    with pytest.raises(models.ModelError) as raised:
        lazy.compute(scheduler="synchronous")
    assert raised.value.index == (3, 5)
    vols[3, 5] = 0.2
    got = kxdask.bjs_price(grid, 95.0, 0.05, 1.0, vols, kind=kinds).compute(
        scheduler="synchronous")
    assert np.array_equal(got, models.bjs_price(np.full((4, 6), 100.0), 95.0, 0.05, 1.0, vols,
                                                kind=kinds))
    prices = np.outer(np.arange(1.0, 9.0), [1.0, 2.0, 3.0])
    prices[:2, 1] = np.nan
    lazy = kxdask.historical_volatility(da.from_array(prices, chunks=(4, 1)), skipna=True)
    assert np.array_equal(lazy.compute(scheduler="synchronous"),
                          models.historical_volatility(prices, skipna=True))
    with pytest.raises(models.ModelError) as raised:
        kxdask.historical_volatility(da.from_array(prices, chunks=(4, 1)),
                                     errors="raise").compute(scheduler="synchronous")
    assert raised.value.index == (1,) and raised.value.code == 5070


def test_unavailable_keywords_and_bad_inputs_raise_before_any_work():
    spot = da.ones(4, chunks=2)
    with pytest.raises(ValueError):
        kxdask.bs_price(spot, 100.0, 0.05, 1.0, 0.2, errors="return")
    with pytest.raises(ValueError):
        kxdask.bs_greeks(spot, 100.0, 0.05, 1.0, 0.2, as_frame=True)
    with pytest.raises(ValueError):
        kxdask.bs_price(spot, da.ones(3, chunks=3), 0.05, 1.0, 0.2)
    with pytest.raises(TypeError):
        kxdask.bs_price(spot, np.array(["a"] * 4), 0.05, 1.0, 0.2)
    assert dask.is_dask_collection(kxdask.historical_volatility(da.ones((5, 2), chunks=1)))

