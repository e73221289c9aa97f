// Data types of the update manager's service interfaces (PackageManagement,
// InstallStatusProvider, ClusterIntegrityProvider), kept in one place.
#ifndef PLATFORM_SERVICES_ARA_UCM_UCMTYPES_H
#define PLATFORM_SERVICES_ARA_UCM_UCMTYPES_H

#include <array>
#include <cstdint>
#include <string>

#include "platform/services/ara/stdtypes/StdTypes.h"

namespace ara {
namespace ucm {

using TransferStartReturnType = uint8_t;
using TransferDataReturnType = uint8_t;  // 0 success, 1 incorrect block, 2 incorrect size
using TransferExitReturnType = uint8_t;  // 0 success, 1 insufficient data
using GetInstallationResultType = uint8_t;

struct LogEntryType {
    uint8_t value = 0;
    std::string text;
};

// Integrity validation data of one software cluster.
using IntegrityDataType = std::array<uint8_t, 32>;

// Where an integrity mismatch was found, with the two hash values.
struct InstallationErrorType {
    std::string Cluster;
    std::string Container;
    std::string File;
    std::string ExpectedHash;
    std::string CalculatedHash;
};

struct ClusterIntegrityDataType {
    std::string Cluster;
    IntegrityDataType Data{};
};

namespace events {

// The update manager's status: 0 READY, 1 BUSY; other values pass unchanged.
using CurrentStatusEventDataType = uint8_t;

}  // namespace events
}  // namespace ucm
}  // namespace ara

#endif
