// Skeleton of the generic UDS service; the application derives from it.
#ifndef PLATFORM_SERVICES_ZOV_DM_GENERICUDS_GENERICUDSSERVICE_SKELETON_H
#define PLATFORM_SERVICES_ZOV_DM_GENERICUDS_GENERICUDSSERVICE_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_common.h"

namespace zov {
namespace dm {
namespace genericuds {
namespace skeleton {

class GenericUDSServiceSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = GenericUDSService::kServiceName;

    explicit GenericUDSServiceSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(GenericUDSService::HandleMessage::kName, &GenericUDSServiceSkeleton::HandleMessage);
        RegisterMethod(GenericUDSService::Cancel::kName, &GenericUDSServiceSkeleton::Cancel);
    }

    virtual jux::com::Future<GenericUDSService::HandleMessage::Output> HandleMessage(
        uint8_t sid, const std::vector<uint8_t>& requestData, const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<GenericUDSService::HandleMessage::Signature>(
                  &GenericUDSServiceSkeleton::HandleMessage),
              "HandleMessage differs from the interface");
static_assert(
    platform::services::HasSignature<GenericUDSService::Cancel::Signature>(&GenericUDSServiceSkeleton::Cancel),
    "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace genericuds
}  // namespace dm
}  // namespace zov

#endif
