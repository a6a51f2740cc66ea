// Calling the exports from the tests: what they print on standard output is
// part of their defined behaviour, so the tests collect it (file descriptor 1,
// C stdio included); the deliverables under test, loaded once; and the one
// caller of an export that the test programs share.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/loader.h"

// Collects what is written to standard output (file descriptor 1) while it
// lives, C stdio included.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // Stops capturing and returns the text.
    std::string finish();

private:
    int saved = -1;
    std::FILE* file = nullptr;
};

// Runs f() and returns what it wrote to standard output.
template <class F>
std::string printed_by(F&& f)
{
    StdoutCapture capture;
    std::forward<F>(f)();
    return capture.finish();
}

// Calls export `name` of `lib` on copies of pr's arrays and returns its
// result, outputs and printed text. mh and sh start filled with `fill` and fh
// with zeros (or with `fh0` when it is not empty). `around`, when given, makes
// the call itself: it receives the call and returns its result, so that it can
// do something just before and after it (arm a fault injection).
host::Outcome call_export(const host::Library& lib, const std::string& name, const host::Problem& pr, double fill = 0.0,
                          const std::vector<double>& fh0 = {},
                          const std::function<int(const std::function<int()>&)>& around = {});

#if defined(DORVANE_PATH) && defined(TREMSAL_PATH)
// The deliverable that exports `name`, loaded once per test program.
inline const host::Library& deliverable(const std::string& name)
{
    static const host::Library dorvane_so(DORVANE_PATH), tremsal_so(TREMSAL_PATH);
    return name == "dorvane" ? dorvane_so : tremsal_so;
}

// call_export on the deliverable that exports `name`.
inline host::Outcome call_export(const std::string& name, const host::Problem& pr, double fill = 0.0,
                                 const std::vector<double>& fh0 = {})
{
    return call_export(deliverable(name), name, pr, fill, fh0);
}
#endif
