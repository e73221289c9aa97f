#include "platform/com/detail/ThreadPool.h"

#include <exception>
#include <utility>

#include "platform/ara/log/logging.h"
#include "platform/com/Future.h"
#include "platform/com/detail/Core.h"

namespace zov {
namespace com {
namespace detail {

enum class PoolMode : uint8_t { kPaused, kRunning, kStopped };

// Final: deleted through its own type by the shared pointers, while its base is
// only a hook that is never deleted through.
struct ThreadPool::State final : jux::com::detail::WaitHook, std::enable_shared_from_this<ThreadPool::State> {
    State(std::string n, std::size_t m, bool paused, std::size_t extra)
        : name(std::move(n)),
          maxThreads(m == 0 ? 1 : m),
          hardMax(maxThreads + extra),
          mode(paused ? PoolMode::kPaused : PoolMode::kRunning) {}

    const std::string name;
    const std::size_t maxThreads;
    const std::size_t hardMax;
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable idle;
    std::deque<std::pair<Task, Task>> queue;
    PoolMode mode;
    bool draining = false;
    std::size_t threads = 0;  // started and not yet ended
    std::size_t busy = 0;     // running a task
    std::size_t blocked = 0;  // running a task that waits for a future
    std::vector<std::thread> workers;

    // Under mutex: one more thread when a task would otherwise wait.
    void SpawnIfNeeded(const std::shared_ptr<State>& self) {
        while (mode == PoolMode::kRunning && queue.size() > threads - busy && threads - blocked < maxThreads &&
               threads < hardMax) {
            ++threads;
            workers.emplace_back(&ThreadPool::Worker, self);
        }
    }

    void BeginWait() noexcept override {
        std::lock_guard<std::mutex> lock(mutex);
        ++blocked;
        try {
            SpawnIfNeeded(shared_from_this());
        } catch (...) {
            // no thread to spare: the queued work waits for a running one
        }
    }

    void EndWait() noexcept override {
        std::lock_guard<std::mutex> lock(mutex);
        --blocked;
    }
};

namespace {
thread_local const void* tls_pool = nullptr;
}

ThreadPool::ThreadPool(std::string name, std::size_t maxThreads, bool startPaused, std::size_t extraWhileWaiting)
    : m_state(std::make_shared<State>(std::move(name), maxThreads, startPaused, extraWhileWaiting)) {}

ThreadPool::~ThreadPool() { Stop(TeardownLimit()); }

void ThreadPool::Worker(std::shared_ptr<State> state) {
    tls_pool = state.get();
    if (state->hardMax > state->maxThreads) {
        jux::com::detail::tls_waitHook = state.get();
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->work.wait(lock, [&] {
            return state->mode == PoolMode::kStopped || state->draining ||
                   (state->mode == PoolMode::kRunning && !state->queue.empty());
        });
        if (state->mode != PoolMode::kRunning || state->queue.empty()) {
            break;
        }
        auto task = std::move(state->queue.front());
        state->queue.pop_front();
        ++state->busy;
        lock.unlock();
        try {
            task.first();
        } catch (...) {
            LogCaught(state->name.c_str(), std::current_exception());
        }
        task = {};
        lock.lock();
        --state->busy;
        if (state->busy == 0 && state->queue.empty()) {
            state->idle.notify_all();
        }
    }
    --state->threads;
    state->idle.notify_all();
}

bool ThreadPool::Post(Task run, Task drop) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    if (m_state->mode == PoolMode::kStopped) {
        lock.unlock();
        if (drop) {
            drop();
        }
        return false;
    }
    m_state->queue.emplace_back(std::move(run), std::move(drop));
    m_state->SpawnIfNeeded(m_state);
    m_state->work.notify_one();
    return true;
}

void ThreadPool::Start() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->mode = PoolMode::kRunning;
    m_state->SpawnIfNeeded(m_state);
    m_state->work.notify_all();
}

bool ThreadPool::Stop(std::chrono::milliseconds limit) {
    std::deque<std::pair<Task, Task>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->mode = PoolMode::kStopped;
        dropped.swap(m_state->queue);
        m_state->work.notify_all();
    }
    for (auto& task : dropped) {
        if (task.second) {
            try {
                task.second();
            } catch (...) {
                LogCaught(m_state->name.c_str(), std::current_exception());
            }
        }
    }
    dropped.clear();
    std::unique_lock<std::mutex> lock(m_state->mutex);
    if (IsPoolThread()) {
        // Waiting here would wait for ourselves; the threads end on their own.
        for (auto& worker : m_state->workers) {
            worker.detach();
        }
        m_state->workers.clear();
        return true;
    }
    return JoinAll(lock, limit);
}

bool ThreadPool::Drain(std::chrono::milliseconds limit) {
    if (IsPoolThread()) {
        return true;
    }
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->draining = true;
    m_state->work.notify_all();
    const bool joined = JoinAll(lock, limit);
    m_state->draining = false;
    return joined;
}

bool ThreadPool::JoinAll(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit) {
    const bool ended = m_state->idle.wait_for(lock, limit, [&] { return m_state->threads == 0; });
    std::vector<std::thread> workers;
    workers.swap(m_state->workers);
    lock.unlock();
    for (auto& worker : workers) {
        if (ended) {
            worker.join();
        } else {
            // Its task waits for something that does not come; the thread
            // keeps the pool's state alive and ends when the task does.
            worker.detach();
        }
    }
    lock.lock();
    if (!ended) {
        ara::log::LogError() << "ara::com " << m_state->name.c_str() << ": " << static_cast<uint64_t>(m_state->threads)
                             << " thread(s) still busy after " << static_cast<int64_t>(limit.count())
                             << " ms, left behind";
    }
    return ended;
}

bool ThreadPool::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->idle.wait_for(lock, timeout, [&] { return m_state->queue.empty() && m_state->busy == 0; });
}

bool ThreadPool::IsPoolThread() const { return tls_pool == m_state.get(); }

}  // namespace detail
}  // namespace com
}  // namespace zov
