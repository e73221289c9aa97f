// Proxy of the DiagnosticMonitor service (the simulated diagnostic manager uses it).
#ifndef PLATFORM_SERVICES_ZOV_DM_DEM_DIAGNOSTICMONITOR_PROXY_H
#define PLATFORM_SERVICES_ZOV_DM_DEM_DIAGNOSTICMONITOR_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_common.h"

namespace zov {
namespace dm {
namespace dem {
namespace proxy {

class DiagnosticMonitorProxy : public ara::com::internal::proxy::ProxyBase<DiagnosticMonitorProxy> {
public:
    static constexpr const char* kServiceName = DiagnosticMonitor::kServiceName;

    explicit DiagnosticMonitorProxy(const HandleType& handle)
        : ProxyBase(handle),
          InitMonitor(*this, DiagnosticMonitor::InitMonitor::kName),
          MonitorAction(*this, DiagnosticMonitor::MonitorAction::kName) {}

    ara::com::internal::proxy::Method<DiagnosticMonitor::InitMonitor::Signature> InitMonitor;
    ara::com::internal::proxy::Event<DiagnosticMonitor::MonitorAction::EventType> MonitorAction;
};

}  // namespace proxy
}  // namespace dem
}  // namespace dm
}  // namespace zov

#endif
