// Polls a condition until it holds or the bound passes: tests wait for what
// they expect, never for a fixed time.
#ifndef TESTS_SUPPORT_WAITUNTIL_H
#define TESTS_SUPPORT_WAITUNTIL_H

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace testsupport

#endif
