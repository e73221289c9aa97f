// The process entry and the runtime lifecycle end to end: start-up failures,
// the reports to the platform and the shutdown order seen through the
// stand-ins' hooks, the diagnostic-status thread, contained faults, a SIGTERM
// to a real process, and a restart over the same sandbox.
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/velmora/src/ProcessHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <system_error>

namespace {

using testsupport::Level;
using testsupport::OfferLog;

// Texts in the order they must appear in the log.
void ExpectInOrder(const std::vector<std::string>& texts, const std::vector<std::string>& expected) {
    size_t next = 0;
    for (const std::string& text : texts) {
        if (next < expected.size() && text.find(expected[next]) != std::string::npos) {
            ++next;
        }
    }
    EXPECT_EQ(next, expected.size()) << "missing from the log in order: "
                                     << (next < expected.size() ? expected[next] : "");
}

class RunVelmoraTest : public testsupport::ProcessTest {};

struct StartupCase {
    const char* name;
    std::function<void(VelmoraEntryDependencies&, std::string& configPath, testsupport::Sandbox&)> arrange;
    bool runsUntilStopped;
    int exitCode;
    std::vector<std::string> expected;  // in this order, at fatal level unless "kiv shutdown"
    std::vector<std::string> forbidden;
};

TEST_F(RunVelmoraTest, EveryStartupFailureEndsWithItsTextAndExitCode) {
    const std::vector<StartupCase> cases = {
        {"configuration rejected",
         [](VelmoraEntryDependencies&, std::string& path, testsupport::Sandbox& box) {
             path = box.WriteFile("broken.json", "{ \"general_settings\": ");
         },
         false,
         1,
         {"failed to parse kiv configuration file"},
         {"Flash Corruption Recovery retry", "Cannot access database", "kiv shutdown"}},
        // Named, with the reason; not taken for a json error in an empty text.
        {"configuration file missing",
         [](VelmoraEntryDependencies&, std::string& path, testsupport::Sandbox& box) {
             path = box.Path("etc/absent.json");
         },
         false,
         1,
         {"etc/absent.json: No such file or directory", "failed to parse kiv configuration file"},
         {"column", "Flash Corruption Recovery retry", "kiv shutdown"}},
        {"first open throws, the retry succeeds",
         [](VelmoraEntryDependencies&, std::string&, testsupport::Sandbox&) {
             ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kOpen, 1);
         },
         true,
         0,
         {"Corrupted Database detected: ", "Flash Corruption Recovery retry", "kiv shutdown"},
         {"Cannot access database"}},
        {"both opens answer no database",
         [](VelmoraEntryDependencies& deps, std::string&, testsupport::Sandbox&) {
             deps.storageFactory = [](const std::string&) { return std::shared_ptr<PermanentStorage>(); };
         },
         false,
         1,
         {"Cannot access database.", "Flash Corruption Recovery retry",
          "Cannot access database. Application is shutting down."},
         {"Corrupted Database detected", "kiv shutdown"}},
        // A retry that throws is a failure like any other, never a success.
        {"both opens throw",
         [](VelmoraEntryDependencies&, std::string&, testsupport::Sandbox&) {
             ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kOpen, 2);
         },
         false,
         1,
         {"Corrupted Database detected: ", "Flash Corruption Recovery retry",
          "Corrupted Database detected: ", "Cannot access database. Application is shutting down."},
         {"service thread exited", "kiv shutdown"}},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetProcessState();
        ara::per::testhook::Reset();
        ara::exec::testhook::Reset();
        capture.Clear();
        VelmoraEntryDependencies deps = Deps();
        std::string path = builder.ConfigPath();
        c.arrange(deps, path, box);
        int code = -1;
        if (c.runsUntilStopped) {
            auto process = std::async(std::launch::async, [&] { return Run(deps, path); });
            ASSERT_TRUE(WaitRunning()) << capture.Dump();
            code = Stop(process);
        } else {
            code = Run(deps, path);
        }
        EXPECT_EQ(code, c.exitCode) << capture.Dump();
        ExpectInOrder(capture.Texts(), c.expected);
        for (const std::string& text : c.expected) {
            if (text != "kiv shutdown") {
                EXPECT_TRUE(capture.Contains(Level::kFatal, text)) << text;
            }
        }
        for (const std::string& text : c.forbidden) {
            EXPECT_FALSE(capture.Contains(text)) << text;
        }
        EXPECT_EQ(ara::exec::testhook::Reports().empty(), !c.runsUntilStopped);
    }
}

TEST_F(RunVelmoraTest, WithoutAnArgumentOnlyTheUsageIsLoggedAndHelpPrintsIt) {
    char program[] = "velmora";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(RunVelmora(1, argv, Deps()), 1);
    EXPECT_EQ(capture.Texts().size(), 1u) << capture.Dump();
    EXPECT_TRUE(capture.Contains(Level::kFatal, "Usage: Kivanor ulvar1_kiv_config.json"));

    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        capture.Clear();
        std::string help = option;
        char* asked[] = {program, help.data(), nullptr};
        testing::internal::CaptureStdout();
        const int code = RunVelmora(2, asked, Deps());
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(code, 0);
        EXPECT_EQ(printed.rfind("Usage: Kivanor ulvar1_kiv_config.json\n", 0), 0u) << printed;
        EXPECT_TRUE(capture.Texts().empty()) << capture.Dump();
    }
}

// The platform sees: registration, kRunning, checkpoints once per period;
// then kTerminating, the services withdrawn in their offer order, and the
// state-management registration dropped; no checkpoint after kTerminating.
TEST_F(RunVelmoraTest, ReportsToThePlatformAndShutsDownInOrder) {
    OfferLog log;
    VelmoraEntryDependencies deps = Deps();
    deps.runtime.createGenericUdsService = testsupport::RecordingService(log, "GenericUDSService");
    deps.runtime.createSecurityAccess = testsupport::RecordingService(log, "SecurityAccess");
    deps.runtime.createRoutineServices = testsupport::RecordingService(log, "RoutineServices");
    deps.runtime.createPreConditionService = testsupport::RecordingService(log, "ProgrammingPreCondition");
    deps.runtime.createDiagnosticInfoService = testsupport::RecordingService(log, "DiagnosticInfo");
    deps.runtime.createDtcService = [&log](const std::string& instance, std::function<void()>) {
        return std::make_shared<testsupport::RecordingDtc>(log, instance);
    };
    auto process = Start(deps);
    ASSERT_TRUE(WaitRunning()) << capture.Dump();
    ASSERT_TRUE(ara::phm::testhook::WaitForCheckpoints(4, testsupport::kBound));
    EXPECT_TRUE(ara::stm::testhook::IsRegistered("sn_Velmora"));
    EXPECT_EQ(Stop(process), 0);

    const std::vector<std::string> order = {
        "GenericUDSService", "SecurityAccess", "RoutineServices", "ProgrammingPreCondition",
        "DTC 1472",          "DTC 1473",       "DTC 1456",        "DiagnosticInfo"};
    EXPECT_EQ(log.Entries("offer "), order);
    EXPECT_EQ(log.Entries("stop "), order);

    const auto reports = ara::exec::testhook::Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].state, ara::exec::ApplicationState::kRunning);
    EXPECT_EQ(reports[1].state, ara::exec::ApplicationState::kTerminating);
    const auto registrations = ara::stm::testhook::Registrations();
    ASSERT_EQ(registrations.size(), 2u);
    EXPECT_TRUE(registrations[0].registered);
    EXPECT_FALSE(registrations[1].registered);

    // Offered during start-up, before the registration and kRunning.
    EXPECT_LT(log.Sequence("offer DiagnosticInfo"), registrations[0].stamp.sequence);
    EXPECT_LT(registrations[0].stamp.sequence, reports[0].stamp.sequence);
    // Withdrawn after kTerminating, before the registration ends.
    EXPECT_LT(reports[1].stamp.sequence, log.Sequence("stop GenericUDSService"));
    EXPECT_LT(log.Sequence("stop DiagnosticInfo"), registrations[1].stamp.sequence);

    const auto checkpoints = ara::phm::testhook::Checkpoints();
    ASSERT_GE(checkpoints.size(), 4u);
    for (size_t i = 0; i < checkpoints.size(); ++i) {
        EXPECT_EQ(checkpoints[i].instance, "velmora-container");
        EXPECT_EQ(checkpoints[i].supervisionId, 30001);
        EXPECT_EQ(checkpoints[i].checkpoint, 1);
        EXPECT_GT(checkpoints[i].stamp.sequence, reports[0].stamp.sequence);
        EXPECT_LT(checkpoints[i].stamp.sequence, reports[1].stamp.sequence);
        // One per period: never two within a period.
        const auto since = i == 0 ? reports[0].stamp.time : checkpoints[i - 1].stamp.time;
        EXPECT_GE(checkpoints[i].stamp.time - since, std::chrono::milliseconds(15)) << i;
    }
    ExpectInOrder(capture.Texts(), {"Runtime start offer services", "ApplicationStateReporter running: state 1",
                                    "KIV MAIN EXIT", "ApplicationStateReporter terminating: state 1",
                                    "Runtime stop offer services", "KivRuntime: run succeeded!", "kiv shutdown"});
    // The diagnostic-status thread has ended before kTerminating.
    ExpectInOrder(capture.Texts(), {"diag_status_changed_proc EXIT", "ApplicationStateReporter terminating"});
}

// The transfer lock is held across up to six UCM calls: every wait for it
// lasts as long as six of the configured response time-outs, however long
// or short they are, and a value UCM's adaptor does not take leaves both at
// the adaptor's default. A bound past the largest duration stays there.
TEST_F(RunVelmoraTest, TheTransferLockBoundFollowsTheConfiguredUcmResponseTimeout) {
    using std::chrono::milliseconds;
    const struct {
        uint64_t configured;
        milliseconds timeout;
    } cases[] = {{50, milliseconds(50)},
                 {100000, milliseconds(100000)},
                 {0, milliseconds(30000)},
                 {uint64_t{1} << 63, milliseconds(30000)},
                 {(uint64_t{1} << 63) - 1, milliseconds::max()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        auto configuration = std::make_shared<KivConfiguration>();
        configuration->ucmResponseTimeout_msec = c.configured;
        KivRuntime runtime(configuration, nullptr, KivRuntimeDependencies());
        const milliseconds bound = runtime.Context().sessionData->TransferLockTimeout();
        if (c.timeout == milliseconds::max()) {
            EXPECT_EQ(bound.count(), milliseconds::max().count());
            continue;
        }
        const milliseconds ivdWait = IvdRequestWaitSettings{}.maxWait;
        EXPECT_GE(bound.count(), 6 * c.timeout.count() + ivdWait.count());
        EXPECT_LT(bound.count(), 7 * c.timeout.count() + ivdWait.count());
    }
    KivRuntimeDependencies shrunk;
    shrunk.transferLockTimeout = milliseconds(5);
    KivRuntime runtime(std::make_shared<KivConfiguration>(), nullptr, shrunk);
    EXPECT_EQ(runtime.Context().sessionData->TransferLockTimeout(), milliseconds(5));
}

// A health manager that refuses the client and then a checkpoint: both are
// logged, the next reports arrive. Then the process restarts over the same
// sandbox and finds the state the first run persisted.
TEST_F(RunVelmoraTest, AliveReportsSurviveAThrowingHealthManagerAndARestartFindsThePersistedState) {
    ara::phm::testhook::FailNextConstructions(1);
    ara::phm::testhook::ThrowOnNextCheckpoints(1);
    std::weak_ptr<KivRuntime> runtime;
    VelmoraEntryDependencies deps = Deps();
    deps.runtimeCreated = [&runtime](std::weak_ptr<KivRuntime> created) { runtime = created; };
    auto first = Start(deps);
    ASSERT_TRUE(WaitRunning()) << capture.Dump();
    ASSERT_TRUE(ara::phm::testhook::WaitForCheckpoints(2, testsupport::kBound));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Exception occurred in PHM client: health management not reachable"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Exception occurred in PHM client: checkpoint rejected"));
    EXPECT_GE(capture.Count("Creating new connection to PHM."), 2u);
    {
        const auto running = runtime.lock();
        ASSERT_TRUE(running);
        ASSERT_TRUE(
            running->Context().sessionData->GetSWupdateStatus()->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
        ASSERT_TRUE(running->Context().storage->SyncToStorage());
    }
    EXPECT_EQ(Stop(first), 0);
    EXPECT_TRUE(runtime.expired());

    ResetProcessState();
    ara::exec::testhook::Reset();
    capture.Clear();
    auto second = Start(Deps());
    ASSERT_TRUE(WaitRunning()) << capture.Dump();
    EXPECT_TRUE(capture.Contains("SW Read Status old: INVALID new: TRANSFER_IN_PROGRESS")) << capture.Dump();
    // A download without a session id on record has nothing left to undo.
    EXPECT_TRUE(capture.Contains("Writing SW update status to RT via shared memory: TRANSFER_IN_PROGRESS"));
    EXPECT_EQ(box.ReadFile("sys/swupd/vm_status"), "idle");
    EXPECT_EQ(Stop(second), 0);
}

// The diagnostic-status thread acts once per notification: a wake-up without
// one cancels nothing, and one sent while a cancel runs is not lost.
TEST_F(RunVelmoraTest, DiagnosticStatusNotificationsAreNeitherLostNorInvented) {
    auto ucm = std::make_shared<testsupport::GatedUcmAdaptor>();
    std::weak_ptr<KivRuntime> weakRuntime;
    VelmoraEntryDependencies deps = Deps();
    deps.runtime.createUcmAdaptor = [ucm](const std::string&, std::function<void(CurrentStatusType)>,
                                          const KivConfiguration&) { return ucm; };
    deps.runtimeCreated = [&weakRuntime](std::weak_ptr<KivRuntime> created) { weakRuntime = created; };
    auto process = Start(deps);
    ASSERT_TRUE(WaitRunning()) << capture.Dump();
    {
        // The process keeps the last references: they go before it stops.
        const auto runtime = weakRuntime.lock();
        ASSERT_TRUE(runtime);
        const auto session = runtime->Context().sessionData;
        const auto conversation = runtime->Context().conversation;
        const char* kCancel = "KivRuntime::cancel_sw_download: SWupdateStatus=";

        session->SetUcmSessionId(7);
        ASSERT_TRUE(session->GetSWupdateStatus()->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
        {
            std::lock_guard<std::mutex> lock(DiagStatusMutex);
            DiagStatusConditionVariable.notify_all();  // spurious
        }
        conversation->NotifyDiagStatusChanged();
        ASSERT_TRUE(ucm->WaitForCalls("DOClose", 1));
        // The thread is back waiting after exactly one cancel.
        const auto waits = [this] { return capture.Count("diag_status_changed_proc WAIT for state change"); };
        for (int i = 0; i < 1000 && waits() < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(capture.Count(kCancel), 1u) << capture.Dump();
        EXPECT_EQ(ucm->Count("TransferExit"), 1u);
        EXPECT_EQ(session->GetSWupdateState(), SWupdateState::IDLE);

        // A second download; its cancel is held inside UCM while the next notification comes.
        session->SetUcmSessionId(8);
        ASSERT_TRUE(session->GetSWupdateStatus()->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
        ucm->CloseGate();
        conversation->NotifyDiagStatusChanged();
        ASSERT_TRUE(ucm->WaitForCalls("TransferExit", 2));
        conversation->NotifyDiagStatusChanged();
        ucm->OpenGate();
        for (int i = 0; i < 1000 && capture.Count(kCancel) < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(capture.Count(kCancel), 3u) << capture.Dump();
        EXPECT_TRUE(capture.Contains(std::string(kCancel) + "IDLE"));
        EXPECT_EQ(ucm->Count("TransferExit"), 2u);
    }
    EXPECT_EQ(Stop(process), 0);
}

// A fault after the threads started ends the run, not the process: the
// threads are joined, the services withdrawn, and the process exits as after
// a shutdown.
TEST_F(RunVelmoraTest, AnExceptionAfterTheThreadsStartedIsContained) {
    OfferLog log;
    VelmoraEntryDependencies deps = Deps();
    deps.runtime.createGenericUdsService = testsupport::RecordingService(log, "GenericUDSService");
    deps.runtime.startAutonomousCheck = [](const KivRuntimeContext&, const AutonomousCheckSettings&) {
        throw std::runtime_error("injected fault");
    };
    EXPECT_EQ(Run(deps), 0);
    EXPECT_TRUE(capture.Contains(Level::kFatal, "service thread exited: injected fault")) << capture.Dump();
    ExpectInOrder(capture.Texts(), {"service thread exited: injected fault", "kiv shutdown"});
    EXPECT_EQ(log.Entries("stop "), std::vector<std::string>{"GenericUDSService"});
    EXPECT_FALSE(ara::stm::testhook::IsRegistered("sn_Velmora"));
    EXPECT_TRUE(capture.Contains("diag_status_changed_proc EXIT"));
}

// In the child: the production entry on the sandbox, SIGTERM to itself once
// it reports kRunning; 0 when it ended cleanly within the time.
int RunAndSignalOnRunning(std::string config) {
    VelmoraEntryDependencies deps = ProductionEntryDependencies();
    std::chrono::steady_clock::time_point signalled;
    ara::exec::testhook::SetReportObserver([&signalled](ara::exec::ApplicationState state) {
        if (state == ara::exec::ApplicationState::kRunning) {
            signalled = std::chrono::steady_clock::now();
            kill(getpid(), SIGTERM);
        }
    });
    char program[] = "velmora";
    char* argv[] = {program, config.data(), nullptr};
    const int code = RunVelmora(2, argv, deps);
    const auto took = std::chrono::steady_clock::now() - signalled;
    return code == 0 && took < std::chrono::milliseconds(1500) ? 0 : 3;
}

// A real SIGTERM to a running process (a child of its own, so that the signal
// reaches only it), timed from the signal to the return of the entry.
TEST_F(RunVelmoraTest, SigtermEndsARunningProcessWithinASecond) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    const std::string config = builder.ConfigPath();
    EXPECT_EXIT(
        {
            const int code = RunAndSignalOnRunning(config);
            // _exit passes the fixture's destructor by: the child's own sandbox goes here.
            std::error_code ignored;
            std::filesystem::remove_all(box.Root(), ignored);
            _exit(code);
        },
        ::testing::ExitedWithCode(0), "kiv shutdown");
}

}  // namespace
