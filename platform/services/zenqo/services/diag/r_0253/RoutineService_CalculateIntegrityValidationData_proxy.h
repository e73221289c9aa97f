// Proxy of routine 0x0253 (calculateIntegrityValidationData): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0253_ROUTINESERVICE_CALCULATEINTEGRITYVALIDATIONDATA_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0253_ROUTINESERVICE_CALCULATEINTEGRITYVALIDATIONDATA_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0253 {
namespace proxy {

class RoutineService_CalculateIntegrityValidationDataProxy
    : public ara::com::internal::proxy::ProxyBase<RoutineService_CalculateIntegrityValidationDataProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_CalculateIntegrityValidationData::kServiceName;

    explicit RoutineService_CalculateIntegrityValidationDataProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_CalculateIntegrityValidationData::Start::kName),
          Cancel(*this, RoutineService_CalculateIntegrityValidationData::Cancel::kName) {}

    ara::com::internal::proxy::Method<RoutineService_CalculateIntegrityValidationData::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_CalculateIntegrityValidationData::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace r_0253
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
