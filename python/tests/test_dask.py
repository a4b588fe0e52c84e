"""korvanex.dask on a local cluster of two worker processes: the same doubles as in process."""

import os
import pathlib

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


@pytest.fixture(scope="module")
def client():
    # Worker processes find korvanex through PYTHONPATH, as they would on other machines.
    package_parent = str(pathlib.Path(korvanex.__file__).resolve().parents[1])
    saved = os.environ.get("PYTHONPATH")
    os.environ["PYTHONPATH"] = os.pathsep.join(p for p in (package_parent, saved) if p)
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       host="127.0.0.1", dashboard_address=None,
                                       timeout=CLUSTER_TIMEOUT)
    try:
        with distributed.Client(cluster, timeout=CLUSTER_TIMEOUT) as c:
            c.wait_for_workers(2, timeout=CLUSTER_TIMEOUT)
            yield c
    finally:
        cluster.close(timeout=CLUSTER_TIMEOUT)
        if saved is None:
            os.environ.pop("PYTHONPATH", None)
        else:
            os.environ["PYTHONPATH"] = saved
    assert cluster.status.name == "closed"


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
    spot = da.from_array(np.array([100.0, -1.0, 90.0]), chunks=2)
    lazy = kxdask.bs_price(spot, 100.0, 0.05, 1.0, 0.2, errors="raise")
    with pytest.raises(models.ModelError, match="error 6010"):
        client.compute(lazy).result(timeout=RESULT_TIMEOUT)
    assert np.isnan(compute(client, kxdask.bs_price(spot, 100.0, 0.05, 1.0, 0.2))[0][1])


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

