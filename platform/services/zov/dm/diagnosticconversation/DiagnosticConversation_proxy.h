// Proxy of the DiagnosticConversation service (the conversation client uses it).
#ifndef PLATFORM_SERVICES_ZOV_DM_DIAGNOSTICCONVERSATION_DIAGNOSTICCONVERSATION_PROXY_H
#define PLATFORM_SERVICES_ZOV_DM_DIAGNOSTICCONVERSATION_DIAGNOSTICCONVERSATION_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_common.h"

namespace zov {
namespace dm {
namespace diagnosticconversation {
namespace proxy {

class DiagnosticConversationProxy : public ara::com::internal::proxy::ProxyBase<DiagnosticConversationProxy> {
public:
    static constexpr const char* kServiceName = DiagnosticConversation::kServiceName;

    explicit DiagnosticConversationProxy(const HandleType& handle)
        : ProxyBase(handle),
          Cancel(*this, DiagnosticConversation::Cancel::kName),
          Status(*this, DiagnosticConversation::Status::kName),
          Identifier(*this, DiagnosticConversation::Identifier::kName) {}

    ara::com::internal::proxy::Method<DiagnosticConversation::Cancel::Signature> Cancel;
    ara::com::internal::proxy::Field<DiagnosticConversation::Status::FieldType> Status;
    ara::com::internal::proxy::Field<DiagnosticConversation::Identifier::FieldType> Identifier;
};

}  // namespace proxy
}  // namespace diagnosticconversation
}  // namespace dm
}  // namespace zov

#endif
