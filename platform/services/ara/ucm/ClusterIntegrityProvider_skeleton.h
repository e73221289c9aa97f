// Skeleton of the ClusterIntegrityProvider service (offered by the simulated update manager).
#ifndef PLATFORM_SERVICES_ARA_UCM_CLUSTERINTEGRITYPROVIDER_SKELETON_H
#define PLATFORM_SERVICES_ARA_UCM_CLUSTERINTEGRITYPROVIDER_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/ara/ucm/ClusterIntegrityProvider_common.h"

namespace ara {
namespace ucm {
namespace skeleton {

class ClusterIntegrityProviderSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = ClusterIntegrityProvider::kServiceName;

    explicit ClusterIntegrityProviderSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(ClusterIntegrityProvider::GetSwClusterIntegrity::kName,
                       &ClusterIntegrityProviderSkeleton::GetSwClusterIntegrity);
        RegisterMethod(ClusterIntegrityProvider::Cancel::kName, &ClusterIntegrityProviderSkeleton::Cancel);
    }

    virtual jux::com::Future<ClusterIntegrityProvider::GetSwClusterIntegrity::Output> GetSwClusterIntegrity(
        const std::string& cluster, bool readPartitionB) = 0;
    virtual jux::com::Future<ClusterIntegrityProvider::Cancel::Output> Cancel(const std::string& cluster) = 0;
};

static_assert(platform::services::HasSignature<ClusterIntegrityProvider::GetSwClusterIntegrity::Signature>(
                  &ClusterIntegrityProviderSkeleton::GetSwClusterIntegrity),
              "GetSwClusterIntegrity differs from the interface");
static_assert(platform::services::HasSignature<ClusterIntegrityProvider::Cancel::Signature>(
                  &ClusterIntegrityProviderSkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace ucm
}  // namespace ara

#endif
