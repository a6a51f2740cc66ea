"""Fits split over threads and over a Dask cluster equal one local call bit
for bit: each block of points is its own export call, and a point's fit does
not depend on the other points of its call."""
from __future__ import annotations

import sys
import threading
import unittest
import warnings

import numpy as np

import lpfit
from support import dax_returns, same_bits

x, y = dax_returns()
T = np.linspace(-0.03, 0.03, 41)
OPTIONS = dict(bandwidth=0.008, vol=True, at=T, groups=5)
S = 1e6
BAD = dict(x=np.arange(1, 41) * S, y=np.sin(np.arange(1, 41)), bandwidth=5 * S, at=np.arange(1, 7, 0.5) * S)


def same_fit(case, got, want, what):
    same_bits(case, got.mh, want.mh, f"{what}: mh")
    if want.sh is not None:
        same_bits(case, got.sh, want.sh, f"{what}: sh")
    same_bits(case, got.fh, want.fh, f"{what}: fh")
    case.assertEqual(got.failed, want.failed, f"{what}: failed points")
    case.assertEqual(got.columns, want.columns)


def bad_fit(**kw):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", lpfit.FitWarning)
        return lpfit.tremsal(BAD["x"], BAD["y"], bandwidth=BAD["bandwidth"], at=BAD["at"], vol=True, **kw)


class Threads(unittest.TestCase):
    def test_two_threads_give_the_single_thread_results(self):
        want = {name: getattr(lpfit, name)(x, y, **OPTIONS) for name in ("dorvane", "tremsal")}
        got = {}

        def work(name):
            got[name] = getattr(lpfit, name)(x, y, **OPTIONS)

        pool = [threading.Thread(target=work, args=(name,)) for name in want]
        for t in pool:
            t.start()
        for t in pool:
            t.join()
        for name in want:
            same_fit(self, got[name], want[name], f"{name} in its own thread")

    def test_points_split_over_threads(self):
        one = lpfit.locparg(x, y, 1, **OPTIONS)
        for threads, chunk in ((2, None), (3, None), (2, 7)):
            same_fit(self, lpfit.locparg(x, y, 1, threads=threads, chunk=chunk, **OPTIONS), one,
                     f"{threads} threads, chunk {chunk}")
        # Failed points keep their place whatever the blocks.
        same_fit(self, bad_fit(threads=3), bad_fit(), "failed points over 3 threads")
        cv = lpfit.dorvane(x[:300], y[:300], cv=[0.004, 0.008, 0.016], at=T)
        cv2 = lpfit.dorvane(x[:300], y[:300], cv=[0.004, 0.008, 0.016], at=T, threads=2)
        same_bits(self, cv2.cv["score"], cv.cv["score"], "cross-validation scores")


class Dask(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from distributed import Client, LocalCluster

        # Process workers; thread workers where processes cannot start.
        try:
            cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
            cls.kind = "processes"
        except Exception:  # pragma: no cover - depends on the sandbox
            cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                       dashboard_address=None)
            cls.kind = "threads"
        cls.client = Client(cls.cluster)
        print(f"\nDask: LocalCluster with two {cls.kind[:-2] if cls.kind == 'processes' else 'thread'} workers",
              file=sys.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()

    def test_cluster_has_two_workers(self):
        self.assertEqual(len(self.client.scheduler_info()["workers"]), 2, self.kind)

    def test_fit_on_the_cluster_equals_the_local_fit(self):
        for name, args in (("dorvane", ()), ("tremsal", ()), ("locpa2g", (1,))):
            local = getattr(lpfit, name)(x, y, *args, **OPTIONS)
            for chunk in (None, 5):
                remote = getattr(lpfit, name)(x, y, *args, client=self.client, chunk=chunk, **OPTIONS)
                same_fit(self, remote, local, f"{name} on {self.kind}, chunk {chunk}")
        same_fit(self, bad_fit(client=self.client, chunk=4), bad_fit(), "failed points on the cluster")
        loo = lpfit.dorvane(x[:200], y[:200], bandwidth=0.01, loo=True)
        same_fit(self, lpfit.dorvane(x[:200], y[:200], bandwidth=0.01, loo=True, client=self.client), loo,
                 "leave-one-out on the cluster")

    def test_cross_validation_on_the_cluster(self):
        cands = [0.004, 0.008, 0.016, 0.032]
        local = lpfit.dorvane(x[:400], y[:400], cv=cands, at=T)
        remote = lpfit.dorvane(x[:400], y[:400], cv=cands, at=T, client=self.client)
        same_bits(self, remote.cv["score"], local.cv["score"], "scores")
        same_fit(self, remote, local, "the fit at the chosen bandwidth")


if __name__ == "__main__":
    unittest.main()
