// Skeleton of routine 0xFF01 (CheckProgrammingDependencies); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF01_ROUTINESERVICE_CHECKPROGRAMMINGDEPENDENCIES_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF01_ROUTINESERVICE_CHECKPROGRAMMINGDEPENDENCIES_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_ff01 {
namespace skeleton {

class RoutineService_CheckProgrammingDependenciesSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_CheckProgrammingDependencies::kServiceName;

    explicit RoutineService_CheckProgrammingDependenciesSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_CheckProgrammingDependencies::Start::kName,
                       &RoutineService_CheckProgrammingDependenciesSkeleton::Start);
        RegisterMethod(RoutineService_CheckProgrammingDependencies::Cancel::kName,
                       &RoutineService_CheckProgrammingDependenciesSkeleton::Cancel);
    }

    virtual jux::com::Future<RoutineService_CheckProgrammingDependencies::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_CheckProgrammingDependencies::Start::Signature>(
                  &RoutineService_CheckProgrammingDependenciesSkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CheckProgrammingDependencies::Cancel::Signature>(
                  &RoutineService_CheckProgrammingDependenciesSkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace r_ff01
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
