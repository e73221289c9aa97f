// Finds one instance of a consumed service by its instance id and creates the
// proxy for it; the derived class subscribes its field handlers once the
// proxy exists. Each registration is one look-up, without retry.
#ifndef COMMUNICATION_SERVICEDISCOVERY_H
#define COMMUNICATION_SERVICEDISCOVERY_H

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "KivLibrary/Logger/Logging.h"
#include "platform/com/Types.h"

namespace kiv {

template <typename Proxy>
class Service_discovery {
public:
    using HandleType = typename Proxy::HandleType;
    using Handles = zov::com::ServiceHandleContainer<HandleType>;

    Service_discovery() = default;
    virtual ~Service_discovery() = default;
    Service_discovery(const Service_discovery&) = delete;
    Service_discovery& operator=(const Service_discovery&) = delete;

    virtual Handles Subscribe(const std::string& instanceId) {
        m_instanceId = instanceId;
        LogInfo() << "Subscribing to DiagnosticConversation instance id: " << instanceId << VLMR_FILE_LINE;
        m_handles = Proxy::FindService(instanceId);
        return m_handles;
    }

    // The proxy in use (may be empty). Users keep their copy for the whole
    // call, so a replacement never pulls the proxy from under them.
    virtual std::shared_ptr<Proxy> GetProxy() const {
        std::lock_guard<std::mutex> lock(m_proxyMutex);
        return m_proxy;
    }

    virtual void SetAndSubscribeReceiveHandler() {}

    virtual bool IsProxyValid() const { return GetProxy() != nullptr; }

    virtual bool HasHandles(const Handles& handles) const { return !handles.empty(); }

    virtual bool ProcessServiceHandle(const Handles& handles) {
        const std::string suffix = m_instanceId + "]";
        if (!HasHandles(handles)) {
            LogInfo() << "Service_discovery::ProcessServiceHandle: no valid handle found forinstance ID [" << suffix
                      << VLMR_FILE_LINE;
            return false;
        }
        LogInfo() << "Service_discovery::ProcessServiceHandle: Service started for instance ID [" << suffix
                  << VLMR_FILE_LINE;
        try {
            ReplaceProxy(std::make_shared<Proxy>(handles.front()));
            LogInfo() << "Service_discovery::ProcessServiceHandle: Proxy created for instance ID [" << suffix
                      << VLMR_FILE_LINE;
        } catch (...) {
            LogInfo() << "Service_discovery::ProcessServiceHandle: Unknown exception for instance ID [" << suffix
                      << VLMR_FILE_LINE;
        }
        if (IsProxyValid()) {
            LogInfo() << "Service_discovery::ProcessServiceHandle: Register with instance id instance ID [" << suffix
                      << VLMR_FILE_LINE;
            SetAndSubscribeReceiveHandler();
            return true;
        }
        LogInfo() << "Service_discovery::ProcessServiceHandle: Proxy not valid instance ID [" << suffix
                  << VLMR_FILE_LINE;
        return false;
    }

protected:
    // Puts `proxy` in place and answers the one it replaced, so that the
    // caller decides where the old one is released.
    std::shared_ptr<Proxy> ExchangeProxy(std::shared_ptr<Proxy> proxy) {
        std::lock_guard<std::mutex> lock(m_proxyMutex);
        std::swap(m_proxy, proxy);
        return proxy;
    }

private:
    // The old proxy goes outside the lock: its destruction waits for running
    // receive handlers, which read the proxy.
    void ReplaceProxy(std::shared_ptr<Proxy> proxy) { ExchangeProxy(std::move(proxy)); }

    Handles m_handles;
    mutable std::mutex m_proxyMutex;
    std::shared_ptr<Proxy> m_proxy;
    std::string m_instanceId;
};

}  // namespace kiv

#endif
