"""The package against direct calls of the CMake-built deliverables on the
DAX returns, bit for bit. LPFIT_BUILD_DIR (default: the repository's build
directory) holds Dorvane.so and Tremsal.so."""
from __future__ import annotations

import ctypes
import unittest

import numpy as np

import lpfit
from support import BUILD, dax_returns, same_bits

x, y = dax_returns()
T = np.linspace(-0.03, 0.03, 25)


def direct(name, deg, lam=None, K=5):
    """One call of the export on arrays made here, as a C host would."""
    lib = ctypes.CDLL(str(BUILD / ("Dorvane.so" if name == "dorvane" else "Tremsal.so")))
    B = {"dorvane": 1 + deg, "tremsal": 1 + deg, "locparg": 4, "locpa2g": 3}[name]
    m, n = T.size, y.size
    mh, sh, fh = np.zeros(m * B), np.zeros(m * B), np.zeros(m * (K + 1))
    d = ctypes.c_double
    P = ctypes.POINTER(d)
    scal = [d(n), d(1), d(n), d(m), d(deg), d(1), d(0), d(lam or 0)]
    arrays = {k: np.ascontiguousarray(v, dtype=float) for k, v in
              dict(x=x, y=y, t=T, h=[0.008], grp=[K, 1]).items()}
    ptr = {k: v.ctypes.data_as(P) for k, v in arrays.items()}
    args = [ptr["x"], ctypes.byref(scal[0]), ctypes.byref(scal[1]), ptr["y"], ctypes.byref(scal[2]), ptr["t"],
            ctypes.byref(scal[3]), ptr["h"], ptr["grp"], mh.ctypes.data_as(P), sh.ctypes.data_as(P),
            fh.ctypes.data_as(P), ctypes.byref(scal[4]), ctypes.byref(scal[5]), ctypes.byref(scal[6])]
    if lam is not None:
        args.append(ctypes.byref(scal[7]))
    getattr(lib, name)(*args)
    return [a.reshape((m, -1), order="F") for a in (mh, sh, fh)]


class CMakeLibraries(unittest.TestCase):
    @unittest.skipUnless((BUILD / "Dorvane.so").is_file(), f"no Dorvane.so in {BUILD}")
    def test_the_package_reproduces_the_libraries(self):
        opts = dict(bandwidth=0.008, vol=True, at=T, groups=5)
        cases = [(lpfit.dorvane(x, y, **opts), direct("dorvane", 1)),
                 (lpfit.dorvane(x, y, deg=2, **opts), direct("dorvane", 2)),
                 (lpfit.tremsal(x, y, **opts), direct("tremsal", 3)),
                 (lpfit.locparg(x, y, 1, **opts), direct("locparg", 3, 1)),
                 (lpfit.locpa2g(x, y, 1, **opts), direct("locpa2g", 2, 1))]
        for fit, (mh, sh, fh) in cases:
            with self.subTest(estimator=fit.estimator, deg=fit.deg):
                same_bits(self, fit.mh, mh, "mh")
                same_bits(self, fit.sh, sh, "sh")
                same_bits(self, fit.fh, fh, "fh")


if __name__ == "__main__":
    unittest.main()
