#include "platform/com/Runtime.h"

#include <atomic>
#include <stdexcept>

#include "platform/com/detail/Core.h"

namespace zov {
namespace com {

ServiceHandleContainer<HandleType> FindService(const std::string& serviceName, const std::string& instanceId) {
    ServiceHandleContainer<HandleType> handles;
    if (detail::Registry::Instance().Find(serviceName, instanceId)) {
        handles.emplace_back(serviceName, instanceId);
    }
    return handles;
}

FindServiceHandle StartFindService(FindServiceHandler<HandleType> handler, const std::string& serviceName,
                                   const std::string& instanceId) {
    return detail::Registry::Instance().StartFind(std::move(handler), serviceName, instanceId);
}

void StopFindService(FindServiceHandle handle) { detail::Registry::Instance().StopFind(handle); }

namespace runtime {

namespace {
std::atomic<bool> g_componentAlive{false};
}

Component_singleton::Component_singleton(bool /*useOwnThreads*/, const std::string& name) : m_name(name) {
    if (g_componentAlive.exchange(true)) {
        throw std::logic_error("A communication runtime exists already");
    }
}

Component_singleton::~Component_singleton() {
    detail::Registry::Instance().Reset();
    g_componentAlive.store(false);
}

}  // namespace runtime

namespace testing {

void ResetRegistry() { detail::Registry::Instance().Reset(); }

void SetTeardownLimit(std::chrono::milliseconds limit) { detail::SetTeardownLimit(limit); }

std::chrono::milliseconds GetTeardownLimit() { return detail::TeardownLimit(); }

bool WaitForBindingIdle(std::chrono::milliseconds timeout) { return detail::BindingPool().WaitIdle(timeout); }

}  // namespace testing

}  // namespace com
}  // namespace zov
