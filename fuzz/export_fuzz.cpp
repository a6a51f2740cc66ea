// Fuzz target of one export (LP_FUZZ_EXPORT: 0 dorvane, 1 tremsal, 2 locparg,
// 3 locpa2g). The input bytes become a whole argument block: every scalar
// from small integers, zero, negatives, huge values, values past 2^31 and
// 2^63, NaN and the infinities; every array exactly as long as the argument
// table asks for the scalars as the library reads them, between canaries
// that AddressSanitizer guards and the target checks. After the call:
//   - the return value is 0 and no input, scalar or array, has changed;
//   - no canary has changed (nothing written outside mh, sh and fh);
//   - a refused call printed its one line and left every output untouched;
//   - a served call wrote every entry of mh, of sh when vol is not 0, and the
//     density of every point, which must be the kernel sum of its weights;
//   - a call that failed at point j wrote points 0 .. j - 1, marked the
//     first n entries of mh as NaN and left later points alone;
//   - the library printed only the lines it is known to print.
// Cases are kept small: a design of more than max_B columns is fitted only
// when it is so large that the library must refuse it.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "estimators/export.h"
#include "estimators/frame.h"
#include "bytes.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define LP_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define LP_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#endif
#endif
#ifndef LP_POISON
#define LP_POISON(p, n) ((void)(p), (void)(n))
#define LP_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

const char* const names[] = {"dorvane", "tremsal", "locparg", "locpa2g"};
const char* const name = names[LP_FUZZ_EXPORT];

constexpr std::size_t guard = 4;              // canary doubles on each side of every array
constexpr std::int64_t max_doubles = 1 << 14;  // the arrays of one case together
constexpr std::int64_t max_B = 40;             // the largest design a case fits
// At least this many columns must be refused: the three B × B moment
// matrices alone would take more than 8 GiB.
constexpr std::int64_t refused_B = 20000;

// Signalling NaNs, which no arithmetic produces: the canaries, and the fill
// of the outputs that tells an untouched entry.
constexpr std::uint64_t canary_bits = 0x7ff4dead0000beefULL;
constexpr std::uint64_t untouched_bits = 0x7ff40000000051a7ULL;

std::uint64_t bits_of(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
double from_bits(std::uint64_t b)
{
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// A host array between canaries; AddressSanitizer reports any touch of them.
class Array {
public:
    explicit Array(std::size_t size, double value = 0.0) : size(size), block(new double[size + 2 * guard])
    {
        for (std::size_t k = 0; k < size + 2 * guard; ++k) block[k] = from_bits(canary_bits);
        for (std::size_t k = 0; k < size; ++k) data()[k] = value;
        LP_POISON(block.get(), guard * sizeof(double));
        LP_POISON(data() + size, guard * sizeof(double));
    }
    ~Array()
    {
        LP_UNPOISON(block.get(), (size + 2 * guard) * sizeof(double));
    }
    double* data() { return block.get() + guard; }
    const double* data() const { return block.get() + guard; }
    double& operator[](std::size_t k) { return data()[k]; }
    double operator[](std::size_t k) const { return data()[k]; }

    bool canaries_intact()
    {
        LP_UNPOISON(block.get(), guard * sizeof(double));
        LP_UNPOISON(data() + size, guard * sizeof(double));
        bool ok = true;
        for (std::size_t k = 0; k < guard; ++k)
            ok = ok && bits_of(block[k]) == canary_bits && bits_of(data()[size + k]) == canary_bits;
        LP_POISON(block.get(), guard * sizeof(double));
        LP_POISON(data() + size, guard * sizeof(double));
        return ok;
    }
    std::vector<double> copy() const { return std::vector<double>(data(), data() + size); }
    bool same_as(const std::vector<double>& v) const
    {
        return size == 0 || std::memcmp(data(), v.data(), size * sizeof(double)) == 0;
    }

    const std::size_t size;

private:
    std::unique_ptr<double[]> block;
};

bool written(double v) { return bits_of(v) != untouched_bits; }

// a and b are the same number: equal bits, both NaN, or within 1e-12 of the
// larger (the reference sums the same terms in the same order).
bool same_number(double a, double b)
{
    if (bits_of(a) == bits_of(b) || (std::isnan(a) && std::isnan(b))) return true;
    if (!std::isfinite(a) || !std::isfinite(b)) return a == b;
    return std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b));
}

// Standard output is a memory file, emptied before each call.
void clear_output()
{
    std::fflush(stdout);
    if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) fuzz::finding("cannot reset standard output");
}
std::string output()
{
    std::fflush(stdout);
    const off_t size = lseek(1, 0, SEEK_CUR);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0 && pread(1, text.data(), text.size(), 0) != size) fuzz::finding("cannot read standard output");
    return text;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

const char loo_refusal[] =
    "You cannot use leave one out (nloo=1) since you do not compute\n"
    "the function at the observed values\n";
const char* const warning_lines[] = {"WARNING: The estimation of the", "cond. volatility function is not",
                                     "checked if the regressor matrix", "contains dummies "};
const char* const numeric_lines[] = {"Numerical routine run-time error...", "Singular matrix in routine LUDCMP",
                                     "...now exiting to system..?."};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const int fd = memfd_create("stdout", 0);
    if (fd < 0 || dup2(fd, 1) < 0) fuzz::finding("cannot capture standard output");
    close(fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Bytes in(data, size);
    using std::int64_t;

    // The scalars, and the counts the library reads from them.
    const double n = in.scalar([](unsigned b) { return 1.0 + b % 48; }, 20);
    const double p = in.scalar([](unsigned b) { return 1.0 + b % 3; }, 0);
    const double m = in.scalar([](unsigned b) { return static_cast<double>(b % 12); }, 3);
    const double deg = in.scalar([](unsigned b) { return 1.0 + b % 4; }, LP_FUZZ_EXPORT == 2 ? 2 : 1);
    const double vol = in.scalar([](unsigned b) { return static_cast<double>(b % 2); }, 1);
    const double nloo = in.scalar([](unsigned b) { return static_cast<double>(b % 3); }, 0);
    const int64_t n_ = lp::toint(n);
    const double nr = in.scalar([&](unsigned b) { return b < 128 || n_ < 1 ? n : 1.0 + b % n_; }, 0);
    const double lam = in.scalar([](unsigned b) { return static_cast<double>(b % 4); }, 1);
    const double grp0 = in.scalar([](unsigned b) { return b < 128 ? 0.0 : b % 7 + (b & 8 ? 0.5 : 0.0); }, 0);
    const double grp1 = in.scalar([](unsigned b) { return 1.0 + b % 3; }, 0);
    const unsigned nulls = in.byte(0);

    const int64_t p_ = lp::toint(p), m_ = lp::toint(m), deg_ = lp::toint(deg), K = lp::toint(grp0);
    const int64_t phase = lp::toint(grp1), nloo_ = lp::toint(nloo), vol_ = lp::toint(vol);
    if (p_ > 64) return -1;

    // Bandwidths: the last one's sign carries the count of continuous regressors.
    Array h(p_ > 0 ? static_cast<std::size_t>(p_) : 0);
    for (int64_t k = 0; k < p_; ++k)
        h[k] = in.scalar(
            [](unsigned b) {
                static const double odd[] = {0.0, 1e-3, 1e3, 1e-200, 1e200, 0.02, 40.0, 1e-7};
                return b < 160 ? 0.1 + b / 80.0 : b < 192 ? -(1.0 + b % 3) : odd[b % 8];
            },
            0);
    const int64_t pc = p_ < 1 ? 0 : h[p_ - 1] >= 0.0 ? p_ : -static_cast<int64_t>(lp::toint(h[p_ - 1]));
    const int64_t plain = 1 + pc * deg_ + (p_ - pc);
    int64_t B = plain;
    if (LP_FUZZ_EXPORT == 2 && deg_ == 3) B = p_ + 4 * pc - 1;
    if (LP_FUZZ_EXPORT == 3 && deg_ == 2) B = p_ + 2 * pc;
    B = std::max<int64_t>(B, 0);
    if (B > max_B && B < refused_B) return -1;

    const int64_t nx = n_ > 0 && p_ > 0 ? n_ * p_ : 0, ny = std::max<int64_t>(n_, 0);
    const int64_t nt = m_ > 0 && p_ > 0 ? m_ * p_ : 0, mm = std::max<int64_t>(m_, 0);
    if (ny > max_doubles || nx > max_doubles || nt > max_doubles || (mm > 0 && (B > max_doubles || K > max_doubles)))
        return -1;
    const int64_t cells = mm * B, nfh = K >= 2 ? mm * (K + 1) : mm;
    if (nx + ny + nt + 2 * cells + nfh > max_doubles) return -1;

    Array x(nx), y(ny), t(nt), grp(2), mh(cells, from_bits(untouched_bits)), sh(cells, from_bits(untouched_bits)),
        fh(nfh);
    for (int64_t k = 0; k < nx; ++k) x[k] = in.element(k);
    for (int64_t k = 0; k < ny; ++k) y[k] = in.element(k + 1);
    for (int64_t k = 0; k < nt; ++k) t[k] = in.element(k + 2);
    grp[0] = grp0;
    grp[1] = grp1;
    Array sn(1, n), sp(1, p), snr(1, nr), sm(1, m), sdeg(1, deg), svol(1, vol), snloo(1, nloo), slam(1, lam);

    // One pointer may be null: byte 0xF0 + k nulls pointer k.
    double* ptr[16] = {x.data(),  sn.data(),  sp.data(),  y.data(),   snr.data(),  t.data(),
                       sm.data(), h.data(),   grp.data(), mh.data(),  sh.data(),   fh.data(),
                       sdeg.data(), svol.data(), snloo.data(), slam.data()};
    const int nulled = nulls >= 0xF0 ? static_cast<int>(nulls - 0xF0) : -1;
    if (nulled >= 0) ptr[nulled] = nullptr;

    const std::vector<double> inputs[] = {x.copy(), y.copy(), t.copy(), h.copy(), grp.copy()};
    const double scalars[] = {n, p, nr, m, deg, vol, nloo, lam};
    Array* scalar_arrays[] = {&sn, &sp, &snr, &sm, &sdeg, &svol, &snloo, &slam};

    clear_output();
    int ret;
    if (LP_FUZZ_EXPORT == 0)
        ret = dorvane(ptr[0], ptr[1], ptr[2], ptr[3], ptr[4], ptr[5], ptr[6], ptr[7], ptr[8], ptr[9], ptr[10],
                      ptr[11], ptr[12], ptr[13], ptr[14]);
    else if (LP_FUZZ_EXPORT == 1)
        ret = tremsal(ptr[0], ptr[1], ptr[2], ptr[3], ptr[4], ptr[5], ptr[6], ptr[7], ptr[8], ptr[9], ptr[10],
                      ptr[11], ptr[12], ptr[13], ptr[14]);
    else if (LP_FUZZ_EXPORT == 2)
        ret = locparg(ptr[0], ptr[1], ptr[2], ptr[3], ptr[4], ptr[5], ptr[6], ptr[7], ptr[8], ptr[9], ptr[10],
                      ptr[11], ptr[12], ptr[13], ptr[14], ptr[15]);
    else
        ret = locpa2g(ptr[0], ptr[1], ptr[2], ptr[3], ptr[4], ptr[5], ptr[6], ptr[7], ptr[8], ptr[9], ptr[10],
                      ptr[11], ptr[12], ptr[13], ptr[14], ptr[15]);
    const std::string text = output();

    // What holds after every call.
    if (ret != 0) fuzz::finding("the export returned", std::to_string(ret).c_str());
    Array* arrays[] = {&x, &y, &t, &h, &grp, &mh, &sh, &fh};
    for (Array* a : arrays)
        if (!a->canaries_intact()) fuzz::finding("a canary was overwritten");
    for (Array* a : scalar_arrays)
        if (!a->canaries_intact()) fuzz::finding("a scalar's canary was overwritten");
    const Array* input_arrays[] = {&x, &y, &t, &h, &grp};
    for (int k = 0; k < 5; ++k)
        if (!input_arrays[k]->same_as(inputs[k])) fuzz::finding("an input array was written");
    for (int k = 0; k < 8; ++k)
        if (bits_of((*scalar_arrays[k])[0]) != bits_of(scalars[k])) fuzz::finding("a scalar was written");
    if (!text.empty() && text.back() != '\n') fuzz::finding("unterminated line", text.c_str());

    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    const bool refused = text == loo_refusal || (lines.size() == 1 && starts_with(lines[0], std::string(name) + ": "));
    // LP_FUZZ_TRACE=1 tells how each input ended, to see what a corpus reaches.
    static const bool trace = std::getenv("LP_FUZZ_TRACE") != nullptr;
    if (trace) std::fprintf(stderr, "n %lld m %lld B %lld: %s", static_cast<long long>(n_), static_cast<long long>(mm),
                            static_cast<long long>(B), refused ? text.c_str() : text.empty() ? "served\n" : "served with lines\n");
    if (refused || B >= refused_B) {
        if (!refused) fuzz::finding("a design past every limit was not refused", text.c_str());
        for (std::int64_t k = 0; k < cells; ++k)
            if (written(mh[k]) || written(sh[k])) fuzz::finding("a refused call wrote mh or sh", text.c_str());
        for (std::int64_t k = 0; k < nfh; ++k)
            if (bits_of(fh[k]) != 0) fuzz::finding("a refused call wrote fh", text.c_str());
        return 0;
    }

    // A served call may print the dummy warning and the LU report, and ends
    // with the two lines of a failed conditioning test when a point fails.
    int64_t failed = mm;  // the failing point, m when none fails
    std::size_t body = lines.size();
    const char report[] = "t: sum of off-diagonal element of invZWZ*ZWZ ";
    if (body >= 2 && starts_with(lines[body - 2], report)) {
        failed = std::atoll(lines[body - 2].c_str() + sizeof report - 1);
        if (failed < 0 || failed >= mm || !starts_with(lines[body - 1], " m_out ") ||
            lines[body - 2].back() != ' ')
            fuzz::finding("a malformed report of a failed point", text.c_str());
        body -= 2;
    }
    for (std::size_t k = 0; k < body; ++k) {
        const std::string& l = lines[k];
        const bool warning = std::find(std::begin(warning_lines), std::end(warning_lines), l) != std::end(warning_lines);
        const bool numeric = std::find(std::begin(numeric_lines), std::end(numeric_lines), l) != std::end(numeric_lines);
        if (warning && !(vol_ != 0 && pc < p_)) fuzz::finding("a dummy warning without dummies", text.c_str());
        if (!warning && !numeric) fuzz::finding("an unexpected line", l.c_str());
    }

    // mh and sh: points before the failing one written, the rest untouched,
    // except the NaN marks of a failure over the first n entries of mh.
    const int64_t marked = failed < mm ? std::min<int64_t>(n_, cells) : 0;
    for (int64_t k = 0; k < cells; ++k) {
        const int64_t j = k % mm;
        if (k < marked) {
            if (!std::isnan(mh[k]) || !written(mh[k])) fuzz::finding("a failed call did not mark mh with NaN");
        } else if (written(mh[k]) != (j < failed)) {
            fuzz::finding(j < failed ? "a served point left mh unwritten" : "mh written past a failed point");
        }
        if (written(sh[k]) != (vol_ != 0 && j < failed))
            fuzz::finding(vol_ != 0 && j < failed ? "a served point left sh unwritten" : "sh written when it must not be");
    }

    // fh: at each point up to the failing one, the kernel sum of the weights
    // w_i = K((x_i - t_j)/h) / (D·hprod), grouped or not; later points untouched.
    const bool loo = nloo_ == 1;
    const double D = static_cast<double>(loo ? n_ - 1 : n_);
    double hprod = 1.0;
    for (int64_t k = 0; k < pc; ++k) hprod = hprod * h[k];
    const double norm = D * hprod;
    std::vector<double> u(static_cast<std::size_t>(pc)), cell(K >= 2 && mm > 0 ? static_cast<std::size_t>(K) : 0);
    for (int64_t j = 0; j < mm; ++j) {
        const bool accumulated = j <= failed;
        double f = 0.0;
        std::fill(cell.begin(), cell.end(), 0.0);
        for (int64_t i = 0; accumulated && i < n_; ++i) {
            double w = 0.0;
            if (!(loo && i == j)) {
                for (int64_t k = 0; k < pc; ++k) u[k] = (x[i + k * n_] - t[j + k * mm]) / h[k];
                w = lp::gaussian_kernel(static_cast<int>(pc), u.data()) / norm;
            }
            if (K < 2) f = f + w;
            else cell[(i + phase - 1) % K] += w;
        }
        if (accumulated && K >= 2) {
            for (double& c : cell) c = c * grp0;
            for (double c : cell) f = f + c;
            f = f / grp0;
        }
        if (!same_number(fh[j], f)) fuzz::finding("a density differs from its kernel sum");
        for (int64_t g = 0; g < (K >= 2 ? K : 0); ++g)
            if (!same_number(fh[j + (g + 1) * mm], cell[g])) fuzz::finding("a group density differs from its sum");
    }
    return 0;
}
