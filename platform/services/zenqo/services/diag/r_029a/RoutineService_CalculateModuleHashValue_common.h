// Interface description of routine 0x029A (calculateModuleHashValue) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_029A_ROUTINESERVICE_CALCULATEMODULEHASHVALUE_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_029A_ROUTINESERVICE_CALCULATEMODULEHASHVALUE_COMMON_H

#include <cstdint>
#include <exception>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_029a {
namespace RoutineService_CalculateModuleHashValue {

inline constexpr const char* kServiceName = "zenqo::services::diag::r_029a::RoutineService_CalculateModuleHashValue";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint8_t Resp_Status = 0;  // 1 accepted, 2 not possible
        uint8_t CalculationType = 0;
        uint8_t HashType = 0;
    };
    // meta-information, HashType, CalculationType
    using Signature = Output(zov::dm::types::MetaInfoType, uint8_t, uint8_t);
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
        uint8_t Resp_Status = 0;
        uint8_t Progress = 0;  // percent
        uint8_t CalculationType = 0;
        uint8_t HashType = 0;
        uint8_t IVD_Result = 0;
        std::vector<uint8_t> ProgHashValue;
    };
    // meta-information
    using Signature = Output(zov::dm::types::MetaInfoType);
};

// Application error (error code 2): one negative response code per method, in
// the order RequestResults, Start, Stop; the failing method fills its own.
class UDSServiceFailed : public std::exception {
public:
    explicit UDSServiceFailed(uint8_t requestResultsCode = 0, uint8_t startCode = 0, uint8_t stopCode = 0) noexcept
        : m_requestResultsCode(requestResultsCode), m_startCode(startCode), m_stopCode(stopCode) {}
    uint8_t GetRequestResultsCode() const noexcept { return m_requestResultsCode; }
    uint8_t GetStartCode() const noexcept { return m_startCode; }
    uint8_t GetStopCode() const noexcept { return m_stopCode; }
    const char* what() const noexcept override {
        return "RoutineService_CalculateModuleHashValue::UDSServiceFailed::2";
    }

private:
    uint8_t m_requestResultsCode;
    uint8_t m_startCode;
    uint8_t m_stopCode;
};

}  // namespace RoutineService_CalculateModuleHashValue
}  // namespace r_029a
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
