// The progress line of the command-line tool: "lpfit: fitting 12/40" on
// standard error, drawn from the core's progress function on the thread that
// runs the fit, once the work has lasted two seconds, at most four times a
// second, and cleared when the work ends.
#pragma once

#include <functional>
#include <string>

namespace lpfit {

class Painter {
public:
    // `enabled`: whether to draw at all (standard error is a terminal and not
    // --quiet); `now`: a clock in seconds; `write`: where the text goes.
    Painter(bool enabled, std::function<double()> now, std::function<void(const std::string&)> write);
    // The core's report: `done` of `total` pieces of `stage` are finished.
    void step(const std::string& stage, long long done, long long total);
    // Clears the line, when one was drawn.
    void clear();

private:
    bool enabled;
    std::function<double()> now;
    std::function<void(const std::string&)> write;
    double start, painted = -1;
    std::size_t width = 0;
    std::string stage;
    long long last_done = 0, passes = 0;
};

// A painter on standard error with the system's steady clock, drawing when
// standard error is a terminal and `quiet` is false.
Painter terminal_painter(bool quiet);

}  // namespace lpfit
