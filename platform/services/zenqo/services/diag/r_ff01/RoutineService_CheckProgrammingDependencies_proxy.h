// Proxy of routine 0xFF01 (CheckProgrammingDependencies): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF01_ROUTINESERVICE_CHECKPROGRAMMINGDEPENDENCIES_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF01_ROUTINESERVICE_CHECKPROGRAMMINGDEPENDENCIES_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_ff01 {
namespace proxy {

class RoutineService_CheckProgrammingDependenciesProxy
    : public ara::com::internal::proxy::ProxyBase<RoutineService_CheckProgrammingDependenciesProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_CheckProgrammingDependencies::kServiceName;

    explicit RoutineService_CheckProgrammingDependenciesProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_CheckProgrammingDependencies::Start::kName),
          Cancel(*this, RoutineService_CheckProgrammingDependencies::Cancel::kName) {}

    ara::com::internal::proxy::Method<RoutineService_CheckProgrammingDependencies::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_CheckProgrammingDependencies::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace r_ff01
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
