// The Win32 event behind GoogleTest's Notification (gtest/internal/custom/gtest-port.h).
#include <windows.h>

#include "gtest/internal/custom/gtest-port.h"

namespace testing {
namespace internal {

Notification::Notification() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
Notification::~Notification() { CloseHandle(event); }
void Notification::Notify() { SetEvent(event); }
void Notification::WaitForNotification() { WaitForSingleObject(event, INFINITE); }

}  // namespace internal
}  // namespace testing
