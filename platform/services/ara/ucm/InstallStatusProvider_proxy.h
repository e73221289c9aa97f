// Proxy of the update manager's InstallStatusProvider service.
#ifndef PLATFORM_SERVICES_ARA_UCM_INSTALLSTATUSPROVIDER_PROXY_H
#define PLATFORM_SERVICES_ARA_UCM_INSTALLSTATUSPROVIDER_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/ara/ucm/InstallStatusProvider_common.h"

namespace ara {
namespace ucm {
namespace proxy {

class InstallStatusProviderProxy : public ara::com::internal::proxy::ProxyBase<InstallStatusProviderProxy> {
public:
    static constexpr const char* kServiceName = InstallStatusProvider::kServiceName;

    explicit InstallStatusProviderProxy(const HandleType& handle)
        : ProxyBase(handle), GetInstallationStatus(*this, InstallStatusProvider::GetInstallationStatus::kName) {}

    ara::com::internal::proxy::Method<InstallStatusProvider::GetInstallationStatus::Signature> GetInstallationStatus;
};

}  // namespace proxy
}  // namespace ucm
}  // namespace ara

#endif
