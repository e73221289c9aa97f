// Endpoint base of every client: finds the service, creates the proxy and
// keeps it, synchronously (retrying) or through the binding's asynchronous
// service discovery, and runs the field handlers that a derived client
// attaches.
#ifndef COMMUNICATION_CLIENT_H
#define COMMUNICATION_CLIENT_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "KivLibrary/Logger/Logging.h"
#include "communication/BasicEndpoint.h"
#include "communication/Connect.h"
#include "communication/Handler.h"
#include "platform/com/Types.h"

template <typename Proxy>
class Client : public BasicEndpoint {
public:
    using HandleType = typename Proxy::HandleType;

    explicit Client(std::string instance, std::string kind = "Client")
        : BasicEndpoint(std::move(instance), std::move(kind)) {}

    // A derived client must stop the search (StopSearch or Shutdown) in
    // its own destructor: the search handler calls its steps.
    ~Client() override { StopSearch(); }

    std::string GetServiceName() const override { return Proxy::kServiceName; }
    std::string GetVersion() const override { return "1"; }

    // Blocks until the service is found, trying every `seconds` seconds.
    void ConnectSyncronously(int32_t seconds) {
        ConnectWithoutTimeout(
            GetDescription(), seconds, [this] { return FindOnce(); }, [this] { return IsConnected(); });
    }

    // The interval of the Create step's connect loop (1 s; tests shrink it).
    void SetConnectRetryInterval(std::chrono::milliseconds interval) { m_retryInterval.store(interval); }

    // Starts an asynchronous search; whenever the service (re)appears the
    // handler creates a proxy for it and initializes and starts this client.
    void ConnectAsynchronously() {
        StopSearch();
        const uint64_t generation = ++m_searchGeneration;
        const std::string instance = GetInstance();
        const zov::com::FindServiceHandle handle = Proxy::StartFindService(
            [this, generation](zov::com::ServiceHandleContainer<HandleType> handles, zov::com::FindServiceHandle) {
                OnServiceFound(generation, std::move(handles));
            },
            instance);
        LogAsyncConnectStart(GetDescription(), handle.ToString());
        std::lock_guard<std::mutex> lock(m_mutex);
        m_findServiceHandle = std::make_shared<zov::com::FindServiceHandle>(handle);
    }

    // Ends a running search; a handler call in progress is waited for, one
    // still waiting for the lifecycle gate gives up.
    void StopSearch() {
        std::shared_ptr<zov::com::FindServiceHandle> handle;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            handle = std::move(m_findServiceHandle);
        }
        if (!handle) {
            return;
        }
        ++m_searchGeneration;
        WakeLifecycleWaiters();
        LogAsyncConnectStop(GetDescription(), handle->ToString());
        Proxy::StopFindService(*handle);
    }

    // A copy of the proxy; empty when not connected.
    std::shared_ptr<Proxy> GetProxy() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_proxy;
    }

    bool IsConnected() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_proxy != nullptr;
    }

protected:
    // ConnectSyncronously with the retry interval, except that a Shutdown
    // asked for meanwhile ends it (with an exception, so Launch undoes it).
    void Create() override { ConnectEvery(m_retryInterval.load()); }

    void Delete() override {
        StopSearch();
        SetProxy(nullptr);
    }

    void Initialize() override {}

    void Uninitialize() override { m_handlers.clear(); }

    void Start() override {
        for (const auto& handler : m_handlers) {
            handler->Subscribe();
        }
    }

    void Stop() override {
        for (auto it = m_handlers.rbegin(); it != m_handlers.rend(); ++it) {
            (*it)->Unsubscribe();
        }
    }

    // For a derived client's Initialize (which runs inside the lifecycle gate).
    void AddHandler(std::shared_ptr<Handler> handler) { m_handlers.push_back(std::move(handler)); }
    std::size_t HandlerCount() const { return m_handlers.size(); }

    // Replaces the proxy; the old one is released outside the mutex, since
    // its destruction waits for receive handlers that may read the proxy.
    void SetProxy(std::shared_ptr<Proxy> proxy) {
        std::shared_ptr<Proxy> old;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            old = std::move(m_proxy);
            m_proxy = std::move(proxy);
        }
    }

    // One synchronous look-up: creates the proxy for the first instance found
    // and answers its instance id, or "" when none is offered.
    std::string FindOnce() {
        auto handles = Proxy::FindService(GetInstance());
        if (handles.empty()) {
            return std::string();
        }
        SetProxy(std::make_shared<Proxy>(handles.front()));
        return handles.front().GetInstanceId();
    }

private:
    void ConnectEvery(std::chrono::milliseconds interval) {
        if (!ConnectWithoutTimeout(
                GetDescription(), interval, [this] { return FindOnce(); }, [this] { return IsConnected(); },
                [this](std::chrono::milliseconds wait) { return WaitUnlessShutdown(wait); })) {
            throw std::runtime_error("Shutdown requested while connecting");
        }
    }

    void OnServiceFound(uint64_t generation, zov::com::ServiceHandleContainer<HandleType> handles) {
        if (handles.empty()) {
            return;
        }
        if (!EnterLifecycle([this, generation] { return m_searchGeneration.load() != generation; })) {
            return;
        }
        struct Leave {
            Client* self;
            ~Leave() { self->LeaveLifecycle(); }
        } leave{this};

        const std::string description = GetDescription();
        LogAsyncConnectSuccess(description, handles.front().GetInstanceId());
        if (IsConnected()) {
            // The service came back: the handlers point into the old proxy,
            // so they go before it does.
            TryStop();
            TryUninitialize();
        }
        std::shared_ptr<Proxy> proxy;
        try {
            proxy = std::make_shared<Proxy>(handles.front());
        } catch (const std::exception& e) {
            LogError() << description << "Could not create proxy: " << e.what();
            return;
        }
        SetProxy(std::move(proxy));
        LogSuccessOrFailure(InitializeAndStartSteps(), "Started " + description, "Could not start " + description);
    }

    mutable std::mutex m_mutex;
    std::shared_ptr<Proxy> m_proxy;
    std::shared_ptr<zov::com::FindServiceHandle> m_findServiceHandle;
    // Only touched inside the lifecycle gate.
    std::vector<std::shared_ptr<Handler>> m_handlers;
    std::atomic<uint64_t> m_searchGeneration{0};
    std::atomic<std::chrono::milliseconds> m_retryInterval{std::chrono::seconds(1)};
};

#endif
