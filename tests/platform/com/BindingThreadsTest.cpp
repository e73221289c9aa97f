#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/platform/com/DemoService.h"

using comtest::ComTest;
using comtest::Counter;
using demo::DemoService;
using demo::proxy::DemoProxy;

// More find-service handlers than binding threads, each waiting for a call's
// answer (which itself needs a binding thread), all at the same time.
TEST_F(ComTest, ManyHandlersWaitingForAnswersAtOnceDoNotStarveTheBinding) {
    constexpr int kSearches = 24;
    Counter inside;
    std::vector<std::unique_ptr<DemoService>> services;
    for (int i = 0; i < kSearches; ++i) {
        services.push_back(std::make_unique<DemoService>("busy/" + std::to_string(i)));
        // Every handler waits for its answer before any answer is given.
        services.back()->compute = [&inside](uint32_t v, const std::string&) {
            inside.Add();
            inside.WaitFor(kSearches);
            return jux::com::MakeReadyFuture(v + 1);
        };
        services.back()->OfferService();
    }
    Counter answered;
    std::vector<zov::com::FindServiceHandle> searches;
    for (int i = 0; i < kSearches; ++i) {
        searches.push_back(DemoProxy::StartFindService(
            [&](zov::com::ServiceHandleContainer<zov::com::HandleType> handles, zov::com::FindServiceHandle) {
                if (handles.empty()) {
                    return;
                }
                DemoProxy proxy(handles.front());
                if (proxy.Compute(1, "").get() == 2u) {
                    answered.Add();
                }
            },
            "busy/" + std::to_string(i)));
    }
    EXPECT_TRUE(answered.WaitFor(kSearches));
    EXPECT_EQ(inside.Get(), kSearches);
    for (const auto& search : searches) {
        DemoProxy::StopFindService(search);
    }
}
