// Skeleton side of the in-process binding: the base of a generated-style
// service skeleton, its events and its fields.
#ifndef PLATFORM_COM_SKELETON_H
#define PLATFORM_COM_SKELETON_H

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "platform/com/Future.h"
#include "platform/com/Types.h"
#include "platform/com/detail/Core.h"

namespace ara {
namespace com {
namespace internal {
namespace skeleton {

class SkeletonBase {
public:
    // kPoll is refused with std::invalid_argument.
    SkeletonBase(std::string serviceName, std::string instanceId,
                 MethodCallProcessingMode mode = MethodCallProcessingMode::kEvent);
    // Stops offering, stops the dispatcher (waiting for running calls) and
    // fails calls still waiting for an answer. Owners stop offering and stop
    // the dispatcher before the derived object is destroyed.
    virtual ~SkeletonBase();
    SkeletonBase(const SkeletonBase&) = delete;
    SkeletonBase& operator=(const SkeletonBase&) = delete;

    // Checks that every field has a value or a get handler (std::logic_error
    // otherwise), starts the dispatcher when it is not running, and registers
    // the instance; zov::com::Service_already_offered_exception when another
    // skeleton offers the same (service name, instance).
    void OfferService();
    void StopOfferService();

    void StartMethodDispatcher();
    // Refuses new calls, fails queued ones and waits for running ones (do not
    // call it from inside a call of this skeleton: it would not wait then).
    // False when it gave up on a running call at the teardown limit: that
    // call still uses the skeleton.
    bool StopMethodDispatcher();

    bool IsOffered() const;
    const std::string& GetServiceName() const;
    const std::string& GetInstanceId() const;

    const std::shared_ptr<zov::com::detail::SkeletonCore>& Core() const { return m_core; }

protected:
    // Registers a member function (usually a pure virtual one of the
    // generated skeleton) as the method `name`; the arguments are the caller's
    // copies, moved into the call.
    template <typename C, typename R, typename... A>
    void RegisterMethod(const std::string& name, jux::com::Future<R> (C::*method)(A...)) {
        C* self = static_cast<C*>(this);
        RegisterMethodHandler<R, std::decay_t<A>...>(
            name, [self, method](std::decay_t<A>&... args) { return (self->*method)(std::move(args)...); });
    }

    // Registers any callable taking (Args&...) and returning Future<R>.
    template <typename R, typename... Args, typename F>
    void RegisterMethodHandler(const std::string& name, F&& handler) {
        using Entry = zov::com::detail::MethodEntry<R, Args...>;
        auto call = [handler = std::forward<F>(handler)](std::tuple<Args...>& args) mutable {
            return std::apply(handler, args);
        };
        m_core->AddMethod(name, std::make_shared<Entry>(typename Entry::Handler(std::move(call))));
    }

private:
    std::shared_ptr<zov::com::detail::SkeletonCore> m_core;
};

namespace detail {

template <typename T>
class FieldState : public zov::com::detail::FieldStateBase {
public:
    FieldState(std::weak_ptr<zov::com::detail::SkeletonCore> core, zov::com::detail::ElementKey key)
        : m_core(std::move(core)), m_key(std::move(key)) {}

    void Update(const T& value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_value = value;
        m_version = zov::com::detail::NextFieldVersion();
        SendLocked(AllSubscribers());
    }

    void SetGetHandler(std::function<jux::com::Future<T>()> handler) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_getHandler = std::move(handler);
    }

    jux::com::Future<T> Get() {
        std::function<jux::com::Future<T>()> handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_getHandler) {
                if (!m_value) {
                    return jux::com::MakeExceptionalFuture<T>(
                        std::make_exception_ptr(std::logic_error("Field " + m_key.element + " has no value")));
                }
                return jux::com::MakeReadyFuture(T(*m_value));
            }
            handler = m_getHandler;
        }
        return handler();
    }

    bool HasValueOrGetHandler() const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_value.has_value() || static_cast<bool>(m_getHandler);
    }

    void SendCurrent(const std::shared_ptr<zov::com::detail::SubscriberBase>& subscriber) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        SendLocked({subscriber});
    }

    void SendCurrentToAll() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        SendLocked(AllSubscribers());
    }

    void NewOffer() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_version = zov::com::detail::NextFieldVersion();
    }

private:
    std::vector<std::shared_ptr<zov::com::detail::SubscriberBase>> AllSubscribers() const {
        return zov::com::detail::Registry::Instance().Subscribers(m_key);
    }

    // Under m_mutex, so that subscribers see the values in update order.
    void SendLocked(const std::vector<std::shared_ptr<zov::com::detail::SubscriberBase>>& subscribers) {
        auto core = m_core.lock();
        if (!m_value || !core || !core->IsOffered()) {
            return;
        }
        zov::com::detail::SendToAll(subscribers, *m_value, m_version);
    }

    const std::weak_ptr<zov::com::detail::SkeletonCore> m_core;
    const zov::com::detail::ElementKey m_key;
    mutable std::mutex m_mutex;
    std::optional<T> m_value;
    uint64_t m_version = 0;  // of m_value
    std::function<jux::com::Future<T>()> m_getHandler;
};

}  // namespace detail

template <typename T>
class Event {
public:
    Event(SkeletonBase& owner, std::string name)
        : m_core(owner.Core()), m_key{owner.GetServiceName(), owner.GetInstanceId(), std::move(name)} {}

    // Hands a copy to every subscribed proxy while the service is offered.
    void Send(const T& data) {
        if (m_core->IsOffered()) {
            zov::com::detail::SendToAll(zov::com::detail::Registry::Instance().Subscribers(m_key), data);
        }
    }

private:
    std::shared_ptr<zov::com::detail::SkeletonCore> m_core;
    zov::com::detail::ElementKey m_key;
};

template <typename T>
class Field {
public:
    Field(SkeletonBase& owner, std::string name)
        : m_state(std::make_shared<detail::FieldState<T>>(
              owner.Core(), zov::com::detail::ElementKey{owner.GetServiceName(), owner.GetInstanceId(), name})) {
        owner.Core()->AddField(name, m_state);
        auto state = m_state;
        owner.Core()->AddMethod(
            zov::com::detail::FieldGetterName(name),
            std::make_shared<zov::com::detail::MethodEntry<T>>([state](std::tuple<>&) { return state->Get(); }));
    }

    // Stores the value and notifies the subscribers while offered.
    void Update(const T& data) { m_state->Update(data); }

    // With a get handler, a proxy's Get runs it on a method thread instead of
    // answering the stored value.
    void RegisterGetHandler(std::function<jux::com::Future<T>()> handler) {
        m_state->SetGetHandler(std::move(handler));
    }

private:
    std::shared_ptr<detail::FieldState<T>> m_state;
};

}  // namespace skeleton
}  // namespace internal
}  // namespace com
}  // namespace ara

#endif
