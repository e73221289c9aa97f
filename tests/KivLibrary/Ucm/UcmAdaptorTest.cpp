// The UCM adaptor and its three clients against the simulated update manager
// over the real binding: result mappings, error fields, retries, bounded
// waits, the installation state, re-discovery and serialisation.
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KivLibrary/Ucm/ClusterIntegrityClientImpl.h"
#include "KivLibrary/Ucm/InstallationStatusProvider.h"
#include "KivLibrary/Ucm/PackageManagementClient.h"
#include "KivLibrary/Ucm/UCMClientImpl.h"
#include "KivLibrary/Ucm/UcmNames.h"
#include "platform/com/Runtime.h"
#include "sim/UpdateManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

namespace {

using namespace std::chrono_literals;
using sim::UcmFault;
using sim::UcmMethod;
using sim::UpdateManager;
using testsupport::Level;

constexpr const char* kInstance = "ucm-test";
constexpr auto kBound = 10s;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = kBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Every CurrentStatus value the adaptor's callback received.
class StatusLog {
public:
    void Add(CurrentStatusType status) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.push_back(status);
    }
    std::vector<CurrentStatusType> Values() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }
    size_t Size() const { return Values().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<CurrentStatusType> m_values;
};

class UcmAdaptorTest : public ::testing::Test {
protected:
    ~UcmAdaptorTest() override {
        m_adaptor.reset();
        m_ucm.reset();
        zov::com::testing::ResetRegistry();
    }

    UpdateManager& StartUcm(UpdateManager::Options options = UpdateManager::Options()) {
        options.instance = kInstance;
        m_ucm = std::make_unique<UpdateManager>(options);
        return *m_ucm;
    }

    UCM::UCMAdaptorImpl& MakeAdaptor(UCM::UCMAdaptorSettings settings = UCM::UCMAdaptorSettings(),
                                     bool waitForConnection = true) {
        if (settings.responseTimeout == UCM::UCMAdaptorSettings::kDefaultResponseTimeout) {
            settings.responseTimeout = 5s;
        }
        auto statuses = m_statuses;
        m_packageManagement =
            CreatePackageManagementClient(kInstance, [statuses](CurrentStatusType status) { statuses->Add(status); });
        m_installStatus = CreateInstallationStatusProvider(kInstance);
        m_clusterIntegrity = CreateClusterIntegrityClient(kInstance);
        m_adaptor = std::make_shared<UCM::UCMAdaptorImpl>(
            CreateUCMClient(m_packageManagement, m_installStatus, m_clusterIntegrity), settings);
        if (waitForConnection) {
            EXPECT_TRUE(WaitUntil([this] { return Connected(); }));
        }
        return *m_adaptor;
    }

    bool Connected() const {
        using PmClient = PackageManagementClient<ara::ucm::proxy::PackageManagementProxy>;
        using IspClient = InstallationStatusProvider<ara::ucm::proxy::InstallStatusProviderProxy>;
        return std::dynamic_pointer_cast<PmClient>(m_packageManagement)->IsConnected() &&
               std::dynamic_pointer_cast<IspClient>(m_installStatus)->IsConnected() &&
               std::dynamic_pointer_cast<ClusterIntegrityClientImpl>(m_clusterIntegrity)->IsConnected() &&
               !m_statuses->Values().empty();
    }

    // A session with one block of `payload` transferred and exited.
    uint32_t Transfer(const std::vector<uint8_t>& payload) {
        UCM::StartOutput start;
        EXPECT_TRUE(m_adaptor->Start(start));
        EXPECT_TRUE(m_adaptor->TransferStart(start.id, static_cast<uint32_t>(payload.size())));
        EXPECT_TRUE(m_adaptor->TransferData(start.id, payload, 1));
        EXPECT_TRUE(m_adaptor->TransferExit(start.id));
        return start.id;
    }

    testsupport::LogCapture m_log;
    std::shared_ptr<StatusLog> m_statuses = std::make_shared<StatusLog>();
    std::unique_ptr<UpdateManager> m_ucm;
    std::shared_ptr<PackageManagement> m_packageManagement;
    std::shared_ptr<InstallStatusProvider> m_installStatus;
    std::shared_ptr<ClusterIntegrityClient> m_clusterIntegrity;
    std::shared_ptr<UCM::UCMAdaptorImpl> m_adaptor;
};

TEST_F(UcmAdaptorTest, ResultBytesMapToSuccessOnlyWhereTheyMeanIt) {
    StartUcm();
    auto& adaptor = MakeAdaptor();
    const std::vector<uint8_t> piece(4, 0xAB);
    struct Case {
        UcmMethod method;
        uint8_t answer;
        bool expected;
        const char* logged;  // at error level when the result is false
    };
    const Case cases[] = {
        {UcmMethod::kTransferData, 0, true, "TransferData: Success!"},
        {UcmMethod::kTransferData, 1, false, "TransferData: Error due to INCORRECT_BLOCK!"},
        {UcmMethod::kTransferData, 2, false, "TransferData: Error due to INCORRECT_SIZE!"},
        {UcmMethod::kTransferData, 9, false, "TransferData: Error!"},
        {UcmMethod::kTransferExit, 0, true, "TransferExit: Success!"},
        {UcmMethod::kTransferExit, 1, false, "TransferExit: Error due to INSUFFICIENT DATA!"},
        {UcmMethod::kTransferExit, 3, false, "TransferExit: Error!"},
        {UcmMethod::kTransferStart, 0, true, "TransferStart: Success!"},
        {UcmMethod::kTransferStart, 1, true, "TransferStart: Success!"},
        {UcmMethod::kTransferStart, 0xFF, true, "TransferStart: Success!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::UcmMethodName(c.method)) + " answering " + std::to_string(c.answer));
        m_log.Clear();
        m_ucm->SetFault(c.method, UcmFault::Answer(c.answer));
        bool result = false;
        switch (c.method) {
            case UcmMethod::kTransferData:
                result = adaptor.TransferData(7, piece, 1);
                break;
            case UcmMethod::kTransferExit:
                result = adaptor.TransferExit(7);
                break;
            default:
                result = adaptor.TransferStart(7, 4);
                break;
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_TRUE(m_log.Contains(c.expected ? Level::kInfo : Level::kError, c.logged)) << m_log.Dump();
    }

    // Values pass through unchanged, names or not.
    m_ucm->SetFault(UcmMethod::kGetCurrentStatus, UcmFault::Answer(0x17));
    CurrentStatusType status = 0;
    EXPECT_TRUE(adaptor.GetCurrentStatus(status));
    EXPECT_EQ(status, 0x17);
    m_ucm->SetFault(UcmMethod::kGetProgress, UcmFault::Answer(42));
    UCM::GetProgressOutput progress;
    EXPECT_TRUE(adaptor.GetProgress(7, progress));
    EXPECT_EQ(progress.progress, 42);
}

TEST_F(UcmAdaptorTest, WholeUpdateRunsThroughTheSimulatedUpdateManager) {
    testsupport::Sandbox sandbox;
    UpdateManager::Options options;
    options.firstSessionId = 100;
    auto& ucm = StartUcm(options);
    ucm.SetClusterIntegrity("vm_lb1", true, 7, UpdateManager::IntegrityValue{{1, 2, 3}});
    ucm.SetClusterIntegrity("vm_lb2", true, 7, UpdateManager::IntegrityValue{{4, 5, 6}});
    ucm.SetClusterIntegrity("vm_lb1", false, 7, UpdateManager::IntegrityValue{{9}});
    sim::LogisticsFile installed;
    installed.AppSw("0200");
    ucm.SetInstallLogistics(sandbox.Path("b/logistics"), {{"ZenqLogistics_vm_lb1.json", installed}});
    auto& adaptor = MakeAdaptor();

    UCM::StartOutput start;
    ASSERT_TRUE(adaptor.Start(start));
    EXPECT_EQ(start.id, 100u);
    EXPECT_TRUE(m_log.Contains(Level::kInfo, "Start: Success! New session id 100"));
    const std::vector<uint8_t> first(5, 0x11), second(5, 0x22), tooLong(6, 0x33);
    ASSERT_TRUE(adaptor.TransferStart(start.id, 10));
    EXPECT_TRUE(adaptor.TransferData(start.id, first, 1));
    EXPECT_FALSE(adaptor.TransferData(start.id, second, 3));   // counter skips
    EXPECT_FALSE(adaptor.TransferData(start.id, tooLong, 2));  // beyond the announced size
    EXPECT_FALSE(adaptor.TransferExit(start.id));              // bytes missing
    EXPECT_TRUE(adaptor.TransferData(start.id, second, 2));
    EXPECT_TRUE(adaptor.TransferExit(start.id));
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(ucm.ReceivedBlocks(start.id), std::vector<std::vector<uint8_t>>{expected});

    ucm.HoldInstallations(true);
    ASSERT_TRUE(adaptor.InstallUpdateAsync(start.id));
    EXPECT_EQ(adaptor.GetInstallUpdateState(), static_cast<uint8_t>(UCM::InstallUpdateState::kRunning));
    ucm.HoldInstallations(false);
    EXPECT_TRUE(WaitUntil([&] { return adaptor.GetInstallUpdateState() == 1; }));
    EXPECT_TRUE(m_log.Contains(Level::kInfo, "InstallUpdate: InstallUpdateResultCallback Success100"));

    UCM::GetProgressOutput progress;
    EXPECT_TRUE(adaptor.GetProgress(start.id, progress));
    EXPECT_EQ(progress.progress, 100);
    UCM::GetInstallationResultOutput result;
    EXPECT_TRUE(adaptor.GetInstallationResult(start.id, result));
    EXPECT_EQ(result.result, 0);
    UCM::GetInstallationStatusOutput status;
    ASSERT_TRUE(adaptor.GetInstallationStatus(start.id, status));
    EXPECT_EQ(status.Status, 7);
    ASSERT_EQ(status.IntegrityData.size(), 2u);  // the clusters of the installed partition, in order
    EXPECT_EQ(status.IntegrityData[0].clusterName, "vm_lb1");
    EXPECT_EQ(status.IntegrityData[1].data[2], 6);
    m_log.Clear();
    UCM::LogInstallationStatus(status);
    EXPECT_TRUE(m_log.Contains("InstallationStatus.Status = 7 status = Success"));
    EXPECT_TRUE(m_log.Contains("InstallationStatus.IntegrityData length = 2"));
    EXPECT_EQ(m_log.Count("InstallationStatus.IntegrityData.cluster = "), 2u);
    EXPECT_EQ(m_log.Count("InstallationStatus.Error"), 0u);
    EXPECT_NE(sandbox.ReadFile("b/logistics/ZenqLogistics_vm_lb1.json").find("\"0200\""), std::string::npos);

    EXPECT_TRUE(adaptor.CommitUpdate(start.id, false));
    EXPECT_FALSE(adaptor.CommitUpdate(start.id, false));  // a second commit is not supported
    EXPECT_TRUE(adaptor.CommitUpdate(start.id, true));
    UCM::GetLogOutput log;
    EXPECT_TRUE(adaptor.GetLog(start.id, log));
    EXPECT_FALSE(log.log.empty());
    EXPECT_TRUE(adaptor.Close(start.id, false));
    EXPECT_FALSE(adaptor.Close(start.id, false));  // already closed
    EXPECT_FALSE(adaptor.Close(0xFFFFFFFFu, false));
    EXPECT_TRUE(adaptor.Close(0xFFFFFFFFu, true));
    EXPECT_TRUE(WaitUntil([&] { return m_statuses->Size() == 3; }));
    EXPECT_EQ(m_statuses->Values(), (std::vector<CurrentStatusType>{0, 1, 0}));
    EXPECT_EQ(ucm.MaxOutstandingBlocking(), 1u);
}

TEST_F(UcmAdaptorTest, ErrorFieldsAndIgnoreFlagsDecideCloseCommitAndInstall) {
    StartUcm();
    auto& adaptor = MakeAdaptor();
    struct Case {
        UcmMethod method;
        uint8_t code;
        bool ignore;
        bool expected;
        const char* logged;
    };
    const Case cases[] = {
        {UcmMethod::kClose, 3, true, true, "Close : Ignoring invalid SessionId= 5"},
        {UcmMethod::kClose, 3, false, false, "Close failed : Wrong invalid SessionId= 5"},
        {UcmMethod::kClose, 1, true, false, "Received exception for Close: GeneralReject"},
        {UcmMethod::kCommitUpdate, 4, true, true, "Ignoring CommitUpdate error"},
        {UcmMethod::kCommitUpdate, 4, false, false, "Received UCM exception for CommitUpdate: ServiceNotSupported"},
        {UcmMethod::kCommitUpdate, 3, true, false, "CommitUpdate failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::UcmMethodName(c.method)) + " code " + std::to_string(c.code));
        m_log.Clear();
        m_ucm->SetFault(c.method, UcmFault::Error(c.code));
        const bool result =
            c.method == UcmMethod::kClose ? adaptor.Close(5, c.ignore) : adaptor.CommitUpdate(5, c.ignore);
        EXPECT_EQ(result, c.expected);
        EXPECT_TRUE(m_log.Contains(c.logged)) << m_log.Dump();
    }

    // InstallUpdate reads its own field; a code without a name logs an empty one.
    const uint32_t id = Transfer({1, 2, 3});
    for (const auto& entry :
         {std::make_pair(uint8_t{2}, std::string("GeneralMemoryError")), std::make_pair(uint8_t{9}, std::string(""))}) {
        m_log.Clear();
        m_ucm->SetFault(UcmMethod::kInstallUpdate, UcmFault::Error(entry.first));
        ASSERT_TRUE(adaptor.InstallUpdateAsync(id));
        EXPECT_TRUE(WaitUntil([&] { return adaptor.GetInstallUpdateState() == 3; }));
        EXPECT_TRUE(m_log.WaitFor("Received exception for installUpdate: " + entry.second));
    }
    m_ucm->SetFault(UcmMethod::kInstallUpdate, UcmFault::NotAvailable());
    ASSERT_TRUE(adaptor.InstallUpdateAsync(id));
    EXPECT_TRUE(WaitUntil([&] { return adaptor.GetInstallUpdateState() == 4; }));
}

TEST_F(UcmAdaptorTest, RetriesMakeTenAttemptsAndLeaveTheMutexFreeBetweenThem) {
    StartUcm();
    std::atomic<int> pauses{0};
    std::atomic<int> othersThrough{0};
    std::atomic<bool> cancel{false};
    UCM::UCMAdaptorSettings settings;
    settings.cancelRequested = [&] { return cancel.load(); };
    settings.sleep = [&](std::chrono::milliseconds pause) {
        EXPECT_EQ(pause, 1000ms);
        ++pauses;
        // Another thread's blocking call gets through during the pause.
        std::thread other([&] {
            CurrentStatusType status = 0;
            if (m_adaptor->GetCurrentStatus(status)) {
                ++othersThrough;
            }
        });
        other.join();
    };
    auto& adaptor = MakeAdaptor(settings);

    for (UcmMethod method : {UcmMethod::kClose, UcmMethod::kCommitUpdate}) {
        SCOPED_TRACE(sim::UcmMethodName(method));
        pauses = 0;
        othersThrough = 0;
        m_log.Clear();
        m_ucm->ClearCalls();
        m_ucm->SetFault(method, UcmFault::Error(1), -1);
        const bool result = method == UcmMethod::kClose ? adaptor.DOClose(5, true) : adaptor.commitUpdate(5, true);
        EXPECT_FALSE(result);
        EXPECT_EQ(m_ucm->CountCalls(method), 10u);
        EXPECT_EQ(pauses.load(), 9);
        EXPECT_EQ(othersThrough.load(), 9);
        const std::string name = method == UcmMethod::kClose ? "DOClose" : "commitUpdate";
        EXPECT_TRUE(m_log.Contains(Level::kInfo, name + " attempt = 10;return value = 0"));
        EXPECT_TRUE(m_log.Contains(Level::kError, "fail to " + name + " with attempt = 10return value = 0"));

        // Success on the third attempt ends the loop (an open session: its commit is ignorable).
        UCM::StartOutput start;
        ASSERT_TRUE(adaptor.Start(start));
        m_ucm->ClearCalls();
        m_ucm->SetFault(method, UcmFault::Error(1), 2);
        EXPECT_TRUE(method == UcmMethod::kClose ? adaptor.DOClose(start.id, false)
                                                : adaptor.commitUpdate(start.id, true));
        EXPECT_EQ(m_ucm->CountCalls(method), 3u);
    }

    // Termination stops the loop before its next attempt.
    m_ucm->ClearCalls();
    m_ucm->SetFault(UcmMethod::kClose, UcmFault::Error(1), -1);
    settings.sleep = [&](std::chrono::milliseconds) { cancel = true; };
    m_adaptor = std::make_shared<UCM::UCMAdaptorImpl>(
        CreateUCMClient(m_packageManagement, m_installStatus, m_clusterIntegrity), settings);
    EXPECT_FALSE(m_adaptor->DOClose(5, false));
    EXPECT_EQ(m_ucm->CountCalls(UcmMethod::kClose), 1u);
}

TEST_F(UcmAdaptorTest, LostAnswerEndsTheCallAtTheTimeOutAndItsLateArrivalAnswersNothing) {
    StartUcm();
    UCM::UCMAdaptorSettings settings;
    settings.responseTimeout = 200ms;
    auto& adaptor = MakeAdaptor(settings);

    m_ucm->SetFault(UcmMethod::kStart, UcmFault::Drop());
    UCM::StartOutput lost;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(adaptor.Start(lost));
    EXPECT_LT(std::chrono::steady_clock::now() - before, kBound);
    EXPECT_EQ(lost.id, 0u);  // untouched
    EXPECT_TRUE(m_log.Contains(Level::kError, "Start: no answer from UCM within 200 ms"));

    UCM::StartOutput next;
    ASSERT_TRUE(adaptor.Start(next));
    EXPECT_EQ(m_ucm->ReleaseDropped(), 1u);
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(lost.id, 0u);
    UCM::StartOutput third;
    ASSERT_TRUE(adaptor.Start(third));
    EXPECT_EQ(third.id, next.id + 1);

    // Every blocking operation is bounded, also the one whose client once had no error path.
    m_ucm->SetFault(UcmMethod::kGetInstallationStatus, UcmFault::Drop());
    UCM::GetInstallationStatusOutput status;
    EXPECT_FALSE(adaptor.GetInstallationStatus(third.id, status));
    m_ucm->SetFault(UcmMethod::kGetLog, UcmFault::Drop());
    UCM::GetLogOutput log;
    EXPECT_FALSE(adaptor.GetLog(third.id, log));
    EXPECT_EQ(m_ucm->ReleaseDropped(), 2u);
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
}

// A UCM that is connected but never answers, at the shipped ratios of the
// time-outs scaled down (response 30 s, retry pause 1 s, installation 10 min).
TEST_F(UcmAdaptorTest, SilentUcmCostsOneTimeOutPerStepAndTerminationEndsEveryWait) {
    StartUcm();
    std::atomic<bool> cancel{false};
    UCM::UCMAdaptorSettings settings;
    settings.responseTimeout = 300ms;
    settings.retryPause = 10ms;
    settings.installTimeout = 6000ms;  // not reached here
    settings.cancelRequested = [&] { return cancel.load(); };
    auto& adaptor = MakeAdaptor(settings);
    const auto elapsedMs = [](std::chrono::steady_clock::time_point since) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
    };

    // The retries share one deadline: one time-out, not one per attempt. The
    // call count shows it; the time only shows that the call ends at all.
    for (UcmMethod method : {UcmMethod::kClose, UcmMethod::kCommitUpdate}) {
        SCOPED_TRACE(sim::UcmMethodName(method));
        m_ucm->SetFault(method, UcmFault::Drop(), -1);
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(method == UcmMethod::kClose ? adaptor.DOClose(5, true) : adaptor.commitUpdate(5, true));
        EXPECT_LT(elapsedMs(before), 10000);
        EXPECT_EQ(m_ucm->CountCalls(method), 1u);
    }
    // Termination ends a waiting call and the call queued behind it, long before their time-out.
    settings.responseTimeout = 20s;
    m_adaptor = std::make_shared<UCM::UCMAdaptorImpl>(
        CreateUCMClient(m_packageManagement, m_installStatus, m_clusterIntegrity), settings);
    m_ucm->SetFault(UcmMethod::kStart, UcmFault::Drop(), -1);
    m_ucm->ClearCalls();
    std::atomic<int> ended{0};
    std::thread waiting([&] {
        UCM::StartOutput start;
        EXPECT_FALSE(m_adaptor->Start(start));
        ++ended;
    });
    ASSERT_TRUE(WaitUntil([&] { return m_ucm->CountCalls(UcmMethod::kStart) == 1; }));
    std::thread queued([&] {
        EXPECT_FALSE(m_adaptor->DOClose(5, false));
        ++ended;
    });
    const auto cancelled = std::chrono::steady_clock::now();
    cancel = true;
    EXPECT_TRUE(WaitUntil([&] { return ended == 2; }, 10s));
    EXPECT_LT(elapsedMs(cancelled), 10000);
    waiting.join();
    queued.join();
    EXPECT_TRUE(m_log.Contains(Level::kError, "Start: waiting for UCM given up, termination requested"));
    EXPECT_EQ(m_ucm->CountCalls(UcmMethod::kClose), 0u);

    // An installation whose answer is lost ends as failed; its late answer changes nothing.
    cancel = false;
    m_ucm->ClearFaults();
    m_ucm->ReleaseDropped();
    const uint32_t id = Transfer({7});
    settings.responseTimeout = 50ms;
    settings.installTimeout = 1000ms;
    m_adaptor = std::make_shared<UCM::UCMAdaptorImpl>(
        CreateUCMClient(m_packageManagement, m_installStatus, m_clusterIntegrity), settings);
    m_ucm->HoldInstallations(true);
    ASSERT_TRUE(m_adaptor->InstallUpdateAsync(id));
    EXPECT_EQ(m_adaptor->GetInstallUpdateState(), 2);
    EXPECT_TRUE(WaitUntil([&] { return m_adaptor->GetInstallUpdateState() == 4; }, 10s));
    m_ucm->HoldInstallations(false);
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    EXPECT_EQ(m_adaptor->GetInstallUpdateState(), 4);
}

TEST_F(UcmAdaptorTest, ErrorAnswersEndCallsAtOnce) {
    StartUcm();
    UCM::UCMAdaptorSettings settings;
    settings.responseTimeout = 60s;  // an error that reached no callback would hang the test
    auto& adaptor = MakeAdaptor(settings);
    m_ucm->SetFault(UcmMethod::kGetInstallationStatus, UcmFault::Error(1));
    UCM::GetInstallationStatusOutput status;
    EXPECT_FALSE(adaptor.GetInstallationStatus(1, status));
    EXPECT_TRUE(m_log.Contains(Level::kError, "GetInstallationStatus -> Exception: std::exception"));
    UCM::GetLogOutput log;
    EXPECT_FALSE(adaptor.GetLog(12345, log));  // unknown session
    EXPECT_TRUE(m_log.Contains(Level::kError, "GetLog got exception from ucm: "));
    EXPECT_FALSE(adaptor.CancelUpdate(12345));
}

TEST_F(UcmAdaptorTest, InstallationStateFallsBackToIdleWhenTheRequestCannotBeSent) {
    // Not found yet: nothing is sent.
    auto& adaptor = MakeAdaptor(UCM::UCMAdaptorSettings(), false);
    EXPECT_FALSE(adaptor.InstallUpdateAsync(1));
    EXPECT_EQ(adaptor.GetInstallUpdateState(), 0);
    EXPECT_TRUE(m_log.Contains(Level::kError, "InstallUpdateAsync failed UcmClient:PackageManagement"));
    UCM::StartOutput start;
    EXPECT_FALSE(adaptor.Start(start));
    EXPECT_TRUE(m_log.Contains(Level::kError, "Start failed UcmClient:PackageManagement"));

    // Late offering: the clients find it.
    StartUcm();
    ASSERT_TRUE(WaitUntil([this] { return Connected(); }));
    const uint32_t id = Transfer({4, 5});
    m_ucm->HoldInstallations(true);
    ASSERT_TRUE(adaptor.InstallUpdateAsync(id));
    EXPECT_EQ(adaptor.GetInstallUpdateState(), 2);
    m_ucm->HoldInstallations(false);
    ASSERT_TRUE(WaitUntil([&] { return adaptor.GetInstallUpdateState() == 1; }));

    // Gone again: the proxy call throws, the state does not stay "running".
    m_ucm->Withdraw();
    EXPECT_FALSE(adaptor.InstallUpdateAsync(id));
    EXPECT_EQ(adaptor.GetInstallUpdateState(), 0);
    EXPECT_TRUE(m_log.Contains(Level::kError, "InstallUpdateAsync -> Exception: Service not available exception"));
    EXPECT_FALSE(adaptor.GetSwClusterIntegrity("vm_lb1", true, [](SwClusterIntegrity) {}));
    EXPECT_FALSE(adaptor.CancelSwClusterIntegrity("vm_lb1", [](CancelStatusType) {}));
}

TEST_F(UcmAdaptorTest, CurrentStatusArrivesOnceAfterEveryReOffer) {
    StartUcm();
    MakeAdaptor();
    for (int round = 0; round < 2; ++round) {
        // Counted before the withdrawal: the re-offer's value may arrive
        // before Offer() returns.
        const size_t before = m_statuses->Size();
        m_ucm->Withdraw();
        m_ucm->Offer();
        // Each re-offer is seen (the current value comes again), and the
        // client moves its subscription to the new proxy.
        ASSERT_TRUE(WaitUntil([&] { return m_statuses->Size() > before; }));
        ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    }
    // Waited for by content, not by count: a repeated READY of a re-offer
    // may still be on its way on the receive thread.
    const auto busyThenReady = [this] {
        const auto values = m_statuses->Values();
        const auto busy = std::find(values.begin(), values.end(), 1);
        return busy != values.end() && std::find(busy, values.end(), 0) != values.end();
    };
    UCM::StartOutput start;
    ASSERT_TRUE(m_adaptor->Start(start));
    ASSERT_TRUE(WaitUntil([&] {
        const auto values = m_statuses->Values();
        return std::find(values.begin(), values.end(), 1) != values.end();
    }));
    ASSERT_TRUE(m_adaptor->Close(start.id, false));
    ASSERT_TRUE(WaitUntil(busyThenReady));
    ASSERT_TRUE(zov::com::testing::WaitForBindingIdle());
    // BUSY once, then READY once; repeated READY values of the re-offers come before.
    const auto values = m_statuses->Values();
    const auto busy = std::find(values.begin(), values.end(), 1);
    ASSERT_NE(busy, values.end());
    EXPECT_EQ(std::vector<CurrentStatusType>(busy, values.end()), (std::vector<CurrentStatusType>{1, 0}));
}

TEST_F(UcmAdaptorTest, FourThreadsNeverHaveTwoBlockingRequestsOutstanding) {
    StartUcm();
    m_ucm->SetFault(UcmMethod::kTransferStart, UcmFault::Delay(1ms), -1);
    m_ucm->SetClusterIntegrity("vm_lb1", false, 7, {});
    auto& adaptor = MakeAdaptor();
    std::atomic<int> failures{0};
    std::atomic<int> integrityAnswers{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 15; ++i) {
                UCM::StartOutput start;
                CurrentStatusType status = 0;
                UCM::GetProgressOutput progress;
                const bool ok = adaptor.Start(start) && adaptor.TransferStart(start.id, 1) &&
                                adaptor.TransferData(start.id, {1}, 1) && adaptor.GetCurrentStatus(status) &&
                                adaptor.GetProgress(start.id, progress) && adaptor.Close(start.id, false);
                failures += ok ? 0 : 1;
                // Not serialised, never in the way.
                adaptor.GetSwClusterIntegrity("vm_lb1", false, [&](SwClusterIntegrity) { ++integrityAnswers; });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(m_ucm->MaxOutstandingBlocking(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return integrityAnswers.load() == 60; }));
}

TEST_F(UcmAdaptorTest, ClusterIntegrityAnswersEveryRequestAlsoOnError) {
    StartUcm();
    m_ucm->SetClusterIntegrity("vm_lb1", true, 7, UpdateManager::IntegrityValue{{0xB}});
    m_ucm->SetClusterIntegrity("vm_lb1", false, 6, UpdateManager::IntegrityValue{{0xA}});
    auto& adaptor = MakeAdaptor();
    std::mutex mutex;
    std::vector<SwClusterIntegrity> answers;
    auto collect = [&](SwClusterIntegrity answer) {
        std::lock_guard<std::mutex> lock(mutex);
        answers.push_back(answer);
    };
    auto count = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return answers.size();
    };
    ASSERT_TRUE(adaptor.GetSwClusterIntegrity("vm_lb1", true, collect));
    ASSERT_TRUE(WaitUntil([&] { return count() == 1; }));
    ASSERT_TRUE(adaptor.GetSwClusterIntegrity("vm_lb1", false, collect));
    ASSERT_TRUE(WaitUntil([&] { return count() == 2; }));
    ASSERT_TRUE(adaptor.GetSwClusterIntegrity("unknown", true, collect));  // answered with an error
    ASSERT_TRUE(WaitUntil([&] { return count() == 3; }));
    EXPECT_EQ(answers[0].status, 7);
    EXPECT_EQ(answers[0].ivd[0], 0xB);
    EXPECT_EQ(answers[1].status, 6);
    EXPECT_EQ(answers[1].ivd[0], 0xA);
    EXPECT_EQ(answers[2].status, ClusterIntegrityClientImpl::kErrorAnswerStatus);
    EXPECT_EQ(answers[2].clusterName, "unknown");
    EXPECT_TRUE(m_log.Contains(Level::kInfo, "Using Ucm to GetSwClusterIntegrity for vm_lb1 inactive partition =  1"));

    std::atomic<int> cancelStatus{-1};
    ASSERT_TRUE(adaptor.CancelSwClusterIntegrity("vm_lb1", [&](CancelStatusType s) { cancelStatus = s; }));
    EXPECT_TRUE(WaitUntil([&] { return cancelStatus.load() == 2; }));
}

TEST_F(UcmAdaptorTest, SessionTableOutlivesTheUpdateManager) {
    testsupport::Sandbox sandbox;
    UpdateManager::Options options;
    options.sessionTablePath = sandbox.Path("ucm/sessions.json");
    options.firstSessionId = 40;
    uint32_t id = 0;
    {
        auto& ucm = StartUcm(options);
        auto& adaptor = MakeAdaptor();
        UCM::StartOutput start;
        ASSERT_TRUE(adaptor.Start(start));
        id = start.id;
        EXPECT_EQ(ucm.CurrentStatus(), 1);
        m_adaptor.reset();
        m_ucm.reset();
    }
    auto& restarted = StartUcm(options);
    ASSERT_TRUE(restarted.Session(id).has_value());
    EXPECT_EQ(restarted.Session(id)->state, "open");
    EXPECT_EQ(restarted.CurrentStatus(), 1);
    auto& adaptor = MakeAdaptor();
    EXPECT_TRUE(adaptor.DOClose(id, false));
    UCM::StartOutput next;
    ASSERT_TRUE(adaptor.Start(next));
    EXPECT_EQ(next.id, id + 1);
}

}  // namespace
