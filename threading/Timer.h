// Timer that calls a function after an interval on a thread of its own,
// either periodically until stopped or a fixed number of times.
#ifndef THREADING_TIMER_H
#define THREADING_TIMER_H

#include "threading/Thread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class ITimer {
public:
    virtual ~ITimer() = default;
    virtual bool timer_start(std::function<void()> function, unsigned long intervalMs) = 0;
    virtual bool timer_stop() = 0;
    virtual bool is_running() = 0;
};

// Start, stop and is_running may be called from any thread, the timer's own
// function included; a call from the function never waits for itself.
class TimerImpl : public ITimer {
public:
    // Periodic timer.
    explicit TimerImpl(const std::string& name);
    // Runs its function executionCount times per start.
    TimerImpl(const std::string& name, uint32_t executionCount);
    ~TimerImpl() override;

    TimerImpl(const TimerImpl&) = delete;
    TimerImpl& operator=(const TimerImpl&) = delete;

    bool timer_start(std::function<void()> function, unsigned long intervalMs) override;
    bool timer_stop() override;
    bool is_running() override;

    // State of one started run; shared with its thread so that a thread
    // released from its own function never touches the timer object.
    struct Cycle;

private:
    void StopCurrent();

    const std::string name_;
    const bool finite_;
    const uint32_t executionCount_;

    // Guards cycle_ and thread_; never held while waiting for a timer thread.
    std::mutex controlMutex_;
    std::shared_ptr<Cycle> cycle_;
    std::unique_ptr<Thread> thread_;
};

std::shared_ptr<ITimer> CreateTimer(const std::string& name);
std::shared_ptr<ITimer> CreateTimer(const std::string& name, uint32_t executionCount);

#endif
