// Interface description of the DiagnosticInfo service: the identification data
// that a virtual machine publishes to the platform.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAGNOSTICINFO_DIAGNOSTICINFO_COMMON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAGNOSTICINFO_DIAGNOSTICINFO_COMMON_H

#include <cstdint>
#include <optional>
#include <vector>

namespace zenqo {
namespace services {
namespace diagnosticinfo {
namespace datatypes {

// One identification record; every member may be left out by a publisher.
struct DT_identificationData_struct {
    std::optional<uint32_t> recordVersion;
    std::optional<uint16_t> diagAddress;
    std::optional<std::vector<uint8_t>> softwareVersion;
    std::optional<std::vector<uint8_t>> hardwareVersion;
    std::optional<std::vector<uint8_t>> sparePartNumber;

    bool operator==(const DT_identificationData_struct& other) const {
        return recordVersion == other.recordVersion && diagAddress == other.diagAddress &&
               softwareVersion == other.softwareVersion && hardwareVersion == other.hardwareVersion &&
               sparePartNumber == other.sparePartNumber;
    }
    bool operator!=(const DT_identificationData_struct& other) const { return !(*this == other); }
};

using DT_identificationData = std::vector<DT_identificationData_struct>;

}  // namespace datatypes

namespace DiagnosticInfo {

inline constexpr const char* kServiceName = "zenqo::services::diagnosticinfo::DiagnosticInfo";

struct identificationData {
    static constexpr const char* kName = "identificationData";
    using FieldType = datatypes::DT_identificationData;
};

}  // namespace DiagnosticInfo
}  // namespace diagnosticinfo
}  // namespace services
}  // namespace zenqo

#endif
