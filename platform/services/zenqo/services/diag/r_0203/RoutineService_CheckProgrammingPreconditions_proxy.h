// Proxy of routine 0x0203 (CheckProgrammingPreconditions): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0203_ROUTINESERVICE_CHECKPROGRAMMINGPRECONDITIONS_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0203_ROUTINESERVICE_CHECKPROGRAMMINGPRECONDITIONS_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0203 {
namespace proxy {

class RoutineService_CheckProgrammingPreconditionsProxy
    : public ara::com::internal::proxy::ProxyBase<RoutineService_CheckProgrammingPreconditionsProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_CheckProgrammingPreconditions::kServiceName;

    explicit RoutineService_CheckProgrammingPreconditionsProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_CheckProgrammingPreconditions::Start::kName),
          Cancel(*this, RoutineService_CheckProgrammingPreconditions::Cancel::kName) {}

    ara::com::internal::proxy::Method<RoutineService_CheckProgrammingPreconditions::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_CheckProgrammingPreconditions::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace r_0203
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
