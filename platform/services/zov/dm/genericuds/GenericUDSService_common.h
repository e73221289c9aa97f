// Interface description of the diagnostic manager's generic UDS service:
// every UDS request of the tester reaches the application through it.
#ifndef PLATFORM_SERVICES_ZOV_DM_GENERICUDS_GENERICUDSSERVICE_COMMON_H
#define PLATFORM_SERVICES_ZOV_DM_GENERICUDS_GENERICUDSSERVICE_COMMON_H

#include <cstdint>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"
#include "platform/zov/dm/genericuds/GenericUDSServiceErrors.h"

namespace zov {
namespace dm {
namespace genericuds {
namespace GenericUDSService {

inline constexpr const char* kServiceName = "zov::dm::genericuds::GenericUDSService";

// A negative response fails the call with UDSServiceFailed (the mapped code).
struct HandleMessage {
    static constexpr const char* kName = "HandleMessage";
    struct Output {
        std::vector<uint8_t> responseData;  // positive response without its SID byte
    };
    using Signature = Output(uint8_t, std::vector<uint8_t>, zov::dm::types::MetaInfoType);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    using Signature = void(zov::dm::types::MetaInfoType);
};

}  // namespace GenericUDSService
}  // namespace genericuds
}  // namespace dm
}  // namespace zov

#endif
