// Proxy side of the in-process binding: the base of a generated-style service
// proxy, its methods, events and fields.
#ifndef PLATFORM_COM_PROXY_H
#define PLATFORM_COM_PROXY_H

#include <cstddef>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/Future.h"
#include "platform/com/Runtime.h"
#include "platform/com/Types.h"
#include "platform/com/detail/Core.h"

namespace ara {
namespace com {
namespace internal {
namespace proxy {

// What the elements of a proxy share: the handle of the instance and the
// subscribers of its events and fields. The first element destroyed closes
// every subscriber (waiting for running receive handlers), so no handler runs
// while any element of the proxy is already gone: a handler may use every
// element of its proxy.
class ProxyCore {
public:
    explicit ProxyCore(zov::com::HandleType handle) : m_handle(std::move(handle)) {}
    virtual ~ProxyCore() { CloseSubscribers(); }
    ProxyCore(const ProxyCore&) = delete;
    ProxyCore& operator=(const ProxyCore&) = delete;

    const zov::com::HandleType& GetHandle() const { return m_handle; }

    void AddSubscriber(std::shared_ptr<zov::com::detail::SubscriberBase> subscriber) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_subscribers.push_back(std::move(subscriber));
    }

    // Called by each element's destructor; only the first call does anything.
    void CloseSubscribers() const {
        std::vector<std::shared_ptr<zov::com::detail::SubscriberBase>> subscribers;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            subscribers.swap(m_subscribers);
        }
        for (const auto& subscriber : subscribers) {
            subscriber->Close();
        }
    }

private:
    zov::com::HandleType m_handle;
    mutable std::mutex m_mutex;
    mutable std::vector<std::shared_ptr<zov::com::detail::SubscriberBase>> m_subscribers;
};

// Base of a proxy class `Derived` that names its interface in
// `static constexpr const char* kServiceName`.
template <typename Derived>
class ProxyBase : public ProxyCore {
public:
    using HandleType = zov::com::HandleType;

    explicit ProxyBase(const HandleType& handle) : ProxyCore(handle) {
        if (handle.GetServiceName() != Derived::kServiceName) {
            throw std::invalid_argument("Handle of " + handle.GetServiceName() + " given to a proxy of " +
                                        Derived::kServiceName);
        }
    }

    static zov::com::ServiceHandleContainer<HandleType> FindService(const std::string& instanceId) {
        return zov::com::FindService(Derived::kServiceName, instanceId);
    }

    static zov::com::FindServiceHandle StartFindService(zov::com::FindServiceHandler<HandleType> handler,
                                                        const std::string& instanceId) {
        return zov::com::StartFindService(std::move(handler), Derived::kServiceName, instanceId);
    }

    static void StopFindService(zov::com::FindServiceHandle handle) { zov::com::StopFindService(handle); }
};

template <typename Signature>
class Method;

// A method of the service. Each call looks the offering skeleton up
// (zov::com::Service_not_available_exception when there is none), copies the
// arguments and answers on a binding thread.
template <typename R, typename... Args>
class Method<R(Args...)> {
public:
    Method(const ProxyCore& proxy, std::string name)
        : m_proxy(proxy), m_handle(proxy.GetHandle()), m_name(std::move(name)) {}
    ~Method() { m_proxy.CloseSubscribers(); }
    Method(const Method&) = delete;
    Method& operator=(const Method&) = delete;

    jux::com::Future<R> operator()(const std::decay_t<Args>&... args) const {
        return zov::com::detail::Call<R, std::decay_t<Args>...>(m_handle, m_name, args...);
    }

private:
    const ProxyCore& m_proxy;
    zov::com::HandleType m_handle;
    std::string m_name;
};

// An event of the service: subscription with a queue of the last n samples and
// a receive handler that runs on a thread of this event's own.
template <typename T>
class Event {
public:
    Event(const ProxyCore& proxy, std::string name)
        : m_proxy(proxy),
          m_key{proxy.GetHandle().GetServiceName(), proxy.GetHandle().GetInstanceId(), std::move(name)},
          m_subscriber(std::make_shared<zov::com::detail::Subscriber<T>>()) {
        proxy.AddSubscriber(m_subscriber);
        zov::com::detail::Registry::Instance().AddSubscriber(m_key, m_subscriber);
    }

    // Waits for running receive handlers of the whole proxy unless called
    // from inside one.
    ~Event() {
        m_proxy.CloseSubscribers();
        m_subscriber->Close();
        zov::com::detail::Registry::Instance().RemoveSubscriber(m_key, m_subscriber.get());
    }

    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Keeps at most maxSampleCount unread samples (the oldest are dropped).
    void Subscribe(std::size_t maxSampleCount) { m_subscriber->Subscribe(maxSampleCount); }

    // Drops the unread samples; never waits, also not for a running handler.
    void Unsubscribe() { m_subscriber->Unsubscribe(); }

    bool IsSubscribed() const { return m_subscriber->IsSubscribed(); }

    // Called (without arguments) after new samples arrived; the handler takes
    // them with GetNewSamples. It may call back into the binding.
    void SetReceiveHandler(EventReceiveHandler handler) { m_subscriber->SetReceiveHandler(std::move(handler)); }

    // Waits for a running call of the handler unless called from inside it.
    void UnsetReceiveHandler() { m_subscriber->UnsetReceiveHandler(); }

    // Calls func(SamplePtr<const T>) for up to maxCount unread samples, oldest
    // first; returns how many.
    template <typename F>
    std::size_t GetNewSamples(F&& func, std::size_t maxCount = std::numeric_limits<std::size_t>::max()) {
        return m_subscriber->TakeSamples(std::forward<F>(func), maxCount);
    }

protected:
    const ProxyCore& m_proxy;
    const zov::com::detail::ElementKey m_key;
    std::shared_ptr<zov::com::detail::Subscriber<T>> m_subscriber;
};

// A field: an event whose subscription first delivers the current value, and
// a getter.
template <typename T>
class Field : public Event<T> {
public:
    Field(const ProxyCore& proxy, std::string name)
        : Event<T>(proxy, name), m_getter(proxy, zov::com::detail::FieldGetterName(name)) {}
    // The getter goes before the event part: the receive thread ends first.
    ~Field() { this->m_proxy.CloseSubscribers(); }

    void Subscribe(std::size_t maxSampleCount) {
        Event<T>::Subscribe(maxSampleCount);
        auto core = zov::com::detail::Registry::Instance().Find(this->m_key.service, this->m_key.instance);
        if (!core) {
            return;
        }
        for (const auto& field : core->Fields()) {
            if (field.first == this->m_key.element) {
                field.second->SendCurrent(this->m_subscriber);
            }
        }
    }

    // The current value, from the skeleton's get handler or its stored value.
    jux::com::Future<T> Get() const { return m_getter(); }

private:
    Method<T()> m_getter;
};

}  // namespace proxy
}  // namespace internal
}  // namespace com
}  // namespace ara

#endif
