// Skeleton of routine 0x029A (calculateModuleHashValue); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_029A_ROUTINESERVICE_CALCULATEMODULEHASHVALUE_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_029A_ROUTINESERVICE_CALCULATEMODULEHASHVALUE_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_029a {
namespace skeleton {

class RoutineService_CalculateModuleHashValueSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_CalculateModuleHashValue::kServiceName;

    explicit RoutineService_CalculateModuleHashValueSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_CalculateModuleHashValue::Start::kName,
                       &RoutineService_CalculateModuleHashValueSkeleton::Start);
        RegisterMethod(RoutineService_CalculateModuleHashValue::Stop::kName,
                       &RoutineService_CalculateModuleHashValueSkeleton::Stop);
        RegisterMethod(RoutineService_CalculateModuleHashValue::Cancel::kName,
                       &RoutineService_CalculateModuleHashValueSkeleton::Cancel);
        RegisterMethod(RoutineService_CalculateModuleHashValue::RequestResults::kName,
                       &RoutineService_CalculateModuleHashValueSkeleton::RequestResults);
    }

    virtual jux::com::Future<RoutineService_CalculateModuleHashValue::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo, uint8_t HashType, uint8_t CalculationType) = 0;
    virtual jux::com::Future<void> Stop(const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
    virtual jux::com::Future<RoutineService_CalculateModuleHashValue::RequestResults::Output> RequestResults(
        const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_CalculateModuleHashValue::Start::Signature>(
                  &RoutineService_CalculateModuleHashValueSkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CalculateModuleHashValue::Stop::Signature>(
                  &RoutineService_CalculateModuleHashValueSkeleton::Stop),
              "Stop differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CalculateModuleHashValue::Cancel::Signature>(
                  &RoutineService_CalculateModuleHashValueSkeleton::Cancel),
              "Cancel differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CalculateModuleHashValue::RequestResults::Signature>(
                  &RoutineService_CalculateModuleHashValueSkeleton::RequestResults),
              "RequestResults differs from the interface");

}  // namespace skeleton
}  // namespace r_029a
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
