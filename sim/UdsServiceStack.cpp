#include "sim/UdsServiceStack.h"

#include "KivLibrary/GlobalLibrary/KivConfigParser.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/GenericUdsServiceImpl.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"
#include "KivLibrary/SecurityAccess/SecurityAccessImpl.h"
#include "KivLibrary/Ucm/ClusterIntegrityClientImpl.h"
#include "KivLibrary/Ucm/InstallationStatusProvider.h"
#include "KivLibrary/Ucm/PackageManagementClient.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "KivLibrary/Ucm/UCMClientImpl.h"
#include "signature/SignatureVerifier.h"
#include "sim/SandboxBuilder.h"

#include <fstream>
#include <stdexcept>
#include <thread>

namespace sim {

namespace {

class UnavailableUcmAdaptor : public UCM::UCMAdaptorInterface {
public:
    bool Start(UCM::StartOutput&) override { return false; }
    bool TransferStart(const uint32_t&, const uint32_t&) override { return false; }
    bool TransferData(const uint32_t&, const std::vector<uint8_t>&, const uint32_t&) override { return false; }
    bool TransferExit(const uint32_t&) override { return false; }
    bool InstallUpdateAsync(const uint32_t&) override { return false; }
    uint8_t GetInstallUpdateState() override { return 0; }
    bool Close(const uint32_t&, bool) override { return false; }
    bool DOClose(const uint32_t&, bool) override { return false; }
    bool GetProgress(uint32_t, UCM::GetProgressOutput&) override { return false; }
    bool GetLog(uint32_t, UCM::GetLogOutput&) override { return false; }
    bool CommitUpdate(uint32_t, bool) override { return false; }
    bool GetInstallationResult(uint32_t, UCM::GetInstallationResultOutput&) override { return false; }
    bool GetInstallationStatus(uint32_t, UCM::GetInstallationStatusOutput&) override { return false; }
    bool GetSwClusterIntegrity(std::string, bool, std::function<void(SwClusterIntegrity)>) override { return false; }
    bool CancelSwClusterIntegrity(std::string, std::function<void(CancelStatusType)>) override { return false; }
    bool CancelUpdate(uint32_t) override { return false; }
    bool commitUpdate(const uint32_t&, bool) override { return false; }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType&) override { return false; }
};

std::shared_ptr<KivConfiguration> ReadConfiguration(const SandboxBuilder& sandbox) {
    std::ifstream file(sandbox.ConfigPath());
    auto configuration = std::make_shared<KivConfiguration>();
    KivConfigParser parser(file);
    if (!file || !parser.parse(configuration)) {
        throw std::runtime_error("UdsServiceStack: cannot read " + sandbox.ConfigPath());
    }
    return configuration;
}

}  // namespace

UdsServiceStack::UdsServiceStack(const std::string& root, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                 const UdsServiceSettings& settings) {
    SandboxBuilder sandbox(root);
    sandbox.WriteAll();
    m_configuration = ReadConfiguration(sandbox);
    m_storage = std::make_shared<PersistentDataStorageImpl>(
        std::make_shared<OnChangeStorage>(CreateSafePersistency(CreateAraPersistency(m_configuration->port_name))));
    m_sessionData = std::make_shared<SessionData>(m_configuration, m_storage, std::make_shared<SignatureVerifier>());
    // The runtime gives the session its state object before offering services.
    const auto status = std::make_shared<SWupdateStatus>(m_storage);
    SWupdateState state = SWupdateState::INVALID;
    status->ReadStatus(state);
    m_sessionData->SetSWupdateStatus(status);
    m_conversation = std::make_shared<KivDMConversation>();
    if (!ucmAdaptor) {
        ucmAdaptor = std::make_shared<UnavailableUcmAdaptor>();
    }
    m_ucmAdaptor = ucmAdaptor;
    m_uds = std::make_shared<GenericUdsServiceImpl>(ara::com::MethodCallProcessingMode::kEvent, m_sessionData,
                                                    ucmAdaptor, m_storage, nullptr, nullptr, m_conversation,
                                                    m_autonomousCheck, settings);
    m_securityAccess = std::make_shared<SecurityAccessImpl>(ara::com::MethodCallProcessingMode::kEvent, m_sessionData,
                                                            ucmAdaptor, m_configuration, m_conversation);
    m_uds->OfferService();
    m_securityAccess->OfferServices();
}

UdsServiceStack::~UdsServiceStack() {
    m_securityAccess->StopOfferServices();
    m_uds->StopOfferService();
    m_uds->StopMethodDispatcher();
}

std::shared_ptr<UCM::UCMAdaptorInterface> UdsServiceStack::ConnectUcm(const std::string& instance,
                                                                      std::chrono::milliseconds responseTimeout,
                                                                      std::chrono::milliseconds connectTimeout) {
    using PmClient = PackageManagementClient<ara::ucm::proxy::PackageManagementProxy>;
    using IspClient = InstallationStatusProvider<ara::ucm::proxy::InstallStatusProviderProxy>;
    const auto packageManagement = CreatePackageManagementClient(instance, [](CurrentStatusType) {});
    const auto installStatus = CreateInstallationStatusProvider(instance);
    const auto clusterIntegrity = CreateClusterIntegrityClient(instance);
    UCM::UCMAdaptorSettings settings;
    settings.responseTimeout = responseTimeout;
    settings.retryPause = std::chrono::milliseconds(1);
    auto adaptor = std::make_shared<UCM::UCMAdaptorImpl>(
        CreateUCMClient(packageManagement, installStatus, clusterIntegrity), settings);
    const auto connected = [&] {
        return std::dynamic_pointer_cast<PmClient>(packageManagement)->IsConnected() &&
               std::dynamic_pointer_cast<IspClient>(installStatus)->IsConnected() &&
               std::dynamic_pointer_cast<ClusterIntegrityClientImpl>(clusterIntegrity)->IsConnected();
    };
    const auto deadline = std::chrono::steady_clock::now() + connectTimeout;
    while (!connected()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("UdsServiceStack: update manager " + instance + " not found");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return adaptor;
}

}  // namespace sim
