// Proxy of routine 0x0202 (CheckMemory): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0202_ROUTINESERVICE_CHECKMEMORY_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0202_ROUTINESERVICE_CHECKMEMORY_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0202 {
namespace proxy {

class RoutineService_CheckMemoryProxy : public ara::com::internal::proxy::ProxyBase<RoutineService_CheckMemoryProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_CheckMemory::kServiceName;

    explicit RoutineService_CheckMemoryProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_CheckMemory::Start::kName),
          Cancel(*this, RoutineService_CheckMemory::Cancel::kName) {}

    ara::com::internal::proxy::Method<RoutineService_CheckMemory::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_CheckMemory::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace r_0202
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
