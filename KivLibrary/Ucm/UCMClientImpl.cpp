#include "KivLibrary/Ucm/UCMClientImpl.h"

#include <utility>

UCMClientImpl::UCMClientImpl(std::shared_ptr<PackageManagement> packageManagement,
                             std::shared_ptr<InstallStatusProvider> installStatusProvider,
                             std::shared_ptr<ClusterIntegrityClient> clusterIntegrity)
    : m_packageManagement(std::move(packageManagement)),
      m_installStatusProvider(std::move(installStatusProvider)),
      m_clusterIntegrity(std::move(clusterIntegrity)) {}

bool UCMClientImpl::CancelUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) {
    return m_packageManagement->CancelUpdate(id, std::move(result), std::move(error));
}
bool UCMClientImpl::Close(uint32_t id, std::function<void()> result, UcmErrorCallback error) {
    return m_packageManagement->Close(id, std::move(result), std::move(error));
}
bool UCMClientImpl::CommitUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) {
    return m_packageManagement->CommitUpdate(id, std::move(result), std::move(error));
}
bool UCMClientImpl::GetInstallationResult(uint32_t id, std::function<void(GetInstallationResultType)> result,
                                          UcmErrorCallback error) {
    return m_packageManagement->GetInstallationResult(id, std::move(result), std::move(error));
}
bool UCMClientImpl::GetLog(uint32_t id, std::function<void(std::vector<LogEntryType>)> result, UcmErrorCallback error) {
    return m_packageManagement->GetLog(id, std::move(result), std::move(error));
}
bool UCMClientImpl::GetProgress(uint32_t id, std::function<void(unsigned char)> result, UcmErrorCallback error) {
    return m_packageManagement->GetProgress(id, std::move(result), std::move(error));
}
bool UCMClientImpl::InstallUpdate(uint32_t id, std::function<void()> result, UcmErrorCallback error) {
    return m_packageManagement->InstallUpdate(id, std::move(result), std::move(error));
}
bool UCMClientImpl::Start(std::function<void(unsigned int)> result, UcmErrorCallback error) {
    return m_packageManagement->Start(std::move(result), std::move(error));
}
bool UCMClientImpl::TransferData(uint32_t id, const std::vector<unsigned char>& block, uint32_t blockCounter,
                                 std::function<void(TransferDataReturnType)> result, UcmErrorCallback error) {
    return m_packageManagement->TransferData(id, block, blockCounter, std::move(result), std::move(error));
}
bool UCMClientImpl::TransferExit(uint32_t id, std::function<void(TransferExitReturnType)> result,
                                 UcmErrorCallback error) {
    return m_packageManagement->TransferExit(id, std::move(result), std::move(error));
}
bool UCMClientImpl::TransferStart(uint32_t id, uint32_t size, std::function<void(TransferStartReturnType)> result,
                                  UcmErrorCallback error) {
    return m_packageManagement->TransferStart(id, size, std::move(result), std::move(error));
}
bool UCMClientImpl::GetCurrentStatus(std::function<void(CurrentStatusType)> result, UcmErrorCallback error) {
    return m_packageManagement->GetCurrentStatus(std::move(result), std::move(error));
}
bool UCMClientImpl::GetInstallationStatus(uint32_t id, std::function<void(InstallationStatusResult)> callback,
                                          UcmErrorCallback error) {
    return m_installStatusProvider->GetInstallationStatus(id, std::move(callback), std::move(error));
}
bool UCMClientImpl::GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                                          std::function<void(SwClusterIntegrity)> callback) {
    return m_clusterIntegrity->GetSwClusterIntegrity(std::move(clusterName), readPartitionB, std::move(callback));
}
bool UCMClientImpl::Cancel(std::string clusterName, std::function<void(CancelStatusType)> callback) {
    return m_clusterIntegrity->Cancel(std::move(clusterName), std::move(callback));
}

std::shared_ptr<UCMClient> CreateUCMClient(std::shared_ptr<PackageManagement> packageManagement,
                                           std::shared_ptr<InstallStatusProvider> installStatusProvider,
                                           std::shared_ptr<ClusterIntegrityClient> clusterIntegrity) {
    return std::make_shared<UCMClientImpl>(std::move(packageManagement), std::move(installStatusProvider),
                                           std::move(clusterIntegrity));
}
