// The floor prototype's pass, written once over the lane types of simd.h and
// included by bench/floor.cpp inside one namespace per instruction set (and
// once at one lane, the scalar twin).
//
// It computes what the library's batch kernels compute for the dorvane
// designs of W1-W3 (the weights, the density and every moment sum, each sum in
// ascending observation order with the library's roundings) except that its
// exponential uses fused multiply-adds:
//
//   e^x = 2^k · 2^(j/16) · e^r,  N = 16k + j = round(x·16/ln2),
//   r = (x - N·L1) - N·L2 by two fused steps, e^r - 1 by its Taylor
//   polynomial of degree 7 in Horner's form, s = hi_j + fma(hi_j, p, lo_j),
//
// and its quotients by the per-call divisors are a reciprocal product with a
// fused remainder correction (exact in the range every pass checks once).
// V vectors of points go through the observations in lockstep, U
// observations at a time, so that U·V weights are in flight.
//
// Needs fmadd and fnmadd on the lane type, and the scalar slow_weight of
// floor.cpp for the rare blocks.

namespace fc {
constexpr double shift = 0x1.8p52 + 16368.0;  // low 16 bits of its pattern: 1023·16
constexpr double inv_l16 = 0x1.71547652b82fep+4;
constexpr double l1 = 0x1.62e42fefa39efp-5;   // RN(ln2/16)
constexpr double l2 = 0x1.abc9e3b39803fp-60;  // RN(ln2/16 - l1)
constexpr double c7 = 0x1.a01a01a01a01ap-13, c6 = 0x1.6c16c16c16c17p-10, c5 = 0x1.1111111111111p-7,
                 c4 = 0x1.5555555555555p-5, c3 = 0x1.5555555555555p-3, c2 = 0.5;
}  // namespace fc

struct FDiv {
    vd b, y;
};

inline vd mdiv(vd a, const FDiv& d)
{
    const vd q0 = a * d.y;
    return fmadd(fnmadd(d.b, q0, a), d.y, q0);
}

// e^x for K vectors with every x in [-700, 0]: normal results only.
template <int K>
__attribute__((always_inline)) inline void fexp(vd* __restrict x)
{
    namespace c = expo_constants;
#define FL_EACH _Pragma("GCC unroll 32") for (int o = 0; o < K; ++o)
    vd s[K], N[K], r[K], q[K];
    FL_EACH s[o] = fmadd(x[o], set1(fc::inv_l16), set1(fc::shift));
    FL_EACH N[o] = s[o] - set1(fc::shift);
    FL_EACH r[o] = fnmadd(N[o], set1(fc::l1), x[o]);
    FL_EACH r[o] = fnmadd(N[o], set1(fc::l2), r[o]);
    FL_EACH q[o] = fmadd(set1(fc::c7), r[o], set1(fc::c6));
    FL_EACH q[o] = fmadd(q[o], r[o], set1(fc::c5));
    FL_EACH q[o] = fmadd(q[o], r[o], set1(fc::c4));
    FL_EACH q[o] = fmadd(q[o], r[o], set1(fc::c3));
    FL_EACH q[o] = fmadd(q[o], r[o], set1(fc::c2));
    FL_EACH q[o] = fmadd(r[o] * r[o], q[o], r[o]);
    FL_EACH {
        const vi j = bits(s[o]) & set1i(15);
        const vd hi = lookup16(c::hi, j), lo = lookup16(c::lo, j);
        const vd e = hi + fmadd(hi, q[o], lo);
        const vd scale = from_bits(shl<48>(bits(s[o])) & set1i(static_cast<int64_t>(0xFFF0000000000000ull)));
        x[o] = e * scale;
    }
#undef FL_EACH
}


template <int NB, int NPC>
__attribute__((always_inline)) inline void fl_accumulate(vd* S, vd& dens, vd w, const vd* d, vd yi)
{
    constexpr int B = NB, NS = B * (B + 1) / 2;
    vd z[B];
#pragma GCC unroll 8
    for (int k = 0; k < NPC; ++k) z[1 + k] = d[k];
#pragma GCC unroll 8
    for (int c = NPC + 1; c < B; ++c) z[c] = z[c - NPC] * z[c - NPC];
    dens = dens + w;
    const vd s = w * yi;
    S[0] = S[0] + w;
    S[NS] = S[NS] + s;
    S[NS + B] = S[NS + B] + s * yi;
#pragma GCC unroll 16
    for (int c = 1; c < B; ++c) {
        const vd zw = z[c] * w;
        const vd sc = zw * yi;
        S[NS + c] = S[NS + c] + sc;
        S[NS + B + c] = S[NS + B + c] + sc * yi;
        S[c] = S[c] + zw;
#pragma GCC unroll 16
        for (int b = c; b < B; ++b) {
            const int at = c * B - c * (c - 1) / 2 + (b - c);
            S[at] = S[at] + zw * z[b];
        }
    }
}

template <int V, int U, int NB, int NPC>
void floor_pass(const FTask& T)
{
    constexpr int NS = NB * (NB + 1) / 2, NA = NS + 2 * NB;
    vd S[V][NA], dens[V], tv[V][NPC];
    FDiv hd[NPC];
    for (int k = 0; k < NPC; ++k) hd[k] = {set1(T.hb[k]), set1(T.hy[k])};
    const FDiv root{set1(T.rootb), set1(T.rooty)}, norm{set1(T.normb), set1(T.normy)};
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
        dens[v] = set1(0.0);
#pragma GCC unroll 64
        for (int a = 0; a < NA; ++a) S[v][a] = set1(0.0);
#pragma GCC unroll 4
        for (int k = 0; k < NPC; ++k) tv[v][k] = load(T.t + (k * V + v) * lanes);
    }
    const double* __restrict x = T.x;
    const double* __restrict y = T.y;
    const int n = T.n;
    int i = 0;
    for (; i + U <= n; i += U) {
        vd d[U][V][NPC], a[U * V * NPC];
#pragma GCC unroll 8
        for (int o = 0; o < U; ++o)
#pragma GCC unroll 4
            for (int v = 0; v < V; ++v)
#pragma GCC unroll 4
                for (int k = 0; k < NPC; ++k) {
                    d[o][v][k] = set1(x[i + o + k * n]) - tv[v][k];
                    const vd u = T.clean ? mdiv(d[o][v][k], hd[k]) : d[o][v][k] / hd[k].b;
                    a[(o * V + v) * NPC + k] = (u * u) * set1(-0.5);
                }
        vm rare = a[0] < set1(T.lowest);
#pragma GCC unroll 32
        for (int q = 1; q < U * V * NPC; ++q) rare = rare | (a[q] < set1(T.lowest));
        vd w[U][V];
        if (!any(rare)) {
            fexp<U * V * NPC>(a);
#pragma GCC unroll 8
            for (int o = 0; o < U; ++o)
#pragma GCC unroll 4
                for (int v = 0; v < V; ++v) {
                    vd r = mdiv(a[(o * V + v) * NPC], root);
#pragma GCC unroll 4
                    for (int k = 1; k < NPC; ++k) r = r * mdiv(a[(o * V + v) * NPC + k], root);
                    w[o][v] = mdiv(r, norm);
                }
        } else {
            for (int o = 0; o < U; ++o)
                for (int v = 0; v < V; ++v) {
                    double tl[NPC][lanes], out[lanes];
                    for (int k = 0; k < NPC; ++k) store(tl[k], tv[v][k]);
                    for (int l = 0; l < lanes; ++l) {
                        double xi[NPC], ti[NPC];
                        for (int k = 0; k < NPC; ++k) {
                            xi[k] = x[i + o + k * n];
                            ti[k] = tl[k][l];
                        }
                        out[l] = slow_weight(T, xi, ti);
                    }
                    w[o][v] = load(out);
                }
        }
#pragma GCC unroll 8
        for (int o = 0; o < U; ++o) {
            const vd yi = set1(y[i + o]);
#pragma GCC unroll 4
            for (int v = 0; v < V; ++v) fl_accumulate<NB, NPC>(S[v], dens[v], w[o][v], d[o][v], yi);
        }
    }
    for (; i < n; ++i) {
        const vd yi = set1(y[i]);
        for (int v = 0; v < V; ++v) {
            vd d[NPC];
            double tl[NPC][lanes], out[lanes];
            for (int k = 0; k < NPC; ++k) {
                d[k] = set1(x[i + k * n]) - tv[v][k];
                store(tl[k], tv[v][k]);
            }
            for (int l = 0; l < lanes; ++l) {
                double xi[NPC], ti[NPC];
                for (int k = 0; k < NPC; ++k) {
                    xi[k] = x[i + k * n];
                    ti[k] = tl[k][l];
                }
                out[l] = slow_weight(T, xi, ti);
            }
            fl_accumulate<NB, NPC>(S[v], dens[v], load(out), d, yi);
        }
    }
    for (int v = 0; v < V; ++v) {
        for (int a = 0; a < NA; ++a) store(T.acc + (a * V + v) * lanes, S[v][a]);
        store(T.acc + (NA * V + v) * lanes, dens[v]);
    }
}
