// Values exchanged with the update manager. The out-records of the blocking
// adaptor calls carry the first field of the service's answer (or the whole
// answer where it is a record of its own).
#ifndef KIVLIBRARY_UCM_UCMTYPES_H
#define KIVLIBRARY_UCM_UCMTYPES_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// UCM CurrentStatus: 0 READY, 1 BUSY, any other value has no name of its own.
using CurrentStatusType = uint8_t;

using TransferStartReturnType = uint8_t;
// 0 success, 1 incorrect block, 2 incorrect size, other error.
using TransferDataReturnType = uint8_t;
// 0 success, 1 insufficient data, other error.
using TransferExitReturnType = uint8_t;
using GetInstallationResultType = uint8_t;
using CancelStatusType = uint8_t;

struct LogEntryType {
    uint8_t value = 0;
    std::string text;
};

// One answer of the cluster-integrity service.
struct SwClusterIntegrity {
    uint8_t status = 0;  // 7 success; 6 also a valid IVD; 5 a valid autonomous-check IVD
    std::string clusterName;
    std::array<uint8_t, 32> ivd{};
    std::array<std::string, 5> errorTexts;  // only logged
};

struct InstallationStatusResult {
    struct ErrorInfo {
        std::string Cluster;
        std::string Container;
        std::string File;
        std::string ExpectedHash;
        std::string CalculatedHash;
    };
    struct IntegrityEntry {
        std::string clusterName;
        std::array<uint8_t, 32> data{};
    };

    uint8_t Status = 0;  // installation status, 7 = Success
    ErrorInfo Error;
    std::vector<IntegrityEntry> IntegrityData;
};

namespace UCM {

struct StartOutput {
    uint32_t id = 0;  // the new transfer session id
};
struct GetProgressOutput {
    uint8_t progress = 0;
};
struct GetLogOutput {
    std::vector<LogEntryType> log;
};
struct GetInstallationResultOutput {
    GetInstallationResultType result = 0;
};
using GetInstallationStatusOutput = InstallationStatusResult;
using CurrentStatusEventDataType = CurrentStatusType;

}  // namespace UCM

#endif
