// GoogleTest's hook for local settings, found before its own empty copy in the Windows builds.
// The win32 thread model of MinGW-w64 has no std::mutex or std::condition_variable, which
// GoogleTest's Notification is made of; our tests start no threads, so a flag that is polled
// does the same.
#ifndef VORSE_GTEST_CUSTOM_PORT_H
#define VORSE_GTEST_CUSTOM_PORT_H

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

private:
  std::atomic<bool> notified_{false};
};

} // namespace testing::internal

#endif
