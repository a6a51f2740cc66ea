// Helpers shared by the test executables.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "host/loader.h"

// The statement must end the process with status 1 and a line on standard
// error matching `pattern`.
#define EXPECT_FATAL(statement, pattern) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), pattern)

// Runs f() and returns what it wrote to standard output.
template <class F>
std::string printed_by(F&& f)
{
    host::StdoutCapture capture;
    std::forward<F>(f)();
    return capture.finish();
}
