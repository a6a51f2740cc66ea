// Conditional mean and volatility of daily DAX returns: the local linear fit
// of today's log return on yesterday's, with the conditional variance and the
// kernel density of yesterday's return split into the five weekdays.
//
// Usage: example [data.csv [Dorvane.so | Dorvane.dll]]
#include <cmath>
#include <cstdio>
#include <string>

#include "host/loader.h"

namespace {

#if defined(_WIN32)
const char library_file[] = "Dorvane.dll";
#else
const char library_file[] = "Dorvane.so";
#endif

std::string beside_executable(const char* argv0, const std::string& file)
{
    const std::string self(argv0);
    const auto slash = self.find_last_of("/\\");
    return slash == std::string::npos ? file : self.substr(0, slash + 1) + file;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::string data = argc > 1 ? argv[1] : "data/eustock.csv";
        const std::string lib_path = argc > 2 ? argv[2] : beside_executable(argv[0], library_file);
        const host::Table tab = host::read_csv(data);
        const std::vector<double>& dax = tab.column("DAX");

        // r_t = log(P_t / P_{t-1}); regress r_t on r_{t-1}.
        host::Problem pr;
        for (std::size_t k = 2; k < dax.size(); ++k) {
            pr.x.push_back(std::log(dax[k - 1] / dax[k - 2]));
            pr.y.push_back(std::log(dax[k] / dax[k - 1]));
        }
        const double n = static_cast<double>(pr.x.size());
        double mean = 0, var = 0;
        for (double v : pr.x) mean += v / n;
        for (double v : pr.x) var += (v - mean) * (v - mean) / (n - 1);
        const double sd = std::sqrt(var);

        const int m = 13;
        for (int j = 0; j < m; ++j) pr.t.push_back(mean + sd * (-3.0 + 0.5 * j));
        pr.h = {1.06 * sd * std::pow(n, -0.2) * 2.0};  // twice Silverman's rule: a smooth mean
        pr.n = n;
        pr.p = 1;
        pr.nr = n;
        pr.m = m;
        pr.grp[0] = 5;  // the weekdays, taken cyclically in business time
        pr.grp[1] = 1;
        pr.deg = 1;
        pr.vol = 1;

        host::Library lib(lib_path);
        const host::Outcome out = host::call(lib, "dorvane", pr);
        std::fputs(out.printed.c_str(), stdout);

        std::printf("DAX daily log returns, %s: n = %.0f, bandwidth h = %.5f\n", data.c_str(), n, pr.h[0]);
        std::printf("local linear fit of r(t) on r(t-1), with conditional variance and density\n\n");
        std::printf("%10s %12s %9s %12s %10s %9s  %s\n", "r(t-1)", "E[r|r(t-1)]", "slope", "Var[r|r(t-1)]",
                    "volatility", "density", "density by weekday group 1..5");
        for (int j = 0; j < m; ++j) {
            const double v = out.sh[j];
            std::printf("%10.5f %12.6f %9.4f %12.3e %10.5f %9.3f ", pr.t[j], out.mh[j], out.mh[j + m], v,
                        v > 0 ? std::sqrt(v) : 0.0, out.fh[j]);
            for (int g = 1; g <= 5; ++g) std::printf(" %6.2f", out.fh[j + g * m]);
            std::printf("\n");
        }
        return out.ret;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "example: %s\n", e.what());
        return 1;
    }
}
