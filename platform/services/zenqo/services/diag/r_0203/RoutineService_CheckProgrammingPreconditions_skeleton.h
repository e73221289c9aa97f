// Skeleton of routine 0x0203 (CheckProgrammingPreconditions); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0203_ROUTINESERVICE_CHECKPROGRAMMINGPRECONDITIONS_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0203_ROUTINESERVICE_CHECKPROGRAMMINGPRECONDITIONS_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0203 {
namespace skeleton {

class RoutineService_CheckProgrammingPreconditionsSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_CheckProgrammingPreconditions::kServiceName;

    explicit RoutineService_CheckProgrammingPreconditionsSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_CheckProgrammingPreconditions::Start::kName,
                       &RoutineService_CheckProgrammingPreconditionsSkeleton::Start);
        RegisterMethod(RoutineService_CheckProgrammingPreconditions::Cancel::kName,
                       &RoutineService_CheckProgrammingPreconditionsSkeleton::Cancel);
    }

    virtual jux::com::Future<RoutineService_CheckProgrammingPreconditions::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_CheckProgrammingPreconditions::Start::Signature>(
                  &RoutineService_CheckProgrammingPreconditionsSkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CheckProgrammingPreconditions::Cancel::Signature>(
                  &RoutineService_CheckProgrammingPreconditionsSkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace r_0203
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
