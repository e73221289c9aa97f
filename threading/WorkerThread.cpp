#include "threading/WorkerThread.h"

#include "KivLibrary/Logger/Logging.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <limits>
#include <stdexcept>
#include <vector>

struct WorkerThreadImpl::State {
    struct Entry {
        std::shared_ptr<Task> task;
        uint64_t id;
    };
    struct DelayedEntry {
        std::shared_ptr<Task> task;
        uint64_t wakeMs;
        uint64_t id;
    };

    std::mutex mutex;
    std::condition_variable condition;
    bool running = true;
    uint64_t lastId = 0;
    std::deque<Entry> queue;
    // Sorted by ascending wake time; equal wake times keep their queue order.
    std::vector<DelayedEntry> delayed;

    uint64_t NextId() {
        ++lastId;
        if (lastId == 0) {
            lastId = 1;
        }
        return lastId;
    }
};

namespace {

using State = WorkerThreadImpl::State;

// Beyond this a time point no longer fits the clock's range.
constexpr uint64_t kLatestWaitMs = 9000000000000000ULL;

// Delayed tasks are time-outs: they follow elapsed time, never the wall
// clock, which a time sync may step.
uint64_t SteadyNowMs() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

void RunTask(std::unique_lock<std::mutex>& lock, std::shared_ptr<Task> task, const std::string& name) {
    lock.unlock();
    TryExecute(name, [&task]() {
        if (!task) {
            throw std::invalid_argument("empty task");
        }
        task->Run();
    });
    // Released unlocked: the task may hold the last reference to the worker.
    task.reset();
    lock.lock();
}

void ProcessTasks(State& state, const std::string& name) {
    std::unique_lock<std::mutex> lock(state.mutex);
    while (state.running) {
        if (!state.queue.empty()) {
            std::shared_ptr<Task> task = std::move(state.queue.front().task);
            state.queue.pop_front();
            RunTask(lock, std::move(task), name);
            continue;
        }
        if (!state.delayed.empty() && SteadyNowMs() >= state.delayed.front().wakeMs) {
            std::shared_ptr<Task> task = std::move(state.delayed.front().task);
            state.delayed.erase(state.delayed.begin());
            RunTask(lock, std::move(task), name);
            continue;
        }
        if (state.delayed.empty() || state.delayed.front().wakeMs >= kLatestWaitMs) {
            state.condition.wait(lock);
        } else {
            const std::chrono::steady_clock::time_point wake{std::chrono::milliseconds(state.delayed.front().wakeMs)};
            state.condition.wait_until(lock, wake);
        }
    }
    // Dropped here rather than with the worker so that anyone waiting for a
    // queued task to go away (SafeShutDown) is released at once.
    std::deque<State::Entry> queue;
    std::vector<State::DelayedEntry> delayed;
    queue.swap(state.queue);
    delayed.swap(state.delayed);
    lock.unlock();
}

}  // namespace

WorkerThreadImpl::WorkerThreadImpl(const std::string& name) : name_(name), state_(std::make_shared<State>()) {
    std::shared_ptr<State> state = state_;
    thread_ = std::make_shared<Thread>(name_, [state, name]() { ProcessTasks(*state, name); });
    threadId_ = thread_->GetId();
}

WorkerThreadImpl::~WorkerThreadImpl() {
    if (IsOwnThread()) {
        // Last reference dropped inside a task: the thread cannot join
        // itself, so it is let go and ends after this task.
        StopRunning();
        thread_->Detach();
    } else {
        DoShutdown();
    }
    thread_.reset();
}

uint64_t WorkerThreadImpl::Invoke(std::function<void()> function) {
    return Invoke(std::make_shared<FunctionTask>(std::move(function)));
}

uint64_t WorkerThreadImpl::Invoke(std::shared_ptr<Task> task) {
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->running) {
            return 0;
        }
        id = state_->NextId();
        state_->queue.push_back({std::move(task), id});
    }
    WakeUpWorker();
    return id;
}

uint64_t WorkerThreadImpl::InvokeDelayed(std::function<void()> function, uint64_t delayMs) {
    return InvokeDelayed(std::make_shared<FunctionTask>(std::move(function)), delayMs);
}

uint64_t WorkerThreadImpl::InvokeDelayed(std::shared_ptr<Task> task, uint64_t delayMs) {
    const uint64_t now = SteadyNowMs();
    const uint64_t wakeMs =
        delayMs > std::numeric_limits<uint64_t>::max() - now ? std::numeric_limits<uint64_t>::max() : now + delayMs;
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->running) {
            return 0;
        }
        id = state_->NextId();
        auto& delayed = state_->delayed;
        const auto position =
            std::upper_bound(delayed.begin(), delayed.end(), wakeMs,
                             [](uint64_t wake, const State::DelayedEntry& entry) { return wake < entry.wakeMs; });
        delayed.insert(position, {std::move(task), wakeMs, id});
    }
    WakeUpWorker();
    return id;
}

bool WorkerThreadImpl::RemoveTask(uint64_t id) {
    if (id == 0) {
        return false;
    }
    std::shared_ptr<Task> removed;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        auto& queue = state_->queue;
        auto normal = std::find_if(queue.begin(), queue.end(), [id](const State::Entry& e) { return e.id == id; });
        if (normal != queue.end()) {
            removed = std::move(normal->task);
            queue.erase(normal);
            found = true;
        } else {
            auto& delayed = state_->delayed;
            auto entry =
                std::find_if(delayed.begin(), delayed.end(), [id](const State::DelayedEntry& e) { return e.id == id; });
            if (entry != delayed.end()) {
                removed = std::move(entry->task);
                delayed.erase(entry);
                found = true;
            }
        }
    }
    // The removed task is destroyed unlocked; its destructor may call back in.
    removed.reset();
    return found;
}

bool WorkerThreadImpl::Shutdown() {
    DoShutdown();
    return true;
}

void WorkerThreadImpl::WakeUpWorker() { state_->condition.notify_one(); }

void WorkerThreadImpl::StopRunning() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->running = false;
    }
    WakeUpWorker();
}

void WorkerThreadImpl::DoShutdown() {
    StopRunning();
    if (IsOwnThread()) {
        // Called from a task: the loop ends after it; a self-join would fail.
        return;
    }
    std::lock_guard<std::mutex> lock(joinMutex_);
    thread_->Join();
}

std::shared_ptr<IWorkerThread> CreateWorkerThread(const std::string& name) {
    return std::make_shared<WorkerThreadImpl>(name);
}

void SafeShutDown(std::shared_ptr<WorkerThread>& worker) {
    if (!worker) {
        return;
    }
    std::shared_ptr<WorkerThread> taken = std::move(worker);
    worker.reset();
    const auto* impl = dynamic_cast<const WorkerThreadImpl*>(taken.get());
    // On the worker's own thread the marker could only run after we return.
    if (impl == nullptr || !impl->IsOwnThread()) {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> future = done->get_future();
        if (taken->Invoke([done]() { done->set_value(); }) != 0) {
            // The queued function now holds the only promise: when the worker
            // drops it unrun, the broken promise still ends the wait.
            done.reset();
            future.wait();
        }
    }
    taken.reset();
}

void SafeShutDown(std::shared_ptr<IWorkerThread>& worker) {
    std::shared_ptr<WorkerThread> base = std::move(worker);
    worker.reset();
    SafeShutDown(base);
}
