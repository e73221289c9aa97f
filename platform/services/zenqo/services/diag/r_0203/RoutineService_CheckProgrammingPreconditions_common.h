// Interface description of routine 0x0203 (CheckProgrammingPreconditions) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0203_ROUTINESERVICE_CHECKPROGRAMMINGPRECONDITIONS_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0203_ROUTINESERVICE_CHECKPROGRAMMINGPRECONDITIONS_COMMON_H

#include <cstdint>
#include <exception>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0203 {
namespace RoutineService_CheckProgrammingPreconditions {

inline constexpr const char* kServiceName =
    "zenqo::services::diag::r_0203::RoutineService_CheckProgrammingPreconditions";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        std::vector<uint8_t> routineStatusRecord;
    };
    // meta-information
    using Signature = Output(zov::dm::types::MetaInfoType);
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
    const char* what() const noexcept override {
        return "RoutineService_CheckProgrammingPreconditions::UDSServiceFailed::2";
    }

private:
    uint8_t m_code;
};

}  // namespace RoutineService_CheckProgrammingPreconditions
}  // namespace r_0203
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
