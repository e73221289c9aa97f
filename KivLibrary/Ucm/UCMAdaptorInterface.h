// The only path to the update manager: blocking, serialised calls that answer
// with bool and hand their values out through reference parameters. The
// installation and the cluster-integrity requests return without waiting.
#ifndef KIVLIBRARY_UCM_UCMADAPTORINTERFACE_H
#define KIVLIBRARY_UCM_UCMADAPTORINTERFACE_H

#include "KivLibrary/Ucm/UcmTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace UCM {

class UCMAdaptorInterface {
public:
    virtual ~UCMAdaptorInterface() = default;

    virtual bool Start(StartOutput& output) = 0;
    // True for any answer without error; the returned value is not examined.
    virtual bool TransferStart(const uint32_t& sessionId, const uint32_t& size) = 0;
    virtual bool TransferData(const uint32_t& sessionId, const std::vector<uint8_t>& block,
                              const uint32_t& blockCounter) = 0;
    virtual bool TransferExit(const uint32_t& sessionId) = 0;
    // Sends the request and returns; the outcome goes into the installation state.
    virtual bool InstallUpdateAsync(const uint32_t& sessionId) = 0;
    // 0 none running, 1 succeeded, 2 running, 3 UCM error, 4 other error.
    virtual uint8_t GetInstallUpdateState() = 0;
    virtual bool Close(const uint32_t& sessionId, bool ignoreInvalidSession) = 0;
    // Close with up to 10 attempts, 1000 ms apart.
    virtual bool DOClose(const uint32_t& sessionId, bool ignoreInvalidSession) = 0;
    virtual bool GetProgress(uint32_t sessionId, GetProgressOutput& output) = 0;
    virtual bool GetLog(uint32_t sessionId, GetLogOutput& output) = 0;
    virtual bool CommitUpdate(uint32_t sessionId, bool ignoreNotSupported) = 0;
    virtual bool GetInstallationResult(uint32_t sessionId, GetInstallationResultOutput& output) = 0;
    virtual bool GetInstallationStatus(uint32_t sessionId, GetInstallationStatusOutput& output) = 0;
    virtual bool GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                                       std::function<void(SwClusterIntegrity)> callback) = 0;
    virtual bool CancelSwClusterIntegrity(std::string clusterName, std::function<void(CancelStatusType)> callback) = 0;
    virtual bool CancelUpdate(uint32_t sessionId) = 0;
    // CommitUpdate with up to 10 attempts, 1000 ms apart.
    virtual bool commitUpdate(const uint32_t& sessionId, bool ignoreNotSupported) = 0;
    virtual bool GetCurrentStatus(CurrentStatusEventDataType& status) = 0;
};

}  // namespace UCM

#endif
