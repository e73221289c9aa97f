// Proxy of routine 0xFF00 (EraseMemory): the simulated diagnostic manager and
// another application instance call the routine through it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF00_ROUTINESERVICE_ERASEMEMORY_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF00_ROUTINESERVICE_ERASEMEMORY_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_ff00 {
namespace proxy {

class RoutineService_EraseMemoryProxy : public ara::com::internal::proxy::ProxyBase<RoutineService_EraseMemoryProxy> {
public:
    static constexpr const char* kServiceName = RoutineService_EraseMemory::kServiceName;

    explicit RoutineService_EraseMemoryProxy(const HandleType& handle)
        : ProxyBase(handle),
          Start(*this, RoutineService_EraseMemory::Start::kName),
          Cancel(*this, RoutineService_EraseMemory::Cancel::kName) {}

    ara::com::internal::proxy::Method<RoutineService_EraseMemory::Start::Signature> Start;
    ara::com::internal::proxy::Method<RoutineService_EraseMemory::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace r_ff00
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
