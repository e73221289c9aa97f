// Skeleton of routine 0xC010 (StartUpdate); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C010_ROUTINESERVICE_STARTUPDATE_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C010_ROUTINESERVICE_STARTUPDATE_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_c010 {
namespace skeleton {

class RoutineService_StartUpdateSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_StartUpdate::kServiceName;

    explicit RoutineService_StartUpdateSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_StartUpdate::Start::kName, &RoutineService_StartUpdateSkeleton::Start);
        RegisterMethod(RoutineService_StartUpdate::Stop::kName, &RoutineService_StartUpdateSkeleton::Stop);
        RegisterMethod(RoutineService_StartUpdate::Cancel::kName, &RoutineService_StartUpdateSkeleton::Cancel);
        RegisterMethod(RoutineService_StartUpdate::RequestResults::kName,
                       &RoutineService_StartUpdateSkeleton::RequestResults);
    }

    virtual jux::com::Future<RoutineService_StartUpdate::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo, uint8_t LogLevel, uint8_t Address_format_identifier,
        const std::vector<uint8_t>& Memory_Address) = 0;
    virtual jux::com::Future<void> Stop(const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<RoutineService_StartUpdate::RequestResults::Output> RequestResults(
        const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_StartUpdate::Start::Signature>(
                  &RoutineService_StartUpdateSkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_StartUpdate::Stop::Signature>(
                  &RoutineService_StartUpdateSkeleton::Stop),
              "Stop differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_StartUpdate::Cancel::Signature>(
                  &RoutineService_StartUpdateSkeleton::Cancel),
              "Cancel differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_StartUpdate::RequestResults::Signature>(
                  &RoutineService_StartUpdateSkeleton::RequestResults),
              "RequestResults differs from the interface");

}  // namespace skeleton
}  // namespace r_c010
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
