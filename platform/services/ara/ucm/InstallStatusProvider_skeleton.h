// Skeleton of the InstallStatusProvider service (offered by the simulated update manager).
#ifndef PLATFORM_SERVICES_ARA_UCM_INSTALLSTATUSPROVIDER_SKELETON_H
#define PLATFORM_SERVICES_ARA_UCM_INSTALLSTATUSPROVIDER_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/ara/ucm/InstallStatusProvider_common.h"

namespace ara {
namespace ucm {
namespace skeleton {

class InstallStatusProviderSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = InstallStatusProvider::kServiceName;

    explicit InstallStatusProviderSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(InstallStatusProvider::GetInstallationStatus::kName,
                       &InstallStatusProviderSkeleton::GetInstallationStatus);
    }

    virtual jux::com::Future<InstallStatusProvider::GetInstallationStatus::Output> GetInstallationStatus(
        uint32_t id) = 0;
};

static_assert(platform::services::HasSignature<InstallStatusProvider::GetInstallationStatus::Signature>(
                  &InstallStatusProviderSkeleton::GetInstallationStatus),
              "GetInstallationStatus differs from the interface");

}  // namespace skeleton
}  // namespace ucm
}  // namespace ara

#endif
