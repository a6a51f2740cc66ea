// Helpers shared by the test executables.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>

#include "host/loader.h"

// The statement must end the process with status 1 and a line on standard
// error matching `pattern`.
#define EXPECT_FATAL(statement, pattern) EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), pattern)

#if defined(DORVANE_PATH) && defined(TREMSAL_PATH)
// The deliverable that exports `name`, loaded once per test program.
inline const host::Library& deliverable(const std::string& name)
{
    static const host::Library dorvane_so(DORVANE_PATH), tremsal_so(TREMSAL_PATH);
    return name == "dorvane" ? dorvane_so : tremsal_so;
}
#endif

// Runs f() and returns what it wrote to standard output.
template <class F>
std::string printed_by(F&& f)
{
    host::StdoutCapture capture;
    std::forward<F>(f)();
    return capture.finish();
}

// Starts body(arg) on a thread of its own with a call stack of `stack` bytes
// (0: the system's default size); null when no thread can be started. POSIX or
// Win32 threads directly: MinGW's win32 thread model has no std::thread.
//
// On Windows the thread starts with its creator's x87 control word: Windows
// gives new threads 53-bit precision where MinGW's start-up code set 64 bits
// for the main thread, and what depends on that has a test of its own
// (WindowsHost.ResultsIgnoreTheCallersX87Precision).
void* start_thread(void (*body)(void*), void* arg, std::size_t stack);
// Waits for a thread of start_thread to end.
void join_thread(void* thread);

// Runs f() on a thread of its own (start_thread); the destructor waits for it.
template <class F>
class TestThread {
public:
    explicit TestThread(F f, std::size_t stack = 0) : body(std::move(f)), thread(start_thread(run, &body, stack))
    {
        EXPECT_NE(thread, nullptr) << "cannot start a thread";
    }
    ~TestThread()
    {
        if (thread != nullptr) join_thread(thread);
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;

private:
    static void run(void* arg) { (*static_cast<F*>(arg))(); }
    F body;
    void* thread;
};
