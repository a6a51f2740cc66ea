// GoogleTest's customisation hook, taken instead of its own (empty) one when
// the compiler's standard library has threads but no std::mutex, as with
// MinGW-w64's win32 thread model. GoogleTest's Windows port needs std::mutex
// and std::condition_variable only for its Notification; this one is a
// manual-reset Win32 event (notification.cpp), kept out of this header so
// that <windows.h> and its macros reach no test.
#pragma once

namespace testing {
namespace internal {

class Notification {
public:
    Notification();
    ~Notification();
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    // Lets every thread waiting on this notification go on.
    void Notify();
    // Blocks until Notify has been called.
    void WaitForNotification();

private:
    void* event;  // HANDLE
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
