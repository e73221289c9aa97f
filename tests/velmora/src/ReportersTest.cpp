// The execution-state reporter over the platform stand-in: every answer and
// failure of execution management, and the client made again after a throw.
#include "KivLibrary/KivLibrary/ExecutionManagerClient.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Level;

TEST(ExecutionManagerClientTest, ReportsAnswerByWhetherTheReportRanNotByItsResult) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool withFactory;
        bool result;
        Level level;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"accepted", [] {}, true, true, Level::kInfo, "Result is kSuccess"},
        {"answered with an error",
         [] { ara::exec::testhook::AnswerNextReports(ara::exec::ApplicationReturnType::kGeneralError, 1); }, true, true,
         Level::kInfo, "Result is kGeneralError"},
        {"report throws", [] { ara::exec::testhook::ThrowOnNextReports(1); }, true, false, Level::kError,
         "ReportState -> Exception: execution state report failed"},
        {"client refused twice", [] { ara::exec::testhook::FailNextConstructions(2); }, true, false, Level::kError,
         "Failed to create execution manager client!"},
        {"factory gives no client", [] {}, false, false, Level::kError, "Failed to create execution manager client!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ara::exec::testhook::Reset();
        testsupport::LogCapture capture;
        c.arrange();
        ExecutionManagerClient client(c.withFactory ? ExecutionManagerClient::ClientFactory(&CreateApplicationClient)
                                                    : ExecutionManagerClient::ClientFactory([] {
                                                          return std::shared_ptr<ara::exec::ApplicationClient>();
                                                      }));
        EXPECT_EQ(client.ReportRunning(), c.result);
        EXPECT_TRUE(capture.Contains(c.level, c.logged)) << capture.Dump();
        // Whatever failed, the next report is made with a working client.
        if (c.withFactory) {
            EXPECT_TRUE(client.ReportTerminating());
            EXPECT_EQ(ara::exec::testhook::Reports().back().state, ara::exec::ApplicationState::kTerminating);
        }
    }
    ara::exec::testhook::Reset();
}

}  // namespace
