#include "KivLibrary/Helper/SystemCall.h"

#include "KivLibrary/Logger/Logging.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// The only state the kernel's handler touches: it must stay lock-free.
std::atomic<uint64_t> pendingSignals{0};
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "pending signal mask must be lock-free");
static_assert(std::atomic<int>::is_always_lock_free, "wake descriptor must be lock-free");

constexpr int kMaxSignal = 64;
constexpr std::chrono::seconds kStopTimeout{1};

// Async-signal-safe, so the signal handler may call it.
void WakeDispatcher() {
    const int fd = wakeFd.load(std::memory_order_acquire);
    if (fd >= 0) {
        const char wake = 0;
        // A full pipe already holds a wake-up; nothing is lost.
        const ssize_t ignored = write(fd, &wake, 1);
        static_cast<void>(ignored);
    }
}

// Async-signal-safe: records the signal and wakes the dispatcher thread.
void RecordSignal(int signalNumber) {
    const int savedErrno = errno;
    if (signalNumber > 0 && signalNumber <= kMaxSignal) {
        pendingSignals.fetch_or(uint64_t{1} << (signalNumber - 1), std::memory_order_acq_rel);
    }
    WakeDispatcher();
    errno = savedErrno;
}

class SignalDispatcher {
public:
    // Never destroyed: the detached thread and late signals may still use it
    // while static objects are torn down.
    static SignalDispatcher& Instance() {
        static SignalDispatcher* const instance = new SignalDispatcher();
        return *instance;
    }

    void Assign(int signalNumber, std::function<void()> function) {
        std::lock_guard<std::mutex> lock(mapMutex_);
        functions_[signalNumber] = std::move(function);
    }

    void Erase(int signalNumber) {
        std::lock_guard<std::mutex> lock(mapMutex_);
        functions_.erase(signalNumber);
    }

    // Starts the dispatcher thread once per process (again in a forked child,
    // which inherits neither the thread nor a pipe of its own).
    bool EnsureRunning() {
        std::lock_guard<std::mutex> lock(threadMutex_);
        const pid_t self = getpid();
        if (ownerPid_ == self) {
            if (stopRequested_.load()) {
                LogError() << "Signal dispatcher is stopped" << VLMR_FILE_LINE;
                return false;
            }
            if (running_) {
                return true;
            }
        }
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            LogError() << "Could not start the signal dispatcher: "
                       << std::error_code(errno, std::generic_category()).message() << VLMR_FILE_LINE;
            return false;
        }
        // The handler must never block on a full pipe.
        fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
        try {
            std::thread thread(&SignalDispatcher::Run, this, fds[0]);
            threadId_ = thread.get_id();
            thread.detach();
        } catch (const std::system_error& e) {
            LogError() << "Could not start the signal dispatcher: " << e.what() << VLMR_FILE_LINE;
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        // A forked child's old descriptors stay open: a handler running right now
        // may still write to them.
        wakeFd.store(fds[1], std::memory_order_release);
        ownerPid_ = self;
        running_ = true;
        stopRequested_.store(false);
        if (!atExitRegistered_) {
            atExitRegistered_ = std::atexit(&SignalDispatcher::StopAtExit) == 0;
        }
        return true;
    }

private:
    SignalDispatcher() = default;

    static void StopAtExit() { Instance().Stop(); }

    // Lets exit() finish: the thread stops before the logging backend and other
    // statics go away; a thread stuck in a registered function is left behind.
    void Stop() {
        std::unique_lock<std::mutex> lock(threadMutex_);
        if (!running_ || ownerPid_ != getpid()) {
            return;
        }
        stopRequested_.store(true);
        WakeDispatcher();
        if (std::this_thread::get_id() == threadId_) {
            return;  // exit() called from a registered function
        }
        threadCv_.wait_for(lock, kStopTimeout, [this] { return !running_; });
    }

    void Run(int readFd) {
        char buffer[64];
        for (;;) {
            const ssize_t count = read(readFd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0 || stopRequested_.load()) {
                break;
            }
            const uint64_t pending = pendingSignals.exchange(0, std::memory_order_acq_rel);
            for (int bit = 0; bit < kMaxSignal; ++bit) {
                if ((pending & (uint64_t{1} << bit)) != 0) {
                    Dispatch(bit + 1);
                }
            }
        }
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (ownerPid_ == getpid()) {
            running_ = false;
        }
        threadCv_.notify_all();
    }

    void Dispatch(int signalNumber) {
        LogInfo() << "Caught signal " << static_cast<int32_t>(signalNumber);
        std::function<void()> function;
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(mapMutex_);
            const auto entry = functions_.find(signalNumber);
            if (entry != functions_.end()) {
                function = entry->second;
                found = true;
            }
        }
        if (found) {
            // An escaping exception would end the dispatcher thread and the process.
            TryExecute("Signal " + std::to_string(signalNumber), function);
        }
    }

    std::mutex mapMutex_;
    std::map<int, std::function<void()>> functions_;

    std::mutex threadMutex_;
    std::condition_variable threadCv_;
    pid_t ownerPid_ = 0;
    bool running_ = false;
    std::atomic<bool> stopRequested_{false};
    std::thread::id threadId_;
    bool atExitRegistered_ = false;
};

}  // namespace

SystemCallImplCommon::SystemCallImplCommon(SignalFunction signalFunction, GetHostNameFunction getHostNameFunction)
    : signal_(signalFunction), getHostName_(getHostNameFunction) {}

bool SystemCallImplCommon::RegisterSigTerm(std::function<void()> function) {
    return Register(SIGTERM, std::move(function));
}

bool SystemCallImplCommon::UnregisterSigTerm(std::function<void()>) { return Unregister(SIGTERM); }

bool SystemCallImplCommon::RegisterSigInt(std::function<void()> function) {
    return Register(SIGINT, std::move(function));
}

bool SystemCallImplCommon::UnregisterSigInt(std::function<void()>) { return Unregister(SIGINT); }

bool SystemCallImplCommon::RegisterSigAbrt(std::function<void()> function) {
    return Register(SIGABRT, std::move(function));
}

bool SystemCallImplCommon::UnregisterSigAbrt(std::function<void()>) { return Unregister(SIGABRT); }

std::string SystemCallImplCommon::GetHostName() {
    if (getHostName_ == nullptr) {
        return {};
    }
    char buffer[65] = {};
    if (getHostName_(buffer, sizeof buffer) != 0) {
        return {};
    }
    // A truncated name need not be terminated.
    buffer[sizeof buffer - 1] = '\0';
    return std::string(buffer);
}

bool SystemCallImplCommon::Register(int signalNumber, std::function<void()> function) {
    SignalDispatcher& dispatcher = SignalDispatcher::Instance();
    dispatcher.Assign(signalNumber, std::move(function));
    if (!dispatcher.EnsureRunning() || signal_ == nullptr) {
        return false;
    }
    return signal_(signalNumber, &RecordSignal) != SIG_ERR;
}

bool SystemCallImplCommon::Unregister(int signalNumber) {
    const bool restored = signal_ != nullptr && signal_(signalNumber, SIG_DFL) != SIG_ERR;
    SignalDispatcher::Instance().Erase(signalNumber);
    return restored;
}

std::shared_ptr<SystemCallAPICommon> GetSystemCallApi() {
    static const std::shared_ptr<SystemCallAPICommon>* const api =
        new std::shared_ptr<SystemCallAPICommon>(std::make_shared<SystemCallImplCommon>(&::signal, &::gethostname));
    return *api;
}
