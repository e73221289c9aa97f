// Proxy of routine 0x029A (calculateModuleHashValue): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_029A_ROUTINESERVICE_CALCULATEMODULEHASHVALUE_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_029A_ROUTINESERVICE_CALCULATEMODULEHASHVALUE_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_029a {
namespace proxy {

class RoutineService_CalculateModuleHashValueProxy
    : public ara::com::internal::proxy::ProxyBase<RoutineService_CalculateModuleHashValueProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_CalculateModuleHashValue::kServiceName;

    explicit RoutineService_CalculateModuleHashValueProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_CalculateModuleHashValue::Start::kName),
          Stop(*this, RoutineService_CalculateModuleHashValue::Stop::kName),
          Cancel(*this, RoutineService_CalculateModuleHashValue::Cancel::kName),
          RequestResults(*this, RoutineService_CalculateModuleHashValue::RequestResults::kName) {}

    ara::com::internal::proxy::Method<RoutineService_CalculateModuleHashValue::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_CalculateModuleHashValue::Stop::Signature> Stop;
    ara::com::internal::proxy::Method<RoutineService_CalculateModuleHashValue::Cancel::Signature> Cancel;
    ara::com::internal::proxy::Method<RoutineService_CalculateModuleHashValue::RequestResults::Signature>
        RequestResults;
};

}  // namespace proxy
}  // namespace r_029a
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
