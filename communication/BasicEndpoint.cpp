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
bool BasicEndpoint::Shutdown() { return RunGated(&BasicEndpoint::ShutdownSteps); }
bool BasicEndpoint::InitializeAndStart() { return RunGated(&BasicEndpoint::InitializeAndStartSteps); }

bool BasicEndpoint::LaunchSteps() {
    std::string description =
        m_kind + " '" + GetServiceName() + "', Instance '" + GetInstance() + "', Version '" + GetVersion() + "': ";
    {
        std::lock_guard<std::mutex> lock(m_descriptionMutex);
        m_description = std::move(description);
    }
    if (TryCreate() && InitializeAndStartSteps()) {
        return true;
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
