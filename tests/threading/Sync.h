// Small synchronisation helpers for the threading tests: every wait has a
// generous time-out so a fault shows up as a failure, not a hung binary.
#ifndef TESTS_THREADING_SYNC_H
#define TESTS_THREADING_SYNC_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace threadingtest {

// Bounds every wait for something that should happen at once; generous, so a
// loaded machine (sanitizers, suites run side by side) never fails a test by
// chance, and free when the condition holds.
constexpr std::chrono::milliseconds kTimeout{30000};

class Event {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        condition_.notify_all();
    }
    bool Wait(std::chrono::milliseconds timeout = kTimeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return condition_.wait_for(lock, timeout, [this]() { return set_; });
    }
    bool IsSet() {
        std::lock_guard<std::mutex> lock(mutex_);
        return set_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool set_ = false;
};

// Thread-safe record of the order in which tasks ran.
class Recorder {
public:
    void Add(int value) {
        std::lock_guard<std::mutex> lock(mutex_);
        values_.push_back(value);
        condition_.notify_all();
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = kTimeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return condition_.wait_for(lock, timeout, [&]() { return values_.size() >= count; });
    }
    std::vector<int> Values() {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::vector<int> values_;
};

// Polls a condition until it holds or the time-out passes.
inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Sets an event when destroyed: shows when a queued task was released.
struct ReleaseMarker {
    explicit ReleaseMarker(Event& event) : released(event) {}
    ~ReleaseMarker() { released.Set(); }
    Event& released;
};

}  // namespace threadingtest

#endif
