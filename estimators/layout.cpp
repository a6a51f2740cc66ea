// Column layouts of the local designs shared by several estimators.
#include <climits>
#include <cstdio>
#include <new>

#include "estimators/frame.h"

namespace lp {

bool Layout::take(const Args& a, std::int64_t count)
{
    if (count > INT_MAX || call_bytes(a, count) < 0) {
        std::printf("%s: %lld design columns are more than can be served\n", a.name,
                    static_cast<long long>(count));
        return false;
    }
    col.reset(new (std::nothrow) Column[count]);
    if (!col) {
        std::printf("%s: cannot allocate the layout of %lld design columns\n", a.name,
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

}  // namespace lp
