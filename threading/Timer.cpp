#include "threading/Timer.h"

#include "KivLibrary/Logger/Logging.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <utility>

struct TimerImpl::Cycle {
    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<bool> running{true};
    bool finished = false;  // guarded by mutex
    // Written under the timer's control mutex before the cycle is published.
    std::thread::id threadId;

    void Stop() {
        std::lock_guard<std::mutex> lock(mutex);
        running = false;
        condition.notify_all();
    }

    void MarkFinished() {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        condition.notify_all();
    }

    void WaitFinished() {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [this]() { return finished; });
    }
};

namespace {

using Cycle = TimerImpl::Cycle;
using SteadyClock = std::chrono::steady_clock;

// Keeps the deadline inside the clock's range for absurdly long intervals.
constexpr unsigned long kLongestWaitMs = 100UL * 365 * 24 * 3600 * 1000;

void RunTimerLoop(const std::shared_ptr<Cycle>& cycle, unsigned long intervalMs, const std::string& name,
                  const std::function<void()>& function, bool finite, uint32_t executionCount) {
    uint32_t executions = 0;
    for (;;) {
        const auto start = SteadyClock::now();
        {
            std::unique_lock<std::mutex> lock(cycle->mutex);
            const auto spentMs = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
            if (intervalMs > static_cast<unsigned long>(spentMs.count())) {
                const auto deadline = start + std::chrono::milliseconds(std::min(intervalMs, kLongestWaitMs));
                while (cycle->running && SteadyClock::now() < deadline) {
                    cycle->condition.wait_until(lock, deadline);
                }
            }
            if (!cycle->running) {
                LogInfo() << "Stopped " << name;
            }
        }
        if (!cycle->running) {
            break;
        }
        // An escaping exception would end the process on this thread.
        TryExecute(name, function);
        if (finite && ++executions >= executionCount) {
            cycle->Stop();
            break;
        }
        if (!cycle->running) {
            break;
        }
    }
    cycle->MarkFinished();
}

// Ends a stopped cycle: joins its thread, or detaches it when called from
// that very thread; without the thread (another caller is joining it) waits
// until the cycle's function can no longer run.
void Retire(Cycle& cycle, std::unique_ptr<Thread> thread) {
    const bool ownThread = cycle.threadId == std::this_thread::get_id();
    if (thread) {
        if (ownThread) {
            thread->Detach();
        } else {
            thread->Join();
        }
        thread.reset();
    } else if (!ownThread) {
        cycle.WaitFinished();
    }
}

}  // namespace

TimerImpl::TimerImpl(const std::string& name) : name_(name), finite_(false), executionCount_(0) {}

TimerImpl::TimerImpl(const std::string& name, uint32_t executionCount)
    : name_(name), finite_(true), executionCount_(executionCount) {}

TimerImpl::~TimerImpl() { StopCurrent(); }

void TimerImpl::StopCurrent() {
    std::shared_ptr<Cycle> cycle;
    std::unique_ptr<Thread> thread;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        cycle = cycle_;
        thread = std::move(thread_);
    }
    if (!cycle) {
        return;
    }
    cycle->Stop();
    Retire(*cycle, std::move(thread));
}

bool TimerImpl::timer_start(std::function<void()> function, unsigned long intervalMs) {
    StopCurrent();
    if (finite_ && executionCount_ == 0) {
        LogError() << "Wrong count of executions for finite timer!";
        return false;
    }

    std::shared_ptr<Cycle> replaced;
    std::unique_ptr<Thread> replacedThread;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        // Another caller may have started a run since StopCurrent returned.
        replaced = std::move(cycle_);
        replacedThread = std::move(thread_);
        if (replaced) {
            replaced->Stop();
        }
        auto cycle = std::make_shared<Cycle>();
        const bool finite = finite_;
        const uint32_t executionCount = executionCount_;
        thread_ = std::make_unique<Thread>(
            name_, [cycle, intervalMs, name = name_, function = std::move(function), finite, executionCount]() {
                RunTimerLoop(cycle, intervalMs, name, function, finite, executionCount);
            });
        cycle->threadId = thread_->GetId();
        cycle_ = std::move(cycle);
    }
    if (replaced) {
        Retire(*replaced, std::move(replacedThread));
    }
    return true;
}

bool TimerImpl::timer_stop() {
    StopCurrent();
    return true;
}

bool TimerImpl::is_running() {
    std::lock_guard<std::mutex> lock(controlMutex_);
    return cycle_ && cycle_->running;
}

std::shared_ptr<ITimer> CreateTimer(const std::string& name) { return std::make_shared<TimerImpl>(name); }

std::shared_ptr<ITimer> CreateTimer(const std::string& name, uint32_t executionCount) {
    return std::make_shared<TimerImpl>(name, executionCount);
}
