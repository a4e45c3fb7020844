// GoogleTest's Notification without std::mutex and std::condition_variable,
// which the win32 thread model of Debian's mingw-w64 (GCC 12) lacks.
// Forced into every file that is compiled against GoogleTest here.
// GoogleTest uses it only to start threads of its own tests, never in ours,
// so a polling wait is good enough.
#pragma once

#include <atomic>

extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) Sleep(1);
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
