// Interface description of routine 0xC00E (CheckUpdate) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C00E_ROUTINESERVICE_CHECKUPDATE_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C00E_ROUTINESERVICE_CHECKUPDATE_COMMON_H

#include <cstdint>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_c00e {
namespace RoutineService_CheckUpdate {

inline constexpr const char* kServiceName = "zenqo::services::diag::r_c00e::RoutineService_CheckUpdate";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint8_t routineInfo = 0;
    };
    // meta-information, routineControlOption
    using Signature = Output(zov::dm::types::MetaInfoType, uint8_t);
};

struct Stop {
    static constexpr const char* kName = "Stop";
    // meta-information
    using Signature = void(zov::dm::types::MetaInfoType);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    // meta-information
    using Signature = void(zov::dm::types::MetaInfoType);
};

struct RequestResults {
    static constexpr const char* kName = "RequestResults";
    struct Output {
        uint8_t routineInfo = 0;
        uint8_t routineData = 0;
    };
    // meta-information
    using Signature = Output(zov::dm::types::MetaInfoType);
};

}  // namespace RoutineService_CheckUpdate
}  // namespace r_c00e
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
