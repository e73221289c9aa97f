// Proxy of the update manager's ClusterIntegrityProvider service.
#ifndef PLATFORM_SERVICES_ARA_UCM_CLUSTERINTEGRITYPROVIDER_PROXY_H
#define PLATFORM_SERVICES_ARA_UCM_CLUSTERINTEGRITYPROVIDER_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/ara/ucm/ClusterIntegrityProvider_common.h"

namespace ara {
namespace ucm {
namespace proxy {

class ClusterIntegrityProviderProxy : public ara::com::internal::proxy::ProxyBase<ClusterIntegrityProviderProxy> {
public:
    static constexpr const char* kServiceName = ClusterIntegrityProvider::kServiceName;

    explicit ClusterIntegrityProviderProxy(const HandleType& handle)
        : ProxyBase(handle),
          GetSwClusterIntegrity(*this, ClusterIntegrityProvider::GetSwClusterIntegrity::kName),
          Cancel(*this, ClusterIntegrityProvider::Cancel::kName) {}

    ara::com::internal::proxy::Method<ClusterIntegrityProvider::GetSwClusterIntegrity::Signature> GetSwClusterIntegrity;
    ara::com::internal::proxy::Method<ClusterIntegrityProvider::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace ucm
}  // namespace ara

#endif
