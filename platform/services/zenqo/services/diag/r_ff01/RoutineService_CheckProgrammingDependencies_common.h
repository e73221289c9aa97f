// Interface description of routine 0xFF01 (CheckProgrammingDependencies) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF01_ROUTINESERVICE_CHECKPROGRAMMINGDEPENDENCIES_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF01_ROUTINESERVICE_CHECKPROGRAMMINGDEPENDENCIES_COMMON_H

#include <cstdint>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_ff01 {
namespace RoutineService_CheckProgrammingDependencies {

inline constexpr const char* kServiceName =
    "zenqo::services::diag::r_ff01::RoutineService_CheckProgrammingDependencies";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint8_t routineStatus = 0;  // result of the dependency check, 0 = passed
    };
    // meta-information
    using Signature = Output(zov::dm::types::MetaInfoType);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    // meta-information
    using Signature = void(zov::dm::types::MetaInfoType);
};

}  // namespace RoutineService_CheckProgrammingDependencies
}  // namespace r_ff01
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
