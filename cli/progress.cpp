// The progress line.
#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace lpfit {

Painter::Painter(bool enabled, std::function<double()> now, std::function<void(const std::string&)> write)
    : enabled(enabled), now(std::move(now)), write(std::move(write)), start(enabled ? this->now() : 0)
{
}

void Painter::step(const std::string& s, long long done, long long total)
{
    if (!enabled) return;
    // A stage runs as one or more passes (the fits of a bandwidth selection):
    // a count that starts again is the next pass.
    if (s != stage) {
        stage = s;
        passes = 1;
    } else if (done <= last_done) {
        ++passes;
    }
    last_done = done;
    const double t = now();
    if (t - start < 2.0 || (painted >= 0 && t - painted < 0.25)) return;
    painted = t;
    std::string what = stage == "bandwidth" ? "choosing the bandwidth, fit " + std::to_string(passes) + ":"
                       : stage == "fit"     ? "fitting"
                       : stage == "fitted"  ? "fitting at the observations"
                                            : stage;
    std::string line = "lpfit: " + what + " " + std::to_string(done) + "/" + std::to_string(total);
    const std::size_t size = line.size();
    if (size < width) line += std::string(width - size, ' ');
    width = std::max(width, size);
    write("\r" + line);
}

void Painter::clear()
{
    if (width == 0) return;
    write("\r" + std::string(width, ' ') + "\r");
    width = 0;
}

Painter terminal_painter(bool quiet)
{
    const bool tty = !quiet && isatty(STDERR_FILENO) != 0;
    return Painter(
        tty,
        [] {
            using namespace std::chrono;
            return duration<double>(steady_clock::now().time_since_epoch()).count();
        },
        [](const std::string& s) {
            std::fputs(s.c_str(), stderr);
            std::fflush(stderr);
        });
}

}  // namespace lpfit
