// Proxy of routine 0xC00E (CheckUpdate): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C00E_ROUTINESERVICE_CHECKUPDATE_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C00E_ROUTINESERVICE_CHECKUPDATE_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_c00e {
namespace proxy {

class RoutineService_CheckUpdateProxy : public ara::com::internal::proxy::ProxyBase<RoutineService_CheckUpdateProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_CheckUpdate::kServiceName;

    explicit RoutineService_CheckUpdateProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_CheckUpdate::Start::kName),
          Stop(*this, RoutineService_CheckUpdate::Stop::kName),
          Cancel(*this, RoutineService_CheckUpdate::Cancel::kName),
          RequestResults(*this, RoutineService_CheckUpdate::RequestResults::kName) {}

    ara::com::internal::proxy::Method<RoutineService_CheckUpdate::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_CheckUpdate::Stop::Signature> Stop;
    ara::com::internal::proxy::Method<RoutineService_CheckUpdate::Cancel::Signature> Cancel;
    ara::com::internal::proxy::Method<RoutineService_CheckUpdate::RequestResults::Signature> RequestResults;
};

}  // namespace proxy
}  // namespace r_c00e
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
