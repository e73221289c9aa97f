// Named thread that runs queued tasks one at a time: normal tasks in queue
// order, delayed tasks once their wall-clock wake time has come, normal tasks
// first. Every queued task gets an id (never 0) by which it can be removed
// before it starts; 0 means the call was refused.
#ifndef THREADING_WORKERTHREAD_H
#define THREADING_WORKERTHREAD_H

#include "threading/Thread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class Task {
public:
    virtual ~Task() = default;
    virtual void Run() = 0;
};

class WorkerThread {
public:
    virtual ~WorkerThread() = default;
    virtual uint64_t Invoke(std::function<void()> function) = 0;
    virtual uint64_t Invoke(std::shared_ptr<Task> task) = 0;
    virtual uint64_t InvokeDelayed(std::function<void()> function, uint64_t delayMs) = 0;
    virtual uint64_t InvokeDelayed(std::shared_ptr<Task> task, uint64_t delayMs) = 0;
    virtual bool RemoveTask(uint64_t id) = 0;
};

class WorkerThreadManager {
public:
    virtual ~WorkerThreadManager() = default;
    virtual bool Shutdown() = 0;
};

class IWorkerThread : public WorkerThread, public WorkerThreadManager {};

class FunctionTask : public Task {
public:
    explicit FunctionTask(std::function<void()> function) : function_(std::move(function)) {}
    // An empty function throws std::bad_function_call.
    void Run() override { function_(); }

private:
    std::function<void()> function_;
};

class WorkerThreadImpl : public IWorkerThread {
public:
    explicit WorkerThreadImpl(const std::string& name);
    // Stops and joins the thread; queued tasks are dropped unrun. When the
    // last reference goes away on the worker's own thread (inside a task),
    // the thread is detached and ends after that task instead.
    ~WorkerThreadImpl() override;

    WorkerThreadImpl(const WorkerThreadImpl&) = delete;
    WorkerThreadImpl& operator=(const WorkerThreadImpl&) = delete;

    uint64_t Invoke(std::function<void()> function) override;
    uint64_t Invoke(std::shared_ptr<Task> task) override;
    uint64_t InvokeDelayed(std::function<void()> function, uint64_t delayMs) override;
    uint64_t InvokeDelayed(std::shared_ptr<Task> task, uint64_t delayMs) override;
    bool RemoveTask(uint64_t id) override;
    bool Shutdown() override;

    bool IsOwnThread() const { return threadId_ == std::this_thread::get_id(); }

    // Queues and flags, shared with the thread so that a detached thread
    // never touches a destroyed worker.
    struct State;

private:
    void WakeUpWorker();
    void DoShutdown();
    void StopRunning();

    const std::string name_;
    std::shared_ptr<State> state_;
    std::shared_ptr<Thread> thread_;
    std::thread::id threadId_;
    // Serialises joins of the thread handle between concurrent shutdowns.
    std::mutex joinMutex_;
};

std::shared_ptr<IWorkerThread> CreateWorkerThread(const std::string& name);

// Lets every normal task queued so far run, then drops the caller's reference
// (the variable is left empty); the worker is stopped and joined only when
// that was the last one. Delayed tasks still pending are dropped then.
// Safe on the worker's own thread too: it then cannot wait for the queue
// and only drops the reference.
void SafeShutDown(std::shared_ptr<WorkerThread>& worker);
void SafeShutDown(std::shared_ptr<IWorkerThread>& worker);

#endif
