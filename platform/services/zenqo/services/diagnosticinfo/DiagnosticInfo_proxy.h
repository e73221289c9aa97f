// Proxy of the DiagnosticInfo service (a simulated platform client reads it).
#ifndef PLATFORM_SERVICES_ZENQO_SERVICES_DIAGNOSTICINFO_DIAGNOSTICINFO_PROXY_H
#define PLATFORM_SERVICES_ZENQO_SERVICES_DIAGNOSTICINFO_DIAGNOSTICINFO_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_common.h"

namespace zenqo {
namespace services {
namespace diagnosticinfo {
namespace proxy {

class DiagnosticInfoProxy : public ara::com::internal::proxy::ProxyBase<DiagnosticInfoProxy> {
public:
    static constexpr const char* kServiceName = DiagnosticInfo::kServiceName;

    explicit DiagnosticInfoProxy(const HandleType& handle)
        : ProxyBase(handle), identificationData(*this, DiagnosticInfo::identificationData::kName) {}

    ara::com::internal::proxy::Field<DiagnosticInfo::identificationData::FieldType> identificationData;
};

}  // namespace proxy
}  // namespace diagnosticinfo
}  // namespace services
}  // namespace zenqo

#endif
