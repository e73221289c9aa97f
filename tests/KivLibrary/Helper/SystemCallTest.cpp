#include "KivLibrary/Helper/SignalHandlerRegistration.h"
#include "KivLibrary/Helper/SystemCall.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using testsupport::Level;
using testsupport::LogCapture;

constexpr auto kTimeout = std::chrono::seconds(5);

// Stands in for signal(): remembers what was installed, installs nothing.
std::mutex installedMutex;
std::vector<std::pair<int, SystemCallImplCommon::SignalHandler>> installed;

SystemCallImplCommon::SignalHandler RecordingSignal(int number, SystemCallImplCommon::SignalHandler handler) {
    std::lock_guard<std::mutex> lock(installedMutex);
    installed.emplace_back(number, handler);
    return SIG_DFL;
}

SystemCallImplCommon::SignalHandler FailingSignal(int, SystemCallImplCommon::SignalHandler) { return SIG_ERR; }

SystemCallImplCommon::SignalHandler LastInstalled(int number) {
    std::lock_guard<std::mutex> lock(installedMutex);
    for (auto it = installed.rbegin(); it != installed.rend(); ++it) {
        if (it->first == number) {
            return it->second;
        }
    }
    return nullptr;
}

int FailingGetHostName(char*, size_t) {
    errno = EFAULT;
    return -1;
}

// Fills the whole buffer without a terminator, as a truncating gethostname may.
int TruncatingGetHostName(char* buffer, size_t size) {
    std::memset(buffer, 'h', size);
    return 0;
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Death-test children fail with a readable reason.
[[noreturn]] void ExitChild(bool ok, const char* reason) {
    if (!ok) {
        std::fprintf(stderr, "%s\n", reason);
    }
    std::exit(ok ? 0 : 1);
}

}  // namespace

// The handler is invoked directly here; real signals are only sent in death-test children.
TEST(SignalDispatcher, RunsRegisteredFunctionOffTheHandlerAndReplacesEarlierRegistration) {
    LogCapture capture;
    SystemCallImplCommon api(&RecordingSignal, &gethostname);
    std::atomic<int> firstCalls{0};
    std::promise<std::thread::id> secondThread;

    ASSERT_TRUE(api.RegisterSigInt([&] { ++firstCalls; }));
    ASSERT_TRUE(api.RegisterSigInt([&] { secondThread.set_value(std::this_thread::get_id()); }));
    const SystemCallImplCommon::SignalHandler handler = LastInstalled(SIGINT);
    ASSERT_NE(handler, nullptr);
    ASSERT_NE(handler, SIG_DFL);

    handler(SIGINT);
    auto future = secondThread.get_future();
    ASSERT_EQ(future.wait_for(kTimeout), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
    EXPECT_EQ(firstCalls.load(), 0);
    ASSERT_TRUE(capture.WaitFor("Caught signal 2"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Caught signal 2"));
    EXPECT_EQ(capture.Count("Caught signal 2"), 1u);
    for (const std::string& text : capture.Texts()) {
        EXPECT_EQ(text.find('['), std::string::npos) << text;
    }

    EXPECT_TRUE(api.UnregisterSigInt(nullptr));
    EXPECT_EQ(LastInstalled(SIGINT), SIG_DFL);
}

TEST(SignalDispatcher, SignalWithoutRegistrationIsOnlyLogged) {
    LogCapture capture;
    SystemCallImplCommon api(&RecordingSignal, &gethostname);
    std::atomic<int> calls{0};
    ASSERT_TRUE(api.RegisterSigAbrt([&] { ++calls; }));
    const SystemCallImplCommon::SignalHandler handler = LastInstalled(SIGABRT);
    ASSERT_TRUE(api.UnregisterSigAbrt(nullptr));

    handler(SIGABRT);  // delivered while it was being unregistered
    ASSERT_TRUE(capture.WaitFor("Caught signal 6"));
    EXPECT_EQ(calls.load(), 0);
}

TEST(SignalDispatcher, ThrowingFunctionIsLoggedAndDispatchingGoesOn) {
    LogCapture capture;
    SystemCallImplCommon api(&RecordingSignal, &gethostname);
    ASSERT_TRUE(api.RegisterSigTerm([] { throw std::runtime_error("boom"); }));
    LastInstalled(SIGTERM)(SIGTERM);
    ASSERT_TRUE(capture.WaitFor("-> Exception: boom"));

    std::promise<void> ran;
    ASSERT_TRUE(api.RegisterSigTerm([&] { ran.set_value(); }));
    LastInstalled(SIGTERM)(SIGTERM);
    EXPECT_EQ(ran.get_future().wait_for(kTimeout), std::future_status::ready);
    EXPECT_TRUE(api.UnregisterSigTerm(nullptr));
}

TEST(SignalHandlerRegistration, LogsEveryFailedRegistrationAndUnregistration) {
    LogCapture capture;
    {
        SignalHandlerRegistration registration(
            [] { return std::make_shared<SystemCallImplCommon>(&FailingSignal, &gethostname); });
        EXPECT_EQ(capture.Texts(),
                  (std::vector<std::string>{"Could not register for SIG_INT", "Could not register for SIG_TERM",
                                            "Could not register for SIG_ABRT"}));
        capture.Clear();
    }
    EXPECT_EQ(capture.Texts(),
              (std::vector<std::string>{"Could not un-register for SIG_TERM", "Could not un-register for SIG_INT",
                                        "Could not un-register for SIG_ABRT"}));
    for (const auto& message : capture.Messages()) {
        EXPECT_EQ(message.level, Level::kError);
    }
}

TEST(SignalHandlerRegistration, WithoutDispatcherDoesNothing) {
    LogCapture capture;
    {
        SignalHandlerRegistration registration([] { return std::shared_ptr<SystemCallAPICommon>(); });
    }
    { SignalHandlerRegistration registration(nullptr); }
    EXPECT_FALSE(capture.Contains(Level::kError, "register for"));
}

TEST(SystemCall, GetHostName) {
    EXPECT_EQ(SystemCallImplCommon(&RecordingSignal, &FailingGetHostName).GetHostName(), "");
    EXPECT_EQ(SystemCallImplCommon(&RecordingSignal, &TruncatingGetHostName).GetHostName(), std::string(64, 'h'));

    char expected[256] = {};
    ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
    EXPECT_EQ(GetSystemCallApi()->GetHostName(), std::string(expected).substr(0, 64));
    EXPECT_EQ(GetSystemCallApi(), GetSystemCallApi());
}

// Real signals: only ever raised inside death-test children.
class SignalDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SignalDeathTest, TerminationFlagIsSetOnceAndStaysSet) {
    EXPECT_EXIT(
        {
            const bool clearAtStart = !IsTerminationRequested();
            RequestTermination();
            RequestTermination();
            ExitChild(clearAtStart && IsTerminationRequested(), "flag not as expected");
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SignalDeathTest, SigTermAfterRegistrationRequestsTermination) {
    EXPECT_EXIT(
        {
            LogCapture capture;
            SignalHandlerRegistration registration([] { return GetSystemCallApi(); });
            if (IsTerminationRequested()) {
                ExitChild(false, "flag set before the signal");
            }
            kill(getpid(), SIGTERM);
            const bool flagSet = WaitUntil(IsTerminationRequested);
            const bool logged = capture.WaitFor("Caught signal 15");
            ExitChild(flagSet && logged && capture.Texts() == std::vector<std::string>{"Caught signal 15"},
                      capture.Dump().c_str());
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SignalDeathTest, SecondRegistrationReplacesFirst) {
    EXPECT_EXIT(
        {
            static std::atomic<int> first{0};
            static std::atomic<int> second{0};
            auto api = GetSystemCallApi();
            api->RegisterSigInt([] { ++first; });
            api->RegisterSigInt([] { ++second; });
            raise(SIGINT);
            const bool ran = WaitUntil([] { return second.load() == 1; });
            ExitChild(ran && first.load() == 0, "wrong function ran");
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SignalDeathTest, UnregisterRestoresDefaultAction) {
    EXPECT_EXIT(
        {
            auto api = GetSystemCallApi();
            api->RegisterSigInt([] {});
            api->UnregisterSigInt(nullptr);
            raise(SIGINT);
            ExitChild(false, "survived SIGINT");
        },
        ::testing::KilledBySignal(SIGINT), "");
}

TEST_F(SignalDeathTest, RegistrationEndRestoresDefaultAction) {
    EXPECT_EXIT(
        {
            {
                SignalHandlerRegistration registration([] { return GetSystemCallApi(); });
            }
            raise(SIGTERM);
            ExitChild(false, "survived SIGTERM");
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

// Process exit must neither deadlock on the dispatcher thread nor wait for a stuck function.
TEST_F(SignalDeathTest, ExitFromRegisteredFunctionOrWhileOneIsStuck) {
    EXPECT_EXIT(
        {
            GetSystemCallApi()->RegisterSigTerm([] { std::exit(3); });
            raise(SIGTERM);
            std::this_thread::sleep_for(kTimeout);
            ExitChild(false, "registered function did not run");
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(
        {
            static std::atomic<bool> entered{false};
            GetSystemCallApi()->RegisterSigTerm([] {
                entered = true;
                for (;;) {
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            });
            raise(SIGTERM);
            ExitChild(WaitUntil([] { return entered.load(); }), "registered function did not run");
        },
        ::testing::ExitedWithCode(0), "");
}
