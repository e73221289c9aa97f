#include "communication/BasicEndpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "communication/Connect.h"
#include "tests/support/LogCapture.h"

namespace {

using testsupport::Level;

class RecordingEndpoint : public BasicEndpoint {
public:
    RecordingEndpoint() : BasicEndpoint("inst-7", "Service") {}

    std::string GetServiceName() const override { return "demo::Recording"; }
    std::string GetVersion() const override { return "1"; }

    std::vector<std::string> steps;
    std::set<std::string> failing;

protected:
    void Create() override { Run("Create"); }
    void Delete() override { Run("Delete"); }
    void Initialize() override { Run("Initialize"); }
    void Uninitialize() override { Run("Uninitialize"); }
    void Start() override { Run("Start"); }
    void Stop() override { Run("Stop"); }

private:
    void Run(const std::string& step) {
        steps.push_back(step);
        if (failing.count(step) != 0) {
            throw std::runtime_error(step + " broke");
        }
    }
};

using Steps = std::vector<std::string>;

TEST(BasicEndpointTest, LaunchRunsCreateInitializeStartAndSetsTheDescription) {
    testsupport::LogCapture capture;
    RecordingEndpoint endpoint;
    EXPECT_TRUE(endpoint.Launch());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Initialize", "Start"}));
    EXPECT_EQ(endpoint.GetDescription(), "Service 'demo::Recording', Instance 'inst-7', Version '1': ");
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Service 'demo::Recording', Instance 'inst-7', Version '1': TryCreate"));
    // The step lines carry no file-and-line suffix.
    for (const auto& text : capture.Texts()) {
        EXPECT_EQ(text.find(".cpp("), std::string::npos) << text;
    }
}

TEST(BasicEndpointTest, FailingCreateDeletesAndNeverInitializes) {
    testsupport::LogCapture capture;
    RecordingEndpoint endpoint;
    endpoint.failing = {"Create"};
    EXPECT_FALSE(endpoint.Launch());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Delete"}));
    EXPECT_TRUE(capture.Contains(Level::kError, "TryCreate -> Exception: Create broke"));
}

TEST(BasicEndpointTest, FailingStartIsUndoneInReverse) {
    RecordingEndpoint endpoint;
    endpoint.failing = {"Start"};
    EXPECT_FALSE(endpoint.Launch());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Initialize", "Start", "Stop", "Uninitialize", "Delete"}));
}

TEST(BasicEndpointTest, FailingInitializeSkipsStartAndStop) {
    RecordingEndpoint endpoint;
    endpoint.failing = {"Initialize"};
    EXPECT_FALSE(endpoint.Launch());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Initialize", "Uninitialize", "Delete"}));
}

TEST(BasicEndpointTest, ShutdownRunsEveryStepEvenAfterAFailure) {
    testsupport::LogCapture capture;
    RecordingEndpoint endpoint;
    ASSERT_TRUE(endpoint.Launch());
    endpoint.steps.clear();
    endpoint.failing = {"Stop"};
    EXPECT_FALSE(endpoint.Shutdown());
    EXPECT_EQ(endpoint.steps, (Steps{"Stop", "Uninitialize", "Delete"}));
    EXPECT_TRUE(capture.Contains(Level::kError, "TryStop -> Exception: Stop broke"));

    endpoint.steps.clear();
    endpoint.failing.clear();
    EXPECT_TRUE(endpoint.Shutdown());
}

// A Create step that no Shutdown can interrupt: the Shutdown gives up after
// its limit, and the Launch, once it ends, undoes itself.
TEST(BasicEndpointTest, ShutdownGivesUpOnALaunchThatDoesNotEndAndTheLaunchUndoesItself) {
    testsupport::LogCapture capture;
    class BlockedEndpoint : public RecordingEndpoint {
    public:
        std::promise<void> entered, release;
        bool block = true;

    protected:
        void Create() override {
            RecordingEndpoint::Create();
            if (block) {
                entered.set_value();
                release.get_future().wait();
            }
        }
    } endpoint;
    endpoint.SetShutdownWaitLimit(std::chrono::milliseconds(20));
    auto launch = std::async(std::launch::async, [&] { return endpoint.Launch(); });
    endpoint.entered.get_future().wait();
    EXPECT_FALSE(endpoint.Shutdown());
    EXPECT_TRUE(capture.Contains(Level::kError, "Shutdown: the running launch did not end within 20 ms"));
    endpoint.release.set_value();
    EXPECT_FALSE(launch.get());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Delete"}));

    // A later Launch is not affected by the earlier Shutdown.
    endpoint.steps.clear();
    endpoint.block = false;
    EXPECT_TRUE(endpoint.Launch());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Initialize", "Start"}));
}

TEST(BasicEndpointTest, ShutdownDuringAStartUndoesTheLaunchWhenItEnds) {
    class SlowStart : public RecordingEndpoint {
    public:
        std::promise<void> entered, release;

    protected:
        void Start() override {
            RecordingEndpoint::Start();
            entered.set_value();
            release.get_future().wait();
        }
    } endpoint;
    endpoint.SetShutdownWaitLimit(std::chrono::milliseconds(1));
    auto launch = std::async(std::launch::async, [&] { return endpoint.Launch(); });
    endpoint.entered.get_future().wait();
    EXPECT_FALSE(endpoint.Shutdown());
    endpoint.release.set_value();
    EXPECT_FALSE(launch.get());
    EXPECT_EQ(endpoint.steps, (Steps{"Create", "Initialize", "Start", "Stop", "Uninitialize", "Delete"}));
}

TEST(ConnectTest, AttemptConnectionLogsTheFoundInstance) {
    testsupport::LogCapture capture;
    EXPECT_TRUE(AttemptConnection(
        "C: ", [] { return std::string("42"); }, [] { return true; }));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "C: Connection attempt succeeded. Created proxy for service '42'"));
    EXPECT_FALSE(AttemptConnection(
        "C: ", [] { return std::string(); }, [] { return false; }));
    EXPECT_TRUE(capture.Contains(Level::kWarn, "C: Connection attempt failed"));
}

TEST(ConnectTest, WithoutTimeoutRetriesUntilConnected) {
    testsupport::LogCapture capture;
    int attempts = 0;
    ConnectWithoutTimeout(
        "C: ", 0, [&] { return std::to_string(++attempts); }, [&] { return attempts == 3; });
    EXPECT_EQ(attempts, 3);
    EXPECT_TRUE(capture.Contains(Level::kDebug, "C: Try to connect without timeout, repetition interval is 0"));
    EXPECT_EQ(capture.Count("Connection attempt failed"), 2u);
}

TEST(ConnectTest, WithTimeoutGivesUpAfterTheFirstAttemptPastTheTimeout) {
    testsupport::LogCapture capture;
    int attempts = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(ConnectWithTimeout(
                     "C: ", 1, 0, [&] { return ++attempts, std::string(); }, [] { return false; }),
                 std::exception);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(attempts, 2);
    EXPECT_TRUE(capture.Contains(Level::kDebug, "C: Duration: 0, timeout 0"));
    EXPECT_TRUE(capture.Contains(Level::kError, "C: Connection timeout. Aborting!"));
}

TEST(ConnectTest, WithTimeoutReturnsOnSuccess) {
    EXPECT_NO_THROW(ConnectWithTimeout(
        "C: ", 0, 5, [] { return std::string("1"); }, [] { return true; }));
}

}  // namespace
