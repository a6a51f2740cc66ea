// Errors inside the fitting core: thrown as Error, turned into a status and a
// message at the C API, never across it.
#pragma once

#include <stdexcept>
#include <string>

#include "include/lpcore.h"

namespace lpc {

class Error : public std::runtime_error {
public:
    Error() : Error(LPC_OK, "") {}
    Error(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

// Data or options that cannot be served.
inline Error input(const std::string& message) { return Error(LPC_EINPUT, message); }
// A programming error of the caller.
inline Error usage(const std::string& message) { return Error(LPC_EUSAGE, message); }

// Shortest text that reads back as v, for messages; at most `digits`
// significant digits.
std::string number(double v, int digits = 6);

}  // namespace lpc
