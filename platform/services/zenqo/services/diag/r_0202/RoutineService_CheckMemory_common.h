// Interface description of routine 0x0202 (CheckMemory) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0202_ROUTINESERVICE_CHECKMEMORY_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0202_ROUTINESERVICE_CHECKMEMORY_COMMON_H

#include <cstdint>
#include <exception>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0202 {
namespace RoutineService_CheckMemory {

inline constexpr const char* kServiceName = "zenqo::services::diag::r_0202::RoutineService_CheckMemory";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint8_t routineStatus = 0;  // status of the memory check, 0 = passed
    };
    // meta-information, data
    using Signature = Output(zov::dm::types::MetaInfoType, std::vector<uint8_t>);
};

struct Cancel {
    static constexpr const char* kName = "Cancel";
    // meta-information
    using Signature = void(zov::dm::types::MetaInfoType);
};

// Application error (error code 2): the negative response code for the tester.
class UDSServiceFailed : public std::exception {
public:
    explicit UDSServiceFailed(uint8_t code = 0) noexcept : m_code(code) {}
    uint8_t GetCode() const noexcept { return m_code; }
    const char* what() const noexcept override { return "RoutineService_CheckMemory::UDSServiceFailed::2"; }

private:
    uint8_t m_code;
};

}  // namespace RoutineService_CheckMemory
}  // namespace r_0202
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
