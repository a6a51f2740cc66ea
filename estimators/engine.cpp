// The fitting engine shared by all estimators.
//
// At evaluation point t_j it solves the kernel-weighted least-squares problem
// of the local design Z (one row per observation, one column per layout
// entry) through its normal equations:
//
//   ZWZ = Zᵀ W Z,   ZWy = Zᵀ W y,   ZWy2 = Zᵀ W y²,   W = diag(w),
//   beta = ZWZ⁻¹ ZWy,   gamma = ZWZ⁻¹ ZWy2,
//
// except that the three intercept sums ZWZ(0,0), ZWy(0) and ZWy2(0) run over
// the first nr observations only. The points go through the batch kernels
// several at a time, one per vector lane (batch.h); a point's sums do not
// depend on its lane or its companions, so every output is what one point
// alone would give, bit for bit. The rest of each point, from its density to
// its outputs, is finished one point at a time in point order.
//
// A point passes two tests before its normal equations are trusted: the
// conditioning test on the off-diagonal sum of ZWZ·invZWZ, and a bound of the
// error of the solution (`normal_equations_hold`). A point that fails the
// second, or the first when the caller fits past it, is solved again by
// orthogonal factors of its weighted rows (estimators/stiff.h), or given NaN
// when even that has no trustworthy answer.
//
// gamma estimates E[y²|t]; the conditional variance Var[y|t] = E[y²|t] -
// E[y|t]² and its derivatives follow column by column from the layout:
//   level          gamma_0 - beta_0²
//   first order    gamma_c - 2·beta_0·beta_c
//   square of a    2·gamma_c - 4·beta_c·beta_0 - 2·beta_a²
//   cube, cross    gamma_c as the fit gives it.
//
// Storage: everything a call works in is taken before anything is written,
// and nothing is taken afterwards, so that a shortage is always a refusal
// with every output untouched.
#include <algorithm>
#include <initializer_list>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "estimators/batch.h"
#include "estimators/frame.h"
#include "estimators/stiff.h"
#include "matrix/Matrix"
#include "numeric/numeric.h"

namespace lp {

namespace {

const char loo_refusal[] =
    "You cannot use leave one out (nloo=1) since you do not compute\n"
    "the function at the observed values\n";
const char dummy_warning[] =
    "WARNING: The estimation of the\n"
    "cond. volatility function is not\n"
    "checked if the regressor matrix\n"
    "contains dummies \n";

// No batch is wider than this many points.
constexpr int max_width = 8;

// The batch kernels of a path, the preferred instruction set first.
struct KernelSet {
    Kernel k[4];
    int count = 0;

    explicit KernelSet(Path path)
    {
        if (path == Path::widest) path = widest_path();
        switch (path) {
        case Path::widest:
        case Path::avx512:
            add(kernel_avx512());
            [[fallthrough]];
        case Path::avx2:
            add(kernel_avx2());
            [[fallthrough]];
        case Path::sse2: add(kernel_sse2()); [[fallthrough]];
        case Path::scalar: add(kernel_scalar());
        }
    }
    void add(const Kernel& kern)
    {
        if (kern.width > 0) k[count++] = kern;
    }
    int widest() const
    {
        int w = 1;
        for (int i = 0; i < count; ++i) w = std::max(w, k[i].width);
        return w;
    }
    // The kernel for the next batch when `left` points remain: the widest
    // while they fill it, then the narrowest that takes them all.
    const Kernel& pick(int left) const
    {
        int best = 0;
        for (int i = 1; i < count; ++i) {
            const bool fits = k[i].width >= left, best_fits = k[best].width >= left;
            if (fits ? !best_fits || k[i].width < k[best].width : !best_fits && k[i].width > k[best].width)
                best = i;
        }
        return k[best];
    }
};

// Group slots of the batch kernels: every group when there are at most n,
// else one slot per observation (only n groups can receive weight).
std::int64_t group_slots(const Args& a) { return a.K >= 2 ? std::min<std::int64_t>(a.K, a.n) : 0; }

// Storage for the batch kernels, aligned for their widest vectors.
constexpr std::align_val_t vector_alignment{64};
struct AlignedDelete {
    void operator()(double* p) const { ::operator delete[](p, vector_alignment); }
};

// Everything one call works in.
struct Work {
    int B = 0, W = 0, slots = 0;  // W: the widest batch
    std::unique_ptr<double[], AlignedDelete> lanes;  // t, j, dens, cells, acc, z of a batch
    std::unique_ptr<int[]> factors;   // fa and fb of the design columns
    std::unique_ptr<Divisor[]> h;     // the bandwidths as divisors
    std::unique_ptr<double[]> lu_block;
    std::unique_ptr<double[]> bounds;  // lo and hi of the p regressors, then 3B per point
    LuWork lu;
    StiffFit stiff;
    Matrix ZWZ, inv, P, ZWy, ZWy2, beta, gamma;  // P = ZWZ·invZWZ, the check product

    // Points the lane blocks of T into `lanes` for batches of `width`
    // points; the block holds them for the widest batch.
    void lay_out(BatchTask& T, int width) const
    {
        const std::ptrdiff_t w = width;
        T.width = width;
        double* base = lanes.get();
        T.t = base;
        base += static_cast<std::ptrdiff_t>(T.pc) * w;
        T.j = base;
        base += w;
        T.dens = base;
        base += w;
        T.cells = base;
        base += slots * w;
        T.acc = base;
        base += accumulators(B) * w;
        T.z = base;
    }

    bool take(const Args& a, const Layout& lay, int width)
    {
        B = lay.size();
        W = width;
        slots = static_cast<int>(group_slots(a));
        const std::size_t count = (static_cast<std::size_t>(a.pc) + 3 + slots + accumulators(B) + scratch(B, a.pc)) *
                                  static_cast<std::size_t>(W);
        lanes.reset(new (vector_alignment, std::nothrow) double[count]);
        factors.reset(new (std::nothrow) int[2 * static_cast<std::size_t>(B)]);
        h.reset(new (std::nothrow) Divisor[a.pc]);
        const std::size_t lu_bytes = LuWork::bytes(B);
        lu_block.reset(new (std::nothrow) double[lu_bytes / sizeof(double) + 1]);
        bounds.reset(new (std::nothrow) double[2 * static_cast<std::size_t>(a.p) + 3 * static_cast<std::size_t>(B)]);
        if (!lanes || !factors || !h || !lu_block || !bounds || !stiff.take(a, lay)) return false;
        lu.place(lu_block.get(), B);
        for (Matrix* M : {&ZWZ, &inv, &P}) *M = Matrix(B, B, std::nothrow);
        for (Matrix* M : {&ZWy, &ZWy2, &beta, &gamma}) *M = Matrix(B, 1, std::nothrow);
        for (const Matrix* M : {&ZWZ, &inv, &P, &ZWy, &ZWy2, &beta, &gamma})
            if (M->empty()) return false;
        return true;
    }
};

// The group of slot s, and the slot of group g (-1 when it has none).
std::int64_t group_of(const Args& a, int s)
{
    return a.K <= a.n ? s : (s + static_cast<std::int64_t>(a.phase) - 1) % a.K;
}
std::int64_t slot_of(const Args& a, std::int64_t g)
{
    if (a.K <= a.n) return g;
    const std::int64_t i = ((g - (a.phase - 1)) % a.K + a.K) % a.K;
    return i < a.n ? i : -1;
}

// Loads the batch of points j0 .. j0 + count - 1 into the kernel's lanes:
// their coordinates, indices and the host's densities, which the kernel adds
// to. Padding lanes repeat the last point and keep their sums to themselves.
void load_batch(const Args& a, const BatchTask& T, int j0, int count)
{
    const int W = T.width;
    const std::ptrdiff_t m = a.m;
    for (int l = 0; l < W; ++l) {
        const int q = std::min(l, count - 1);
        for (int c = 0; c < a.pc; ++c) T.t[static_cast<std::ptrdiff_t>(c) * W + l] = a.t[j0 + q + c * m];
        T.j[l] = l < count ? static_cast<double>(a.loo_base) + j0 + l : -1.0;
        T.dens[l] = l < count && a.K < 2 ? a.fh[j0 + l] : 0.0;
        for (int s = 0; s < T.slots; ++s)
            T.cells[static_cast<std::ptrdiff_t>(s) * W + l] =
                l < count ? a.fh[j0 + l + (group_of(a, s) + 1) * m] : 0.0;
    }
}

// The density of point j from lane q: the plain sum, or the group cells
// scaled by grp[0] and their total divided by it.
void store_density(const Args& a, const BatchTask& T, int q, int j)
{
    const std::ptrdiff_t m = a.m;
    double* fj = a.fh + j;  // fj[0]: density; fj[(g + 1)·m]: group g
    if (a.K < 2) {
        fj[0] = T.dens[q];
        return;
    }
    const double scale = a.grp[0];
    for (std::int64_t g = 0; g < a.K; ++g) {
        const std::int64_t s = slot_of(a, g);
        const double sum = s >= 0 ? T.cells[s * T.width + q] : fj[(g + 1) * m];
        fj[(g + 1) * m] = sum * scale;
    }
    for (std::int64_t g = 0; g < a.K; ++g) fj[0] = fj[0] + fj[(g + 1) * m];
    fj[0] = fj[0] / scale;
}

// Replaces nothing: ZWZ stays, inv becomes its inverse and P = ZWZ·inv.
// Returns S = |sum of the off-diagonal entries of P|, 0 for an exact inverse,
// NaN when the inverse is not finite.
double invert_and_check(Work& k)
{
    k.inv.inverse(k.ZWZ, k.lu);
    k.P.mult(k.ZWZ, k.inv);
    const int B = k.B;
    const double* P = k.P.elem_ptr(0);
    double S = 0.0;
    for (int r = 0; r < B; ++r)
        for (int c = r + 1; c < B; ++c) S = (P[r + c * B] + P[c + r * B]) + S;
    return std::fabs(S);
}

// What the moments of a call are made of, for the error bound of its normal
// equations: the ranges of the regressors and responses, and the absolute
// error of a weight in the subnormal range.
struct Floor {
    const double* lo;  // p: the least and largest value of each regressor
    const double* hi;
    double Y;          // the largest |y|
    double phi;        // absolute error of a weight below 2^-1022, in units of 2^-1074
};

// Largest of m and v; NaN, once met, stays.
inline double keep_max(double m, double v) { return v > m || v != v ? v : m; }

// The normal equations are trusted at point j when this bound of the
// relative error of beta = invZWZ·ZWy, measured in the coefficients scaled
// by the columns' weighted norms (D⁻¹·beta with D = diag(ZWZ_cc^(-1/2))), is
// at most 1e5·u (about 1e-11). Three sources:
//
//   - the rounding of the moments, about u relative in the symmetrically
//     equilibrated matrix DAD, amplified by its condition kappa =
//     ‖DAD‖₁·‖D⁻¹·invZWZ·D⁻¹‖₁;
//   - the weights below 2^-1022, each of absolute precision phi only: at
//     most n·(phi·Z_c² + 2^-1073) in moment (c, c), against ZWZ_cc, and the
//     same for the responses against Σ w·y², Z_c bounding |Z(i, c)| from
//     the ranges of the regressors; this floor, relative psi², is amplified
//     by kappa too;
//   - an inverse that is not one: the scaled residual of ZWZ·invZWZ - I,
//     which catches a singular ZWZ whose zero pivot was replaced.
//
// kappa·u matches the errors measured against exact fits within a factor of
// a few. A NaN anywhere is not trusted. The floor is computed in units of
// 2^-1074, so that no operation of an ordinary point meets a subnormal
// number (each would cost a hundred cycles).
bool normal_equations_hold(const Args& a, const Layout& lay, const Work& k, const Floor& f, int j, double Syy)
{
    const int B = k.B;
    const std::ptrdiff_t b = B;
    const double* A = k.ZWZ.elem_ptr(0);
    const double* X = k.inv.elem_ptr(0);
    const double* P = k.P.elem_ptr(0);
    double* root = k.bounds.get() + 2 * static_cast<std::ptrdiff_t>(a.p);  // √ZWZ_cc
    double* ir = root + b;                                                  // its reciprocal
    double* Z = ir + b;
    for (int c = 0; c < B; ++c) {
        const double v = A[c + c * b];
        if (!(v > 0.0)) return false;
        root[c] = std::sqrt(v);
        ir[c] = 1.0 / root[c];
    }
    double na = 0.0, nx = 0.0, res = 0.0;
    for (int c = 0; c < B; ++c) {
        double sa = 0.0, sx = 0.0;
        for (int r = 0; r < B; ++r) {
            sa = sa + (std::fabs(A[r + c * b]) * ir[r]) * ir[c];
            sx = sx + (std::fabs(X[r + c * b]) * root[r]) * root[c];
            const double e = P[r + c * b] - (r == c ? 1.0 : 0.0);
            res = keep_max(res, (std::fabs(e) * root[c]) * ir[r]);
        }
        na = keep_max(na, sa);
        nx = keep_max(nx, sx);
    }
    const double kappa = na * nx;

    // psi² = 2^-1074·Q in each part.
    const double n = a.n;
    const std::ptrdiff_t m = a.m;
    double QA = 0.0;
    for (int c = 0; c < B; ++c) {
        const Column& col = lay[c];
        double z = 1.0;
        if (col.kind == Kind::slope) {
            const double t = a.t[j + col.a * m];
            z = std::max(std::fabs(f.hi[col.a] - t), std::fabs(t - f.lo[col.a]));
        } else if (col.kind == Kind::dummy) {
            z = std::max(std::fabs(f.lo[col.a]), std::fabs(f.hi[col.a]));
        } else if (col.kind != Kind::intercept) {
            z = Z[col.a] * Z[col.b];
        }
        Z[c] = z;
        QA = keep_max(QA, (n * (f.phi * (z * z) + 2.0)) / A[c + c * b]);
    }
    double Qy = 0.0;
    if (f.Y != 0.0) {
        const double Y2 = f.Y * f.Y;
        if (!(Syy > 0.0)) return false;
        Qy = (n * (f.phi * Y2 + 2.0)) / Syy;
        // Σ w·y⁴ >= (Σ w·y²)²/Σ w for the fit of y².
        if (a.vol != 0) Qy = keep_max(Qy, ((n * (f.phi * (Y2 * Y2) + 2.0)) / Syy) * (A[0] / Syy));
    }
    // kappa·(psiA² + psiA·psiy) = kappa·S·2^-1074, S = QA + √QA·√Qy, taken in
    // two halves; below 2^-937 it is nothing next to u.
    const double S = QA + std::sqrt(QA) * std::sqrt(Qy);
    const double half = kappa * (S * 0x1p-537);
    const double floor = half < 0x1p-400 ? 0.0 : half * 0x1p-537;
    return kappa * 0x1p-53 + floor + res <= 1e5 * 0x1p-53;
}

// Writes the outputs of point j from beta and, when vol is not 0, gamma.
void store(const Args& a, const Layout& lay, int j, const Work& k)
{
    const double* beta = k.beta.elem_ptr(0);
    const double* gamma = k.gamma.elem_ptr(0);
    const double n = a.n, nr = a.nr;
    const double b0 = beta[0];
    for (int c = 0; c < lay.size(); ++c) {
        const Column& col = lay[c];
        const double b = beta[c];
        double level = 0.0, var = 0.0;
        switch (col.kind) {
        case Kind::intercept:
            level = (n * b) / nr;
            if (a.vol != 0) var = gamma[c] - b0 * b0;
            break;
        case Kind::slope:
        case Kind::dummy:
            level = (n * b) / nr;
            if (a.vol != 0) var = gamma[c] - (2 * b0) * b;
            break;
        case Kind::square:
            level = 2 * b;
            if (a.vol != 0) var = (2 * gamma[c] - (2 * b * 2) * b0) - (2 * beta[col.a]) * beta[col.a];
            break;
        case Kind::cube:
            level = 6 * b;
            if (a.vol != 0) var = gamma[c];
            break;
        case Kind::cross:
            level = b;
            if (a.vol != 0) var = gamma[c];
            break;
        }
        const std::ptrdiff_t at = j + static_cast<std::ptrdiff_t>(c) * a.m;
        a.mh[at] = level;
        if (a.vol != 0) a.sh[at] = var;
    }
}

// NaN in every mh (and sh) entry of point j: a point without a trustworthy
// fit.
void store_nan(const Args& a, const Layout& lay, int j)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int c = 0; c < lay.size(); ++c) {
        const std::ptrdiff_t at = j + static_cast<std::ptrdiff_t>(c) * a.m;
        a.mh[at] = nan;
        if (a.vol != 0) a.sh[at] = nan;
    }
}

// b becomes invZWZ·b; the product goes through P's first column as scratch.
void solve_by_inverse(const void* self, double* b)
{
    const auto& k = *static_cast<const Work*>(self);
    const int B = k.B;
    const double* inv = k.inv.elem_ptr(0);
    double* x = const_cast<double*>(k.P.elem_ptr(0));
    for (int r = 0; r < B; ++r) {
        double sum = 0.0;
        for (int c = 0; c < B; ++c) sum += inv[r + static_cast<std::ptrdiff_t>(c) * B] * b[c];
        x[r] = sum;
    }
    for (int r = 0; r < B; ++r) b[r] = x[r];
}

// b becomes the solution with the orthogonal factors of a refitted point.
void solve_by_factors(const void* self, double* b) { static_cast<const StiffFit*>(self)->apply(b); }

void tell(const Args& a, int j, Event e, double S)
{
    if (a.report != nullptr && a.report->event != nullptr) a.report->event(a.report->ctx, j, e, S);
}

// The LU report of an all-zero row, said about the current point.
struct LuSay {
    const Args* a;
    int j;
    static void put(void* ctx, const char* line)
    {
        const auto* s = static_cast<const LuSay*>(ctx);
        say(*s->a, s->j, "%s", line);
    }
};

}  // namespace

void make_divisor(double b, Divisor& d)
{
    // The reciprocal path is proven for |a| and |a/b| in [2^-900, 2^900],
    // where no product or remainder leaves the normal range.
    const double mag = std::fabs(b);
    const bool served = mag >= 0x1p-500 && mag <= 0x1p500;
    d.b = b;
    d.y = 1.0 / b;
    d.lo = served ? 0x1p-900 * std::max(1.0, 2.0 * mag) : std::numeric_limits<double>::infinity();
    d.hi = served ? 0x1p900 * std::min(1.0, 0.5 * mag) : 0.0;
}

double call_bytes(const Args& a, std::int64_t B)
{
    // Computed in floating point, which cannot overflow for any int counts.
    const double b = static_cast<double>(B), pc = a.pc, W = max_width;
    const double slots = static_cast<double>(group_slots(a));
    // The lanes' scratch as scratch(B, pc): observations in flight, or a
    // tiled design's chunk of rows.
    const double flight = max_in_flight * (2 * b + pc), chunk = b <= wide_columns ? wide_chunk * b : 0.0;
    const double doubles = (pc + 3 + slots + (b * (b + 1) / 2 + 2 * b) + std::max(flight, chunk)) * W  // lanes
                           + 3 * b * b + 4 * b                                    // Matrix objects
                           + b * b + 2 * b + 1;                                   // LU work
    const double floor = 2 * static_cast<double>(a.p) + 3 * b;              // ranges, roots, Z bounds
    const double bytes = (doubles + floor) * sizeof(double) +
                         b * (sizeof(dvec) + 3 * sizeof(int) + sizeof(Column)) + sizeof(int)  // indx is 1..B
                         + pc * sizeof(Divisor) + StiffFit::bytes(a.n, a.p, b, a.vol != 0);
    // More than 8 GiB (1 GiB in a 32-bit process) is never served: no design
    // of sense comes near it (it is some 11000 columns), and a refusal is
    // quicker than an attempt that pages the host out.
    const double cap = sizeof(void*) >= 8 ? 0x1p33 : 0x1p30;
    return bytes <= cap ? bytes : -1.0;
}

int fit(const Args& a, const Layout& lay, Path path)
{
    const KernelSet kernels(path);
    Work k;
    if (!k.take(a, lay, kernels.widest())) {
        say(a, -1, "%s: cannot allocate the working storage for n = %d and %d design columns\n", a.name, a.n,
            lay.size());
        return 0;
    }
    LuSay lu_say{&a, -1};
    if (a.report != nullptr && a.report->text != nullptr) k.lu.sink = ReportSink{LuSay::put, &lu_say};

    double hprod = 1.0;
    for (int c = 0; c < a.pc; ++c) hprod = hprod * a.h[c];

    if (a.nloo == 1 && a.nr != a.n) {
        say(a, -1, "%s", loo_refusal);
        return 0;
    }
    const int D = a.nloo == 1 ? a.n - 1 : a.n;

    const int B = lay.size();
    int* fa = k.factors.get();
    int* fb = fa + B;
    for (int c = 0; c < B; ++c) {
        fa[c] = lay[c].a;
        fb[c] = lay[c].b;
    }
    for (int c = 0; c < a.pc; ++c) make_divisor(a.h[c], k.h[c]);

    BatchTask T{};
    T.x = a.x;
    T.y = a.y;
    T.n = a.n;
    T.nr = a.nr;
    T.p = a.p;
    T.pc = a.pc;
    T.B = B;
    T.fa = fa;
    T.fb = fb;
    T.h = k.h.get();
    make_divisor(std::sqrt(6.283185307179586), T.root2pi);
    make_divisor(static_cast<double>(D) * hprod, T.norm);
    T.loo = a.nloo == 1;
    T.mult = a.mult;
    T.slots = k.slots;
    T.slot0 = a.K >= 2 && a.K <= a.n ? static_cast<int>((static_cast<std::int64_t>(a.phase) - 1) % a.K) : 0;

    // The ranges of the regressors and responses, and the precision of a
    // subnormal weight: the kernel's factors e/√(2π), their product and its
    // quotient by D·hprod each round by up to half of 2^-1074 there.
    Floor floor{k.bounds.get(), k.bounds.get() + a.p, 0.0, 0.0};
    {
        double* lo = k.bounds.get();
        double* hi = lo + a.p;
        for (int c = 0; c < a.p; ++c) {
            const double* xc = a.x + static_cast<std::ptrdiff_t>(c) * a.n;
            bool nan = false;
            lo[c] = hi[c] = xc[0];
            for (int i = 0; i < a.n; ++i) {
                const double v = xc[i];
                if (v < lo[c]) lo[c] = v;
                if (v > hi[c]) hi[c] = v;
                nan = nan || v != v;
            }
            if (nan) lo[c] = hi[c] = std::numeric_limits<double>::quiet_NaN();
        }
        for (int i = 0; i < a.n; ++i) floor.Y = keep_max(floor.Y, std::fabs(a.y[i]));
        floor.phi = (a.pc + 2) * (1.0 + 1.0 / (static_cast<double>(D) * hprod));
    }

    const std::ptrdiff_t NS = static_cast<std::ptrdiff_t>(B) * (B + 1) / 2;
    for (int j0 = 0; j0 < a.m;) {
        const Kernel& kern = kernels.pick(a.m - j0);
        const int W = kern.width, count = std::min(W, a.m - j0);
        k.lay_out(T, W);
        load_batch(a, T, j0, count);
        kern.pass(T);

        for (int q = 0; q < count; ++q) {
            const int j = j0 + q;
            store_density(a, T, q, j);

            // Moments of point j, mirrored into the full ZWZ.
            double* S = k.ZWZ.elem_ptr(0);
            for (int c = 0; c < B; ++c)
                for (int b = c; b < B; ++b)
                    S[b + static_cast<std::ptrdiff_t>(c) * B] = S[c + static_cast<std::ptrdiff_t>(b) * B] =
                        T.acc[packed(B, b, c) * W + q];
            for (int c = 0; c < B; ++c) {
                k.ZWy.elem_ptr(0)[c] = T.acc[(NS + c) * W + q];
                if (a.vol != 0) k.ZWy2.elem_ptr(0)[c] = T.acc[(NS + B + c) * W + q];
            }
            if (a.report != nullptr && a.report->moments != nullptr) {
                a.report->moments(a.report->ctx, j, S, k.ZWy.elem_ptr(0), T.dens[q]);
                continue;
            }

            // The conditioning test: for the exports a point that fails it
            // ends the call, and the first n entries of mh, in storage order,
            // are marked as NaN; the core goes on past it.
            lu_say.j = j;
            const double check = invert_and_check(k);
            const bool failed = check > 100000.0;
            if (failed) {
                say(a, j, "t: sum of off-diagonal element of invZWZ*ZWZ %i %g \n", j, check);
                if (a.report == nullptr || !a.report->go_on) {
                    const std::int64_t marked = std::min<std::int64_t>(a.n, static_cast<std::int64_t>(a.m) * B);
                    std::fill(a.mh, a.mh + marked, std::numeric_limits<double>::quiet_NaN());
                    say(a, j, " m_out %g\n", a.mh[0]);
                    return 0;
                }
                tell(a, j, Event::check_failed, check);
            }
            if (a.vol != 0 && a.pc < a.p && !failed) say(a, j, "%s", dummy_warning);

            // The normal equations where their error bound allows, else the
            // orthogonal refit, else NaN.
            const double Syy = T.acc[(NS + B) * W + q];  // Σ w·y² over the first nr
            const bool hook = a.report != nullptr && a.report->solved != nullptr;
            if (!failed && normal_equations_hold(a, lay, k, floor, j, Syy)) {
                k.beta.mult(k.inv, k.ZWy);
                if (a.vol != 0) k.gamma.mult(k.inv, k.ZWy2);
                store(a, lay, j, k);
                if (hook) {
                    const Solved sv{j, B, k.beta.elem_ptr(0), a.vol != 0 ? k.gamma.elem_ptr(0) : nullptr, &k,
                                    solve_by_inverse, false, 0.0};
                    a.report->solved(a.report->ctx, sv);
                }
            } else if (k.stiff.solve(a, lay, j, k.beta.elem_ptr(0), k.gamma.elem_ptr(0))) {
                tell(a, j, Event::refitted, check);
                store(a, lay, j, k);
                if (hook) {
                    const Solved sv{j, B, k.beta.elem_ptr(0), a.vol != 0 ? k.gamma.elem_ptr(0) : nullptr, &k.stiff,
                                    solve_by_factors, true, k.stiff.shift()};
                    a.report->solved(a.report->ctx, sv);
                }
            } else {
                tell(a, j, Event::unreliable, check);
                store_nan(a, lay, j);
            }
        }
        j0 += count;
    }
    return 0;
}

}  // namespace lp
