#include "communication/ServiceDiscovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "platform/com/Runtime.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_proxy.h"
#include "tests/communication/ConversationSkeleton.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::Level;
using BaseProxy = zov::dm::diagnosticconversation::proxy::DiagnosticConversationProxy;

std::atomic<bool> g_failConstruction{false};

class FragileProxy : public BaseProxy {
public:
    explicit FragileProxy(const HandleType& handle) : BaseProxy(handle) {
        if (g_failConstruction.load()) {
            throw std::runtime_error("cannot build proxy");
        }
    }
};

class CountingDiscovery : public kiv::Service_discovery<FragileProxy> {
public:
    void SetAndSubscribeReceiveHandler() override { ++subscriptions; }
    int subscriptions = 0;
};

class ServiceDiscoveryTest : public ::testing::Test {
protected:
    ~ServiceDiscoveryTest() override {
        g_failConstruction = false;
        zov::com::testing::ResetRegistry();
    }
    testsupport::LogCapture capture;
};

TEST_F(ServiceDiscoveryTest, UnknownInstanceFindsNothingAndKeepsNoProxy) {
    CountingDiscovery discovery;
    auto handles = discovery.Subscribe("9");
    EXPECT_TRUE(handles.empty());
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Subscribing to DiagnosticConversation instance id: 9"));
    EXPECT_FALSE(discovery.ProcessServiceHandle(handles));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "Service_discovery::ProcessServiceHandle: no valid handle found forinstance ID [9]"));
    EXPECT_FALSE(discovery.IsProxyValid());
    EXPECT_EQ(discovery.subscriptions, 0);
}

TEST_F(ServiceDiscoveryTest, FoundInstanceGetsAProxyAndItsHandlers) {
    testsupport::ConversationSkeleton skeleton("9");
    skeleton.OfferService();
    CountingDiscovery discovery;
    EXPECT_TRUE(discovery.ProcessServiceHandle(discovery.Subscribe("9")));
    EXPECT_TRUE(discovery.IsProxyValid());
    EXPECT_EQ(discovery.subscriptions, 1);
    EXPECT_TRUE(capture.Contains("Service_discovery::ProcessServiceHandle: Proxy created for instance ID [9]"));
    EXPECT_TRUE(capture.Contains("Service_discovery::ProcessServiceHandle: Register with instance id instance ID [9]"));
}

TEST_F(ServiceDiscoveryTest, FailedProxyConstructionKeepsTheOlderProxy) {
    testsupport::ConversationSkeleton skeleton("9");
    skeleton.OfferService();
    CountingDiscovery discovery;
    ASSERT_TRUE(discovery.ProcessServiceHandle(discovery.Subscribe("9")));
    auto older = discovery.GetProxy();

    g_failConstruction = true;
    EXPECT_TRUE(discovery.ProcessServiceHandle(discovery.Subscribe("9")));
    EXPECT_TRUE(capture.Contains("Service_discovery::ProcessServiceHandle: Unknown exception for instance ID [9]"));
    EXPECT_EQ(discovery.GetProxy(), older);
    EXPECT_EQ(discovery.subscriptions, 2);
}

TEST_F(ServiceDiscoveryTest, FailedProxyConstructionWithoutProxyFails) {
    testsupport::ConversationSkeleton skeleton("9");
    skeleton.OfferService();
    CountingDiscovery discovery;
    g_failConstruction = true;
    EXPECT_FALSE(discovery.ProcessServiceHandle(discovery.Subscribe("9")));
    EXPECT_TRUE(capture.Contains("Service_discovery::ProcessServiceHandle: Proxy not valid instance ID [9]"));
}

}  // namespace
