// The frame shared by all estimators: the argument block and its reading, the
// kernel stage, the column layouts of the local designs, and the one fitting
// engine that walks a layout at every evaluation point.
//
// Notation: n observations (rows of x and y), m evaluation points (rows of t,
// mh, sh and fh), p regressors of which the first pc are continuous and the
// rest dummies, B local design columns. Host arrays are column-major: element
// (i, k) of an array with r rows is at i + k·r.
#pragma once

#include <cstdint>
#include <memory>

#include "estimators/batch.h"

namespace lp {

// The pointers an export receives, in its argument order; lam is null for the
// fifteen-argument exports.
struct Pointers {
    double *x, *n, *p, *y, *nr, *t, *m, *h, *grp, *mh, *sh, *fh, *deg, *vol, *nloo, *lam;
};

// ---- Reports -------------------------------------------------------------

// What became of an evaluation point whose normal equations could not serve.
enum class Event : std::uint8_t {
    check_failed,  // the conditioning test failed: its off-diagonal sum S > 100000
    refitted,      // solved again by a method that stays accurate, and trusted
    unreliable,    // no trustworthy solution exists in double precision: NaN in mh and sh
};

// A point's local fit, for callers that need more of it than mh and sh: its
// coefficients, and A⁻¹b for any b, A the point's moment matrix, by the
// method that solved the point. A point refitted by orthogonal factors is
// solved with relative weights: A = Σ_i ω_i z_i z_iᵀ with
// ω_i = e^(shift - a_i), a_i = Σ_k u_k²/2, a positive multiple of the true
// moment matrix, so that sums a caller forms with the same ω_i give what the
// true weights would.
struct Solved {
    int j;               // the point, from 0 within the call
    int B;
    const double* beta;  // B local coefficients
    const double* gamma; // those of the fit of y² when vol is not 0, else null
    const void* self;
    void (*solve)(const void* self, double* b);  // b (B values) becomes A⁻¹b; NaN when it cannot
    bool relative;       // A is in the relative weights ω_i
    double shift;
};

// Where the engine's lines and its point events go. The exports keep the
// defaults: lines on standard output, and a failed conditioning test ends the
// call. The fitting core collects both and fits past a failed point.
struct Report {
    void* ctx = nullptr;
    // Receives each printed text, whole lines, with the point it is about
    // (from 0 within the call; -1 for the call itself). Null: standard output.
    void (*text)(void* ctx, int j, const char* s) = nullptr;
    // Receives the events of point j and the test's sum S (NaN when it had
    // none). May be null.
    void (*event)(void* ctx, int j, Event e, double S) = nullptr;
    // Receives every point that got a fit (not the NaN ones). May be null.
    void (*solved)(void* ctx, const Solved& s) = nullptr;
    // Non-null: the call only forms the sums. Receives each point's moment
    // matrix ZWZ (B × B, column-major), its ZWy and its density Σ_i w_i, and
    // nothing is solved or stored but the density.
    void (*moments)(void* ctx, int j, const double* ZWZ, const double* ZWy, double density) = nullptr;
    // False: a failed conditioning test ends the call, with the first n entries
    // of mh marked NaN. True: the point goes on as a stiff one, refitted or
    // NaN, and so does the call.
    bool go_on = false;
};

// The arguments of one call, read and checked.
struct Args {
    const char* name;  // the export's name, which starts every refusal line
    const double *x, *y, *t, *h, *grp;
    double *mh, *sh, *fh;
    int n, p, nr, m, deg, vol, nloo, lam;
    int pc;     // continuous regressors: p, or -h[p-1] truncated when h[p-1] < 0
    int K;      // group count, grp[0] truncated; groups exist when K >= 2
    int phase;  // grp[1] truncated: observation i belongs to group (i + phase - 1) mod K
    // Leave-one-out drops observation loo_base + j at evaluation point j: 0
    // for an export, the first point's index when the core fits a slice.
    int loo_base = 0;
    const Report* report = nullptr;  // null: the exports' defaults
    // Non-null: observation i's weight in the moment sums (not in the
    // density) is w_i·mult[i].
    const double* mult = nullptr;
};

// Hands the printf-style text to a.report, or prints it on standard output.
// j is the point the text is about, -1 for the call.
void say(const Args& a, int j, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Reads a host double as an integer: truncation toward zero, then the low 32
// bits of the two's-complement result (-0.9 gives 0, 2^32 + 5 gives 5). Defined
// for every double; NaN and the infinities read as 0.
int toint(double v);

// Reads and checks the scalar arguments into a, whose report is kept. Returns
// false after saying one line "<name>: <what is wrong>" when the call cannot
// be served safely.
bool read_args(const Pointers& ptr, const char* name, Args& a);

// ---- Kernel --------------------------------------------------------------

// Product over k < d of the standard normal density at u[k]; 1 for d = 0.
double gaussian_kernel(int d, const double* u);
// Product over k < d of 15/16·(1 - u[k]²)², 0 once some |u[k]| > 1.
double quartic_kernel(int d, const double* u);

// ---- Column layouts -----------------------------------------------------

// What a design column holds, which also fixes its output factor and its
// conditional-variance rule.
enum class Kind : std::uint8_t {
    intercept,  // 1; output n·beta/nr
    slope,      // continuous regressor a centred at the point; n·beta/nr
    dummy,      // dummy regressor a as it stands; n·beta/nr
    square,     // column a squared (b = a); 2·beta, second-derivative rule
    cube,       // column a times column b, a cube; 6·beta, gamma unchanged
    cross,      // column a times column b, a cross term; beta, gamma unchanged
};

struct Column {
    Kind kind;
    int a;  // regressor (slope, dummy) or first factor column (higher kinds)
    int b;  // second factor column (higher kinds)
};

// The columns of one estimator's local design. Columns 0..p are always the
// intercept, the pc slopes and the p - pc dummies; every higher column is the
// product of two earlier columns.
class Layout {
public:
    // Takes room for B columns and adds columns 0..p. Returns false after
    // printing the refusal when B is too large to be served.
    bool take(const Args& a, std::int64_t B);
    // Appends a higher column Z(:,a)·Z(:,b).
    void add(Kind kind, int a, int b) { col[used++] = Column{kind, a, b}; }

    int size() const { return B; }
    bool complete() const { return used == B; }
    const Column& operator[](int c) const { return col[c]; }

private:
    std::unique_ptr<Column[]> col;
    int B = 0;
    int used = 0;
};

// A layout rule builds the columns of one estimator for the call's arguments,
// or prints the estimator's refusal and returns false.
using LayoutRule = bool (*)(const Args& a, Layout& lay);

// Columns of dorvane (cubes = false) and tremsal (cubes = true): the squares
// of columns 1, 2, ... up to B = 1 + pc·deg + (p - pc); with cubes and deg = 3
// the last pc columns are the cubes of the continuous regressors instead.
bool power_layout(const Args& a, Layout& lay, bool cubes);

// Columns 0..p + pc (levels and squares of the continuous regressors)
// followed by z_k·z_lam for every continuous k != lam, of a layout of B columns.
bool lam_products(const Args& a, Layout& lay, std::int64_t B);

// The four estimators' rules. locparg serves deg = 3 and locpa2g deg = 2,
// each with 1 <= lam <= pc; they say their refusal otherwise.
bool dorvane_layout(const Args& a, Layout& lay);
bool tremsal_layout(const Args& a, Layout& lay);
bool locparg_layout(const Args& a, Layout& lay);
bool locpa2g_layout(const Args& a, Layout& lay);

// The design of the estimator a.name widened by `extra` polynomial orders:
// after its own columns, every monomial in the continuous regressors of
// degree 2 ... q + extra that it lacks, q its highest degree, each the
// product of an earlier column and a slope. The first columns keep their
// meaning, so the wider fit's coefficients estimate the same quantities with
// the leading bias removed (robust bias correction with equal bandwidths).
bool widened_layout(const Args& a, Layout& lay, int extra);
// The design widened by one order, and by two.
bool rbc_layout(const Args& a, Layout& lay);
bool rbc2_layout(const Args& a, Layout& lay);

// ---- The fitting engine ---------------------------------------------------

// The instruction sets the engine can fit with; `widest` is the best that
// the processor offers, chosen at every call. The others serve tests.
enum class Path { widest, avx512, avx2, sse2, scalar };

// The best path of this processor.
Path widest_path();
// True when the processor can run `path`.
bool path_available(Path path);

// Bytes of working storage a call of B design columns takes, or a negative
// number when that is more than any call is served.
double call_bytes(const Args& a, std::int64_t B);

// Fits the local polynomial described by `lay` at every evaluation point and
// writes mh, sh and fh. Returns 0; refusals and failed points are reported on
// standard output.
int fit(const Args& a, const Layout& lay, Path path = Path::widest);

// The whole call of an export: reads the arguments, builds the layout, fits,
// and flushes standard output before returning 0.
int estimate(const Pointers& ptr, const char* name, LayoutRule rule, Path path = Path::widest);

// A call with arguments already read and checked, as the fitting core makes
// it: builds the layout by `rule` and fits, in the default floating-point
// environment. Returns 0; says its refusals through a.report.
int run(const Args& a, LayoutRule rule, Path path = Path::widest);

}  // namespace lp
