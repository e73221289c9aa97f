// Skeleton of routine 0x0253 (calculateIntegrityValidationData); the application derives from it.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0253_ROUTINESERVICE_CALCULATEINTEGRITYVALIDATIONDATA_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAG_R_0253_ROUTINESERVICE_CALCULATEINTEGRITYVALIDATIONDATA_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_common.h"

namespace zenqo {
namespace services {
namespace diag {
namespace r_0253 {
namespace skeleton {

class RoutineService_CalculateIntegrityValidationDataSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = RoutineService_CalculateIntegrityValidationData::kServiceName;

    explicit RoutineService_CalculateIntegrityValidationDataSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(RoutineService_CalculateIntegrityValidationData::Start::kName,
                       &RoutineService_CalculateIntegrityValidationDataSkeleton::Start);
        RegisterMethod(RoutineService_CalculateIntegrityValidationData::Cancel::kName,
                       &RoutineService_CalculateIntegrityValidationDataSkeleton::Cancel);
    }

    virtual jux::com::Future<RoutineService_CalculateIntegrityValidationData::Start::Output> Start(
        const zov::dm::types::MetaInfoType& metaInfo, uint8_t CalculationType, uint8_t HashType) = 0;
    virtual jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) = 0;
};

static_assert(platform::services::HasSignature<RoutineService_CalculateIntegrityValidationData::Start::Signature>(
                  &RoutineService_CalculateIntegrityValidationDataSkeleton::Start),
              "Start differs from the interface");
static_assert(platform::services::HasSignature<RoutineService_CalculateIntegrityValidationData::Cancel::Signature>(
                  &RoutineService_CalculateIntegrityValidationDataSkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace r_0253
}  // namespace diag
}  // namespace services
}  // namespace zenqo

#endif
