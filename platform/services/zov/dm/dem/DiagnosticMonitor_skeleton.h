// Skeleton of the DiagnosticMonitor service; the application derives from it.
#ifndef PLATFORM_SERVICES_ZOV_DM_DEM_DIAGNOSTICMONITOR_SKELETON_H
#define PLATFORM_SERVICES_ZOV_DM_DEM_DIAGNOSTICMONITOR_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_common.h"

namespace zov {
namespace dm {
namespace dem {
namespace skeleton {

class DiagnosticMonitorSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = DiagnosticMonitor::kServiceName;

    explicit DiagnosticMonitorSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode),
          MonitorAction(*this, DiagnosticMonitor::MonitorAction::kName) {
        RegisterMethod(DiagnosticMonitor::InitMonitor::kName, &DiagnosticMonitorSkeleton::InitMonitor);
    }

    virtual jux::com::Future<void> InitMonitor(InitMonitorReasonType reason) = 0;

    ara::com::internal::skeleton::Event<DiagnosticMonitor::MonitorAction::EventType> MonitorAction;
};

static_assert(platform::services::HasSignature<DiagnosticMonitor::InitMonitor::Signature>(
                  &DiagnosticMonitorSkeleton::InitMonitor),
              "InitMonitor differs from the interface");

}  // namespace skeleton
}  // namespace dem
}  // namespace dm
}  // namespace zov

#endif
