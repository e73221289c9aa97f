// Skeleton of the DiagnosticInfo service; the field needs a value before the offer.
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAGNOSTICINFO_DIAGNOSTICINFO_SKELETON_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAGNOSTICINFO_DIAGNOSTICINFO_SKELETON_H

#include <string>
#include <utility>

#include "platform/com/Skeleton.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_common.h"

namespace zenqo {
namespace services {
namespace diagnosticinfo {
namespace skeleton {

class DiagnosticInfoSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = DiagnosticInfo::kServiceName;

    explicit DiagnosticInfoSkeleton(
        std::string instance, ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : SkeletonBase(kServiceName, std::move(instance), mode),
          identificationData(*this, DiagnosticInfo::identificationData::kName) {}

    ara::com::internal::skeleton::Field<DiagnosticInfo::identificationData::FieldType> identificationData;
};

}  // namespace skeleton
}  // namespace diagnosticinfo
}  // namespace services
}  // namespace zenqo

#endif
