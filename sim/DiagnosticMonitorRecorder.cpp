#include "sim/DiagnosticMonitorRecorder.h"

#include "platform/com/Runtime.h"

#include <utility>

namespace sim {

using zov::dm::dem::proxy::DiagnosticMonitorProxy;

DiagnosticMonitorRecorder::DiagnosticMonitorRecorder(const std::vector<std::string>& instances) {
    for (const std::string& instance : instances) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_monitors[instance];
    }
    for (const std::string& instance : instances) {
        auto handle = DiagnosticMonitorProxy::StartFindService(
            [this, instance](zov::com::ServiceHandleContainer<zov::com::HandleType> handles,
                             zov::com::FindServiceHandle) { OnFound(instance, handles); },
            instance);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_searches.push_back(handle);
    }
}

DiagnosticMonitorRecorder::~DiagnosticMonitorRecorder() {
    std::vector<zov::com::FindServiceHandle> searches;
    std::vector<std::shared_ptr<DiagnosticMonitorProxy>> proxies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        searches.swap(m_searches);
    }
    for (const auto& search : searches) {
        DiagnosticMonitorProxy::StopFindService(search);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_monitors) {
            proxies.push_back(std::move(entry.second.proxy));
        }
    }
    // The proxies go outside the mutex: their events wait for a running
    // receive handler, which takes it.
    proxies.clear();
}

void DiagnosticMonitorRecorder::OnFound(const std::string& instance,
                                        const zov::com::ServiceHandleContainer<zov::com::HandleType>& handles) {
    if (handles.empty() || Proxy(instance)) {
        // The subscription outlives a withdrawal: a re-offer of the same
        // instance delivers to it again.
        return;
    }
    auto proxy = std::make_shared<DiagnosticMonitorProxy>(handles.front());
    proxy->MonitorAction.SetReceiveHandler([this, instance] { OnAction(instance); });
    proxy->MonitorAction.Subscribe(64);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_monitors[instance].proxy = std::move(proxy);
    m_changed.notify_all();
}

void DiagnosticMonitorRecorder::OnAction(const std::string& instance) {
    const auto proxy = Proxy(instance);
    if (!proxy) {
        return;
    }
    std::vector<Action> actions;
    proxy->MonitorAction.GetNewSamples(
        [&actions](ara::com::SamplePtr<const Action> sample) { actions.push_back(*sample); });
    if (actions.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Monitor& monitor = m_monitors[instance];
    monitor.lastAction = actions.back();
    monitor.count += actions.size();
    m_changed.notify_all();
}

std::shared_ptr<DiagnosticMonitorProxy> DiagnosticMonitorRecorder::Proxy(const std::string& instance) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_monitors.find(instance);
    return it == m_monitors.end() ? nullptr : it->second.proxy;
}

std::optional<DiagnosticMonitorRecorder::Action> DiagnosticMonitorRecorder::LastAction(
    const std::string& instance) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_monitors.find(instance);
    return it == m_monitors.end() ? std::nullopt : it->second.lastAction;
}

std::size_t DiagnosticMonitorRecorder::ActionCount(const std::string& instance) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_monitors.find(instance);
    return it == m_monitors.end() ? 0 : it->second.count;
}

bool DiagnosticMonitorRecorder::WaitForActionCount(const std::string& instance, std::size_t count,
                                                   std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        const auto it = m_monitors.find(instance);
        return it != m_monitors.end() && it->second.count >= count;
    });
}

bool DiagnosticMonitorRecorder::WaitForConnected(const std::string& instance, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        const auto it = m_monitors.find(instance);
        return it != m_monitors.end() && it->second.proxy != nullptr;
    });
}

bool DiagnosticMonitorRecorder::InitMonitor(const std::string& instance, zov::dm::dem::InitMonitorReasonType reason,
                                            std::chrono::milliseconds timeout) {
    const auto proxy = Proxy(instance);
    if (!proxy) {
        return false;
    }
    try {
        auto future = proxy->InitMonitor(reason);
        if (future.wait_for(timeout) != jux::com::future_status::ready) {
            return false;
        }
        future.get();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace sim
