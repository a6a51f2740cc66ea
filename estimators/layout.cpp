// The column layouts of the four estimators' local designs, with the
// refusals of the estimators that serve one degree only.
//
//   dorvane  1, z_k, dummies, then squares of columns 1, 2, ... (deg >= 2)
//   tremsal  the dorvane design; with deg = 3 the last pc columns are the
//            cubes z_k³ instead (third derivatives, 6·beta)
//   locpa2g  deg 2: 1, z_k, dummies, z_k², then z_k·z_L for k != L, L = lam
//            (mixed second derivatives, the plain coefficient)
//   locparg  deg 3: the locpa2g design, then z_k²·z_L for k != L and
//            z_k·z_L² for every k (z_L³ for k = L), plain coefficients
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "estimators/frame.h"

namespace lp {

bool Layout::take(const Args& a, std::int64_t count)
{
    if (count > INT_MAX || call_bytes(a, count) < 0) {
        say(a, -1, "%s: %lld design columns are more than can be served\n", a.name,
                    static_cast<long long>(count));
        return false;
    }
    col.reset(new (std::nothrow) Column[count]);
    if (!col) {
        say(a, -1, "%s: cannot allocate the layout of %lld design columns\n", a.name,
                    static_cast<long long>(count));
        return false;
    }
    B = static_cast<int>(count);
    used = 0;
    col[used++] = Column{Kind::intercept, 0, 0};
    for (int k = 0; k < a.p; ++k) col[used++] = Column{k < a.pc ? Kind::slope : Kind::dummy, k, 0};
    return true;
}

bool power_layout(const Args& a, Layout& lay, bool cubes)
{
    const std::int64_t B = 1 + static_cast<std::int64_t>(a.pc) * a.deg + (a.p - a.pc);
    if (!lay.take(a, B)) return false;
    // Column c squares column c - p: first the continuous columns, then, for
    // larger deg, the dummies and the squares themselves.
    const int first_cube = cubes && a.deg == 3 ? lay.size() - a.pc : lay.size();
    for (int c = a.p + 1; c < first_cube; ++c) lay.add(Kind::square, c - a.p, c - a.p);
    // Cube of continuous column k: the centred value times its square.
    for (int c = first_cube; c < lay.size(); ++c) lay.add(Kind::cube, c - a.p - a.pc, c - a.pc);
    return true;
}

bool lam_products(const Args& a, Layout& lay, std::int64_t B)
{
    if (!lay.take(a, B)) return false;
    for (int k = 1; k <= a.pc; ++k) lay.add(Kind::square, k, k);
    for (int k = 1; k <= a.pc; ++k)
        if (k != a.lam) lay.add(Kind::cross, k, a.lam);
    return true;
}

bool dorvane_layout(const Args& a, Layout& lay) { return power_layout(a, lay, false); }

bool tremsal_layout(const Args& a, Layout& lay) { return power_layout(a, lay, true); }

bool locparg_layout(const Args& a, Layout& lay)
{
    if (a.deg == 3 && a.lam < 1) {
        say(a, -1, "%s", "locparg: use lam > 0 or tremsal \n");
        return false;
    }
    if (a.deg != 3) {
        say(a, -1, "locparg: deg must be 3\n");
        return false;
    }
    if (a.lam > a.pc) {
        say(a, -1, "locparg: lam = %d exceeds the %d continuous regressors\n", a.lam, a.pc);
        return false;
    }
    const int L = a.lam, p = a.p, pc = a.pc;
    if (!lam_products(a, lay, static_cast<std::int64_t>(p) + 4LL * pc - 1)) return false;
    // z_k²·z_L: square column p + k times z_L.
    for (int k = 1; k <= pc; ++k)
        if (k != L) lay.add(Kind::cross, p + k, L);
    // z_k·z_L·z_L: the product column z_k·z_L (the square for k = L) times z_L.
    int product = p + pc + 1;
    for (int k = 1; k <= pc; ++k) lay.add(Kind::cross, k == L ? p + L : product++, L);
    return true;
}

bool locpa2g_layout(const Args& a, Layout& lay)
{
    if (a.deg == 3) {
        say(a, -1, "%s", "locpa2g: use lam > 0 or tremsal \n");
        return false;
    }
    if (a.deg != 2) {
        say(a, -1, "locpa2g: deg must be 2\n");
        return false;
    }
    if (a.lam < 1 || a.lam > a.pc) {
        say(a, -1, "locpa2g: lam = %d must lie between 1 and the %d continuous regressors\n", a.lam, a.pc);
        return false;
    }
    return lam_products(a, lay, static_cast<std::int64_t>(a.p) + 2LL * a.pc);
}

namespace {

// Powers of the continuous regressors in each column of `lay`: column c is
// the monomial prod_k z_k^power[c][k] (all zero for the intercept and the
// dummies, which are marked by dummy[c]).
void monomials(const Args& a, const Layout& lay, std::vector<std::vector<int>>& power, std::vector<char>& dummy)
{
    const int B = lay.size(), pc = a.pc;
    power.assign(static_cast<std::size_t>(B), std::vector<int>(static_cast<std::size_t>(pc), 0));
    dummy.assign(static_cast<std::size_t>(B), 0);
    for (int c = 0; c < B; ++c) {
        const Column& col = lay[c];
        if (col.kind == Kind::slope) power[c][col.a] = 1;
        if (col.kind == Kind::dummy) dummy[c] = 1;
        if (col.kind != Kind::intercept && col.kind != Kind::slope && col.kind != Kind::dummy) {
            dummy[c] = dummy[col.a] || dummy[col.b];
            for (int k = 0; k < pc; ++k) power[c][k] = power[col.a][k] + power[col.b][k];
        }
    }
}

}  // namespace

bool widened_layout(const Args& a, Layout& lay, int extra)
{
    const LayoutRule base_rule = std::strcmp(a.name, "tremsal") == 0   ? tremsal_layout
                                 : std::strcmp(a.name, "locparg") == 0 ? locparg_layout
                                 : std::strcmp(a.name, "locpa2g") == 0 ? locpa2g_layout
                                                                       : dorvane_layout;
    Layout base;
    if (!base_rule(a, base)) return false;
    std::vector<std::vector<int>> power;
    std::vector<char> dummy;
    monomials(a, base, power, dummy);
    int order = 1;
    for (int c = 0; c < base.size(); ++c) {
        int degree = 0;
        for (int e : power[c]) degree += e;
        if (!dummy[c]) order = std::max(order, degree);
    }

    // Every monomial of degree 2 ... order + extra that the design lacks, by
    // degree and within a degree in lexicographic order of the powers, each the
    // product of a column before it and a slope: m = (m / z_k)·z_k, k the first
    // regressor in m.
    std::vector<std::vector<int>> have;
    for (int c = 0; c < base.size(); ++c)
        if (!dummy[c]) have.push_back(power[c]);
    std::vector<std::vector<int>> added;
    std::vector<std::pair<int, int>> factors;
    auto index_of = [&](const std::vector<int>& m) -> int {
        for (int c = 0; c < base.size(); ++c)
            if (!dummy[c] && power[c] == m) return c;
        for (std::size_t k = 0; k < added.size(); ++k)
            if (added[k] == m) return base.size() + static_cast<int>(k);
        return -1;
    };
    const int pc = a.pc;
    for (int degree = 2; degree <= order + extra; ++degree) {
        // The powers of degree `degree` in lexicographic order, largest first.
        std::vector<int> m(static_cast<std::size_t>(pc), 0);
        m[0] = degree;
        for (;;) {
            if (index_of(m) < 0) {
                int k = 0;
                while (m[static_cast<std::size_t>(k)] == 0) ++k;
                std::vector<int> rest = m;
                --rest[static_cast<std::size_t>(k)];
                added.push_back(m);
                factors.emplace_back(index_of(rest), 1 + k);
            }
            // The next composition of `degree` into pc parts, lexicographically smaller.
            int i = pc - 2;
            while (i >= 0 && m[static_cast<std::size_t>(i)] == 0) --i;
            if (i < 0) break;
            --m[static_cast<std::size_t>(i)];
            int tail = 0;
            for (int j = i + 1; j < pc; ++j) tail += m[static_cast<std::size_t>(j)], m[static_cast<std::size_t>(j)] = 0;
            m[static_cast<std::size_t>(i + 1)] = tail + 1;
        }
    }
    if (!lay.take(a, static_cast<std::int64_t>(base.size()) + static_cast<std::int64_t>(added.size()))) return false;
    for (int c = a.p + 1; c < base.size(); ++c) lay.add(base[c].kind, base[c].a, base[c].b);
    for (const auto& f : factors) lay.add(Kind::cross, f.first, f.second);
    return true;
}

bool rbc_layout(const Args& a, Layout& lay) { return widened_layout(a, lay, 1); }
bool rbc2_layout(const Args& a, Layout& lay) { return widened_layout(a, lay, 2); }

}  // namespace lp
