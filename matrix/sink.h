// The matrix library's two doors for trouble.
//
// `sink` takes the library's non-fatal diagnostics (text, integers, single
// characters) and discards them: a non-conforming product or selection leaves
// a defined result and the call goes on. `fatal` is for size, index and
// allocation errors, after which no result can be defined: it writes one line
// to standard error and ends the process with status 1.
#pragma once

namespace lp {

struct Sink {
    const Sink& operator<<(const char*) const { return *this; }
    const Sink& operator<<(int) const { return *this; }
    const Sink& operator<<(char) const { return *this; }
};

inline constexpr Sink sink{};

// Writes the printf-formatted message and a newline to standard error, after
// flushing standard output, and exits with status 1.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lp
