// Answers that need no pool thread, method threads that grow while one waits,
// proxies torn down under running handlers, teardown steps that give up on
// user code that never returns, and a reset that leaves nothing of the
// instance before.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "tests/platform/com/DemoService.h"

using comtest::ComTest;
using comtest::Counter;
using comtest::Gate;
using demo::DemoService;
using demo::StatusType;
using demo::proxy::DemoProxy;

namespace {

// Whether `action` returns within a bound; when it does not, `unblock` lets it
// end so that the case fails instead of hanging.
bool ReturnsInTime(const std::function<void()>& action, const std::function<void()>& unblock) {
    auto done = std::async(std::launch::async, action);
    // Far above the 50 ms teardown limit the tests set: a step that gives up
    // returns well within it even on a loaded sanitizer build; one that waits
    // for the user code does not return at all.
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) {
        done.get();
        return true;
    }
    unblock();
    done.get();
    return false;
}

// Answers Compute only when its gate opens. The handler owns what it uses, so
// it may outlive the skeleton that a teardown gave up on.
class BlockingSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    explicit BlockingSkeleton(const std::string& instance)
        : SkeletonBase(demo::kServiceName, instance),
          gate(std::make_shared<Gate>()),
          inside(std::make_shared<Counter>()) {
        RegisterMethodHandler<uint32_t, uint32_t, std::string>(
            "Compute", [gate = gate, inside = inside](uint32_t& value, std::string&) {
                const std::shared_ptr<Gate> held = gate;  // the handler itself may go while it waits
                inside->Add();
                held->Wait();
                return jux::com::MakeReadyFuture(value + 1);
            });
        OfferService();
    }

    std::shared_ptr<Gate> gate;
    std::shared_ptr<Counter> inside;
};

class TeardownTest : public ComTest {
protected:
    void SetUp() override { zov::com::testing::SetTeardownLimit(std::chrono::milliseconds(50)); }
    void TearDown() override {
        ComTest::TearDown();
        zov::com::testing::SetTeardownLimit(m_limit);
    }

private:
    const std::chrono::milliseconds m_limit = zov::com::testing::GetTeardownLimit();
};

}  // namespace

// A handler that reads its own field while the proxy is destroyed: the proxy
// ends every receive handler before any of its elements goes.
TEST_F(ComTest, HandlerReadingItsOwnFieldOutlivesNoElementOfItsProxy) {
    // Longer than a short string: its text is freed with the getter.
    const std::string instance = "own-field-of-a-proxy-under-destruction";
    DemoService service(instance);
    service.OfferService();
    std::atomic<bool> destroying{false};
    struct WatchedProxy : DemoProxy {
        WatchedProxy(const HandleType& handle, std::atomic<bool>& flag) : DemoProxy(handle), destroying(flag) {}
        ~WatchedProxy() override { destroying = true; }
        std::atomic<bool>& destroying;
    };
    auto proxy = std::make_unique<WatchedProxy>(DemoProxy::FindService(instance).front(), destroying);
    Counter entered;
    WatchedProxy* raw = proxy.get();
    raw->Status.SetReceiveHandler([raw, &entered, &destroying] {
        raw->Status.GetNewSamples([](ara::com::SamplePtr<const StatusType>) {});
        entered.Add();
        while (!destroying.load()) {
            raw->Status.Get().get();
        }
        for (int i = 0; i < 200; ++i) {  // well into the destruction of the elements
            EXPECT_EQ(raw->Status.Get().get().session, "1");
        }
    });
    raw->Status.Subscribe(1);
    ASSERT_TRUE(entered.WaitFor(1));
    proxy.reset();
}

// Every binding pool thread waits (not for a future, so the pool cannot
// grow): an answer still arrives, since the answering thread completes it.
TEST_F(ComTest, AnswersArriveWhileEveryBindingThreadIsBlocked) {
    DemoService service("pool-full");
    service.OfferService();
    auto proxy = Connect("pool-full");
    Gate gate;
    Counter blocked;
    std::vector<zov::com::FindServiceHandle> searches;
    constexpr int kBlockers = 64;
    for (int i = 0; i < kBlockers; ++i) {
        searches.push_back(DemoProxy::StartFindService(
            [&](zov::com::ServiceHandleContainer<zov::com::HandleType>, zov::com::FindServiceHandle) {
                blocked.Add();
                gate.Wait();
            },
            "nowhere/" + std::to_string(i)));
    }
    ASSERT_TRUE(blocked.WaitFor(16));  // the pool's threads, all taken

    auto answer = proxy->Compute(41, "");
    const bool answered = answer.wait_for(std::chrono::seconds(5)) == jux::com::future_status::ready;
    // A continuation still runs on the pool: only once a thread is free.
    auto continued = proxy->Compute(1, "").then([](jux::com::Future<uint32_t> f) { return f.get() * 10; });
    gate.Open();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answer.get(), 42u);
    EXPECT_EQ(continued.get(), 20u);
    for (const auto& search : searches) {
        DemoProxy::StopFindService(search);
    }
}

// A method of a single-threaded skeleton that calls its own skeleton and
// waits for the answer: another method thread runs the inner call meanwhile.
TEST_F(ComTest, MethodWaitingForItsOwnSkeletonIsAnswered) {
    DemoService service("self-call", ara::com::MethodCallProcessingMode::kEventSingleThread);
    auto self = std::make_shared<std::unique_ptr<DemoProxy>>();
    service.compute = [self](uint32_t value, const std::string& mode) {
        if (mode != "outer") {
            return jux::com::MakeReadyFuture(value * 2);
        }
        auto inner = (*self)->Compute(value, "inner");
        if (inner.wait_for(std::chrono::seconds(5)) != jux::com::future_status::ready) {
            return jux::com::MakeReadyFuture(0u);
        }
        return jux::com::MakeReadyFuture(inner.get() + 1);
    };
    service.OfferService();
    *self = Connect("self-call");
    EXPECT_EQ((*self)->Compute(20, "outer").get(), 41u);
}

// Each teardown step waits for user code that never returns only up to the
// teardown limit; a call it gives up on ends in a broken promise.
TEST_F(TeardownTest, EveryTeardownStepGivesUpOnUserCodeThatNeverReturns) {
    struct Env {
        std::unique_ptr<BlockingSkeleton> skeleton;  // answers the calls
        std::unique_ptr<DemoProxy> proxy;
        std::unique_ptr<DemoProxy> fieldProxy;  // of a service with fields, for a subscription
        // Shared with the handlers: one given up on still waits at the gate
        // after the case released its Env.
        std::shared_ptr<Gate> gate = std::make_shared<Gate>();
        std::shared_ptr<Counter> inside = std::make_shared<Counter>();
        std::vector<jux::com::Future<uint32_t>> calls;
        zov::com::FindServiceHandle search{0};
    };
    struct Case {
        const char* name;
        std::function<void(Env&)> block;
        std::function<void(Env&)> teardown;
    };
    const auto blockCall = [](Env& env) {
        env.calls.push_back(env.proxy->Compute(1, ""));
        ASSERT_TRUE(env.skeleton->inside->WaitFor(1));
    };
    const auto blockSearch = [](Env& env) {
        env.search = DemoProxy::StartFindService(
            [gate = env.gate, inside = env.inside](zov::com::ServiceHandleContainer<zov::com::HandleType>,
                                                   zov::com::FindServiceHandle) {
                const std::shared_ptr<Gate> held = gate;  // the handler itself may go while it waits
                inside->Add();
                held->Wait();
            },
            "teardown");
        ASSERT_TRUE(env.inside->WaitFor(1));
    };
    const auto blockHandler = [](Env& env) {
        env.fieldProxy->Status.SetReceiveHandler([gate = env.gate, inside = env.inside] {
            const std::shared_ptr<Gate> held = gate;  // the handler itself may go while it waits
            inside->Add();
            held->Wait();
        });
        env.fieldProxy->Status.Subscribe(1);
        ASSERT_TRUE(env.inside->WaitFor(1));
    };
    const std::vector<Case> cases = {
        {"StopMethodDispatcher", blockCall, [](Env& env) { env.skeleton->StopMethodDispatcher(); }},
        {"skeleton destruction", blockCall, [](Env& env) { env.skeleton.reset(); }},
        {"StopFindService", blockSearch, [](Env& env) { DemoProxy::StopFindService(env.search); }},
        {"UnsetReceiveHandler", blockHandler, [](Env& env) { env.fieldProxy->Status.UnsetReceiveHandler(); }},
        {"proxy destruction", blockHandler, [](Env& env) { env.fieldProxy.reset(); }},
        {"ResetRegistry", blockSearch, [](Env&) { zov::com::testing::ResetRegistry(); }},
        {"runtime destruction", blockHandler,
         [](Env&) { zov::com::runtime::Component_singleton runtime(true, "teardown"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DemoService fields("teardown-fields");
        fields.OfferService();
        // Its gate and counter are shared with the handlers, which may outlive it.
        auto env = std::make_shared<Env>();
        env->skeleton = std::make_unique<BlockingSkeleton>("teardown");
        env->proxy = Connect("teardown");
        env->fieldProxy = Connect("teardown-fields");
        std::shared_ptr<Gate> methodGate = env->skeleton->gate;
        c.block(*env);
        const bool returned = ReturnsInTime([&] { c.teardown(*env); },
                                            [&] {
                                                env->gate->Open();
                                                methodGate->Open();
                                            });
        EXPECT_TRUE(returned);
        for (auto& call : env->calls) {
            EXPECT_THROW(call.get(), jux::com::Broken_promise_exception);
        }
        env->gate->Open();
        methodGate->Open();
        env->fieldProxy.reset();
        env->proxy.reset();
        env->skeleton.reset();
        zov::com::testing::ResetRegistry();
    }
}

// A restart in one process: whatever the instance before left (a skeleton
// with a call under way, a subscribed proxy, a search) ends at the reset, and
// the next instance offers and finds the same service afresh.
TEST_F(TeardownTest, ResetLeavesNothingOfTheInstanceBefore) {
    auto old = std::make_unique<BlockingSkeleton>("restart");
    auto oldProxy = Connect("restart");
    auto unanswered = oldProxy->Compute(1, "");
    ASSERT_TRUE(old->inside->WaitFor(1));
    Counter oldSearchCalls;
    DemoProxy::StartFindService([&](zov::com::ServiceHandleContainer<zov::com::HandleType>,
                                    zov::com::FindServiceHandle) { oldSearchCalls.Add(); },
                                "restart");
    ASSERT_TRUE(oldSearchCalls.WaitFor(1));
    oldProxy->Counter.Subscribe(1);

    zov::com::testing::ResetRegistry();

    EXPECT_THROW(unanswered.get(), jux::com::Broken_promise_exception);
    EXPECT_FALSE(oldProxy->Counter.IsSubscribed());
    EXPECT_THROW(oldProxy->Compute(1, ""), zov::com::Service_not_available_exception);

    DemoService fresh("restart");
    fresh.OfferService();
    auto proxy = Connect("restart");
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->Compute(1, "").get(), 2u);
    fresh.Counter.Update(7);
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(oldSearchCalls.Get(), 1);  // the old search saw nothing of the new offer
    old->gate->Open();
}
