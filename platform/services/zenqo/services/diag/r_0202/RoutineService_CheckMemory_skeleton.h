// Skeleton of routine 0x0202 (CheckMemory); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0202_ROUTINESERVICE_CHECKMEMORY_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0202_ROUTINESERVICE_CHECKMEMORY_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0202 {
namespace skeleton {

class RoutineService_CheckMemorySkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_CheckMemory::kServiceName;

    explicit RoutineService_CheckMemorySkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_CheckMemory::Start::kName, &RoutineService_CheckMemorySkeleton::Start);
        RegisterMethod(RoutineService_CheckMemory::Cancel::kName, &RoutineService_CheckMemorySkeleton::Cancel);
    }

    virtual jux::com::Future<RoutineService_CheckMemory::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo, const std::vector<uint8_t>& data) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_CheckMemory::Start::Signature>(
                  &RoutineService_CheckMemorySkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CheckMemory::Cancel::Signature>(
                  &RoutineService_CheckMemorySkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace r_0202
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
