// A small service interface declared on the binding the way the real service
// headers are, with a test implementation whose behaviour each case sets.
#ifndef TESTS_PLATFORM_COM_DEMOSERVICE_H
#define TESTS_PLATFORM_COM_DEMOSERVICE_H

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/Proxy.h"
#include "platform/com/Runtime.h"
#include "platform/com/Skeleton.h"

namespace demo {

constexpr const char* kServiceName = "demo::Demo";

struct EchoOutput {
    std::vector<uint8_t> data;
};

struct StatusType {
    uint8_t activity = 0;
    std::string session;
};

class DemoFailed : public std::exception {
public:
    explicit DemoFailed(uint8_t code) : m_code(code) {}
    uint8_t GetCode() const { return m_code; }
    const char* what() const noexcept override { return "Demo::DemoFailed"; }

private:
    uint8_t m_code;
};

namespace skeleton {

class DemoSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    static constexpr const char* kServiceName = demo::kServiceName;
    DemoSkeleton(std::string instance, ara::com::MethodCallProcessingMode mode)
        : SkeletonBase(kServiceName, std::move(instance), mode),
          Status(*this, "Status"),
          Counter(*this, "Counter"),
          Message(*this, "Message") {
        RegisterMethod("Echo", &DemoSkeleton::Echo);
        RegisterMethod("Compute", &DemoSkeleton::Compute);
    }
    virtual jux::com::Future<EchoOutput> Echo(std::vector<uint8_t> data) = 0;
    virtual jux::com::Future<uint32_t> Compute(uint32_t value, const std::string& mode) = 0;

    ara::com::internal::skeleton::Field<StatusType> Status;
    ara::com::internal::skeleton::Field<uint32_t> Counter;
    ara::com::internal::skeleton::Event<std::string> Message;
};

}  // namespace skeleton

namespace proxy {

class DemoProxy : public ara::com::internal::proxy::ProxyBase<DemoProxy> {
public:
    static constexpr const char* kServiceName = demo::kServiceName;
    explicit DemoProxy(const HandleType& handle)
        : ProxyBase(handle),
          Echo(*this, "Echo"),
          Compute(*this, "Compute"),
          Status(*this, "Status"),
          Counter(*this, "Counter"),
          Message(*this, "Message") {}

    ara::com::internal::proxy::Method<EchoOutput(std::vector<uint8_t>)> Echo;
    ara::com::internal::proxy::Method<uint32_t(uint32_t, std::string)> Compute;
    ara::com::internal::proxy::Field<StatusType> Status;
    ara::com::internal::proxy::Field<uint32_t> Counter;
    ara::com::internal::proxy::Event<std::string> Message;
};

}  // namespace proxy

// Echoes by default; a case replaces `compute` to block, fail or answer later.
class DemoService : public skeleton::DemoSkeleton {
public:
    explicit DemoService(std::string instance,
                         ara::com::MethodCallProcessingMode mode = ara::com::MethodCallProcessingMode::kEvent)
        : DemoSkeleton(std::move(instance), mode) {
        Status.Update(StatusType{0, "1"});
        Counter.Update(0);
    }
    ~DemoService() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    jux::com::Future<EchoOutput> Echo(std::vector<uint8_t> data) override {
        return jux::com::MakeReadyFuture(EchoOutput{std::move(data)});
    }
    jux::com::Future<uint32_t> Compute(uint32_t value, const std::string& mode) override {
        return compute ? compute(value, mode) : jux::com::MakeReadyFuture(value + 1);
    }

    std::function<jux::com::Future<uint32_t>(uint32_t, const std::string&)> compute;
};

}  // namespace demo

namespace comtest {

constexpr auto kTimeout = std::chrono::seconds(10);

// Counts events and lets a test wait for a number of them.
class Counter {
public:
    // Notifies under the lock: a waiter may destroy the counter once it returns.
    void Add(int n = 1) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_count += n;
        m_cv.notify_all();
    }
    bool WaitFor(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kTimeout, [&] { return m_count >= count; });
    }
    int Get() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_count = 0;
};

// A gate that threads wait at until the test opens it.
class Gate {
public:
    void Open() { m_opened.Add(); }
    bool Wait() { return m_opened.WaitFor(1); }

private:
    Counter m_opened;
};

class ComTest : public ::testing::Test {
protected:
    void TearDown() override { zov::com::testing::ResetRegistry(); }

    static std::unique_ptr<demo::proxy::DemoProxy> Connect(const std::string& instance) {
        auto handles = demo::proxy::DemoProxy::FindService(instance);
        if (handles.empty()) {
            return nullptr;
        }
        return std::make_unique<demo::proxy::DemoProxy>(handles.front());
    }
};

}  // namespace comtest

#endif
