"""Fits over the core's threads, from several Python threads at once, and over
a Dask cluster equal one local single-threaded fit bit for bit: every point's
fit depends on the data and that point alone."""
from __future__ import annotations

import threading
import unittest
import warnings

import numpy as np

import lpfit
from support import dax_returns, quiet, same_bits, same_table

x, y = dax_returns()
T = np.linspace(-0.03, 0.03, 41)
OPTIONS = dict(bandwidth=0.008, vol=True, at=T, groups=5)
# Points far out have no observation near enough: NaN rows, one warning.
BAD = dict(bandwidth=0.004, at=np.concatenate([T, [-1.0, 0.5, 2.0]]), vol=True)


def same_fit(case, got, want, what):
    same_table(case, got.table, want.table, what)
    case.assertEqual(got.failed, want.failed, f"{what}: failed points")
    case.assertEqual(got.dropped, want.dropped, f"{what}: dropped observations")
    same_bits(case, got.bandwidth, want.bandwidth, f"{what}: bandwidth")
    case.assertEqual(got.header, want.header, f"{what}: header")


class Threads(unittest.TestCase):
    def test_thread_counts_give_the_same_bits(self):
        one = lpfit.locparg(x, y, 1, threads=1, **OPTIONS)
        for threads in (0, 2, 3):
            same_fit(self, lpfit.locparg(x, y, 1, threads=threads, **OPTIONS), one, f"{threads} threads")
        same_fit(self, quiet(lpfit.dorvane, x, y, threads=3, **BAD), quiet(lpfit.dorvane, x, y, threads=1, **BAD),
                 "failed points over 3 threads")

    def test_fits_in_python_threads_at_once(self):
        want = {name: getattr(lpfit, name)(x, y, threads=1, **OPTIONS) for name in ("dorvane", "tremsal")}
        got = {}

        def work(name):
            got[name] = getattr(lpfit, name)(x, y, threads=1, **OPTIONS)

        pool = [threading.Thread(target=work, args=(name,)) for name in want]
        for t in pool:
            t.start()
        for t in pool:
            t.join()
        for name in want:
            same_fit(self, got[name], want[name], f"{name} in its own thread")


class Dask(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from distributed import Client, LocalCluster

        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None)
        cls.client = Client(cls.cluster)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()

    def both(self, f, *args, chunk=None, **kw):
        with warnings.catch_warnings(record=True) as local_said:
            warnings.simplefilter("always")
            local = f(*args, **kw)
        with warnings.catch_warnings(record=True) as remote_said:
            warnings.simplefilter("always")
            remote = f(*args, client=self.client, chunk=chunk, **kw)
        return local, remote, [str(w.message) for w in local_said], [str(w.message) for w in remote_said]

    def test_blocks_of_points_on_the_cluster_equal_the_local_fit(self):
        gap = y.copy()
        gap[[0, 100, 101]] = np.nan
        cases = [("dorvane", (x, y), dict(OPTIONS)), ("locpa2g", ({"a": x[1:], "b": x[:-1]}, y[1:], "b"),
                                                     dict(bandwidth=0.01, grid=12)),
                 ("tremsal at the observations, missing values dropped", (x, gap), dict(missing="drop", deg=2)),
                 ("dorvane, leave-one-out", (x[:300], y[:300]), dict(bandwidth=0.01, loo=True))]
        for name, args, kw in cases:
            for chunk in (None, 7):
                with self.subTest(name, chunk=chunk):
                    local, remote, _, _ = self.both(getattr(lpfit, name.split()[0].rstrip(",")), *args,
                                                    chunk=chunk, **kw)
                    same_fit(self, remote, local, f"{name} on the cluster")
        self.assertEqual(remote.header, "dorvane: local linear fit, n = 300, 300 evaluation points (leave-one-out)\n"
                                        "bandwidth: x = 0.01 (given)\n")

    def test_failed_points_on_the_cluster(self):
        local, remote, said, remote_said = self.both(lpfit.dorvane, x, y, chunk=20, **BAD)
        same_fit(self, remote, local, "failed points")
        # -1 is too far for double precision; 0.5 and 2 are refitted.
        self.assertEqual(local.failed, [41])
        self.assertEqual(local.refitted, [42, 43])
        self.assertEqual(remote.refitted, local.refitted)
        # The last block holds every failed point: the same one sentence.
        self.assertEqual(remote_said, said)

    def test_candidates_on_the_cluster(self):
        grid = np.array([[0.002], [0.004], [0.008], [0.016], [0.032]])
        for cv in (grid, 4):
            with self.subTest(cv=cv if np.ndim(cv) == 0 else "grid"):
                local, remote, said, remote_said = self.both(lpfit.dorvane, x[:500], y[:500], cv=cv, at=T)
                same_fit(self, remote, local, "cross-validated")
                same_bits(self, remote.selection["score"], local.selection["score"], "scores")
                same_bits(self, remote.selection["h"], local.selection["h"], "candidates")
                self.assertEqual(remote.notes, local.notes)
                self.assertEqual(remote_said, said)


if __name__ == "__main__":
    unittest.main()
