// Interface description of routine 0xFF00 (EraseMemory) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF00_ROUTINESERVICE_ERASEMEMORY_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF00_ROUTINESERVICE_ERASEMEMORY_COMMON_H

#include <cstdint>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_ff00 {
namespace RoutineService_EraseMemory {

inline constexpr const char* kServiceName = "zenqo::services::diag::r_ff00::RoutineService_EraseMemory";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint8_t routineStatus = 0;
    };
    // meta-information, routineControlOption1, routineControlOption2
    using Signature = Output(zov::dm::types::MetaInfoType, uint8_t, uint8_t);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    // meta-information
    using Signature = void(zov::dm::types::MetaInfoType);
};

}  // namespace RoutineService_EraseMemory
}  // namespace r_ff00
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
