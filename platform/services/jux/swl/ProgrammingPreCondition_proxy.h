// Proxy of the programming pre-condition service.
#ifndef PLATFORM_SERVICES_JUX_SWL_PROGRAMMINGPRECONDITION_PROXY_H
#define PLATFORM_SERVICES_JUX_SWL_PROGRAMMINGPRECONDITION_PROXY_H

#include "platform/com/Proxy.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_common.h"

namespace jux {
namespace swl {
namespace proxy {

class ProgrammingPreConditionProxy : public ara::com::internal::proxy::ProxyBase<ProgrammingPreConditionProxy> {
public:
    static constexpr const char* kServiceName = ProgrammingPreCondition::kServiceName;

    explicit ProgrammingPreConditionProxy(const HandleType& handle)
        : ProxyBase(handle), GetPreCondition(*this, ProgrammingPreCondition::GetPreCondition::kName) {}

    ara::com::internal::proxy::Method<ProgrammingPreCondition::GetPreCondition::Signature> GetPreCondition;
};

}  // namespace proxy
}  // namespace swl
}  // namespace jux

#endif
