// The autonomous integrity check as the process runs it: started by the
// runtime, over the real UCM adaptor and binding against the simulated update
// manager (ACTIVE with three clusters, MIRROR with two), its DTCs seen by the
// diagnostic manager's side, and fast shutdown sent by state management.
#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "platform/ara/per/key_value_storage.h"
#include "sim/DiagnosticMonitorRecorder.h"
#include "sim/UpdateManager.h"
#include "statemachine/StateMachine.h"
#include "tests/velmora/src/ProcessHarness.h"
#include "threading/WorkerThread.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using sim::UcmFault;
using sim::UcmMethod;
using Action = sim::DiagnosticMonitorRecorder::Action;
using Ivd = sim::UpdateManager::IntegrityValue;

constexpr const char* kMajor = "1472";
constexpr const char* kMinor = "1473";

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = testsupport::kBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string Cluster(int id) { return "vm_adaptive_lb" + std::to_string(id); }

// A request as the update manager's call log shows it.
std::string Request(int id, bool partitionB) { return Cluster(id) + ", " + (partitionB ? "B" : "A"); }

Ivd Value(int id, bool partitionB) {
    Ivd value;
    value.fill(static_cast<uint8_t>(id + (partitionB ? 0x10 : 0)));
    return value;
}

class AutonomousCheckProcessTest : public testsupport::ProcessTest {
protected:
    AutonomousCheckProcessTest() {
        std::ifstream in(sim::SandboxBuilder::ShippedConfigurationPath());
        nlohmann::json config = nlohmann::json::parse(in);
        for (auto& vm : config["ConfiguredLogicalBlocks"]["VMs"]) {
            if (vm["Name"] == "vm_adaptive") {
                vm["FlashBlocks"] = {1, 2, 3};
            }
        }
        config["IVD_AutoCheck_VolatileMirrorFlashBlocks"] = {2, 3};
        config["IVD_AutoCheck_StartTimeout_msec"] = 1;
        config["IVD_AutoCheck_ResumeTimeout_msec"] = 1;
        config["IVD_AutoCheck_DelayTimeout_msec"] = 1;
        sim::SandboxBuilder(box.Root(), box.WriteFile("check_template.json", config.dump())).WriteAll();
        for (int id = 1; id <= 3; ++id) {
            ucm.SetClusterIntegrity(Cluster(id), false, 7, Value(id, false));
            ucm.SetClusterIntegrity(Cluster(id), true, 7, Value(id, true));
        }
    }

    ~AutonomousCheckProcessTest() override {
        if (m_process.valid()) {
            Stop(m_process);
        }
        FastShutDown::Set(false);
    }

    // Starts the process; the check starts once the DTCs are seen by the
    // diagnostic manager and the adaptor reaches the update manager.
    void StartProcess(AutonomousCheckSettings settings = {10s, 10s, 2}) {
        VelmoraEntryDependencies deps = Deps();
        deps.runtime.autonomousCheckSettings = settings;
        deps.runtimeCreated = [this](std::weak_ptr<KivRuntime> weak) { Prepare(weak); };
        deps.runtime.startAutonomousCheck = [this](const KivRuntimeContext& c, const AutonomousCheckSettings& s) {
            EXPECT_TRUE(dtcs.WaitForConnected(kMajor));
            EXPECT_TRUE(dtcs.WaitForConnected(kMinor));
            StartIvdAutonomousCheck(c, s);
        };
        m_process = Start(deps);
        ASSERT_TRUE(WaitRunning());
        ASSERT_TRUE(Eventually([this] { return Check() != nullptr; }));
    }

    // What the start-up reads from the logistics files and the database, and
    // a connected adaptor (the probe is not left in the call log).
    void Prepare(const std::weak_ptr<KivRuntime>& weak) {
        const std::shared_ptr<KivRuntime> runtime = weak.lock();
        ASSERT_TRUE(runtime);
        m_context = runtime->Context();
        LogisticFileHandler files(m_context.configuration, m_context.storage, m_context.sessionData);
        files.ReadActiveLogistics();
        files.ReadInactiveLogistics();
        files.WriteActiveLogisticsToDatabase({'S', 'E', 'R', 'I', 'A', 'L'}, {0x24, 0x01, 0x01});
        const bool connected = Eventually([this] {
            auto answered = std::make_shared<std::promise<void>>();
            std::future<void> answer = answered->get_future();
            return m_context.ucmAdaptor->GetSwClusterIntegrity("probe", false, [answered](SwClusterIntegrity) {
                answered->set_value();
            }) && answer.wait_for(testsupport::kBound) == std::future_status::ready;
        });
        ASSERT_TRUE(connected);
        ucm.ClearCalls();
        if (m_arrange) {
            m_arrange();
        }
    }

    std::shared_ptr<AutonomousCheck> Check() {
        std::lock_guard<std::mutex> lock(*m_context.slotMutex);
        return *m_context.autonomousCheckSlot;
    }
    SessionData& Session() { return *m_context.sessionData; }

    // The machine belongs to the worker: its state is read there.
    uint16_t State() {
        const std::shared_ptr<stelvo::small_sm::StateMachine> machine = *m_context.stateMachineSlot;
        auto promise = std::make_shared<std::promise<uint16_t>>();
        std::future<uint16_t> state = promise->get_future();
        if (!machine || m_context.workerThread->Invoke([promise, machine] {
                promise->set_value(machine->GetCurrentState());
            }) == 0 ||
            state.wait_for(testsupport::kBound) != std::future_status::ready) {
            return stelvo::small_sm::kNoState;
        }
        return state.get();
    }
    bool RestsInIdle(bool done) {
        return Eventually([&] { return Session().AutonomousCheckDone == done && State() == ST_IDLE; });
    }

    std::vector<std::string> Requests() const {
        std::vector<std::string> requests;
        for (const sim::UcmCall& call : ucm.Calls()) {
            if (call.method == "GetSwClusterIntegrity") {
                requests.push_back(call.arguments);
            }
        }
        return requests;
    }

    LogicalBlock Stored(bool installed, uint8_t id) {
        LogicalBlocks blocks;
        if (installed) {
            m_context.storage->ReadInstalledLogicalBlocks(blocks);
        } else {
            m_context.storage->ReadUpdatedLogicalBlocks(blocks);
        }
        for (const LogicalBlock& block : blocks) {
            if (block.m_id == id) {
                return block;
            }
        }
        return {};
    }

    ara::stm::testhook::Confirmation Send(const std::string& state) {
        EXPECT_TRUE(ara::stm::testhook::SendState(KivRuntime::kComponentName, state, testsupport::kBound));
        const auto confirmations = ara::stm::testhook::Confirmations();
        return confirmations.empty() ? ara::stm::testhook::Confirmation{} : confirmations.back();
    }

    SWupdateState Status() { return Session().GetSWupdateStatus()->GetStatus(); }

    // The software-update state as the medium holds it.
    static ara::per::KvsType OnMedium() {
        ara::per::KeyValueStorage medium("KivDatabase");
        return medium.HasKey("SER_SwUpdateState") ? medium.GetValue("SER_SwUpdateState") : ara::per::KvsType();
    }

    sim::UpdateManager ucm;
    sim::DiagnosticMonitorRecorder dtcs{{kMajor, kMinor}};
    // Applied once the adaptor is connected, before the check starts.
    std::function<void()> m_arrange;
    KivRuntimeContext m_context;
    std::future<int> m_process;
};

struct FetchCase {
    const char* name;
    std::function<void(sim::UpdateManager&)> arrange;
    std::vector<std::string> firstRequests;  // before the five of a clean run
    Action major;
    bool dropsAnswers;
};

void PrintTo(const FetchCase& c, std::ostream* out) { *out << c.name; }

class AutonomousCheckFetchTest : public AutonomousCheckProcessTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(AutonomousCheckFetchTest, FetchesEveryClusterStoresItRaisesItsDtcsAndRestsInIdle) {
    const FetchCase& c = GetParam();
    m_arrange = [this, &c] { c.arrange(ucm); };
    StartProcess({c.dropsAnswers ? 300ms : 10s, 10s, 2});
    ASSERT_TRUE(RestsInIdle(true));
    ucm.ReleaseDropped();  // a late answer changes nothing

    std::vector<std::string> requests = c.firstRequests;
    for (const auto& request :
         {Request(1, false), Request(2, false), Request(3, false), Request(2, true), Request(3, true)}) {
        requests.push_back(request);
    }
    EXPECT_EQ(Requests(), requests);
    // The events cross the binding after the machine came to rest.
    EXPECT_TRUE(Eventually([&] { return dtcs.LastAction(kMajor) == c.major; }));
    // Block 1 is not volatile: the MIRROR partition shares its integrity state.
    EXPECT_TRUE(Eventually([&] { return dtcs.LastAction(kMinor) == c.major; }));
    for (int id = 1; id <= 3; ++id) {
        const LogicalBlock installed = Stored(true, static_cast<uint8_t>(id));
        const bool corrupt = c.major == Action::kFailed && id == 1;
        EXPECT_EQ(installed.m_IVD.m_state, corrupt ? 2 : 1) << id;
        if (!corrupt) {
            EXPECT_EQ(installed.m_IVD.m_data, Value(id, false)) << id;
        }
    }
    for (int id = 2; id <= 3; ++id) {
        EXPECT_EQ(Stored(false, static_cast<uint8_t>(id)).m_IVD.m_data, Value(id, true)) << id;
    }
    EXPECT_EQ(Session().GetInstalledLogistics()->programmingHash.size(), c.major == Action::kPassed ? 32U : 0U);
    EXPECT_TRUE(Session().GetIvdRequestCluster().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AutonomousCheckFetchTest,
    ::testing::Values(
        FetchCase{"all answer", [](sim::UpdateManager&) {}, {}, Action::kPassed, false},
        FetchCase{"one corrupt cluster",
                  [](sim::UpdateManager& u) { u.SetClusterIntegrity(Cluster(1), false, 2, Ivd{}); },
                  {Request(1, false), Request(1, false)},
                  Action::kFailed,
                  false},
        FetchCase{"dropped answer",
                  [](sim::UpdateManager& u) { u.SetFault(UcmMethod::kGetSwClusterIntegrity, UcmFault::Drop()); },
                  {Request(1, false)},
                  Action::kPassed,
                  true},
        FetchCase{"error answer",
                  [](sim::UpdateManager& u) { u.SetFault(UcmMethod::kGetSwClusterIntegrity, UcmFault::Error(1)); },
                  {Request(1, false)},
                  Action::kPassed,
                  false}),
    [](const ::testing::TestParamInfo<FetchCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

TEST_F(AutonomousCheckProcessTest, RefusedRequestsAreGivenUpAndTheCheckCompletes) {
    // The update manager is gone before the first request: every request is
    // refused at once, each block is given up after its retries.
    m_arrange = [this] { ucm.Withdraw(); };
    StartProcess();
    ASSERT_TRUE(RestsInIdle(true));
    EXPECT_TRUE(Requests().empty());
    // Nothing was received: nothing overwrites the stored blocks.
    EXPECT_EQ(Stored(true, 1).m_IVD.m_state, 0);
}

TEST_F(AutonomousCheckProcessTest, CancelDuringAPendingRequestFreesAWaitingDownloadWithinASecond) {
    m_arrange = [this] { ucm.SetFault(UcmMethod::kGetSwClusterIntegrity, UcmFault::Drop()); };
    StartProcess({30s, 30s, 2});
    ASSERT_TRUE(Eventually([this] { return Session().GetIvdRequestCluster() == Cluster(1); }));

    const auto start = std::chrono::steady_clock::now();
    Check()->CancelAC();
    WaitForIvdRequestsToEnd(Session(), {5s, 5ms});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(ucm.CountCalls(UcmMethod::kCancel), 1U);
    EXPECT_TRUE(RestsInIdle(false));
}

// The check's worker ends with the process, whoever still holds it: an
// answer or a supervision time-out that comes later finds no thread to drive
// the state machine, whose logger belonged to the runtime.
TEST_F(AutonomousCheckProcessTest, NothingOfTheCheckRunsOnceTheProcessHasStopped) {
    m_arrange = [this] { ucm.SetFault(UcmMethod::kGetSwClusterIntegrity, UcmFault::Drop()); };
    StartProcess({100ms, 100ms, 2});
    ASSERT_TRUE(Eventually([this] { return Session().GetIvdRequestCluster() == Cluster(1); }));
    Stop(m_process);
    ucm.ReleaseDropped();  // the answer comes after the end
    EXPECT_EQ(m_context.workerThread->Invoke([] {}), 0U) << "the worker still runs";
}

TEST_F(AutonomousCheckProcessTest, FastShutdownMovesTheCompletedInstallationAndPausesTheCheck) {
    m_arrange = [this] { ucm.SetFault(UcmMethod::kGetSwClusterIntegrity, UcmFault::Drop()); };
    StartProcess({200ms, 200ms, 2});
    ASSERT_TRUE(Eventually([this] { return Session().GetIvdRequestCluster() == Cluster(1); }));

    // Announced while a request is pending: the check comes to rest unfinished.
    EXPECT_EQ(Send("kPrepSD").result, ara::stm::ComponentClientReturnType::kSuccess);
    EXPECT_TRUE(FastShutDown::IsSet());
    EXPECT_TRUE(RestsInIdle(false));
    const size_t requestsWhilePaused = Requests().size();
    // Revoked: the check resumes and completes.
    EXPECT_EQ(Send("kOn").result, ara::stm::ComponentClientReturnType::kSuccess);
    EXPECT_FALSE(FastShutDown::IsSet());
    ASSERT_TRUE(RestsInIdle(true));
    EXPECT_GT(Requests().size(), requestsWhilePaused);

    // A completed installation: 10 reaches the medium before the flag blocks it.
    ASSERT_TRUE(UpdateSwStatus(Session().GetSWupdateStatus(), SWupdateState::INSTALL_COMPLETE, "test"));
    m_context.storage->SyncToStorage();
    const ara::per::KvsType complete = OnMedium();
    const size_t requestsDone = Requests().size();

    struct Step {
        const char* state;
        ara::stm::ComponentClientReturnType result;
        bool flag;
        SWupdateState status;
        bool mediumHoldsComplete;
    };
    const std::vector<Step> steps = {
        {"kPrepSD", ara::stm::ComponentClientReturnType::kSuccess, true, SWupdateState::INSTALL_COMPLETE_PREPARED4SD,
         false},
        {"kPrepSD", ara::stm::ComponentClientReturnType::kSuccess, true, SWupdateState::INSTALL_COMPLETE_PREPARED4SD,
         false},
        {"kOff", ara::stm::ComponentClientReturnType::kInvalid, true, SWupdateState::INSTALL_COMPLETE_PREPARED4SD,
         false},
        {"kOn", ara::stm::ComponentClientReturnType::kSuccess, false, SWupdateState::INSTALL_COMPLETE, true},
        {"kRestart", ara::stm::ComponentClientReturnType::kInvalid, false, SWupdateState::INSTALL_COMPLETE, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.state);
        const auto confirmation = Send(step.state);
        EXPECT_EQ(confirmation.state, step.state);
        EXPECT_EQ(confirmation.result, step.result);
        EXPECT_EQ(FastShutDown::IsSet(), step.flag);
        EXPECT_EQ(Status(), step.status);
        EXPECT_EQ(OnMedium() == complete, step.mediumHoldsComplete);
    }
    EXPECT_TRUE(capture.Contains(
        "Unknown state_notification ComponentState: \" + kOff\", confirm with kInvalid and leave fastshutdown-state "
        "untouched!"));

    // After completion a start event (as routine 0x029A sends it) still ends
    // in Idle without new requests.
    Check()->SendEventToStateMachine(EV_START_IVD_FETCHING);
    EXPECT_TRUE(RestsInIdle(true));
    EXPECT_EQ(Requests().size(), requestsDone);
}

TEST_F(AutonomousCheckProcessTest, StateManagementRacesTheWorkerRunningTheCheck) {
    m_arrange = [this] {
        ucm.SetFault(UcmMethod::kGetSwClusterIntegrity, UcmFault::Drop(), 2);
        ucm.SetFault(UcmMethod::kCancel, UcmFault::Drop(), 1);
    };
    StartProcess({20ms, 20ms, 2});
    std::thread stateManagement([this] {
        for (int i = 0; i < 20; ++i) {
            Send(i % 2 == 0 ? "kPrepSD" : "kOn");
            if (i % 7 == 0) {
                Check()->CancelAC();
            }
        }
    });
    stateManagement.join();
    EXPECT_FALSE(FastShutDown::IsSet());
    // A check left resting before its end is started again, as a later start
    // timer would; one event per look at the machine.
    EXPECT_TRUE(Eventually([this] {
        const bool idle = State() == ST_IDLE;
        if (idle && !Session().AutonomousCheckDone) {
            Check()->SendEventToStateMachine(EV_START_IVD_FETCHING);
        }
        return idle && Session().AutonomousCheckDone;
    }));
    ucm.ReleaseDropped();
}

}  // namespace
