// Interface description of the diagnostic manager's SecurityAccess service:
// the application produces the seed and compares the key of one security level.
#ifndef PLATFORM_SERVICES_ZOV_DM_SECURITYACCESS_SECURITYACCESS_COMMON_H
#define PLATFORM_SERVICES_ZOV_DM_SECURITYACCESS_SECURITYACCESS_COMMON_H

#include <cstdint>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zov {
namespace dm {
namespace securityaccess {
namespace SecurityAccess {

inline constexpr const char* kServiceName = "zov::dm::securityaccess::SecurityAccess";

struct GetSeed {
    static constexpr const char* kName = "GetSeed";
    struct Output {
        std::vector<uint8_t> seed;
    };
    // securityAccessDataRecord, meta-information
    using Signature = Output(std::vector<uint8_t>, zov::dm::types::MetaInfoType);
};

struct CompareKey {
    static constexpr const char* kName = "CompareKey";
    static constexpr uint8_t kKeyValid = 0;
    static constexpr uint8_t kKeyInvalid = 1;
    struct Output {
        uint8_t result = kKeyInvalid;
    };
    // key, meta-information
    using Signature = Output(std::vector<uint8_t>, zov::dm::types::MetaInfoType);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    using Signature = void(zov::dm::types::MetaInfoType);
};

}  // namespace SecurityAccess
}  // namespace securityaccess
}  // namespace dm
}  // namespace zov

#endif
