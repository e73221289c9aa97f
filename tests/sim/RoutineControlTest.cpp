// The simulated DM's RoutineControl mapping through the real binding, against
// a routine service whose answers each case chooses: arguments and outputs in
// interface order, the NRC of a three-byte UDSServiceFailed, the sub-functions
// and lengths the DM refuses itself, and a routine that does not answer.
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/com/Runtime.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_skeleton.h"
#include "sim/DiagnosticManager.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using sim::Bytes;
namespace c010 = zenqo::services::diag::r_c010;
using Failed = c010::RoutineService_StartUpdate::UDSServiceFailed;
using StartOutput = c010::RoutineService_StartUpdate::Start::Output;
using ResultsOutput = c010::RoutineService_StartUpdate::RequestResults::Output;

// Answers every method with a fixed output, or the case's failure, or never.
class FakeStartUpdate : public c010::skeleton::RoutineService_StartUpdateSkeleton {
public:
    FakeStartUpdate() : RoutineService_StartUpdateSkeleton("fake", ara::com::MethodCallProcessingMode::kEvent) {
        OfferService();
    }
    ~FakeStartUpdate() override {
        StopOfferService();
        StopMethodDispatcher();
    }

    jux::com::Future<StartOutput> Start(const zov::dm::types::MetaInfoType& meta, uint8_t logLevel, uint8_t format,
                                        const std::vector<uint8_t>& address) override {
        std::lock_guard<std::mutex> lock(mutex);
        Bytes arguments{logLevel, format};
        arguments.insert(arguments.end(), address.begin(), address.end());
        starts.push_back(arguments);
        protocolId = meta.count("ProtocolId") != 0 ? meta.at("ProtocolId") : "";
        return Answer<StartOutput>(StartOutput{1});
    }
    jux::com::Future<void> Stop(const zov::dm::types::MetaInfoType&) override {
        std::lock_guard<std::mutex> lock(mutex);
        return Answer<void>();
    }
    jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType&) override { return jux::com::MakeReadyFuture(); }
    jux::com::Future<ResultsOutput> RequestResults(const zov::dm::types::MetaInfoType&) override {
        std::lock_guard<std::mutex> lock(mutex);
        return Answer<ResultsOutput>(ResultsOutput{0x01, 50, 0x02, 0x00, {'o', 'k'}});
    }

    std::mutex mutex;
    std::optional<Failed> failure;
    bool silent = false;
    std::vector<Bytes> starts;  // the arguments of each Start
    std::string protocolId;

private:
    template <typename R, typename... Value>
    jux::com::Future<R> Answer(const Value&... value) {
        auto promise = std::make_shared<jux::com::Promise<R>>();
        auto future = promise->get_future();
        if (silent) {
            m_unanswered.push_back(promise);  // kept, never set
        } else if (failure) {
            promise->set_exception(std::make_exception_ptr(*failure));
        } else {
            promise->set_value(value...);
        }
        return future;
    }
    std::vector<std::shared_ptr<void>> m_unanswered;
};

class RoutineControlTest : public ::testing::Test {
protected:
    ~RoutineControlTest() override {
        fake.reset();
        dm.reset();
        zov::com::testing::ResetRegistry();
    }

    static sim::DiagnosticManager::Options Options() {
        sim::DiagnosticManager::Options options;
        options.routineInstances = {{"0xC010", "fake"}, {"0x0203", "absent"}, {"0x9999", "1"}};
        options.dtcInstances.clear();
        options.callTimeout = std::chrono::milliseconds(200);
        return options;
    }

    testsupport::LogCapture capture;
    std::unique_ptr<FakeStartUpdate> fake = std::make_unique<FakeStartUpdate>();
    std::unique_ptr<sim::DiagnosticManager> dm = std::make_unique<sim::DiagnosticManager>(Options());
};

TEST_F(RoutineControlTest, FramesMapOntoTheRoutineMethodsInInterfaceOrder) {
    struct Case {
        const char* name;
        std::optional<Failed> failure;
        bool silent;
        Bytes request;
        Bytes response;
    };
    const Case cases[] = {
        {"Start: two bytes, then the address",
         {},
         false,
         {0x31, 0x01, 0xC0, 0x10, 0x07, 0x44, 0x00, 0x01},
         {0x71, 0x01, 0xC0, 0x10, 0x01}},
        {"Start: an empty address", {}, false, {0x31, 0x01, 0xC0, 0x10, 0x07, 0x44}, {0x71, 0x01, 0xC0, 0x10, 0x01}},
        {"Start: an argument missing", {}, false, {0x31, 0x01, 0xC0, 0x10, 0x07}, {0x7F, 0x31, 0x13}},
        {"RequestResults: the outputs in order",
         {},
         false,
         {0x31, 0x03, 0xC0, 0x10},
         {0x71, 0x03, 0xC0, 0x10, 0x01, 50, 0x02, 0x00, 'o', 'k'}},
        {"RequestResults: a byte too many", {}, false, {0x31, 0x03, 0xC0, 0x10, 0x00}, {0x7F, 0x31, 0x13}},
        {"Stop: no output", {}, false, {0x31, 0x02, 0xC0, 0x10}, {0x71, 0x02, 0xC0, 0x10}},
        {"Start refused: its byte",
         Failed(0, 0x22, 0),
         false,
         {0x31, 0x01, 0xC0, 0x10, 0x00, 0x00},
         {0x7F, 0x31, 0x22}},
        {"Stop refused: its byte", Failed(0, 0, 0x24), false, {0x31, 0x02, 0xC0, 0x10}, {0x7F, 0x31, 0x24}},
        {"RequestResults refused: its byte",
         Failed(0x31, 0x22, 0),
         false,
         {0x31, 0x03, 0xC0, 0x10},
         {0x7F, 0x31, 0x31}},
        {"a code in another position: the first non-zero",
         Failed(0x33, 0, 0),
         false,
         {0x31, 0x02, 0xC0, 0x10},
         {0x7F, 0x31, 0x33}},
        {"a code without an NRC", Failed(0, 0, 0), false, {0x31, 0x02, 0xC0, 0x10}, {0x7F, 0x31, 0x10}},
        {"no answer within the time-out", {}, true, {0x31, 0x02, 0xC0, 0x10}, {0x7F, 0x31, 0x10}},
        {"positive response suppressed", {}, false, {0x31, 0x82, 0xC0, 0x10}, {}},
        {"suppression keeps a negative response",
         Failed(0, 0, 0x22),
         false,
         {0x31, 0x82, 0xC0, 0x10},
         {0x7F, 0x31, 0x22}},
        {"unknown sub-function", {}, false, {0x31, 0x04, 0xC0, 0x10}, {0x7F, 0x31, 0x12}},
        {"a method the interface lacks", {}, false, {0x31, 0x02, 0x02, 0x03}, {0x7F, 0x31, 0x12}},
        {"a routine not configured", {}, false, {0x31, 0x01, 0xFF, 0x00, 0x00, 0x00}, {0x7F, 0x31, 0x31}},
        {"a configured routine not offered", {}, false, {0x31, 0x01, 0x02, 0x03}, {0x7F, 0x31, 0x10}},
        {"no routine id", {}, false, {0x31, 0x01, 0xC0}, {0x7F, 0x31, 0x13}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> lock(fake->mutex);
            fake->failure = c.failure;
            fake->silent = c.silent;
        }
        EXPECT_EQ(dm->Uds(c.request), c.response);
    }
    // Only the Starts whose arguments fit reached the routine.
    EXPECT_EQ(fake->starts, (std::vector<Bytes>{{0x07, 0x44, 0x00, 0x01}, {0x07, 0x44}, {0x00, 0x00}}));
    EXPECT_EQ(fake->protocolId, "DM_Conversation_1");
    EXPECT_TRUE(capture.Contains(testsupport::Level::kWarn, "routine 0x9999 has no known interface"));
}

TEST(RoutineControlMapping, ConfigurationGivesEveryInstance) {
    KivConfiguration configuration;
    configuration.service_instance_id = "7";
    configuration.securityAccessMapping = {{3, "x"}, {9, "nine"}};
    configuration.routineServiceMapping = {{"0xC010", "2"}};
    const auto options = sim::DiagnosticManager::Options::FromConfiguration(configuration);
    EXPECT_EQ(options.genericUdsInstance, "7");
    EXPECT_EQ(options.securityAccessInstance, "nine");
    EXPECT_EQ(options.routineInstances, configuration.routineServiceMapping);
    EXPECT_EQ(sim::DiagnosticManager::Options().routineInstances.size(), 8u);
}

}  // namespace
