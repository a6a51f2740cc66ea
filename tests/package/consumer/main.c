/* Fits data that lie exactly on polynomials through the installed libraries:
 * a local linear fit of a line and a local cubic fit of a cubic reproduce the
 * polynomial and its derivatives at every point. Exits 0 when they do. */
#include <lpfit.h>

#include <math.h>
#include <stdio.h>

#define N 40
#define M 3

static int close_to(double got, double want, const char* what, int j)
{
    if (fabs(got - want) <= 1e-8 * (1.0 + fabs(want))) return 1;
    printf("%s at point %d: %.17g, expected %.17g\n", what, j, got, want);
    return 0;
}

int main(void)
{
    double x[N], y[N], y3[N];
    double t[M] = {-0.5, 0.1, 0.7};
    for (int i = 0; i < N; ++i) {
        x[i] = -1.0 + 2.0 * i / (N - 1);
        y[i] = 2.0 + 3.0 * x[i];
        y3[i] = 1.0 - x[i] + 0.5 * x[i] * x[i] + 2.0 * x[i] * x[i] * x[i];
    }
    double n = N, p = 1, nr = N, m = M, h = 0.4, grp[2] = {0, 0}, vol = 0, nloo = 0;
    double mh[M * 4], sh[M * 4], fh[M] = {0, 0, 0};
    int ok = 1;

    double deg = 1;
    dorvane(x, &n, &p, y, &nr, t, &m, &h, grp, mh, sh, fh, &deg, &vol, &nloo);
    for (int j = 0; j < M; ++j) {
        ok &= close_to(mh[j], 2.0 + 3.0 * t[j], "dorvane level", j);
        ok &= close_to(mh[j + M], 3.0, "dorvane slope", j);
        ok &= fh[j] > 0.0;
    }

    deg = 3;
    for (int j = 0; j < M; ++j) fh[j] = 0.0;
    tremsal(x, &n, &p, y3, &nr, t, &m, &h, grp, mh, sh, fh, &deg, &vol, &nloo);
    for (int j = 0; j < M; ++j) {
        const double u = t[j];
        ok &= close_to(mh[j], 1.0 - u + 0.5 * u * u + 2.0 * u * u * u, "tremsal level", j);
        ok &= close_to(mh[j + M], -1.0 + u + 6.0 * u * u, "tremsal first derivative", j);
        ok &= close_to(mh[j + 2 * M], 1.0 + 12.0 * u, "tremsal second derivative", j);
        ok &= close_to(mh[j + 3 * M], 12.0, "tremsal third derivative", j);
    }
    printf(ok ? "consumer: the installed libraries reproduce both polynomials\n" : "consumer: mismatch\n");
    return ok ? 0 : 1;
}
