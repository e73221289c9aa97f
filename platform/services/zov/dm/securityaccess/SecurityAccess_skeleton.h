// Skeleton of the SecurityAccess service; the application derives from it.
#ifndef PLATFORM_SERVICES_ZOV_DM_SECURITYACCESS_SECURITYACCESS_SKELETON_H
#define PLATFORM_SERVICES_ZOV_DM_SECURITYACCESS_SECURITYACCESS_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_common.h"

namespace zov {
namespace dm {
namespace securityaccess {
namespace skeleton {

class SecurityAccessSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = SecurityAccess::kServiceName;

    explicit SecurityAccessSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(SecurityAccess::GetSeed::kName, &SecurityAccessSkeleton::GetSeed);
        RegisterMethod(SecurityAccess::CompareKey::kName, &SecurityAccessSkeleton::CompareKey);
        RegisterMethod(SecurityAccess::Cancel::kName, &SecurityAccessSkeleton::Cancel);
    }

    virtual jux::com::Future<SecurityAccess::GetSeed::Output> GetSeed(
        const std::vector<uint8_t>& securityAccessDataRecord, const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<SecurityAccess::CompareKey::Output> CompareKey(
        const std::vector<uint8_t>& key, const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<SecurityAccess::GetSeed::Signature>(&SecurityAccessSkeleton::GetSeed),
              "GetSeed differs from the interface");
static_assert(
    platform::services::HasSignature<SecurityAccess::CompareKey::Signature>(&SecurityAccessSkeleton::CompareKey),
    "CompareKey differs from the interface");
static_assert(platform::services::HasSignature<SecurityAccess::Cancel::Signature>(&SecurityAccessSkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace securityaccess
}  // namespace dm
}  // namespace zov

#endif
