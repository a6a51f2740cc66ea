// Calling an export from C++, as any host does: load the deliverable at run
// time, look the export up by name, and pass pointers to the host's own
// doubles, scalars included, with the arrays column by column.
//
// A local linear fit of y = sin(x) plus a little noise at five points, with
// the conditional variance and the density. Usage: example [Dorvane.so]
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/loader.h"

int main(int argc, char** argv)
{
#ifdef _WIN32
    const char* file = "Dorvane.dll";
#else
    const char* file = "Dorvane.so";
#endif
    std::string path = argc > 1 ? argv[1] : argv[0];
    if (argc < 2) path = path.substr(0, path.find_last_of("/\\") + 1) + file;  // beside this program
    try {
        const host::Library lib(path);
        host::Estimator15* dorvane = lib.get<host::Estimator15>("dorvane");

        // n observations of one continuous regressor.
        double n = 200, p = 1, nr = n, m = 5, deg = 1, vol = 1, nloo = 0;
        std::vector<double> x(200), y(200);
        for (int i = 0; i < 200; ++i) {
            x[i] = -2.0 + 4.0 * i / 199.0;
            y[i] = std::sin(x[i]) + 0.1 * std::cos(37.0 * i);
        }
        double t[5] = {-1.5, -0.75, 0.0, 0.75, 1.5};
        double h[1] = {0.3};        // one bandwidth, positive: every regressor continuous
        double grp[2] = {0.0, 0.0}; // no density groups
        double mh[5 * 2], sh[5 * 2];  // m × B with B = p + 1: level, slope
        double fh[5] = {0, 0, 0, 0, 0};  // added to, so it starts at zero

        dorvane(x.data(), &n, &p, y.data(), &nr, t, &m, h, grp, mh, sh, fh, &deg, &vol, &nloo);

        std::printf("%6s %10s %10s %10s %10s %12s %9s\n", "t", "level", "sin(t)", "slope", "cos(t)", "variance", "density");
        for (int j = 0; j < 5; ++j)
            std::printf("%6.2f %10.5f %10.5f %10.5f %10.5f %12.3e %9.4f\n", t[j], mh[j], std::sin(t[j]), mh[j + 5],
                        std::cos(t[j]), sh[j], fh[j]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "example: %s\n", e.what());
        return 1;
    }
}
