// Skeleton of routine 0xC00E (CheckUpdate); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C00E_ROUTINESERVICE_CHECKUPDATE_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_C00E_ROUTINESERVICE_CHECKUPDATE_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_c00e {
namespace skeleton {

class RoutineService_CheckUpdateSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_CheckUpdate::kServiceName;

    explicit RoutineService_CheckUpdateSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_CheckUpdate::Start::kName, &RoutineService_CheckUpdateSkeleton::Start);
        RegisterMethod(RoutineService_CheckUpdate::Stop::kName, &RoutineService_CheckUpdateSkeleton::Stop);
        RegisterMethod(RoutineService_CheckUpdate::Cancel::kName, &RoutineService_CheckUpdateSkeleton::Cancel);
        RegisterMethod(RoutineService_CheckUpdate::RequestResults::kName,
                       &RoutineService_CheckUpdateSkeleton::RequestResults);
    }

    virtual jux::com::Future<RoutineService_CheckUpdate::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo, uint8_t routineControlOption) = 0;
    virtual jux::com::Future<void> Stop(const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<RoutineService_CheckUpdate::RequestResults::Output> RequestResults(
        const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_CheckUpdate::Start::Signature>(
                  &RoutineService_CheckUpdateSkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CheckUpdate::Stop::Signature>(
                  &RoutineService_CheckUpdateSkeleton::Stop),
              "Stop differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CheckUpdate::Cancel::Signature>(
                  &RoutineService_CheckUpdateSkeleton::Cancel),
              "Cancel differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CheckUpdate::RequestResults::Signature>(
                  &RoutineService_CheckUpdateSkeleton::RequestResults),
              "RequestResults differs from the interface");

}  // namespace skeleton
}  // namespace r_c00e
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
