// The callback-style interfaces over the update manager's three services. An
// operation returns at once: false when the service was not found yet (no
// callback follows), true when the request went out; the answer arrives later
// on a binding thread, through exactly one of the callbacks. A call on a
// service that has disappeared throws zov::com::Service_not_available_exception.
#ifndef KIVLIBRARY_UCM_UCMCLIENTINTERFACES_H
#define KIVLIBRARY_UCM_UCMCLIENTINTERFACES_H

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "KivLibrary/Ucm/UcmTypes.h"

// Handed to an error callback in place of a thrown object that is not a std::exception.
class UnknownException : public std::exception {
public:
    const char* what() const noexcept override { return "Unknown Exception."; }
};

using UcmErrorCallback = std::function<void(const std::exception&)>;

class PackageManagement {
public:
    virtual ~PackageManagement() = default;

    virtual bool CancelUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) = 0;
    virtual bool Close(uint32_t id, std::function<void()> result, UcmErrorCallback error) = 0;
    virtual bool CommitUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) = 0;
    virtual bool GetInstallationResult(uint32_t id, std::function<void(GetInstallationResultType)> result,
                                       UcmErrorCallback error) = 0;
    virtual bool GetLog(uint32_t id, std::function<void(std::vector<LogEntryType>)> result, UcmErrorCallback error) = 0;
    virtual bool GetProgress(uint32_t id, std::function<void(unsigned char)> result, UcmErrorCallback error) = 0;
    virtual bool InstallUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) = 0;
    virtual bool Start(std::function<void(unsigned int)> result, UcmErrorCallback error) = 0;
    virtual bool TransferData(uint32_t id, const std::vector<unsigned char>& block, uint32_t blockCounter,
                              std::function<void(TransferDataReturnType)> result, UcmErrorCallback error) = 0;
    virtual bool TransferExit(uint32_t id, std::function<void(TransferExitReturnType)> result,
                              UcmErrorCallback error) = 0;
    virtual bool TransferStart(uint32_t id, uint32_t size, std::function<void(TransferStartReturnType)> result,
                               UcmErrorCallback error) = 0;
    virtual bool GetCurrentStatus(std::function<void(CurrentStatusType)> result, UcmErrorCallback error) = 0;
};

class InstallStatusProvider {
public:
    virtual ~InstallStatusProvider() = default;
    // The error callback gets an error answer, so a waiting caller learns
    // that no status will come.
    virtual bool GetInstallationStatus(uint32_t id, std::function<void(InstallationStatusResult)> callback,
                                       UcmErrorCallback error) = 0;
};

class ClusterIntegrityClient {
public:
    virtual ~ClusterIntegrityClient() = default;
    // readPartitionB: the integrity data of partition B, else of partition A.
    // An error answer reaches the callback as status 2 with the cluster name
    // and no data, so the caller always hears back once UCM answered.
    virtual bool GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                                       std::function<void(SwClusterIntegrity)> callback) = 0;
    virtual bool Cancel(std::string clusterName, std::function<void(CancelStatusType)> callback) = 0;
};

// The one object through which the adaptor reaches the update manager.
class UCMClient : public PackageManagement, public InstallStatusProvider, public ClusterIntegrityClient {
public:
    ~UCMClient() override = default;
};

#endif
