// Skeleton of the DiagnosticConversation service (offered by the diagnostic
// manager; the simulated manager and tests derive from it).
#ifndef PLATFORM_SERVICES_ZOV_DM_DIAGNOSTICCONVERSATION_DIAGNOSTICCONVERSATION_SKELETON_H
#define PLATFORM_SERVICES_ZOV_DM_DIAGNOSTICCONVERSATION_DIAGNOSTICCONVERSATION_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/ServiceSignature.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_common.h"

namespace zov {
namespace dm {
namespace diagnosticconversation {
namespace skeleton {

class DiagnosticConversationSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = DiagnosticConversation::kServiceName;

    explicit DiagnosticConversationSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode),
          Status(*this, DiagnosticConversation::Status::kName),
          Identifier(*this, DiagnosticConversation::Identifier::kName) {
        RegisterMethod(DiagnosticConversation::Cancel::kName, &DiagnosticConversationSkeleton::Cancel);
    }

    virtual jux::com::Future<void> Cancel() = 0;

    ara::com::internal::skeleton::Field<DiagnosticConversation::Status::FieldType> Status;
    ara::com::internal::skeleton::Field<DiagnosticConversation::Identifier::FieldType> Identifier;
};

static_assert(platform::services::HasSignature<DiagnosticConversation::Cancel::Signature>(
                  &DiagnosticConversationSkeleton::Cancel),
              "Cancel differs from the interface");

}  // namespace skeleton
}  // namespace diagnosticconversation
}  // namespace dm
}  // namespace zov

#endif
