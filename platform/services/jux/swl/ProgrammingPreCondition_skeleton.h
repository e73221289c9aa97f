// Skeleton of the programming pre-condition service; the application derives from it.
#ifndef PLATFORM_SERVICES_JUX_SWL_PROGRAMMINGPRECONDITION_SKELETON_H
#define PLATFORM_SERVICES_JUX_SWL_PROGRAMMINGPRECONDITION_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_common.h"

namespace jux {
namespace swl {
namespace skeleton {

class ProgrammingPreConditionSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = ProgrammingPreCondition::kServiceName;

    explicit ProgrammingPreConditionSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode) {
        RegisterMethod(ProgrammingPreCondition::GetPreCondition::kName,
                       &ProgrammingPreConditionSkeleton::GetPreCondition);
    }

    virtual jux::com::Future<ProgrammingPreCondition::GetPreCondition::Output> GetPreCondition() = 0;
};

static_assert(platform::services::HasSignature<ProgrammingPreCondition::GetPreCondition::Signature>(
                  &ProgrammingPreConditionSkeleton::GetPreCondition),
              "GetPreCondition differs from the interface");

}  // namespace skeleton
}  // namespace swl
}  // namespace jux

#endif
