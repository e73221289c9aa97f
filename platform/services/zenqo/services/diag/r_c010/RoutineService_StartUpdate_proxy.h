// Proxy of routine 0xC010 (StartUpdate): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C010_ROUTINESERVICE_STARTUPDATE_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C010_ROUTINESERVICE_STARTUPDATE_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_c010 {
namespace proxy {

class RoutineService_StartUpdateProxy : public ara::com::internal::proxy::ProxyBase<RoutineService_StartUpdateProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_StartUpdate::kServiceName;

    explicit RoutineService_StartUpdateProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_StartUpdate::Start::kName),
          Stop(*this, RoutineService_StartUpdate::Stop::kName),
          Cancel(*this, RoutineService_StartUpdate::Cancel::kName),
          RequestResults(*this, RoutineService_StartUpdate::RequestResults::kName) {}

    ara::com::internal::proxy::Method<RoutineService_StartUpdate::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_StartUpdate::Stop::Signature> Stop;
    ara::com::internal::proxy::Method<RoutineService_StartUpdate::Cancel::Signature> Cancel;
    ara::com::internal::proxy::Method<RoutineService_StartUpdate::RequestResults::Signature> RequestResults;
};

}  // namespace proxy
}  // namespace r_c010
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
