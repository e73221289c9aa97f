// Bounded pool of threads that grows on demand: a thread is started only when
// a task waits and every started thread is busy, up to the pool's maximum.
#ifndef PLATFORM_COM_DETAIL_THREADPOOL_H
#define PLATFORM_COM_DETAIL_THREADPOOL_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zov {
namespace com {
namespace detail {

using Task = std::function<void()>;

class ThreadPool {
public:
    // A paused pool queues tasks and runs none until Start. While threads of
    // the pool wait for a future, up to `extraWhileWaiting` more threads may
    // be started, so that at most `maxThreads` run while the others wait.
    ThreadPool(std::string name, std::size_t maxThreads, bool startPaused, std::size_t extraWhileWaiting = 0);
    ~ThreadPool();  // stops as Stop does, within the binding's teardown limit
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Queues `run`. A stopped pool refuses the task (false) and runs `drop`
    // instead, in the calling thread.
    bool Post(Task run, Task drop = nullptr);

    // Runs queued tasks (again) after a pause or a stop.
    void Start();

    // Refuses new tasks, runs `drop` of every queued one, waits for the
    // running ones at most `limit` and joins the threads. From inside a task
    // of this pool it waits for nothing (the threads end on their own).
    // False when running tasks outlived the limit: their threads are left to
    // end on their own.
    bool Stop(std::chrono::milliseconds limit);

    // Lets the threads finish everything queued (also what tasks queue
    // meanwhile) within `limit`, then joins them; the pool stays usable.
    // False when tasks still ran at the limit (their threads stay).
    bool Drain(std::chrono::milliseconds limit);

    bool WaitIdle(std::chrono::milliseconds timeout);

    // Whether the calling thread is one of this pool's threads.
    bool IsPoolThread() const;

private:
    struct State;
    static void Worker(std::shared_ptr<State> state);
    bool JoinAll(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds limit);

    std::shared_ptr<State> m_state;
};

}  // namespace detail
}  // namespace com
}  // namespace zov

#endif
