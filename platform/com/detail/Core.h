// Inner parts of the in-process binding shared by the skeleton and proxy
// templates. Not for direct use by service code.
#ifndef PLATFORM_COM_DETAIL_CORE_H
#define PLATFORM_COM_DETAIL_CORE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "platform/com/Future.h"
#include "platform/com/Types.h"
#include "platform/com/detail/ThreadPool.h"
#include "platform/testhook/UnexpectedException.h"

namespace zov {
namespace com {
namespace detail {

// The process-wide pool that runs continuations of callers' futures and
// find-service handlers. Callers' futures themselves are completed by the
// thread that produces the answer, so a full pool never holds an answer back.
ThreadPool& BindingPool();

// How long a teardown step waits for user code of the binding to finish
// (running calls, handlers, queued work) before it gives up on it.
std::chrono::milliseconds TeardownLimit();
void SetTeardownLimit(std::chrono::milliseconds limit);

// Logs an exception that a binding thread caught from user code.
void LogCaught(const char* where, std::exception_ptr error) noexcept;

// The outcome of a call that can no longer be answered.
inline std::exception_ptr BrokenPromise() { return std::make_exception_ptr(jux::com::Broken_promise_exception()); }

// ---- methods ---------------------------------------------------------------

class MethodEntryBase {
public:
    virtual ~MethodEntryBase() = default;
};

template <typename R, typename... Args>
class MethodEntry : public MethodEntryBase {
public:
    // Receives the caller's copies of the arguments and may move from them.
    using Handler = std::function<jux::com::Future<R>(std::tuple<Args...>&)>;
    explicit MethodEntry(Handler handler) : m_handler(std::move(handler)) {}
    jux::com::Future<R> Invoke(std::tuple<Args...>& args) const { return m_handler(args); }

private:
    Handler m_handler;
};

// A call whose answer the caller still waits for. Completed exactly once:
// by the answer, or failed when it cannot be answered any more.
class PendingCallBase {
public:
    virtual ~PendingCallBase() = default;
    virtual void Fail(std::exception_ptr error) = 0;
};

class SubscriberBase;

// Skeleton-side state of one field, reachable while the skeleton lives.
class FieldStateBase {
public:
    virtual ~FieldStateBase() = default;
    virtual bool HasValueOrGetHandler() const = 0;
    // Hands the current value (if any) to one subscriber, or to all of them.
    virtual void SendCurrent(const std::shared_ptr<SubscriberBase>& subscriber) = 0;
    virtual void SendCurrentToAll() = 0;
    // Before an offer: subscribers take the value once more, as new.
    virtual void NewOffer() = 0;
};

// Everything of one skeleton that proxies and the registry reach. Outlives
// the skeleton object while calls still hold it; after Retire it runs nothing.
class SkeletonCore : public std::enable_shared_from_this<SkeletonCore> {
public:
    SkeletonCore(std::string serviceName, std::string instanceId, ara::com::MethodCallProcessingMode mode);
    ~SkeletonCore();

    const std::string& ServiceName() const { return m_serviceName; }
    const std::string& InstanceId() const { return m_instanceId; }

    void AddMethod(const std::string& name, std::shared_ptr<MethodEntryBase> entry);
    void AddField(const std::string& name, std::shared_ptr<FieldStateBase> field);
    std::shared_ptr<MethodEntryBase> FindMethod(const std::string& name) const;
    std::vector<std::pair<std::string, std::shared_ptr<FieldStateBase>>> Fields() const;

    // Queues a call for a method thread; false (and `drop` run) when the
    // dispatcher is stopped or the skeleton retired.
    bool Dispatch(Task run, Task drop);
    void StartDispatcher();
    // False when running calls did not end within the teardown limit.
    bool StopDispatcher();

    bool AddPending(uint64_t id, const std::shared_ptr<PendingCallBase>& call);
    void RemovePending(uint64_t id);
    // Fails every call still waiting for an answer (broken promise).
    void FailPending();

    void SetOffered(bool offered) { m_offered.store(offered); }
    bool IsOffered() const { return m_offered.load(); }

    // The skeleton object is going away: stop, drop every method and field
    // handler and fail every call still waiting for an answer.
    void Retire();

private:
    const std::string m_serviceName;
    const std::string m_instanceId;
    ThreadPool m_methodThreads;
    mutable std::mutex m_mutex;
    bool m_retired = false;
    std::atomic<bool> m_offered{false};
    std::map<std::string, std::shared_ptr<MethodEntryBase>> m_methods;
    std::map<std::string, std::shared_ptr<FieldStateBase>> m_fields;
    std::map<uint64_t, std::weak_ptr<PendingCallBase>> m_pending;
};

// ---- subscriptions (proxy side) -------------------------------------------

// One proxy event or field: its sample queue, subscription flag and receive
// handler. The receive handler runs on a thread of this subscriber's own.
class SubscriberBase : public std::enable_shared_from_this<SubscriberBase> {
public:
    virtual ~SubscriberBase();

    void Subscribe(std::size_t maxSampleCount);
    void Unsubscribe();  // never waits
    bool IsSubscribed() const;
    void SetReceiveHandler(ara::com::EventReceiveHandler handler);
    // Waits for a running call of the handler, except from inside it.
    void UnsetReceiveHandler();
    // Ends the receive thread, waiting for a running handler at most the
    // teardown limit; called by the owning proxy and by the registry's reset.
    void Close();

    virtual const std::type_info& SampleType() const = 0;

protected:
    // Under m_mutex: queue a sample (keeping at most the subscribed count).
    virtual void PushLocked(std::shared_ptr<const void> sample) = 0;
    virtual void ClearLocked() = 0;
    virtual bool EmptyLocked() const = 0;

    mutable std::mutex m_mutex;
    std::size_t m_maxSamples = 1;

private:
    static void ReceiveLoop(std::shared_ptr<SubscriberBase> self);

    std::condition_variable m_cv;
    std::condition_variable m_idleCv;
    bool m_subscribed = false;
    bool m_pendingNotification = false;
    bool m_handlerRunning = false;
    bool m_closed = false;
    bool m_loopEnded = false;
    std::shared_ptr<ara::com::EventReceiveHandler> m_handler;
    std::thread m_thread;
    std::thread::id m_threadId;

    // The field value (by its version) this subscriber last received since it
    // subscribed: an offer and a subscription that meet both hand out the
    // current value, and the subscriber takes it once.
    uint64_t m_lastVersion = 0;

    friend void SendSample(const std::shared_ptr<SubscriberBase>&, std::shared_ptr<const void>, const std::type_info&,
                           uint64_t);
};

// Pushes one sample to a subscriber (no-op when it is not subscribed; a
// sample of another type than the subscriber's is dropped with an error log).
// A field value carries its version (process-wide increasing, see
// NextFieldVersion); one the subscriber already received is not queued again.
// Event samples carry 0.
void SendSample(const std::shared_ptr<SubscriberBase>& subscriber, std::shared_ptr<const void> sample,
                const std::type_info& type, uint64_t version = 0);

uint64_t NextFieldVersion();

// Hands one shared copy of `value` to each of the subscribers.
template <typename T>
void SendToAll(const std::vector<std::shared_ptr<SubscriberBase>>& subscribers, const T& value, uint64_t version = 0) {
    if (subscribers.empty()) {
        return;
    }
    auto sample = std::make_shared<const T>(value);
    for (const auto& subscriber : subscribers) {
        SendSample(subscriber, sample, typeid(T), version);
    }
}

template <typename T>
class Subscriber : public SubscriberBase {
public:
    // Hands out up to `maxCount` queued samples, oldest first; returns how many.
    template <typename F>
    std::size_t TakeSamples(F&& func, std::size_t maxCount) {
        std::deque<ara::com::SamplePtr<const T>> taken;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (!m_queue.empty() && taken.size() < maxCount) {
                taken.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
        }
        for (auto& sample : taken) {
            func(std::move(sample));
        }
        return taken.size();
    }

    const std::type_info& SampleType() const override { return typeid(T); }

protected:
    void PushLocked(std::shared_ptr<const void> sample) override {
        m_queue.push_back(std::static_pointer_cast<const T>(sample));
        while (m_queue.size() > m_maxSamples) {
            m_queue.pop_front();
        }
    }
    void ClearLocked() override { m_queue.clear(); }
    bool EmptyLocked() const override { return m_queue.empty(); }

private:
    std::deque<ara::com::SamplePtr<const T>> m_queue;
};

// ---- registry ----------------------------------------------------------------

struct ElementKey {
    std::string service;
    std::string instance;
    std::string element;
    bool operator<(const ElementKey& o) const {
        return std::tie(service, instance, element) < std::tie(o.service, o.instance, o.element);
    }
};

class Registry {
public:
    static Registry& Instance();

    void Offer(const std::shared_ptr<SkeletonCore>& core);
    void StopOffer(const SkeletonCore* core);
    // The offering skeleton, or Service_not_available_exception.
    std::shared_ptr<SkeletonCore> Resolve(const std::string& service, const std::string& instance) const;
    std::shared_ptr<SkeletonCore> Find(const std::string& service, const std::string& instance) const;

    FindServiceHandle StartFind(FindServiceHandler<HandleType> handler, const std::string& service,
                                const std::string& instance);
    void StopFind(FindServiceHandle handle);

    void AddSubscriber(const ElementKey& key, const std::shared_ptr<SubscriberBase>& subscriber);
    void RemoveSubscriber(const ElementKey& key, const SubscriberBase* subscriber);
    std::vector<std::shared_ptr<SubscriberBase>> Subscribers(const ElementKey& key) const;

    void Reset();

    struct Search;

private:
    Registry() = default;
    // Under m_mutex: the handles of the instance as offered now (0 or 1).
    ServiceHandleContainer<HandleType> OfferedLocked(const std::string& service, const std::string& instance) const;
    void NotifyLocked(const std::string& service, const std::string& instance);

    mutable std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<SkeletonCore>> m_offers;
    std::map<uint64_t, std::shared_ptr<Search>> m_searches;
    std::map<ElementKey, std::vector<std::weak_ptr<SubscriberBase>>> m_subscribers;
    uint64_t m_nextSearchId = 1;
};

// ---- method call -------------------------------------------------------------

uint64_t NextCallId();

template <typename R>
class PendingCall : public PendingCallBase, public std::enable_shared_from_this<PendingCall<R>> {
public:
    PendingCall(uint64_t id, std::weak_ptr<SkeletonCore> core) : m_id(id), m_core(std::move(core)) {}

    jux::com::Future<R> GetFuture() { return m_promise->get_future(); }

    // The skeleton's future is ready: hand its outcome to the caller.
    void Complete(jux::com::Future<R> answer) {
        Outcome outcome;
        try {
            if constexpr (std::is_void<R>::value) {
                answer.get();
            } else {
                outcome.value.emplace(answer.get());
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        Finish(outcome);
    }

    void Fail(std::exception_ptr error) override {
        Outcome outcome;
        outcome.error = std::move(error);
        Finish(outcome);
    }

private:
    struct Outcome {
        std::optional<jux::com::detail::Stored<R>> value;
        std::exception_ptr error;
    };

    // Completes the caller's future in this thread: its get() wakes at once,
    // and only a continuation it attached goes through the binding pool.
    void Finish(Outcome& outcome) {
        if (m_done.exchange(true)) {
            return;
        }
        if (auto core = m_core.lock()) {
            core->RemovePending(m_id);
        }
        if (outcome.error) {
            m_promise->set_exception(std::move(outcome.error));
        } else if constexpr (std::is_void<R>::value) {
            m_promise->set_value();
        } else {
            m_promise->set_value(std::move(*outcome.value));
        }
    }

    static std::shared_ptr<jux::com::Promise<R>> NewPromise() {
        auto promise = std::make_shared<jux::com::Promise<R>>();
        promise->set_continuation_executor([](std::function<void()> task) { BindingPool().Post(std::move(task)); });
        return promise;
    }

    const uint64_t m_id;
    const std::weak_ptr<SkeletonCore> m_core;
    const std::shared_ptr<jux::com::Promise<R>> m_promise = NewPromise();
    std::atomic<bool> m_done{false};
};

// Resolves the skeleton now, copies the arguments and runs the call on a
// method thread of the skeleton; the thread that produces the answer
// completes the caller's future.
template <typename R, typename... Args>
jux::com::Future<R> Call(const HandleType& handle, const std::string& method, const Args&... args) {
    auto core = Registry::Instance().Resolve(handle.GetServiceName(), handle.GetInstanceId());
    auto entry = std::dynamic_pointer_cast<MethodEntry<R, Args...>>(core->FindMethod(method));
    if (!entry) {
        throw std::logic_error("Skeleton of " + handle.GetServiceName() + " has no method " + method +
                               " with this signature");
    }
    const uint64_t id = NextCallId();
    auto call = std::make_shared<PendingCall<R>>(id, core);
    jux::com::Future<R> result = call->GetFuture();
    if (!core->AddPending(id, call)) {
        call->Fail(BrokenPromise());
        return result;
    }
    auto arguments = std::make_shared<std::tuple<Args...>>(args...);
    core->Dispatch(
        [entry, call, arguments] {
            jux::com::Future<R> answer;
            std::exception_ptr error;
            try {
                answer = entry->Invoke(*arguments);
            } catch (...) {
                // A method answers through its future; one that throws is a fault of the service.
                error = std::current_exception();
                platform::testhook::ReportUnexpectedException("ara::com method", error);
            }
            // Handed on only after the handler block has released its hold.
            if (error) {
                call->Fail(std::move(error));
                return;
            }
            if (!answer.valid()) {
                call->Fail(BrokenPromise());
                return;
            }
            answer.then([call](jux::com::Future<R> ready) { call->Complete(std::move(ready)); });
        },
        [call] { call->Fail(BrokenPromise()); });
    return result;
}

// Name under which a field's getter is registered as a method.
inline std::string FieldGetterName(const std::string& field) { return field + "::Get"; }

}  // namespace detail
}  // namespace com
}  // namespace zov

#endif
