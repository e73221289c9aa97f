// Proxy of the generic UDS service (the simulated diagnostic manager calls it).
#ifndef PLATFORM_SERVICES_ZOV_DM_GENERICUDS_GENERICUDSSERVICE_PROXY_H
#define PLATFORM_SERVICES_ZOV_DM_GENERICUDS_GENERICUDSSERVICE_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_common.h"

namespace zov {
namespace dm {
namespace genericuds {
namespace proxy {

class GenericUDSServiceProxy : public ara::com::internal::proxy::ProxyBase<GenericUDSServiceProxy> {
public:
    static constexpr const char* kServiceName = GenericUDSService::kServiceName;

    explicit GenericUDSServiceProxy(const HandleType& handle)
        : ProxyBase(handle),
          HandleMessage(*this, GenericUDSService::HandleMessage::kName),
          Cancel(*this, GenericUDSService::Cancel::kName) {}

    ara::com::internal::proxy::Method<GenericUDSService::HandleMessage::Signature> HandleMessage;
    ara::com::internal::proxy::Method<GenericUDSService::Cancel::Signature> Cancel;
};

}  // namespace proxy
}  // namespace genericuds
}  // namespace dm
}  // namespace zov

#endif
