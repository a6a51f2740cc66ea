#include "exports/oracle.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

using real = long double;

enum class Term { level, square, cube, cross };

struct Design {
    std::vector<real> z;     // the row of one observation
    std::vector<Term> term;  // what each column is
    std::vector<int> root;   // for a square: the column that was squared
};

// The design row at centred continuous values d (pc of them) and dummies.
Design design(const std::string& name, const std::vector<real>& d, const std::vector<real>& dummies, int deg,
              int lam)
{
    Design r;
    auto push = [&](real v, Term t, int root = 0) {
        r.z.push_back(v);
        r.term.push_back(t);
        r.root.push_back(root);
    };
    const int pc = static_cast<int>(d.size()), p = pc + static_cast<int>(dummies.size());
    push(1, Term::level);
    for (real v : d) push(v, Term::level);
    for (real v : dummies) push(v, Term::level);

    if (name == "dorvane" || (name == "tremsal" && deg != 3)) {
        // Squares of columns 1, 2, ... in turn, until there are 1 + pc·deg + p - pc.
        const int B = 1 + pc * deg + (p - pc);
        for (int c = p + 1; c < B; ++c) push(r.z[c - p] * r.z[c - p], Term::square, c - p);
    } else if (name == "tremsal") {
        for (int k = 1; k <= pc; ++k) push(d[k - 1] * d[k - 1], Term::square, k);
        for (int k = 1; k <= pc; ++k) push(d[k - 1] * d[k - 1] * d[k - 1], Term::cube);
    } else {
        const real zl = d[lam - 1];
        for (int k = 1; k <= pc; ++k) push(d[k - 1] * d[k - 1], Term::square, k);
        for (int k = 1; k <= pc; ++k)
            if (k != lam) push(d[k - 1] * zl, Term::cross);
        if (name == "locparg") {
            for (int k = 1; k <= pc; ++k)
                if (k != lam) push(d[k - 1] * d[k - 1] * zl, Term::cross);
            for (int k = 1; k <= pc; ++k) push(d[k - 1] * zl * zl, Term::cross);
        }
    }
    return r;
}

// Solves A·X = R for two right-hand sides by Gauss-Jordan with partial pivoting.
void solve(std::vector<std::vector<real>> A, std::vector<real>& r1, std::vector<real>& r2)
{
    const int B = static_cast<int>(A.size());
    for (int c = 0; c < B; ++c) {
        int piv = c;
        for (int i = c + 1; i < B; ++i)
            if (std::fabs(A[i][c]) > std::fabs(A[piv][c])) piv = i;
        std::swap(A[c], A[piv]);
        std::swap(r1[c], r1[piv]);
        std::swap(r2[c], r2[piv]);
        for (int i = 0; i < B; ++i) {
            if (i == c) continue;
            const real f = A[i][c] / A[c][c];
            for (int k = c; k < B; ++k) A[i][k] -= f * A[c][k];
            r1[i] -= f * r1[c];
            r2[i] -= f * r2[c];
        }
    }
    for (int c = 0; c < B; ++c) {
        r1[c] /= A[c][c];
        r2[c] /= A[c][c];
    }
}

}  // namespace

Expected oracle(const std::string& name, const host::Problem& pr)
{
    const int n = static_cast<int>(pr.n), p = static_cast<int>(pr.p), m = static_cast<int>(pr.m);
    const int nr = static_cast<int>(pr.nr), deg = static_cast<int>(pr.deg), lam = static_cast<int>(pr.lam);
    const int pc = pr.h[p - 1] >= 0 ? p : static_cast<int>(-pr.h[p - 1]);
    const int K = static_cast<int>(pr.grp[0]), phase = static_cast<int>(pr.grp[1]);
    const bool loo = static_cast<int>(pr.nloo) == 1;
    const real D = loo ? n - 1 : n;
    real hprod = 1;
    for (int k = 0; k < pc; ++k) hprod *= pr.h[k];

    Expected e;
    e.B = host::output_columns(name, pr);
    const int B = e.B;
    e.mh.assign(static_cast<std::size_t>(m) * B, 0.0);
    e.sh.assign(static_cast<std::size_t>(m) * B, 0.0);
    e.fh.assign(host::density_size(pr), 0.0);
    const real root2pi = std::sqrt(2 * 3.14159265358979323846264338327950288L);

    for (int j = 0; j < m; ++j) {
        std::vector<std::vector<real>> A(B, std::vector<real>(B, 0));
        std::vector<real> r1(B, 0), r2(B, 0), groups(K >= 2 ? K : 0, 0);
        Design row;
        for (int i = 0; i < n; ++i) {
            std::vector<real> d(pc), dummies(p - pc);
            real kern = 1;
            for (int k = 0; k < pc; ++k) {
                d[k] = static_cast<real>(pr.x[i + k * n]) - pr.t[j + k * m];
                const real u = d[k] / pr.h[k];
                kern *= std::exp(-u * u / 2) / root2pi;
            }
            for (int k = pc; k < p; ++k) dummies[k - pc] = pr.x[i + k * n];
            const real w = (loo && i == j) ? 0 : kern / (D * hprod);
            if (K >= 2)
                groups[(i + phase - 1) % K] += w;
            else
                e.fh[j] += static_cast<double>(w);

            row = design(name, d, dummies, deg, lam);
            if (static_cast<int>(row.z.size()) != B) throw std::logic_error("oracle design has the wrong width");
            const real y = pr.y[i];
            for (int a = 0; a < B; ++a) {
                // The intercept's own sums cover the first nr observations only.
                if (a == 0 && i >= nr) continue;
                r1[a] += w * row.z[a] * y;
                r2[a] += w * row.z[a] * y * y;
                for (int b = 0; b < B; ++b) {
                    if (a == 0 && b == 0 && i >= nr) continue;
                    A[a][b] += w * row.z[a] * row.z[b];
                }
            }
            if (i >= nr) {
                for (int b = 1; b < B; ++b) A[0][b] += w * row.z[b];
            }
        }
        if (K >= 2) {
            real total = 0;
            for (int g = 0; g < K; ++g) {
                e.fh[j + (g + 1) * m] = static_cast<double>(groups[g] * pr.grp[0]);
                total += groups[g];
            }
            e.fh[j] = static_cast<double>(total);
        }

        solve(A, r1, r2);
        const std::vector<real>& beta = r1;
        const std::vector<real>& gamma = r2;
        for (int c = 0; c < B; ++c) {
            real level = 0, var = 0;
            switch (row.term[c]) {
            case Term::level:
                level = static_cast<real>(n) / nr * beta[c];
                var = c == 0 ? gamma[0] - beta[0] * beta[0] : gamma[c] - 2 * beta[0] * beta[c];
                break;
            case Term::square:
                level = 2 * beta[c];
                var = 2 * gamma[c] - 4 * beta[c] * beta[0] - 2 * beta[row.root[c]] * beta[row.root[c]];
                break;
            case Term::cube:
                level = 6 * beta[c];
                var = gamma[c];
                break;
            case Term::cross:
                level = beta[c];
                var = gamma[c];
                break;
            }
            e.mh[j + c * m] = static_cast<double>(level);
            e.sh[j + c * m] = static_cast<double>(var);
        }
    }
    return e;
}

double worst_relative_error(const std::vector<double>& got, const std::vector<double>& want, int m, int B)
{
    double worst = 0.0;
    for (int c = 0; c < B; ++c) {
        double scale = 0.0;
        for (int j = 0; j < m; ++j) scale = std::max(scale, std::fabs(want[j + c * m]));
        scale = std::max(scale * 1e-3, 1e-300);
        for (int j = 0; j < m; ++j) {
            const double g = got[j + c * m], w = want[j + c * m];
            const double err = std::fabs(g - w) / (std::fabs(w) + scale);
            if (!(err <= worst)) worst = std::isnan(err) ? INFINITY : err;
        }
    }
    return worst;
}
