// The diagnostic manager's side of the DiagnosticMonitor instances, as far as
// the DTCs need it: finds each named instance whenever it is offered,
// subscribes to its MonitorAction event and records the last action and the
// number of actions per instance; it can also call InitMonitor.
// Not part of the product.
//
// Threading: the find-service and receive handlers run on binding threads;
// every query may be called from any thread. The destructor stops the
// searches and waits for running handlers.
#ifndef SIM_DIAGNOSTICMONITORRECORDER_H
#define SIM_DIAGNOSTICMONITORRECORDER_H

#include "platform/com/Types.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_proxy.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class DiagnosticMonitorRecorder {
public:
    using Action = zov::dm::dem::MonitorActionType;

    explicit DiagnosticMonitorRecorder(const std::vector<std::string>& instances);
    ~DiagnosticMonitorRecorder();
    DiagnosticMonitorRecorder(const DiagnosticMonitorRecorder&) = delete;
    DiagnosticMonitorRecorder& operator=(const DiagnosticMonitorRecorder&) = delete;

    // Empty until the instance sent an action.
    std::optional<Action> LastAction(const std::string& instance) const;
    std::size_t ActionCount(const std::string& instance) const;
    // Waits until the instance has sent `count` actions in all; false on time-out.
    bool WaitForActionCount(const std::string& instance, std::size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Waits until the instance is found and subscribed; false on time-out.
    bool WaitForConnected(const std::string& instance,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Calls InitMonitor; false when the instance is not found or the call
    // fails or does not answer within the time-out.
    bool InitMonitor(const std::string& instance, zov::dm::dem::InitMonitorReasonType reason,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    struct Monitor {
        std::shared_ptr<zov::dm::dem::proxy::DiagnosticMonitorProxy> proxy;
        std::optional<Action> lastAction;
        std::size_t count = 0;
    };

    void OnFound(const std::string& instance, const zov::com::ServiceHandleContainer<zov::com::HandleType>& handles);
    void OnAction(const std::string& instance);
    std::shared_ptr<zov::dm::dem::proxy::DiagnosticMonitorProxy> Proxy(const std::string& instance) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::map<std::string, Monitor> m_monitors;
    std::vector<zov::com::FindServiceHandle> m_searches;
};

}  // namespace sim

#endif
