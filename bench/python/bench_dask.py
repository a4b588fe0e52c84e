"""When a Dask cluster pays off on one machine: korvanex.models in process against korvanex.dask
on a local cluster (2 worker processes x 1 thread, loopback), both timed in this run on the same
data. A closed form (bs_greeks) and a tree (binomial_price) show the two ends."""

import argparse
import time

import numpy as np


def best(function, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--options", type=int, default=4_000_000)
    parser.add_argument("--trees", type=int, default=4_000)
    parser.add_argument("--steps", type=int, default=300)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    import dask.array as da
    import distributed

    from korvanex import dask as kxdask
    from korvanex import models

    rng = np.random.default_rng(1)
    spot = rng.uniform(50, 150, args.options)
    strike = spot * rng.uniform(0.8, 1.2, args.options)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        cases = [
            ("bs_greeks", args.options, 1_000_000,
             lambda s, k, **kw: models.bs_greeks(s, k, 0.03, 1.0, 0.25, **kw),
             lambda s, k: kxdask.bs_greeks(s, k, 0.03, 1.0, 0.25, threads=1)),
            (f"binomial_price {args.steps} steps", args.trees, 500,
             lambda s, k, **kw: models.binomial_price(s, k, 0.03, 1.0, 0.25, steps=args.steps,
                                                      **kw),
             lambda s, k: kxdask.binomial_price(s, k, 0.03, 1.0, 0.25, steps=args.steps,
                                                threads=1)),
        ]
        print(f"{'function':28} {'elements':>10} {'in process':>11} {'cluster':>9} {'ratio':>6}")
        for name, n, chunk, local, lazy in cases:
            s, k = spot[:n], strike[:n]
            in_process = best(lambda: local(s, k, threads=2), args.repeat)

            def on_cluster():
                # A new name each time: the cluster must not find the last run's blocks.
                ds = da.from_array(s, chunks=chunk, name=False)
                dk = da.from_array(k, chunks=chunk, name=False)
                result = lazy(ds, dk)
                parts = list(result) if isinstance(result, tuple) else [result]
                client.compute(parts, sync=True)

            on_cluster()  # the workers import korvanex once
            cluster_time = best(on_cluster, args.repeat)
            print(f"{name:28} {n:>10} {in_process:>10.3f}s {cluster_time:>8.3f}s "
                  f"{cluster_time / in_process:>6.2f}")


if __name__ == "__main__":
    main()
