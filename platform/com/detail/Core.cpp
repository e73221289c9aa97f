#include "platform/com/detail/Core.h"

#include <algorithm>

#include "platform/ara/log/logging.h"

namespace zov {
namespace com {
namespace detail {

namespace {

// Enough for a handful of callers of one service at once; more calls wait.
constexpr std::size_t kConcurrentMethodThreads = 8;
// A method that waits for a call of its own skeleton (or for anything the
// skeleton's other calls produce) lets this many more method threads run
// meanwhile, in a single-threaded skeleton too: one runs while others wait.
constexpr std::size_t kMethodThreadsWhileWaiting = 16;
// Answers, continuations and find-service handlers of the whole process.
constexpr std::size_t kBindingThreads = 16;
// Handlers and continuations may wait for answers that only this pool
// delivers; while they wait, this many more threads may run.
constexpr std::size_t kBindingThreadsWhileWaiting = 48;

std::size_t MethodThreadCount(ara::com::MethodCallProcessingMode mode) {
    switch (mode) {
        case ara::com::MethodCallProcessingMode::kEvent:
            return kConcurrentMethodThreads;
        case ara::com::MethodCallProcessingMode::kEventSingleThread:
            return 1;
        default:
            throw std::invalid_argument("Method call processing mode " + std::to_string(static_cast<unsigned>(mode)) +
                                        " is not supported");
    }
}

std::atomic<int64_t> g_teardownLimitMs{5000};

}  // namespace

std::chrono::milliseconds TeardownLimit() { return std::chrono::milliseconds(g_teardownLimitMs.load()); }

void SetTeardownLimit(std::chrono::milliseconds limit) { g_teardownLimitMs.store(limit.count()); }

namespace {

void LogTeardownGaveUp(const std::string& what) {
    ara::log::LogError() << "ara::com: " << what.c_str() << " did not end within "
                         << static_cast<int64_t>(TeardownLimit().count()) << " ms, given up";
}

}  // namespace

ThreadPool& BindingPool() {
    // Never destroyed: binding threads may still run while statics are torn down.
    static ThreadPool* pool = new ThreadPool("com-binding", kBindingThreads, false, kBindingThreadsWhileWaiting);
    return *pool;
}

void LogCaught(const char* where, std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ara::log::LogError() << "ara::com " << where << ": exception caught: " << e.what();
    } catch (...) {
        ara::log::LogError() << "ara::com " << where << ": unknown exception caught";
    }
}

uint64_t NextCallId() {
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1);
}

// ---- SkeletonCore ----------------------------------------------------------

SkeletonCore::SkeletonCore(std::string serviceName, std::string instanceId, ara::com::MethodCallProcessingMode mode)
    : m_serviceName(std::move(serviceName)),
      m_instanceId(std::move(instanceId)),
      m_methodThreads("com-method", MethodThreadCount(mode), true, kMethodThreadsWhileWaiting) {}

SkeletonCore::~SkeletonCore() = default;

void SkeletonCore::AddMethod(const std::string& name, std::shared_ptr<MethodEntryBase> entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_retired) {
        m_methods[name] = std::move(entry);
    }
}

void SkeletonCore::AddField(const std::string& name, std::shared_ptr<FieldStateBase> field) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_retired) {
        m_fields[name] = std::move(field);
    }
}

std::shared_ptr<MethodEntryBase> SkeletonCore::FindMethod(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_methods.find(name);
    return it == m_methods.end() ? nullptr : it->second;
}

std::vector<std::pair<std::string, std::shared_ptr<FieldStateBase>>> SkeletonCore::Fields() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_fields.begin(), m_fields.end()};
}

bool SkeletonCore::Dispatch(Task run, Task drop) { return m_methodThreads.Post(std::move(run), std::move(drop)); }

void SkeletonCore::StartDispatcher() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_retired) {
        m_methodThreads.Start();
    }
}

bool SkeletonCore::StopDispatcher() {
    if (!m_methodThreads.Stop(TeardownLimit())) {
        // The running calls will answer nobody: their callers get a broken
        // promise now instead of waiting for ever.
        LogTeardownGaveUp("running calls of " + m_serviceName + " '" + m_instanceId + "'");
        FailPending();
        return false;
    }
    return true;
}

bool SkeletonCore::AddPending(uint64_t id, const std::shared_ptr<PendingCallBase>& call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_retired) {
        return false;
    }
    m_pending[id] = call;
    return true;
}

void SkeletonCore::RemovePending(uint64_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.erase(id);
}

void SkeletonCore::Retire() {
    std::map<std::string, std::shared_ptr<MethodEntryBase>> methods;
    std::map<std::string, std::shared_ptr<FieldStateBase>> fields;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_retired = true;
        methods.swap(m_methods);
        fields.swap(m_fields);
    }
    m_offered.store(false);
    if (!m_methodThreads.Stop(TeardownLimit())) {
        LogTeardownGaveUp("running calls of " + m_serviceName + " '" + m_instanceId + "'");
    }
    FailPending();
}

void SkeletonCore::FailPending() {
    std::map<uint64_t, std::weak_ptr<PendingCallBase>> pending;
    {
        // Taken after the stop: calls dropped by it are already failed.
        std::lock_guard<std::mutex> lock(m_mutex);
        pending.swap(m_pending);
    }
    for (auto& entry : pending) {
        if (auto call = entry.second.lock()) {
            call->Fail(BrokenPromise());
        }
    }
}

// ---- SubscriberBase --------------------------------------------------------

SubscriberBase::~SubscriberBase() {
    if (m_thread.joinable()) {
        m_thread.detach();  // only when Close was never called; the loop holds no reference then
    }
}

void SubscriberBase::Subscribe(std::size_t maxSampleCount) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_subscribed = true;
    m_maxSamples = std::max<std::size_t>(maxSampleCount, 1);
}

void SubscriberBase::Unsubscribe() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscribed = false;
    m_lastVersion = 0;
    m_pendingNotification = false;
    ClearLocked();
}

bool SubscriberBase::IsSubscribed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_subscribed;
}

void SubscriberBase::SetReceiveHandler(ara::com::EventReceiveHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_handler = handler ? std::make_shared<ara::com::EventReceiveHandler>(std::move(handler)) : nullptr;
    if (m_handler && !m_thread.joinable()) {
        m_thread = std::thread(&SubscriberBase::ReceiveLoop, shared_from_this());
        m_threadId = m_thread.get_id();
    }
    if (!EmptyLocked()) {
        m_pendingNotification = true;
    }
    m_cv.notify_all();
}

void SubscriberBase::UnsetReceiveHandler() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_handler.reset();
    if (std::this_thread::get_id() != m_threadId &&
        !m_idleCv.wait_for(lock, TeardownLimit(), [this] { return !m_handlerRunning; })) {
        lock.unlock();
        LogTeardownGaveUp("a receive handler");
    }
}

void SubscriberBase::Close() {
    std::thread thread;
    bool fromReceiveThread = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_subscribed = false;
        m_pendingNotification = false;
        m_handler.reset();
        ClearLocked();
        thread = std::move(m_thread);
        fromReceiveThread = std::this_thread::get_id() == m_threadId;
        m_cv.notify_all();
    }
    if (!thread.joinable()) {
        return;
    }
    if (!fromReceiveThread) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_idleCv.wait_for(lock, TeardownLimit(), [this] { return m_loopEnded; })) {
            lock.unlock();
            thread.join();
            return;
        }
        lock.unlock();
        LogTeardownGaveUp("a receive handler");
    }
    thread.detach();  // the loop keeps this object alive and ends after the handler returns
}

void SubscriberBase::ReceiveLoop(std::shared_ptr<SubscriberBase> self) {
    std::unique_lock<std::mutex> lock(self->m_mutex);
    for (;;) {
        self->m_cv.wait(lock, [&] {
            return self->m_closed || (self->m_pendingNotification && self->m_handler && self->m_subscribed);
        });
        if (self->m_closed) {
            break;
        }
        self->m_pendingNotification = false;
        auto handler = self->m_handler;
        self->m_handlerRunning = true;
        lock.unlock();
        try {
            (*handler)();
        } catch (...) {
            LogCaught("receive handler", std::current_exception());
        }
        handler.reset();
        lock.lock();
        self->m_handlerRunning = false;
        self->m_idleCv.notify_all();
    }
    self->m_loopEnded = true;
    self->m_idleCv.notify_all();
}

uint64_t NextFieldVersion() {
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1);
}

void SendSample(const std::shared_ptr<SubscriberBase>& subscriber, std::shared_ptr<const void> sample,
                const std::type_info& type, uint64_t version) {
    if (type != subscriber->SampleType()) {
        ara::log::LogError() << "ara::com: sample type does not match the subscriber's, dropped";
        return;
    }
    {
        std::lock_guard<std::mutex> lock(subscriber->m_mutex);
        if (!subscriber->m_subscribed || subscriber->m_closed) {
            return;
        }
        if (version != 0) {
            if (version <= subscriber->m_lastVersion) {
                return;
            }
            subscriber->m_lastVersion = version;
        }
        subscriber->PushLocked(std::move(sample));
        subscriber->m_pendingNotification = true;
    }
    subscriber->m_cv.notify_all();
}

// ---- Registry --------------------------------------------------------------

struct Registry::Search {
    Search(uint64_t i, FindServiceHandler<HandleType> h) : id(i), handler(std::move(h)) {}

    const uint64_t id;
    const FindServiceHandler<HandleType> handler;
    std::string serviceName;
    std::string instanceId;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<ServiceHandleContainer<HandleType>> lists;  // not yet delivered, in order
    bool scheduled = false;
    bool stopped = false;
    bool running = false;
    std::thread::id runner;

    // Under the registry mutex, so lists are queued in the order of the changes.
    static void Notify(const std::shared_ptr<Search>& search, ServiceHandleContainer<HandleType> list) {
        std::lock_guard<std::mutex> lock(search->mutex);
        if (search->stopped) {
            return;
        }
        search->lists.push_back(std::move(list));
        if (!search->scheduled) {
            search->scheduled = true;
            BindingPool().Post([search] { Deliver(search); });
        }
    }

    static void Deliver(const std::shared_ptr<Search>& search) {
        std::unique_lock<std::mutex> lock(search->mutex);
        for (;;) {
            if (search->stopped || search->lists.empty()) {
                search->scheduled = false;
                search->lists.clear();
                return;
            }
            auto list = std::move(search->lists.front());
            search->lists.pop_front();
            search->running = true;
            search->runner = std::this_thread::get_id();
            lock.unlock();
            try {
                search->handler(std::move(list), FindServiceHandle(search->id));
            } catch (...) {
                LogCaught("find-service handler", std::current_exception());
            }
            lock.lock();
            search->running = false;
            search->cv.notify_all();
        }
    }

    void Stop() {
        std::unique_lock<std::mutex> lock(mutex);
        stopped = true;
        lists.clear();
        if (runner != std::this_thread::get_id() && !cv.wait_for(lock, TeardownLimit(), [this] { return !running; })) {
            lock.unlock();
            LogTeardownGaveUp("a find-service handler of " + serviceName + " '" + instanceId + "'");
        }
    }
};

Registry& Registry::Instance() {
    static Registry* registry = new Registry();  // see BindingPool
    return *registry;
}

void Registry::Offer(const std::shared_ptr<SkeletonCore>& core) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto key = std::make_pair(core->ServiceName(), core->InstanceId());
    auto it = m_offers.find(key);
    if (it != m_offers.end()) {
        if (it->second == core) {
            return;
        }
        throw Service_already_offered_exception(key.first + " '" + key.second + "'");
    }
    m_offers.emplace(key, core);
    NotifyLocked(key.first, key.second);
}

void Registry::StopOffer(const SkeletonCore* core) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto key = std::make_pair(core->ServiceName(), core->InstanceId());
    auto it = m_offers.find(key);
    if (it == m_offers.end() || it->second.get() != core) {
        return;
    }
    m_offers.erase(it);
    NotifyLocked(key.first, key.second);
}

std::shared_ptr<SkeletonCore> Registry::Find(const std::string& service, const std::string& instance) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_offers.find(std::make_pair(service, instance));
    return it == m_offers.end() ? nullptr : it->second;
}

std::shared_ptr<SkeletonCore> Registry::Resolve(const std::string& service, const std::string& instance) const {
    auto core = Find(service, instance);
    if (!core) {
        throw Service_not_available_exception();
    }
    return core;
}

ServiceHandleContainer<HandleType> Registry::OfferedLocked(const std::string& service,
                                                           const std::string& instance) const {
    ServiceHandleContainer<HandleType> list;
    if (m_offers.count(std::make_pair(service, instance)) != 0) {
        list.emplace_back(service, instance);
    }
    return list;
}

void Registry::NotifyLocked(const std::string& service, const std::string& instance) {
    const ServiceHandleContainer<HandleType> list = OfferedLocked(service, instance);
    for (auto& entry : m_searches) {
        const auto& search = entry.second;
        if (search->serviceName == service && search->instanceId == instance) {
            Search::Notify(search, list);
        }
    }
}

FindServiceHandle Registry::StartFind(FindServiceHandler<HandleType> handler, const std::string& service,
                                      const std::string& instance) {
    if (!handler) {
        throw std::invalid_argument("StartFindService without a handler");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t id = m_nextSearchId++;
    auto search = std::make_shared<Search>(id, std::move(handler));
    search->serviceName = service;
    search->instanceId = instance;
    m_searches.emplace(id, search);
    Search::Notify(search, OfferedLocked(service, instance));
    return FindServiceHandle(id);
}

void Registry::StopFind(FindServiceHandle handle) {
    std::shared_ptr<Search> search;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_searches.find(handle.GetId());
        if (it == m_searches.end()) {
            return;
        }
        search = it->second;
        m_searches.erase(it);
    }
    search->Stop();
}

void Registry::AddSubscriber(const ElementKey& key, const std::shared_ptr<SubscriberBase>& subscriber) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscribers[key].push_back(subscriber);
}

void Registry::RemoveSubscriber(const ElementKey& key, const SubscriberBase* subscriber) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_subscribers.find(key);
    if (it == m_subscribers.end()) {
        return;
    }
    auto& list = it->second;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [subscriber](const std::weak_ptr<SubscriberBase>& weak) {
                                  auto locked = weak.lock();
                                  return !locked || locked.get() == subscriber;
                              }),
               list.end());
    if (list.empty()) {
        m_subscribers.erase(it);
    }
}

std::vector<std::shared_ptr<SubscriberBase>> Registry::Subscribers(const ElementKey& key) const {
    std::vector<std::shared_ptr<SubscriberBase>> result;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_subscribers.find(key);
    if (it != m_subscribers.end()) {
        for (const auto& weak : it->second) {
            if (auto locked = weak.lock()) {
                result.push_back(std::move(locked));
            }
        }
    }
    return result;
}

void Registry::Reset() {
    std::map<std::pair<std::string, std::string>, std::shared_ptr<SkeletonCore>> offers;
    std::map<uint64_t, std::shared_ptr<Search>> searches;
    std::map<ElementKey, std::vector<std::weak_ptr<SubscriberBase>>> subscribers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        offers.swap(m_offers);
        searches.swap(m_searches);
        subscribers.swap(m_subscribers);
    }
    // Nothing of the instance before may run on: no search reports, no
    // receive handler runs, and no skeleton answers or accepts a call.
    for (auto& entry : searches) {
        entry.second->Stop();
    }
    for (auto& entry : subscribers) {
        for (auto& weak : entry.second) {
            if (auto subscriber = weak.lock()) {
                subscriber->Close();
            }
        }
    }
    for (auto& entry : offers) {
        entry.second->Retire();
    }
    if (!BindingPool().Drain(TeardownLimit())) {
        LogTeardownGaveUp("queued binding work");
    }
}

}  // namespace detail
}  // namespace com
}  // namespace zov
