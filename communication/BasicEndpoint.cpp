#include "communication/BasicEndpoint.h"

#include <utility>

#include "KivLibrary/Logger/Logging.h"

namespace {

class LifecycleScope {
public:
    LifecycleScope(const std::function<void()>& leave) : m_leave(leave) {}
    ~LifecycleScope() { m_leave(); }
    LifecycleScope(const LifecycleScope&) = delete;
    LifecycleScope& operator=(const LifecycleScope&) = delete;

private:
    std::function<void()> m_leave;
};

}  // namespace

BasicEndpoint::BasicEndpoint(std::string instance, std::string kind)
    : m_instance(std::move(instance)), m_kind(std::move(kind)) {}

std::string BasicEndpoint::GetDescription() const {
    std::lock_guard<std::mutex> lock(m_descriptionMutex);
    return m_description;
}

bool BasicEndpoint::EnterLifecycle(const std::function<bool()>& abandon) {
    std::unique_lock<std::mutex> lock(m_lifecycleMutex);
    m_lifecycleCv.wait(lock, [&] { return !m_lifecycleBusy || (abandon && abandon()); });
    if (abandon && abandon()) {
        return false;
    }
    m_lifecycleBusy = true;
    return true;
}

void BasicEndpoint::LeaveLifecycle() {
    {
        std::lock_guard<std::mutex> lock(m_lifecycleMutex);
        m_lifecycleBusy = false;
    }
    m_lifecycleCv.notify_all();
}

void BasicEndpoint::WakeLifecycleWaiters() {
    { std::lock_guard<std::mutex> lock(m_lifecycleMutex); }
    m_lifecycleCv.notify_all();
}

bool BasicEndpoint::RunStep(const char* name, void (BasicEndpoint::*step)()) {
    LogInfo() << GetDescription() << name;
    return TryExecute(name, [this, step] { (this->*step)(); });
}

bool BasicEndpoint::TryCreate() { return RunStep("TryCreate", &BasicEndpoint::Create); }
bool BasicEndpoint::TryDelete() { return RunStep("TryDelete", &BasicEndpoint::Delete); }
bool BasicEndpoint::TryInitialize() { return RunStep("TryInitialize", &BasicEndpoint::Initialize); }
bool BasicEndpoint::TryUninitialize() { return RunStep("TryUninitialize", &BasicEndpoint::Uninitialize); }
bool BasicEndpoint::TryStart() { return RunStep("TryStart", &BasicEndpoint::Start); }
bool BasicEndpoint::TryStop() { return RunStep("TryStop", &BasicEndpoint::Stop); }

bool BasicEndpoint::RunGated(bool (BasicEndpoint::*steps)()) {
    EnterLifecycle(nullptr);
    LifecycleScope scope([this] { LeaveLifecycle(); });
    return (this->*steps)();
}

bool BasicEndpoint::Launch() { return RunGated(&BasicEndpoint::LaunchSteps); }

bool BasicEndpoint::Shutdown() {
    std::chrono::milliseconds limit;
    {
        std::unique_lock<std::mutex> lock(m_lifecycleMutex);
        ++m_shutdownRequests;
        limit = m_shutdownWaitLimit;
        m_lifecycleCv.notify_all();
        // A Launch blocked in a step that WaitUnlessShutdown cannot reach
        // must not hold the owner's shutdown for ever.
        if (!m_lifecycleCv.wait_for(lock, limit, [this] { return !m_lifecycleBusy; })) {
            lock.unlock();
            LogError() << GetDescription() << "Shutdown: the running launch did not end within " << limit.count()
                       << " ms, it undoes itself when it ends";
            return false;
        }
        m_lifecycleBusy = true;
    }
    LifecycleScope scope([this] { LeaveLifecycle(); });
    return ShutdownSteps();
}

void BasicEndpoint::SetShutdownWaitLimit(std::chrono::milliseconds limit) {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    m_shutdownWaitLimit = limit;
}

bool BasicEndpoint::WaitUnlessShutdown(std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> lock(m_lifecycleMutex);
    return !m_lifecycleCv.wait_for(lock, interval, [this] { return m_shutdownRequests != m_shutdownRequestsAtLaunch; });
}

bool BasicEndpoint::ShutdownRequestedSinceLaunch() {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    return m_shutdownRequests != m_shutdownRequestsAtLaunch;
}
bool BasicEndpoint::InitializeAndStart() { return RunGated(&BasicEndpoint::InitializeAndStartSteps); }

bool BasicEndpoint::LaunchSteps() {
    {
        std::lock_guard<std::mutex> lock(m_lifecycleMutex);
        m_shutdownRequestsAtLaunch = m_shutdownRequests;
    }
    std::string description =
        m_kind + " '" + GetServiceName() + "', Instance '" + GetInstance() + "', Version '" + GetVersion() + "': ";
    {
        std::lock_guard<std::mutex> lock(m_descriptionMutex);
        m_description = std::move(description);
    }
    if (TryCreate()) {
        if (ShutdownRequestedSinceLaunch()) {
            // The Shutdown gave up waiting for this Launch: it ends stopped.
            TryDelete();
            return false;
        }
        if (InitializeAndStartSteps()) {
            if (!ShutdownRequestedSinceLaunch()) {
                return true;
            }
            ShutdownSteps();
            return false;
        }
    }
    TryDelete();
    return false;
}

bool BasicEndpoint::InitializeAndStartSteps() {
    if (TryInitialize()) {
        if (TryStart()) {
            return true;
        }
        TryStop();
    }
    TryUninitialize();
    return false;
}

bool BasicEndpoint::ShutdownSteps() {
    const bool stopped = TryStop();
    const bool uninitialized = TryUninitialize();
    const bool deleted = TryDelete();
    return stopped && uninitialized && deleted;
}
