// Proxy of the SecurityAccess service (the simulated diagnostic manager calls it).
#ifndef PLATFORM_SERVICES_ZOV_DM_SECURITYACCESS_SECURITYACCESS_PROXY_H
#define PLATFORM_SERVICES_ZOV_DM_SECURITYACCESS_SECURITYACCESS_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_common.h"

namespace zov {
namespace dm {
namespace securityaccess {
namespace proxy {

class SecurityAccessProxy : public ara::com::internal::proxy::ProxyBase<SecurityAccessProxy> {
public:
    static constexpr const char* kServiceName = SecurityAccess::kServiceName;

    explicit SecurityAccessProxy(const HandleType& handle)
        : ProxyBase(handle),
          GetSeed(*this, SecurityAccess::GetSeed::kName),
          CompareKey(*this, SecurityAccess::CompareKey::kName),
          Cancel(*this, SecurityAccess::Cancel::kName) {}

    ara::com::internal::proxy::Method<SecurityAccess::GetSeed::Signature> GetSeed;
    ara::com::internal::proxy::Method<SecurityAccess::CompareKey::Signature> CompareKey;
    ara::com::internal::proxy::Method<SecurityAccess::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace securityaccess
}  // namespace dm
}  // namespace zov

#endif
