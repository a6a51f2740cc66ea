// One pass over all observations for a batch of evaluation points, written
// once over the lane types of simd.h and included by each kernel source
// inside its own namespace, after simd.h and expo.h.
//
// For observation i and the point of each lane:
//   u_k = (x_ik - t_k) / h_k,   w = prod_k (e^(-u_k²/2) / √(2π)) / (D·hprod),
// the density (or its group cell) += w, the design row Z(i, ·) is formed and
// every moment sum takes its term of observation i. Each quantity is formed
// by the operations of the scalar definition in their order, with the same
// roundings, so every lane holds exactly what a scalar loop would give.
//
// The weights of several observations are formed side by side: their chains
// (the exponential above all) are independent and overlap in the pipeline,
// while every sum still takes its terms one observation after the other.
// Where a pass has proven once that none of its quotients leaves the range of
// the reciprocals and no exponential its normal range (prove), the weights
// take the near path, which gives the same bits with neither the per-lane
// range tests nor the exponential's far ranges. With a small fixed design
// (NB columns, NPC continuous regressors, NP regressors) the accumulators are
// named by constants once the loops are unrolled and stay in registers; a
// design of up to 16 columns has its sums in tiles (run_wide), and NB = 0
// serves any design, with its sums in memory.

struct Div {
    vd b, y, lo, hi;
};

inline Div divisor(const lp::Divisor& d) { return {set1(d.b), set1(d.y), set1(d.lo), set1(d.hi)}; }

// a / b, correctly rounded, and ok cleared in the lanes where that is not
// proven. With a fused multiply-add, q0 = a·(1/b) is within an ulp of a/b,
// the remainder a - b·q0 is exact and q0 + remainder·(1/b) is the correctly
// rounded quotient (Markstein), unless a or a/b is so small or large that a
// product leaves the normal range; those lanes must divide instead.
__attribute__((always_inline)) inline vd quotient(vd a, const Div& d, vm& ok)
{
#if LP_HAVE_FMA
    const vd q0 = a * d.y;
    const vd m = abs(a);
    ok = ok & (m >= d.lo) & (m <= d.hi);
    return fmadd(fnmadd(d.b, q0, a), d.y, q0);
#else
    (void)ok;
    return a / d.b;
#endif
}

// Observations whose weights are formed side by side: as many as the
// registers hold with the exponential's constants and temporaries.
constexpr int in_flight = LP_IN_FLIGHT;
static_assert(in_flight <= lp::max_in_flight, "scratch is sized for lp::max_in_flight");

// The accumulators: local variables for a fixed column count, which the
// unrolled loops name by constants so that they stay in registers; the task's
// memory for any other design (see accumulate_block). Slot k holds sum k of
// every lane.
template <int NB>
struct Sums {
    static constexpr int NA = NB * (NB + 1) / 2 + 2 * NB;
    vd a[NA];
};

template <int NB>
__attribute__((always_inline)) inline void clear(Sums<NB>& S, const lp::BatchTask&)
{
#pragma GCC unroll 128
    for (int k = 0; k < Sums<NB>::NA; ++k) S.a[k] = set1(0.0);
}
template <int NB>
__attribute__((always_inline)) inline void add(Sums<NB>& S, const lp::BatchTask&, ptrdiff_t k, vd x)
{
    S.a[k] = S.a[k] + x;
}
template <int NB>
__attribute__((always_inline)) inline void save(const Sums<NB>& S, const lp::BatchTask& T)
{
#pragma GCC unroll 128
    for (int k = 0; k < Sums<NB>::NA; ++k) store(T.acc + static_cast<ptrdiff_t>(k) * lanes, S.a[k]);
}

template <>
struct Sums<0> {};

inline void clear(Sums<0>&, const lp::BatchTask& T)
{
    const ptrdiff_t count = static_cast<ptrdiff_t>(lp::accumulators(T.B)) * lanes;
    for (ptrdiff_t k = 0; k < count; ++k) T.acc[k] = 0.0;
}
inline void save(const Sums<0>&, const lp::BatchTask&) {}

// What stays fixed through the pass, held in local variables: the design's
// counts, the divisors, the points' coordinates and indices.
template <int NB, int NPC>
struct Frame {
    static constexpr bool fixed = NPC > 0;
    int B, pc, p;
    Div root, norm;
    Div hd[fixed ? NPC : 1];
    vd tv[fixed ? NPC : 1];
    vd jv;
    // The near path (see prove): whether the pass may take it, whether every
    // observation is near enough that no block needs testing, and the least
    // exponent argument it serves.
    bool near, inside;
    vd lowest, top, zero;  // top = -2·lowest, the largest u²; zero: the weight of an observation whose kernel is 0

    vd point(const lp::BatchTask& T, int k) const
    {
        return fixed ? tv[k] : load(T.t + static_cast<ptrdiff_t>(k) * lanes);
    }
    Div bandwidth(const lp::BatchTask& T, int k) const { return fixed ? hd[k] : divisor(T.h[k]); }
};

// q = a / b for U vectors: the reciprocal path, and true divisions in the
// lanes it does not serve (tiny or huge quotients, zeros, non-finite values).
template <int U>
__attribute__((always_inline)) inline void quotients(const vd* __restrict a, const Div& b, vd* __restrict q)
{
    vm ok[U];
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) {
        ok[o] = all_lanes();
        q[o] = quotient(a[o], b, ok[o]);
    }
    vm every = ok[0];
#pragma GCC unroll 16
    for (int o = 1; o < U; ++o) every = every & ok[o];
    if (!all(every)) {
        for (int o = 0; o < U; ++o) q[o] = select(ok[o], q[o], a[o] / b.b);
    }
}

// a / b where the pass has proven that the reciprocal serves a (see prove):
// the fused correction alone, or the true division without one.
__attribute__((always_inline)) inline vd near_quotient(vd a, const Div& d)
{
#if LP_HAVE_FMA
    const vd q0 = a * d.y;
    return fmadd(fnmadd(d.b, q0, a), d.y, q0);
#else
    return a / d.b;
#endif
}

// The weights of U observations i .. i + U - 1 by the near path: the same
// operations as weights, in the same order, with the quotients unchecked and
// the exponential without its far ranges, which prove has shown that the
// pass does not need, or that a test of the block's exponent arguments
// catches. Returns the observations (bit o for observation i + o) with an
// argument below F.lowest in some lane, whose weights are left undecided for
// the exact path; when there are two or more, possibly before the last
// regressor, every weight is left undecided.
template <int U, int NB, int NPC>
__attribute__((always_inline)) inline unsigned weights_near(const lp::BatchTask& T, const Frame<NB, NPC>& F, int i,
                                                            vd* __restrict w, vd* __restrict d, int ds)
{
    static_assert(U <= 32, "one bit per observation");
    const double* __restrict x = T.x;
    const int pc = NPC > 0 ? NPC : F.pc;
    vd r[U];
    vm low[U], zero[U];
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) {
        r[o] = set1(1.0);  // taken over by the first factor
        low[o] = zero[o] = no_lanes();
    }
#pragma GCC unroll 8
    for (int k = 0; k < pc; ++k) {
        const vd tk = F.point(T, k);
        const Div hk = F.bandwidth(T, k);
        vd a[U];
#pragma GCC unroll 16
        for (int o = 0; o < U; ++o) {
            const vd dk = set1(x[i + o + static_cast<ptrdiff_t>(k) * T.n]) - tk;
            d[o * ds + k] = dk;
            const vd u = near_quotient(dk, hk);
#if LP_HAVE_FMA
            a[o] = u * u;  // the argument is a·(-1/2), which expo_half never forms
#else
            a[o] = (u * u) * set1(-0.5);
#endif
        }
        if (!F.inside) {
#pragma GCC unroll 16
            for (int o = 0; o < U; ++o) {
#if LP_HAVE_FMA
                low[o] = low[o] | (a[o] > F.top);
                zero[o] = zero[o] | (a[o] > set1(1492.0));
#else
                low[o] = low[o] | (a[o] < F.lowest);
                zero[o] = zero[o] | (a[o] < set1(-746.0));
#endif
            }
        }
        if (!F.inside) {
            // Two or more observations beyond the near path: the block goes
            // the exact way whole (see weights), before any exponential.
            unsigned far = 0;
#pragma GCC unroll 16
            for (int o = 0; o < U; ++o) far |= static_cast<unsigned>(any(andnot(low[o], zero[o]))) << o;
            if (U > 1 && (far & (far - 1)) != 0) return far;
        }
        // Garbage where an argument is below F.lowest, never used.
#if LP_HAVE_FMA
        expo_half<U>(a);
#else
        expo_near<U>(a);
#endif
#pragma GCC unroll 16
        for (int o = 0; o < U; ++o) {
            const vd q = near_quotient(a[o], F.root);
            r[o] = k == 0 ? q : r[o] * q;
        }
    }
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) w[o] = near_quotient(r[o], F.norm);
    unsigned far = 0;
    if (!F.inside) {
        // A factor e^a with a < -746 is 0, and so is the weight, whatever
        // the other factors: the exact path's 0/√(2π)·... /(D·hprod).
#pragma GCC unroll 16
        for (int o = 0; o < U; ++o) {
            far |= static_cast<unsigned>(any(andnot(low[o], zero[o]))) << o;
            w[o] = select(zero[o], F.zero, w[o]);
        }
    }
    if (T.loo) {
#pragma GCC unroll 16
        for (int o = 0; o < U; ++o) w[o] = select(F.jv == set1(static_cast<double>(i + o)), set1(0.0), w[o]);
    }
    return far;
}

// Decides once per pass whether its weights may take the near path, on these
// grounds. With every x and t finite and every bandwidth b with
// |x - t| <= hi(b), a quotient u = (x - t)/b is served by the reciprocal,
// except where |x - t| < lo(b); there both the true quotient and the
// reciprocal's (within 3·lo/|b| <= 2^-40) leave |u²/2| < 2^-54, whose
// exponential is exactly 1, so the weight is the same. An exponent argument
// a >= lowest >= -600 has a normal e^a far from the exponential's clamps,
// e^a/√(2π) is served, and so is the product of the pc factors divided by
// D·hprod, since lowest leaves the product above lo(D·hprod). When every
// observation lies within sqrt(-2·lowest) bandwidths of every point in every
// regressor, no argument is below lowest and no block needs the test.
template <int NB, int NPC>
inline void prove(const lp::BatchTask& T, Frame<NB, NPC>& F)
{
    F.near = false;
    F.inside = false;
    F.lowest = F.top = F.zero = set1(0.0);
    const lp::Divisor &root = T.root2pi, &norm = T.norm;
    if (!(root.lo <= 0x1p-870 && root.hi >= 1.0 && norm.hi >= 1.0 && norm.lo <= 0x1p-600)) return;
    const int pc = F.pc;
    // The product of pc factors e^(a_k)/√(2π), a_k >= lowest, stays above
    // lo(D·hprod) with a margin of e.
    const double lowest = std::max(-600.0, (std::log(norm.lo) + pc * std::log(root.b) + 1.0) / pc);
    if (!(lowest < -1.0)) return;
    bool inside = true;
    for (int k = 0; k < pc; ++k) {
        const lp::Divisor& h = T.h[k];
        const double b = std::fabs(h.b);
        if (!(h.lo <= 0x1p-40 * b && h.hi > 0.0)) return;
        // The lanes' coordinates, then the observations'.
        double tmin = HUGE_VAL, tmax = -HUGE_VAL;
        bool fin = true;
        for (int l = 0; l < lanes; ++l) {
            const double v = T.t[k * lanes + l];
            fin = fin && v - v == 0.0;
            tmin = std::min(tmin, v);
            tmax = std::max(tmax, v);
        }
        const double* x = T.x + static_cast<ptrdiff_t>(k) * T.n;
        vd lo = set1(HUGE_VAL), hi = set1(-HUGE_VAL);
        vm finite = all_lanes();
        int i = 0;
        for (; i + lanes <= T.n; i += lanes) {
            const vd v = load(x + i);
            finite = finite & (v - v == set1(0.0));
            lo = vmin(lo, v);
            hi = vmax(hi, v);
        }
        double xmin = HUGE_VAL, xmax = -HUGE_VAL;
        fin = fin && all(finite);
        double lv[lanes], hv[lanes];
        store(lv, lo);
        store(hv, hi);
        for (int l = 0; l < lanes; ++l) {
            xmin = std::min(xmin, lv[l]);
            xmax = std::max(xmax, hv[l]);
        }
        for (; i < T.n; ++i) {
            fin = fin && x[i] - x[i] == 0.0;
            xmin = std::min(xmin, x[i]);
            xmax = std::max(xmax, x[i]);
        }
        if (!fin) return;
        const double reach = std::max(std::fabs(xmin), std::fabs(xmax)) + std::max(std::fabs(tmin), std::fabs(tmax));
        if (!(reach * (1 + 0x1p-40) <= h.hi)) return;
        const double span = std::max(xmax - tmin, tmax - xmin) * (1 + 0x1p-40) / b;
        inside = inside && span * span * (1 + 0x1p-30) <= -2.0 * lowest;
    }
    F.near = true;
    F.inside = inside;
    F.lowest = set1(lowest);
    F.top = set1(-2.0 * lowest);
    F.zero = set1((0.0 / root.b) / norm.b);
}

// Regressor k's factor e^(((-u)·u)/2) / √(2π) of the weights of U
// observations from i on, multiplied into r (1·q is q for k = 0); the centred
// regressors x - t, which are design columns, go to d[o·pc + k].
template <int U, int NB, int NPC>
__attribute__((always_inline)) inline void weight_factor(const lp::BatchTask& T, const Frame<NB, NPC>& F, int i,
                                                         int k, int ds, vd* __restrict r, vd* __restrict d)
{
    const double* __restrict x = T.x;
    const vd tk = F.point(T, k);
    vd dk[U], u[U], q[U];
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) {
        dk[o] = set1(x[i + o + static_cast<ptrdiff_t>(k) * T.n]) - tk;
        d[o * ds + k] = dk[o];
    }
    quotients<U>(dk, F.bandwidth(T, k), u);
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) u[o] = (u[o] * u[o]) * set1(-0.5);
    expo<U>(u);
    quotients<U>(u, F.root, q);
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) r[o] = k == 0 ? q[o] : r[o] * q[o];
}

// The weights of U observations i .. i + U - 1 by the exact path, each the
// product over the continuous regressors of e^(((-u)·u)/2) / √(2π) with
// u = (x - t)/h, then divided by D·hprod, every quotient tested and every
// exponential taken over its whole range. Their chains are independent, so
// they are written side by side for the processor to overlap.
template <int U, int NB, int NPC>
__attribute__((always_inline)) inline void weights_exact(const lp::BatchTask& T, const Frame<NB, NPC>& F, int i,
                                                         vd* __restrict w, vd* __restrict d, int ds)
{
    vd r[U];
#pragma GCC unroll 16
    for (int o = 0; o < U; ++o) r[o] = set1(1.0);  // taken over by the first factor
    if constexpr (NPC > 0) {
#pragma GCC unroll 8
        for (int k = 0; k < NPC; ++k) weight_factor<U>(T, F, i, k, ds, r, d);
    } else {
        for (int k = 0; k < F.pc; ++k) weight_factor<U>(T, F, i, k, ds, r, d);
    }
    quotients<U>(r, F.norm, w);
    if (T.loo) {
#pragma GCC unroll 16
        for (int o = 0; o < U; ++o) w[o] = select(F.jv == set1(static_cast<double>(i + o)), set1(0.0), w[o]);
    }
}

// The weights of U observations i .. i + U - 1 by the near path where the
// pass may take it, and by the exact one for those it does not serve.
template <int U, int NB, int NPC>
__attribute__((always_inline)) inline void weights(const lp::BatchTask& T, const Frame<NB, NPC>& F, int i,
                                                   vd* __restrict w, vd* __restrict d, int ds)
{
    if (!F.near) return weights_exact<U>(T, F, i, w, d, ds);
    const unsigned far = weights_near<U>(T, F, i, w, d, ds);
    // Weights beyond the near path are tiny, and their arithmetic near the
    // subnormal numbers is slow on some processors: several of them are
    // formed side by side, the block's others with them.
    if (U > 1 && (far & (far - 1)) != 0) return weights_exact<U>(T, F, i, w, d, ds);
    if (far != 0) {
        const int o = __builtin_ctz(far);
        weights_exact<1>(T, F, i + o, w + o, d + o * ds, ds);
    }
}

// Observation i's term of the density, or of its group's cell.
__attribute__((always_inline)) inline void add_density(const lp::BatchTask& T, vd& dens, vd w, int slot)
{
    if (T.slots == 0) {
        dens = dens + w;
    } else {
        double* cell = T.cells + static_cast<ptrdiff_t>(slot) * lanes;
        store(cell, load(cell) + w);
    }
}

// Observation i's terms of the density and of every moment sum of a fixed
// design, with or without the intercept sums; d holds its centred regressors
// and slot is its density group. z is room for its design row.
template <bool ICPT, int NB, int NPC, int NP>
__attribute__((always_inline)) inline void accumulate(const lp::BatchTask& T, Sums<NB>& S, vd& dens, int i, vd w,
                                                      const vd* d, int slot, vd* __restrict z)
{
    add_density(T, dens, w, slot);
    const vd yi = set1(T.y[i]);
    if constexpr (NB > 0) {
        // Every loop unrolled, every index a constant.
        constexpr int B = NB, pc = NPC;
        constexpr int NS = B * (B + 1) / 2;

        // The design row: the centred regressors, the dummies, then each
        // higher column as the product of two earlier ones.
#pragma GCC unroll 8
        for (int k = 0; k < pc; ++k) z[1 + k] = d[k];
#pragma GCC unroll 8
        for (int k = pc; k < NP; ++k) z[1 + k] = set1(T.x[i + static_cast<ptrdiff_t>(k) * T.n]);
#pragma GCC unroll 16
        for (int c = NP + 1; c < B; ++c) z[c] = z[T.fa[c]] * z[T.fb[c]];

        // Moment sums; Z(i, 0) = 1, so its products with w are w itself.
        if (ICPT) {
            const vd s = w * yi;
            add(S, T, 0, w);
            add(S, T, NS, s);
            add(S, T, NS + B, s * yi);
        }
#pragma GCC unroll 16
        for (int c = 1; c < B; ++c) {
            const vd zw = z[c] * w;
            const vd s = zw * yi;
            add(S, T, NS + c, s);
            add(S, T, NS + B + c, s * yi);
            add(S, T, c, zw);  // ZWZ(c, 0)
#pragma GCC unroll 16
            for (int b = c; b < B; ++b) add(S, T, lp::packed(B, b, c), zw * z[b]);
        }
    }
}

// The terms of U observations i .. i + U - 1 of any design, their sums in
// memory. Each accumulator is loaded once, takes the U terms in ascending
// order and is stored once, so that the sums cost arithmetic rather than
// memory traffic. z holds room for the U design rows and the U rows of
// products Z(i, c)·w_i; d the centred regressors.
template <int U, bool ICPT, int NB, int NPC>
__attribute__((always_inline)) inline void accumulate_block(const lp::BatchTask& T, const Frame<NB, NPC>& F,
                                                            vd& dens, int i, const vd* w, const vd* d, int& slot,
                                                            vd* __restrict z)
{
    const int B = F.B, pc = F.pc, p = F.p;
    const ptrdiff_t NS = static_cast<ptrdiff_t>(B) * (B + 1) / 2;
    vd* __restrict zw = z + U * B;  // zw[o·B + c] = Z(i + o, c)·w_(i+o)
    const double* __restrict y = T.y + i;

    for (int o = 0; o < U; ++o) {
        add_density(T, dens, w[o], slot);
        if (T.slots != 0 && ++slot == T.slots) slot = 0;
        vd* zo = z + o * B;
        for (int k = 0; k < pc; ++k) zo[1 + k] = d[o * pc + k];
        for (int k = pc; k < p; ++k) zo[1 + k] = set1(T.x[i + o + static_cast<ptrdiff_t>(k) * T.n]);
        for (int c = p + 1; c < B; ++c) zo[c] = zo[T.fa[c]] * zo[T.fb[c]];
        const vd wo = T.mult != nullptr ? w[o] * set1(T.mult[i + o]) : w[o];
        zw[o * B] = wo;
        for (int c = 1; c < B; ++c) zw[o * B + c] = zo[c] * wo;
    }

    // Column 0 of ZWZ and the right-hand sides: w, then Z(i, c)·w; s = (Z·w)·y.
    double* __restrict acc = T.acc;
    double* __restrict Sy = acc + NS * lanes;
    double* __restrict Sy2 = Sy + static_cast<ptrdiff_t>(B) * lanes;
    for (int c = ICPT ? 0 : 1; c < B; ++c) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(c) * lanes;
        vd a0 = load(acc + at), a1 = load(Sy + at), a2 = load(Sy2 + at);
#pragma GCC unroll 16
        for (int o = 0; o < U; ++o) {
            const vd yo = set1(y[o]);
            const vd s = zw[o * B + c] * yo;
            a0 = a0 + zw[o * B + c];
            a1 = a1 + s;
            a2 = a2 + s * yo;
        }
        store(acc + at, a0);
        store(Sy + at, a1);
        store(Sy2 + at, a2);
    }

    // Columns 1 .. B - 1, rows b >= c: (Z(i, c)·w)·Z(i, b), four rows at a time.
    for (int c = 1; c < B; ++c) {
        double* __restrict column = acc + lp::packed(B, c, c) * lanes;  // ZWZ(c..B-1, c)
        int b = c;
        for (; b + 4 <= B; b += 4) {
            double* e = column + static_cast<ptrdiff_t>(b - c) * lanes;
            vd a[4];
#pragma GCC unroll 4
            for (int r = 0; r < 4; ++r) a[r] = load(e + r * lanes);
#pragma GCC unroll 16
            for (int o = 0; o < U; ++o) {
                const vd f = zw[o * B + c];
#pragma GCC unroll 4
                for (int r = 0; r < 4; ++r) a[r] = a[r] + f * z[o * B + b + r];
            }
#pragma GCC unroll 4
            for (int r = 0; r < 4; ++r) store(e + r * lanes, a[r]);
        }
        for (; b < B; ++b) {
            double* e = column + static_cast<ptrdiff_t>(b - c) * lanes;
            vd a = load(e);
#pragma GCC unroll 16
            for (int o = 0; o < U; ++o) a = a + zw[o * B + c] * z[o * B + b];
            store(e, a);
        }
    }
}

// Observations lo .. hi - 1, U at a time: their weights side by side, then
// their sums in ascending order.
template <int U, bool ICPT, int NB, int NPC, int NP>
__attribute__((always_inline)) inline void observe(const lp::BatchTask& T, const Frame<NB, NPC>& F, Sums<NB>& S,
                                                   vd& dens, int lo, int hi, int& slot, vd* z, vd* d)
{
    const int pc = NPC > 0 ? NPC : F.pc;
    int i = lo;
    for (; i + U <= hi; i += U) {
        vd w[U];
        weights<U>(T, F, i, w, d, pc);
        if constexpr (NB > 0) {
#pragma GCC unroll 16
            for (int o = 0; o < U; ++o) {
                accumulate<ICPT, NB, NPC, NP>(T, S, dens, i + o, w[o], d + o * pc, slot, z);
                if (T.slots != 0 && ++slot == T.slots) slot = 0;
            }
        } else {
            accumulate_block<U, ICPT>(T, F, dens, i, w, d, slot, z);
        }
    }
    for (; i < hi; ++i) {
        vd w[1];
        weights<1>(T, F, i, w, d, pc);
        if constexpr (NB > 0) {
            accumulate<ICPT, NB, NPC, NP>(T, S, dens, i, w[0], d, slot, z);
            if (T.slots != 0 && ++slot == T.slots) slot = 0;
        } else {
            accumulate_block<1, ICPT>(T, F, dens, i, w, d, slot, z);
        }
    }
}

template <int NB, int NPC, int NP>
void run_pass(const lp::BatchTask& T)
{
    constexpr bool fixed = NB > 0;
    Frame<NB, NPC> F;
    F.B = fixed ? NB : T.B;
    F.pc = fixed ? NPC : T.pc;
    F.p = fixed ? NP : T.p;
    F.root = divisor(T.root2pi);
    F.norm = divisor(T.norm);
#pragma GCC unroll 8
    for (int k = 0; k < (fixed ? NPC : 1); ++k) {
        F.hd[k] = divisor(T.h[k]);
        F.tv[k] = load(T.t + k * lanes);
    }
    F.jv = load(T.j);
    prove(T, F);
    vd dens = load(T.dens);
    Sums<NB> S;
    clear(S, T);

    // Scratch for the design rows (and their products with the weights) and
    // the centred regressors of the observations in flight: local for a fixed
    // design, the task's otherwise.
    vd zfixed[fixed ? NB : 1], dfixed[fixed ? in_flight * NPC : 1];
    vd* z = fixed ? zfixed : reinterpret_cast<vd*>(T.z);
    vd* d = fixed ? dfixed : reinterpret_cast<vd*>(T.z) + 2 * lp::max_in_flight * T.B;

    int slot = T.slot0;
    observe<in_flight, true, NB, NPC, NP>(T, F, S, dens, 0, T.nr, slot, z, d);
    observe<in_flight, false, NB, NPC, NP>(T, F, S, dens, T.nr, T.n, slot, z, d);
    save(S, T);
    store(T.dens, dens);
}

// ---- Designs of up to 16 columns ------------------------------------------
//
// Their B(B+1)/2 + 2B sums do not fit in the registers, so a pass takes the
// observations in chunks: the chunk's weights, in_flight side by side, and
// its design rows Z(i, ·) in scratch, then the sums in tiles, each tile a
// block of sums held in registers while it takes the chunk's terms one
// observation after the other, loaded from the task's memory before and
// stored after. A tile forms the products Z(i, c)·w_i of its columns itself:
// a multiplication is cheaper than storing and loading them. Every sum still
// adds its terms in ascending observation order; the column count is a
// constant, so that every tile's shape and every test of which entries it
// holds are settled at compile time.

constexpr int wide_chunk = lp::wide_chunk;  // observations whose terms a tile takes in one visit
constexpr int wide_pair = 2;                // columns of ZWZ in a tile
// The vector registers (AVX-512 has 32 in 64-bit code, the others 16, and
// 32-bit code 8), and the rows of a tile: so many that a tile's sums, its two
// factors Z(i, c)·w_i and a row stay within them (all rows up to 14 columns
// with 32 registers).
constexpr int wide_registers = sizeof(void*) < 8 ? 8 : lanes == 8 ? 32 : 16;
template <int NB>
constexpr int wide_rows = wide_registers == 32 ? (NB <= 14 ? 16 : 8) : wide_registers == 16 ? 6 : 2;
// Columns in a tile of the first column and the right-hand sides.
constexpr int wide_group = wide_registers == 32 ? 6 : wide_registers == 16 ? 4 : 2;

// The sums of the tile of columns C0, C0 + 1 and rows from B0, and whether
// that tile, the first of its columns, also takes their ZWZ(c, 0), ZWy(c)
// and ZWy2(c): when the six more sums still leave registers for the factors.
constexpr int wide_tile_sums(int NB, int C0, int B0, int R)
{
    int count = 0;
    for (int q = 0; q < wide_pair; ++q)
        for (int r = 0; r < R; ++r) count += C0 + q < NB && B0 + r < NB && B0 + r >= C0 + q;
    return count;
}
template <int NB>
constexpr bool wide_fused(int c)  // column c >= 1
{
    const int C0 = 1 + (c - 1) / wide_pair * wide_pair;
    return wide_tile_sums(NB, C0, C0, wide_rows<NB>) + 3 * wide_pair <= wide_registers - 8;
}

// ZWZ(c, 0), ZWy(c) and ZWy2(c) for the columns C0 .. C0 + wide_group - 1
// below NB that no ZWZ tile takes (c = 0 only with the intercept sums): the
// terms zw = Z(i, c)·w_i (w_i itself for c = 0), s = zw·y_i and s·y_i of
// `count` observations.
template <bool ICPT, int NB, int C0>
__attribute__((always_inline)) inline void wide_columns_tile(double* __restrict acc, int count,
                                                             const vd* __restrict z, const vd* __restrict w,
                                                             const double* __restrict y)
{
    constexpr int G = wide_group, NS = NB * (NB + 1) / 2;
    constexpr int first = C0 == 0 && !ICPT ? 1 : 0;
#define LP_OWN(g) (C0 + (g) < NB && (C0 + (g) == 0 || !wide_fused<NB>(C0 + (g))))
    vd a0[G], a1[G], a2[G];
#pragma GCC unroll 8
    for (int g = first; g < G; ++g)
        if (LP_OWN(g)) {
            a0[g] = load(acc + static_cast<ptrdiff_t>(C0 + g) * lanes);
            a1[g] = load(acc + static_cast<ptrdiff_t>(NS + C0 + g) * lanes);
            a2[g] = load(acc + static_cast<ptrdiff_t>(NS + NB + C0 + g) * lanes);
        }
    for (int o = 0; o < count; ++o) {
        const vd yo = set1(y[o]);
#pragma GCC unroll 8
        for (int g = first; g < G; ++g)
            if (LP_OWN(g)) {
                const vd f = C0 + g == 0 ? w[o] : z[o * NB + C0 + g] * w[o];
                const vd s = f * yo;
                a0[g] = a0[g] + f;
                a1[g] = a1[g] + s;
                a2[g] = a2[g] + s * yo;
            }
    }
#pragma GCC unroll 8
    for (int g = first; g < G; ++g)
        if (LP_OWN(g)) {
            store(acc + static_cast<ptrdiff_t>(C0 + g) * lanes, a0[g]);
            store(acc + static_cast<ptrdiff_t>(NS + C0 + g) * lanes, a1[g]);
            store(acc + static_cast<ptrdiff_t>(NS + NB + C0 + g) * lanes, a2[g]);
        }
#undef LP_OWN
}

// ZWZ(b, c) for the columns c = C0 .. C0 + wide_pair - 1 and the rows
// b = B0 .. B0 + wide_rows<NB> - 1 with c <= b < NB: the terms
// (Z(i, c)·w_i)·Z(i, b).
template <int NB, int C0, int B0>
__attribute__((always_inline)) inline void wide_zwz_tile(double* __restrict acc, int count, const vd* __restrict z,
                                                         const vd* __restrict w, const double* __restrict y)
{
    constexpr int Q = wide_pair, R = wide_rows<NB>, NS = NB * (NB + 1) / 2;
    constexpr bool own = B0 == C0 && wide_fused<NB>(C0);  // and the columns' ZWZ(c, 0), ZWy, ZWy2
    vd a[Q][R], c0[Q], c1[Q], c2[Q];
#define LP_HOLDS(q, r) (C0 + (q) < NB && B0 + (r) < NB && B0 + (r) >= C0 + (q))
#define LP_AT(q, r) (lp::packed(NB, B0 + (r), C0 + (q)) * lanes)
#pragma GCC unroll 4
    for (int q = 0; q < Q; ++q)
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r)
            if (LP_HOLDS(q, r)) a[q][r] = load(acc + LP_AT(q, r));
    if constexpr (own) {
#pragma GCC unroll 4
        for (int q = 0; q < Q; ++q)
            if (C0 + q < NB) {
                c0[q] = load(acc + static_cast<ptrdiff_t>(C0 + q) * lanes);
                c1[q] = load(acc + static_cast<ptrdiff_t>(NS + C0 + q) * lanes);
                c2[q] = load(acc + static_cast<ptrdiff_t>(NS + NB + C0 + q) * lanes);
            }
    }
    for (int o = 0; o < count; ++o) {
        vd f[Q];
#pragma GCC unroll 4
        for (int q = 0; q < Q; ++q)
            if (C0 + q < NB) f[q] = z[o * NB + C0 + q] * w[o];
        if constexpr (own) {
            const vd yo = set1(y[o]);
#pragma GCC unroll 4
            for (int q = 0; q < Q; ++q)
                if (C0 + q < NB) {
                    const vd s = f[q] * yo;
                    c0[q] = c0[q] + f[q];
                    c1[q] = c1[q] + s;
                    c2[q] = c2[q] + s * yo;
                }
        }
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) {
            if (B0 + r >= NB) continue;
            const vd zb = z[o * NB + B0 + r];
#pragma GCC unroll 4
            for (int q = 0; q < Q; ++q)
                if (LP_HOLDS(q, r)) a[q][r] = a[q][r] + f[q] * zb;
        }
    }
#pragma GCC unroll 4
    for (int q = 0; q < Q; ++q)
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r)
            if (LP_HOLDS(q, r)) store(acc + LP_AT(q, r), a[q][r]);
    if constexpr (own) {
#pragma GCC unroll 4
        for (int q = 0; q < Q; ++q)
            if (C0 + q < NB) {
                store(acc + static_cast<ptrdiff_t>(C0 + q) * lanes, c0[q]);
                store(acc + static_cast<ptrdiff_t>(NS + C0 + q) * lanes, c1[q]);
                store(acc + static_cast<ptrdiff_t>(NS + NB + C0 + q) * lanes, c2[q]);
            }
    }
#undef LP_HOLDS
#undef LP_AT
}

// Every tile of the rows B0, B0 + wide_rows<NB>, ... of the columns C0 ..
// C0 + wide_pair - 1.
template <int NB, int C0, int B0>
__attribute__((always_inline)) inline void wide_zwz_rows(double* acc, int count, const vd* z, const vd* w,
                                                         const double* y)
{
    if constexpr (B0 < NB) {
        wide_zwz_tile<NB, C0, B0>(acc, count, z, w, y);
        wide_zwz_rows<NB, C0, B0 + wide_rows<NB>>(acc, count, z, w, y);
    }
}

// Every sum's terms of `count` observations, tile after tile.
template <bool ICPT, int NB, int C0 = 0>
__attribute__((always_inline)) inline void wide_columns_all(double* acc, int count, const vd* z, const vd* w,
                                                            const double* y)
{
    if constexpr (C0 < NB) {
        wide_columns_tile<ICPT, NB, C0>(acc, count, z, w, y);
        wide_columns_all<ICPT, NB, C0 + wide_group>(acc, count, z, w, y);
    }
}
template <int NB, int C0 = 1>
__attribute__((always_inline)) inline void wide_zwz_all(double* acc, int count, const vd* z, const vd* w,
                                                        const double* y)
{
    if constexpr (C0 < NB) {
        wide_zwz_rows<NB, C0, C0>(acc, count, z, w, y);
        wide_zwz_all<NB, C0 + wide_pair>(acc, count, z, w, y);
    }
}

// Observations lo .. hi - 1, in chunks of wide_chunk; z holds room for the
// chunk's design rows.
template <bool ICPT, int NB>
__attribute__((always_inline)) inline void wide_observe(const lp::BatchTask& T, const Frame<NB, 0>& F, vd& dens,
                                                        int lo, int hi, int& slot, vd* __restrict z)
{
    constexpr int C = wide_chunk, U = in_flight;
    const int pc = F.pc, p = F.p;
    int fa[NB], fb[NB];
    for (int c = 0; c < NB; ++c) {
        fa[c] = T.fa[c];
        fb[c] = T.fb[c];
    }
    for (int i = lo; i < hi; i += C) {
        const int count = std::min(C, hi - i);
        // The weights; the centred regressors go straight into the rows.
        vd w[C];
        int o = 0;
        for (; o + U <= count; o += U) weights<U>(T, F, i + o, w + o, z + o * NB + 1, NB);
        for (; o < count; ++o) weights<1>(T, F, i + o, w + o, z + o * NB + 1, NB);
        for (o = 0; o < count; ++o) {
            add_density(T, dens, w[o], slot);
            if (T.slots != 0 && ++slot == T.slots) slot = 0;
            if (T.mult != nullptr) w[o] = w[o] * set1(T.mult[i + o]);
            vd* zo = z + o * NB;
            for (int k = pc; k < p; ++k) zo[1 + k] = set1(T.x[i + o + static_cast<ptrdiff_t>(k) * T.n]);
        }
        // The higher columns, a column at a time for the whole chunk: the
        // chunk's products are independent, and their factors were stored a
        // column or more before.
        if (count == C) {
            for (int c = p + 1; c < NB; ++c) {
                const vd* __restrict za = z + fa[c];
                const vd* __restrict zb = z + fb[c];
#pragma GCC unroll 32
                for (int q = 0; q < C; ++q) z[q * NB + c] = za[q * NB] * zb[q * NB];
            }
        } else {
            for (int c = p + 1; c < NB; ++c)
                for (o = 0; o < count; ++o) z[o * NB + c] = z[o * NB + fa[c]] * z[o * NB + fb[c]];
        }
        wide_columns_all<ICPT, NB>(T.acc, count, z, w, T.y + i);
        wide_zwz_all<NB>(T.acc, count, z, w, T.y + i);
    }
}

template <int NB>
void run_wide(const lp::BatchTask& T)
{
    Frame<NB, 0> F;
    F.B = NB;
    F.pc = T.pc;
    F.p = T.p;
    F.root = divisor(T.root2pi);
    F.norm = divisor(T.norm);
    F.jv = load(T.j);
    prove(T, F);
    vd dens = load(T.dens);
    Sums<0> S;
    clear(S, T);
    vd* z = reinterpret_cast<vd*>(T.z);  // the chunk's design rows
    int slot = T.slot0;
    wide_observe<true, NB>(T, F, dens, 0, T.nr, slot, z);
    wide_observe<false, NB>(T, F, dens, T.nr, T.n, slot, z);
    store(T.dens, dens);
}

// The pass for the task's design: a register kernel for the common small
// designs, the tiled one up to 16 columns, the general one beyond.
inline void pass(const lp::BatchTask& T)
{
    // Weights with multipliers (a moment pass) take the tiled or the general
    // kernel, so that the register kernels stay free of the test.
#define LP_FIXED(nb, npc, np) \
    if (T.mult == nullptr && T.B == nb && T.pc == npc && T.p == np) return run_pass<nb, npc, np>(T);
    LP_FIXED(2, 1, 1)  // linear, one regressor
    LP_FIXED(3, 1, 1)  // quadratic, one regressor
    LP_FIXED(4, 1, 1)  // cubic, one regressor
    LP_FIXED(3, 2, 2)  // linear, two regressors
    LP_FIXED(5, 2, 2)  // two regressors and their squares
    LP_FIXED(3, 1, 2)  // linear, one regressor and a dummy
    LP_FIXED(4, 1, 3)  // linear, one regressor and two dummies
    LP_FIXED(4, 1, 2)  // quadratic, one regressor and a dummy
    LP_FIXED(4, 2, 3)  // linear, two regressors and a dummy
#undef LP_FIXED
    switch (T.B) {
    static_assert(lp::wide_columns == 16, "a tiled kernel for every column count up to wide_columns");
#define LP_WIDE(nb) \
    case nb: return run_wide<nb>(T);
        LP_WIDE(2) LP_WIDE(3) LP_WIDE(4) LP_WIDE(5) LP_WIDE(6) LP_WIDE(7) LP_WIDE(8) LP_WIDE(9)
        LP_WIDE(10) LP_WIDE(11) LP_WIDE(12) LP_WIDE(13) LP_WIDE(14) LP_WIDE(15) LP_WIDE(16)
#undef LP_WIDE
    default: return run_pass<0, 0, 0>(T);
    }
}

inline void expo_all(const double* x, double* e, ptrdiff_t count)
{
    ptrdiff_t k = 0;
    for (; k + lanes <= count; k += lanes) store(e + k, expo(load(x + k)));
    for (; k < count; ++k) {
        double in[lanes], out[lanes];
        for (int l = 0; l < lanes; ++l) in[l] = x[k];
        store(out, expo(load(in)));
        e[k] = out[0];
    }
}

inline void expo_near_all(const double* x, double* e, ptrdiff_t count)
{
    ptrdiff_t k = 0;
    for (; k + lanes <= count; k += lanes) {
        vd v = load(x + k);
        expo_near<1>(&v);
        store(e + k, v);
    }
    for (; k < count; ++k) {
        double in[lanes], out[lanes];
        for (int l = 0; l < lanes; ++l) in[l] = x[k];
        vd v = load(in);
        expo_near<1>(&v);
        store(out, v);
        e[k] = out[0];
    }
}

#if LP_HAVE_FMA
inline void expo_half_all(const double* q, double* e, ptrdiff_t count)
{
    ptrdiff_t k = 0;
    for (; k + lanes <= count; k += lanes) {
        vd v = load(q + k);
        expo_half<1>(&v);
        store(e + k, v);
    }
    for (; k < count; ++k) {
        double in[lanes], out[lanes];
        for (int l = 0; l < lanes; ++l) in[l] = q[k];
        vd v = load(in);
        expo_half<1>(&v);
        store(out, v);
        e[k] = out[0];
    }
}
#endif

inline void divide_all(const lp::Divisor& d, const double* a, double* q, ptrdiff_t count)
{
    const Div dv = divisor(d);
    const auto divide = [&dv](vd a) {
        vm ok = all_lanes();
        const vd q = quotient(a, dv, ok);
        return all(ok) ? q : select(ok, q, a / dv.b);
    };
    ptrdiff_t k = 0;
    for (; k + lanes <= count; k += lanes) store(q + k, divide(load(a + k)));
    for (; k < count; ++k) {
        double in[lanes], out[lanes];
        for (int l = 0; l < lanes; ++l) in[l] = a[k];
        store(out, divide(load(in)));
        q[k] = out[0];
    }
}
