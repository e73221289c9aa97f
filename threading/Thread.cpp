#include "threading/Thread.h"

#include "KivLibrary/Logger/Logging.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <utility>

namespace {

std::atomic<int64_t> liveThreads{0};

}  // namespace

Thread::Thread(const std::string& name, std::function<void()> function)
    : name_(name), thread_(std::move(function)), counted_(true) {
    NotifyThreadCreated(name_);
}

Thread::~Thread() {
    if (counted_) {
        NotifyThreadDeleted(name_);
    }
    // std::thread would terminate the process here.
    if (thread_.joinable()) {
        Detach();
    }
}

Thread::Thread(Thread&& other) noexcept
    : name_(std::move(other.name_)), thread_(std::move(other.thread_)), counted_(other.counted_) {
    other.name_.clear();
    other.counted_ = false;
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        // The previous thread is released as its destructor would.
        Thread taken(std::move(other));
        swap(taken);
    }
    return *this;
}

void Thread::swap(Thread& other) noexcept {
    std::swap(name_, other.name_);
    std::swap(thread_, other.thread_);
    std::swap(counted_, other.counted_);
}

void Thread::Join() {
    if (!thread_.joinable()) {
        return;
    }
    TryExecute("Thread::Join", [this]() { thread_.join(); });
}

void Thread::Detach() {
    TryExecute("Thread::Detach", [this]() { thread_.detach(); });
}

void NotifyThreadCreated(const std::string& name) {
    liveThreads.fetch_add(1);
    LogInfo() << "Created thread " << name;
}

void NotifyThreadDeleted(const std::string& name) {
    liveThreads.fetch_sub(1);
    LogInfo() << "Deleted thread " << name;
}

int64_t GetThreadCount() { return liveThreads.load(); }

void SleepForMs(int64_t ms) {
    if (ms <= 0) {
        return;
    }
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(ms / 1000);
    remaining.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    timespec request = remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

uint64_t NowMs() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
}
