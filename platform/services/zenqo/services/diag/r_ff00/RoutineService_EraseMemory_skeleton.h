// Skeleton of routine 0xFF00 (EraseMemory); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF00_ROUTINESERVICE_ERASEMEMORY_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_FF00_ROUTINESERVICE_ERASEMEMORY_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_ff00 {
namespace skeleton {

class RoutineService_EraseMemorySkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_EraseMemory::kServiceName;

    explicit RoutineService_EraseMemorySkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_EraseMemory::Start::kName, &RoutineService_EraseMemorySkeleton::Start);
        RegisterMethod(RoutineService_EraseMemory::Cancel::kName, &RoutineService_EraseMemorySkeleton::Cancel);
    }

    virtual jux::com::Future<RoutineService_EraseMemory::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo, uint8_t routineControlOption1, uint8_t routineControlOption2) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_EraseMemory::Start::Signature>(
                  &RoutineService_EraseMemorySkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_EraseMemory::Cancel::Signature>(
                  &RoutineService_EraseMemorySkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace r_ff00
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
