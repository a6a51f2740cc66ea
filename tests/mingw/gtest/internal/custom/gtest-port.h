// GoogleTest's customisation hook, taken instead of its own (empty) one when
// the compiler's standard library has threads but no std::mutex, as with
// MinGW-w64's win32 thread model. GoogleTest's Windows port needs std::mutex
// and std::condition_variable only for its Notification; this one is a
// manual-reset Win32 event.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    // Lets every thread waiting on this notification go on.
    void Notify() { SetEvent(event); }
    // Blocks until Notify has been called.
    void WaitForNotification() { WaitForSingleObject(event, INFINITE); }

private:
    HANDLE event;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
