// Named thread wrapper through which the foundation layer starts its threads.
// It keeps a process-wide count of live threads and logs their creation and
// destruction; joins and detaches go through TryExecute so a failure is
// logged instead of thrown.
#ifndef THREADING_THREAD_H
#define THREADING_THREAD_H

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class Thread {
public:
    // Starts the thread, then counts and logs it.
    Thread(const std::string& name, std::function<void()> function);
    // Uncounts and logs. A thread nobody joined is detached rather than
    // taking the process down.
    ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Name, handle and the count entry travel together; the source is left empty.
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    void swap(Thread& other) noexcept;

    // Does nothing when the thread is not joinable (already joined or detached).
    void Join();
    void Detach();

    bool Joinable() const { return thread_.joinable(); }
    std::thread::id GetId() const { return thread_.get_id(); }
    const std::string& GetName() const { return name_; }

private:
    std::string name_;
    std::thread thread_;
    bool counted_ = false;
};

inline void swap(Thread& left, Thread& right) noexcept { left.swap(right); }

void NotifyThreadCreated(const std::string& name);
void NotifyThreadDeleted(const std::string& name);
int64_t GetThreadCount();

// Sleeps the full time even when signals interrupt it; nothing for ms <= 0.
void SleepForMs(int64_t ms);
// Wall-clock milliseconds since the epoch.
uint64_t NowMs();

#endif
