#pragma once
// Force-included into GoogleTest and the Windows unit tests when the compiler
// has no std::mutex (mingw-w64's win32 thread model): GoogleTest's only use
// of std::mutex and std::condition_variable is its Notification, which only
// its own threading tests wait on. This one spins on an atomic flag.
#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified.store(true); }
    void WaitForNotification()
    {
        while (!notified.load()) {
        }
    }

private:
    std::atomic<bool> notified{false};
};

} // namespace internal
} // namespace testing
