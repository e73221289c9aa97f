// Interface description of routine 0xC010 (StartUpdate) of the diagnostic manager's
// routine control: every method takes the request's meta-information first.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C010_ROUTINESERVICE_STARTUPDATE_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C010_ROUTINESERVICE_STARTUPDATE_COMMON_H

#include <cstdint>
#include <exception>
#include <vector>

#include "platform/services/zov/dm/types/MetaInfoType.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_c010 {
namespace RoutineService_StartUpdate {

inline constexpr const char* kServiceName = "zenqo::services::diag::r_c010::RoutineService_StartUpdate";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint8_t routineInfo = 0;  // 1 = installation started
    };
    // meta-information, LogLevel, Address_format_identifier, Memory_Address
    using Signature = Output(zov::dm::types::MetaInfoType, uint8_t, uint8_t, std::vector<uint8_t>);
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
        uint8_t Address_Length = 0;
        uint8_t Memory_Address_First = 0;
        std::vector<uint8_t> Add_Info;  // additional information text, no terminator
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
    const char* what() const noexcept override { return "RoutineService_StartUpdate::UDSServiceFailed::2"; }

private:
    uint8_t m_requestResultsCode;
    uint8_t m_startCode;
    uint8_t m_stopCode;
};

}  // namespace RoutineService_StartUpdate
}  // namespace r_c010
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
