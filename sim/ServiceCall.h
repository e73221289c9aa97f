// How the simulated diagnostic manager calls one of Velmora's services: a
// proxy found on first use (and found again after its service went away), and
// a call bounded in time that never hangs and never lets a binding error out.
// Internal to sim/. Not part of the product.
#ifndef SIM_SERVICECALL_H
#define SIM_SERVICECALL_H

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "platform/com/Future.h"
#include "platform/com/Types.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace sim {

// A proxy found on first use and found again after its service went away
// (Velmora restarted within the process). Thread-safe.
template <typename Proxy>
class ProxySlot {
public:
    explicit ProxySlot(std::string instance) : m_instance(std::move(instance)) {}

    std::shared_ptr<Proxy> Get() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_proxy) {
            const auto handles = Proxy::FindService(m_instance);
            if (!handles.empty()) {
                m_proxy = std::make_shared<Proxy>(handles.front());
            }
        }
        return m_proxy;
    }

    void Drop(const std::shared_ptr<Proxy>& stale) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_proxy == stale) {
            m_proxy.reset();
        }
    }

    void DropAll() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_proxy.reset();
    }

    const std::string& Instance() const { return m_instance; }

private:
    const std::string m_instance;
    std::mutex m_mutex;
    std::shared_ptr<Proxy> m_proxy;
};

// Calls `call(proxy)`, which returns the method's future, waits at most
// `timeout` for it and hands the ready future to `finish`, whose result is
// returned. The service is found again once when the cached proxy's service
// went away. Empty when it cannot answer (not offered, no answer in time,
// another failure; logged); the interface's application error `Failed`,
// thrown by `finish`, passes to the caller.
template <typename Failed, typename Proxy, typename Call, typename Finish>
auto CallBounded(ProxySlot<Proxy>& slot, std::chrono::milliseconds timeout, const std::string& what, Call call,
                 Finish finish) -> std::optional<decltype(finish(call(std::declval<Proxy&>())))> {
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto proxy = slot.Get();
        if (!proxy) {
            LogError() << "DM: " << what << " not offered" << VLMR_FILE_LINE;
            return std::nullopt;
        }
        try {
            auto future = call(*proxy);
            if (future.wait_for(timeout) != jux::com::future_status::ready) {
                LogError() << "DM: " << what << " did not answer within " << static_cast<int64_t>(timeout.count())
                           << " ms" << VLMR_FILE_LINE;
                return std::nullopt;
            }
            return finish(std::move(future));
        } catch (const Failed&) {
            throw;
        } catch (const zov::com::Service_not_available_exception&) {
            slot.Drop(proxy);
        } catch (...) {
            LogError() << "DM: " << what << " failed: " << ExceptionText(std::current_exception()) << VLMR_FILE_LINE;
            return std::nullopt;
        }
    }
    LogError() << "DM: " << what << " not available" << VLMR_FILE_LINE;
    return std::nullopt;
}

}  // namespace sim

#endif
