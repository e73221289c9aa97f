#include "KivLibrary/Ucm/InstallationStatusProvider.h"
#include "KivLibrary/Ucm/PackageManagementClient.h"

std::shared_ptr<PackageManagement> CreatePackageManagementClient(
    const std::string& instance, std::function<void(CurrentStatusType)> currentStatusCallback) {
    auto client = std::make_shared<PackageManagementClient<ara::ucm::proxy::PackageManagementProxy>>(
        instance, std::move(currentStatusCallback));
    client->ConnectAsynchronously();
    return client;
}

std::shared_ptr<InstallStatusProvider> CreateInstallationStatusProvider(const std::string& instance) {
    auto client = std::make_shared<InstallationStatusProvider<ara::ucm::proxy::InstallStatusProviderProxy>>(instance);
    client->ConnectAsynchronously();
    return client;
}
