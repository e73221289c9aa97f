// The facade that the adaptor talks to: forwards each operation, with its
// callbacks, to the one service client that serves it. Adds nothing; thread
// safety is that of the three clients.
#ifndef KIVLIBRARY_UCM_UCMCLIENTIMPL_H
#define KIVLIBRARY_UCM_UCMCLIENTIMPL_H

#include <memory>

#include "KivLibrary/Ucm/UcmClientInterfaces.h"

class UCMClientImpl : public UCMClient {
public:
    UCMClientImpl(std::shared_ptr<PackageManagement> packageManagement,
                  std::shared_ptr<InstallStatusProvider> installStatusProvider,
                  std::shared_ptr<ClusterIntegrityClient> clusterIntegrity);

    bool CancelUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) override;
    bool Close(uint32_t id, std::function<void()> result, UcmErrorCallback error) override;
    bool CommitUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) override;
    bool GetInstallationResult(uint32_t id, std::function<void(GetInstallationResultType)> result,
                               UcmErrorCallback error) override;
    bool GetLog(uint32_t id, std::function<void(std::vector<LogEntryType>)> result, UcmErrorCallback error) override;
    bool GetProgress(uint32_t id, std::function<void(unsigned char)> result, UcmErrorCallback error) override;
    bool InstallUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) override;
    bool Start(std::function<void(unsigned int)> result, UcmErrorCallback error) override;
    bool TransferData(uint32_t id, const std::vector<unsigned char>& block, uint32_t blockCounter,
                      std::function<void(TransferDataReturnType)> result, UcmErrorCallback error) override;
    bool TransferExit(uint32_t id, std::function<void(TransferExitReturnType)> result, UcmErrorCallback error) override;
    bool TransferStart(uint32_t id, uint32_t size, std::function<void(TransferStartReturnType)> result,
                       UcmErrorCallback error) override;
    bool GetCurrentStatus(std::function<void(CurrentStatusType)> result, UcmErrorCallback error) override;
    bool GetInstallationStatus(uint32_t id, std::function<void(InstallationStatusResult)> callback,
                               UcmErrorCallback error) override;
    bool GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                               std::function<void(SwClusterIntegrity)> callback) override;
    bool Cancel(std::string clusterName, std::function<void(CancelStatusType)> callback) override;

private:
    std::shared_ptr<PackageManagement> m_packageManagement;
    std::shared_ptr<InstallStatusProvider> m_installStatusProvider;
    std::shared_ptr<ClusterIntegrityClient> m_clusterIntegrity;
};

std::shared_ptr<UCMClient> CreateUCMClient(std::shared_ptr<PackageManagement> packageManagement,
                                           std::shared_ptr<InstallStatusProvider> installStatusProvider,
                                           std::shared_ptr<ClusterIntegrityClient> clusterIntegrity);

#endif
