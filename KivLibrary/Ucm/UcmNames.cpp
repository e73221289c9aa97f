#include "KivLibrary/Ucm/UcmNames.h"

#include <array>

#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Logger/Logging.h"

namespace UCM {

std::string UcmErrorCodeToString(uint8_t code) {
    static const std::array<const char*, 5> kNames = {"GeneralReject", "GeneralMemoryError", "SessionIdInvalid",
                                                      "ServiceNotSupported", "Reserved"};
    return code >= 1 && code <= kNames.size() ? kNames[code - 1] : "";
}

std::string CurrentStatusToString(CurrentStatusType status) {
    switch (status) {
        case 0:
            return "READY";
        case 1:
            return "BUSY";
        default:
            return "RESERVED";
    }
}

bool LogTransferDataResult(TransferDataReturnType result) {
    switch (result) {
        case 0:
            LogInfo() << "TransferData: Success!";
            return true;
        case 1:
            LogError() << "TransferData: Error due to INCORRECT_BLOCK!";
            return false;
        case 2:
            LogError() << "TransferData: Error due to INCORRECT_SIZE!";
            return false;
        default:
            LogError() << "TransferData: Error!";
            return false;
    }
}

bool LogTransferExitResult(TransferExitReturnType result) {
    switch (result) {
        case 0:
            LogInfo() << "TransferExit: Success!";
            return true;
        case 1:
            LogError() << "TransferExit: Error due to INSUFFICIENT DATA!";
            return false;
        default:
            LogError() << "TransferExit: Error!";
            return false;
    }
}

void LogInstallationStatus(const GetInstallationStatusOutput& status) {
    LogInfo() << "InstallationStatus.Status = " << static_cast<int32_t>(status.Status)
              << " status = " << ConvertInstallStatusTypeToString(status.Status);
    if (status.Status != 7) {
        LogInfo() << "InstallationStatus.Error : Cluster=" << status.Error.Cluster
                  << " / Container=" << status.Error.Container << " / File=" << status.Error.File;
        LogInfo() << "InstallationStatus.Error : ExpectedHash=  " << status.Error.ExpectedHash;
        LogInfo() << "InstallationStatus.Error : CalculatedHash=" << status.Error.CalculatedHash;
    }
    LogInfo() << "InstallationStatus.IntegrityData length = " << static_cast<uint64_t>(status.IntegrityData.size());
    for (const auto& entry : status.IntegrityData) {
        LogInfo() << "InstallationStatus.IntegrityData.cluster = " << entry.clusterName
                  << " IntegrityData = " << HashToDisplayString(entry.data.data());
    }
}

}  // namespace UCM

std::string ConvertInstallStatusTypeToString(uint8_t status) {
    static const std::array<const char*, 8> kNames = {"IntegrityMismatch",   "InvalidSessionId", "InvalidManifest",
                                                      "ServiceNotSupported", "UpdateCancelled",  "ErrorInHvUpdate",
                                                      "UnknownError",        "Success"};
    if (status < kNames.size()) {
        return kNames[status];
    }
    LogError() << "INVALID installation status: ConvertInstallStatusTypeToString(ara::stdtypes::InstallStatusType)";
    return "";
}
