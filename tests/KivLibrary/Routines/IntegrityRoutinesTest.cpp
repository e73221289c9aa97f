// Routines 0x0253 and 0x029A through their proxies over the real binding, on
// the real worker thread and timers. 0x0253 forwards to sim::AlienKiv; 0x029A
// drives the real state machine and autonomous check against
// sim::UpdateManager through the real UCM adaptor.
#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/KivLibrary/StateMachineAdapter.h"
#include "KivLibrary/Routines/RoutineNrc.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_proxy.h"
#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_proxy.h"
#include "platform/services/zenqo/services/diag/r_029a/RoutineService_CalculateModuleHashValue_proxy.h"
#include "sim/AlienKiv.h"
#include "sim/UpdateManager.h"
#include "tests/KivLibrary/Routines/RoutineHarness.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <thread>
#include <type_traits>

namespace {

using namespace routinetest;
using namespace std::chrono_literals;
namespace diag = zenqo::services::diag;
using IvdProxy = diag::r_0253::proxy::RoutineService_CalculateIntegrityValidationDataProxy;
using MhvProxy = diag::r_029a::proxy::RoutineService_CalculateModuleHashValueProxy;
using PreconditionsProxy = diag::r_0203::proxy::RoutineService_CheckProgrammingPreconditionsProxy;
using IvdOutput = sim::AlienKiv::StartOutput;
using Behaviour = sim::AlienKiv::Behaviour;
using Nrc3 = std::array<uint8_t, 3>;

const zov::dm::types::MetaInfoType kMeta{};
constexpr uint8_t kValue = 0;        // answered with a value
constexpr uint8_t kNoAnswer = 0xEE;  // not answered within the bound
constexpr auto kBound = 10s;
const char* const kAlien = "alien";

// 0 for a value (kept in *value), the NRC for the routine's error, kNoAnswer
// when the bound passed, 0xFF for anything else.
template <typename Future>
uint8_t Outcome(Future& future, IvdOutput* value = nullptr) {
    if (future.wait_for(kBound) != jux::com::future_status::ready) {
        return kNoAnswer;
    }
    try {
        if constexpr (std::is_void_v<decltype(future.get())>) {
            future.get();
        } else if (value != nullptr) {
            *value = future.get();
        } else {
            future.get();
        }
        return kValue;
    } catch (const RoutineNrc::Failed0253& error) {
        return error.GetCode();
    } catch (...) {
        return 0xFF;
    }
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kBound) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

IvdOutput AlienOutput(uint8_t fill) {
    IvdOutput output;
    output.IVD_Result = 0;
    output.IVD_Flag = 7;
    output.ProgHashValue.assign(32, fill);
    return output;
}

class SilentEngineLogger : public stelvo::small_sm::Logger {
public:
    void log(int, const std::string&) override {}
};

class IntegrityRoutinesTest : public RoutineHarness {
public:
    void SetUp() override {
        RoutineHarness::SetUp();
        routines->StopOfferServices();
        routines.reset();
        FastShutDown::Set(false);
        configuration->IVD_RID_0253_AlienKIVId = kAlien;
        configuration->IVD_RID_0253_StartTimeout_msec = 500;
        configuration->IVD_RID_0253_CancelTimeout_msec = 300;
        configuration->IVD_AutoCheck_StartTimeout_msec = 1;
        configuration->IVD_AutoCheck_ResumeTimeout_msec = 1;
        configuration->IVD_AutoCheck_DelayTimeout_msec = 1;
        configuration->sysfsValid = true;
    }

    void TearDown() override {
        if (routines) {
            routines->StopOfferServices();
            routines.reset();
        }
        for (const auto& timer : {startTimer, pauseTimer}) {
            timer->timer_stop();
        }
        // The check holds the worker too: stop the thread itself, so that no
        // later task drives the machine with this fixture's logger.
        const std::shared_ptr<IWorkerThread> running = worker;
        SafeShutDown(worker);
        running->Shutdown();
        checkSlot.reset();
        stateMachine.reset();
        adaptor.reset();
        updateManager.reset();
        alien.reset();
        FastShutDown::Set(false);
        RoutineHarness::TearDown();
    }

    // The routines over the worker; the slots must be filled before.
    void Build() {
        RoutineDependencies dependencies{session,  adaptor ? std::shared_ptr<UCM::UCMAdaptorInterface>(adaptor) : ucm,
                                         database, nullptr,
                                         worker,   configuration,
                                         nullptr};
        routines = std::make_unique<RoutineServicesImpl>(1, dependencies, stateMachine, &checkSlot,
                                                         Routine029ASettings{10ms, 99});
        routines->OfferServices();
        ivd = Connect<IvdProxy>();
        mhv = Connect<MhvProxy>();
        ASSERT_TRUE(ivd && mhv);
    }

    // The update manager answers every cluster of both partitions; the
    // autonomous check has run once and rests.
    void BuildCheck(AutonomousCheckSettings settings = {300ms, 300ms, 2}) {
        sim::UpdateManager::Options options;
        options.instance = configuration->ucmServiceInstanceId;
        updateManager = std::make_unique<sim::UpdateManager>(options);
        for (const bool active : {true, false}) {
            session->FindCluster(
                [this](const LogicalBlockCache& record) {
                    for (const bool partitionB : {false, true}) {
                        sim::UpdateManager::IntegrityValue value;
                        value.fill(static_cast<uint8_t>(record.id));
                        updateManager->SetClusterIntegrity(record.name, partitionB, 7, value);
                    }
                    return false;
                },
                active);
        }
        UCM::UCMAdaptorSettings adaptorSettings;
        adaptorSettings.retryPause = 1ms;
        adaptor = std::make_shared<UCM::UCMAdaptorImpl>(configuration->ucmServiceInstanceId, nullptr, adaptorSettings);
        auto adapter = std::make_shared<StateMachineAdapter>(&checkSlot);
        stateMachine = CreateAutonomousCheckModel(&engineLogger, adapter, adapter);
        stateMachine->Start();
        checkSlot = MakeAutonomousCheck({startTimer, pauseTimer, nullptr, nullptr, GetLoggingBackend(), worker,
                                         stateMachine, database, adaptor, session},
                                        settings);
        ASSERT_TRUE(checkSlot->Start());
        checkSlot->SendEventToStateMachine(EV_AUTOCHECK_INIT_DONE);
        ASSERT_TRUE(Eventually([this] { return session->AutonomousCheckDone.load(); })) << capture.Dump();
    }

    jux::com::Future<IvdOutput> StartIvd(uint8_t calculationType = 0, uint8_t hashType = 1) {
        return ivd->Start(kMeta, calculationType, hashType);
    }

    // {0, 0, 0} when answered without error.
    template <typename Future>
    static Nrc3 Mhv(Future future) {
        if (future.wait_for(kBound) != jux::com::future_status::ready) {
            return {kNoAnswer, kNoAnswer, kNoAnswer};
        }
        try {
            future.get();
            return {0, 0, 0};
        } catch (const RoutineNrc::Failed029A& error) {
            return {error.GetRequestResultsCode(), error.GetStartCode(), error.GetStopCode()};
        } catch (...) {
        }
        return {0xFF, 0xFF, 0xFF};
    }

    diag::r_029a::RoutineService_CalculateModuleHashValue::Start::Output StartMhv() {
        return mhv->Start(kMeta, 1, 1).get();
    }

    std::shared_ptr<IWorkerThread> worker = CreateWorkerThread("VLMR_WorkerThread");
    std::shared_ptr<ITimer> startTimer = CreateTimer("AutonomousCheckStartTimer", 1);
    std::shared_ptr<ITimer> pauseTimer = CreateTimer("AutonomousCheckPauseTimer", 1);
    SilentEngineLogger engineLogger;
    std::shared_ptr<AutonomousCheck> checkSlot;
    std::unique_ptr<sim::UpdateManager> updateManager;
    std::shared_ptr<UCM::UCMAdaptorImpl> adaptor;
    std::unique_ptr<sim::AlienKiv> alien;
    std::unique_ptr<IvdProxy> ivd;
    std::unique_ptr<MhvProxy> mhv;
};

// ---- 0x0253 ---------------------------------------------------------------------

TEST_F(IntegrityRoutinesTest, LocalCalculationAndRangeChecks) {
    // The hash needs every block's integrity data: the supervision must not
    // give a slow answer up.
    BuildCheck({kBound, kBound, 2});
    for (const LogicalBlockCache& block : session->GetInstalledLogistics()->blocks) {
        ASSERT_TRUE(block.IVD_IsValid) << block.id << capture.Dump();
    }
    Build();
    IvdOutput local = StartIvd(1).get();
    EXPECT_EQ(local.IVD_Result, 0);
    EXPECT_EQ(local.IVD_Flag, 1);
    EXPECT_EQ(local.ProgHashValue, session->GetInstalledLogistics()->programmingHash);
    EXPECT_EQ(local.ProgHashValue.size(), 32u);

    for (const auto& [ct, ht] : std::vector<std::pair<uint8_t, uint8_t>>{{2, 1}, {1, 0}}) {
        auto refused = StartIvd(ct, ht);
        EXPECT_EQ(Outcome(refused), 0x31);
    }
    FastShutDown::Set(true);
    auto duringShutdown = StartIvd(1);
    EXPECT_EQ(Outcome(duringShutdown), 0x22);
    FastShutDown::Set(false);

    configuration->sysfsValid = false;
    IvdOutput invalid = StartIvd(1).get();
    EXPECT_EQ(invalid.IVD_Result, 1);
    EXPECT_EQ(invalid.IVD_Flag, 1);
    EXPECT_TRUE(invalid.ProgHashValue.empty());
    EXPECT_FALSE(session->Rid0253Running);
}

TEST_F(IntegrityRoutinesTest, ForwardedStartPassesTheOtherInstancesAnswerOn) {
    IvdOutput incorrect;
    incorrect.IVD_Result = 1;
    incorrect.IVD_Flag = 1;
    struct Case {
        const char* name;
        bool offered;
        Behaviour behaviour;
        uint8_t outcome;
        IvdOutput value;
    };
    // In this order: the client connects at the first offer and keeps its
    // proxy until a forwarded call fails.
    const std::vector<Case> cases = {
        {"absent", false, Behaviour::Answer(), 0x22, {}},
        {"answer after a delay", true, Behaviour::Answer(30ms), kValue, AlienOutput(0x5C)},
        {"error answer", true, Behaviour::Error(0x33, 10ms), 0x33, {}},
        {"no answer", true, Behaviour::Silent(), 0x22, {}},
        {"gone after connecting", false, Behaviour::Answer(), kValue, incorrect},
        {"back again", true, Behaviour::Answer(), kValue, AlienOutput(0x5C)},
    };
    Build();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alien = std::make_unique<sim::AlienKiv>(kAlien, c.offered);
        alien->SetStartBehaviour(c.behaviour);
        alien->SetStartOutput(AlienOutput(0x5C));
        const auto started = std::chrono::steady_clock::now();
        auto future = StartIvd();
        IvdOutput value;
        ASSERT_EQ(Outcome(future, &value), c.outcome) << capture.Dump();
        if (c.outcome == kValue) {
            EXPECT_EQ(value.IVD_Result, c.value.IVD_Result);
            EXPECT_EQ(value.IVD_Flag, c.value.IVD_Flag);  // passed on unchanged
            EXPECT_EQ(value.ProgHashValue, c.value.ProgHashValue);
        }
        if (c.behaviour.kind == Behaviour::Kind::kSilent) {
            EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);
        }
        EXPECT_FALSE(session->Rid0253Running);
        alien.reset();
    }
}

TEST_F(IntegrityRoutinesTest, LateReplyNeverAnswersTheNextRequest) {
    Build();
    alien = std::make_unique<sim::AlienKiv>(kAlien);
    alien->SetStartBehaviour(Behaviour::Silent());

    // The new request is answered by its own reply.
    alien->SetStartOutput(AlienOutput(0x01));
    auto first = StartIvd();
    ASSERT_EQ(Outcome(first), 0x22);
    alien->SetStartOutput(AlienOutput(0x02));
    auto second = StartIvd();
    ASSERT_TRUE(alien->WaitForStartCalls(2, kBound));
    EXPECT_EQ(alien->ReleaseHeld(), 2u);  // the late reply first, then its own
    IvdOutput value;
    ASSERT_EQ(Outcome(second, &value), kValue) << capture.Dump();
    EXPECT_EQ(value.ProgHashValue, AlienOutput(0x02).ProgHashValue);
    // The two replies reach the worker in either order.
    EXPECT_TRUE(Eventually(
        [&] { return capture.Contains("Start calculateIntegrityValidationData is back OUT OF TIME from Zenq KIV"); }));

    // The new request is answered by its own time-out.
    auto third = StartIvd();
    ASSERT_EQ(Outcome(third), 0x22);
    auto fourth = StartIvd();
    ASSERT_TRUE(alien->WaitForStartCalls(4, kBound));
    EXPECT_EQ(alien->ReleaseHeld(1), 1u);  // only the late reply of the third
    EXPECT_EQ(Outcome(fourth), 0x22);
    EXPECT_FALSE(session->Rid0253Running);
}

TEST_F(IntegrityRoutinesTest, CancelDuringAForwardedStartAnswersBoth) {
    Build();
    alien = std::make_unique<sim::AlienKiv>(kAlien);
    alien->SetStartBehaviour(Behaviour::Silent());
    for (const Behaviour cancelBehaviour : {Behaviour::Answer(), Behaviour::Silent(), Behaviour::Error(0x31)}) {
        alien->SetCancelBehaviour(cancelBehaviour);
        const size_t calls = alien->StartCalls();
        auto start = StartIvd();
        ASSERT_TRUE(alien->WaitForStartCalls(calls + 1, kBound));
        EXPECT_TRUE(session->Rid0253Running);
        auto cancel = ivd->Cancel(kMeta);
        const uint8_t expectedCancel = cancelBehaviour.kind == Behaviour::Kind::kError ? 0x31 : kValue;
        EXPECT_EQ(Outcome(cancel), expectedCancel) << capture.Dump();
        EXPECT_EQ(Outcome(start), 0x22);
        EXPECT_FALSE(session->Rid0253Running);
    }
    // A Cancel with nothing running and the other instance gone: no error.
    alien.reset();
    auto idle = ivd->Cancel(kMeta);
    EXPECT_EQ(Outcome(idle), kValue);
}

TEST_F(IntegrityRoutinesTest, StoppedWorkerAnswersAtOnce) {
    Build();
    alien = std::make_unique<sim::AlienKiv>(kAlien);
    alien->SetStartBehaviour(Behaviour::Silent());
    auto waiting = StartIvd();
    ASSERT_TRUE(alien->WaitForStartCalls(1, kBound));
    worker->Shutdown();
    // The time-out can no longer reach the worker: answered from the timer.
    EXPECT_EQ(Outcome(waiting), 0x10);
    auto start = StartIvd();
    EXPECT_EQ(Outcome(start), 0x10);
    auto cancel = ivd->Cancel(kMeta);
    EXPECT_EQ(Outcome(cancel), 0x10);
    EXPECT_EQ(Mhv(mhv->Start(kMeta, 1, 1)), (Nrc3{0, 0x10, 0}));
    EXPECT_EQ(Mhv(mhv->Stop(kMeta)), (Nrc3{0, 0, 0x22}));
    EXPECT_EQ(Mhv(mhv->Cancel(kMeta)), (Nrc3{0, 0x22, 0}));
    EXPECT_EQ(Mhv(mhv->RequestResults(kMeta)), (Nrc3{0x22, 0, 0}));
}

// ---- 0x029A ---------------------------------------------------------------------

TEST_F(IntegrityRoutinesTest, ModuleHashRunReportsProgressAndTheHash) {
    BuildCheck();
    Build();
    EXPECT_EQ(Mhv(mhv->RequestResults(kMeta)), (Nrc3{0x24, 0, 0}));
    EXPECT_EQ(Mhv(mhv->Start(kMeta, 2, 1)), (Nrc3{0, 0x31, 0}));
    session->SetUcmCopyInProgress(true);  // the start-up phase
    EXPECT_EQ(Mhv(mhv->Start(kMeta, 1, 1)), (Nrc3{0, 0x22, 0}));
    EXPECT_FALSE(session->Rid029ARunning);
    session->SetUcmCopyInProgress(false);

    updateManager->SetFault(sim::UcmMethod::kGetSwClusterIntegrity, sim::UcmFault::Drop(), 1);
    EXPECT_EQ(StartMhv().Resp_Status, 1);
    EXPECT_EQ(StartMhv().Resp_Status, 1);  // already running: nothing changes
    auto during = mhv->RequestResults(kMeta).get();
    EXPECT_EQ(during.Resp_Status, 1);
    EXPECT_LE(during.Progress, 90);
    EXPECT_TRUE(during.ProgHashValue.empty());

    diag::r_029a::RoutineService_CalculateModuleHashValue::RequestResults::Output done;
    ASSERT_TRUE(Eventually([&] {
        done = mhv->RequestResults(kMeta).get();
        return done.Resp_Status != 1;
    })) << capture.Dump();
    EXPECT_EQ(done.Resp_Status, 0x24);
    EXPECT_EQ(done.Progress, 100);
    EXPECT_EQ(done.IVD_Result, 0);
    EXPECT_EQ(done.ProgHashValue, session->GetInstalledLogistics()->programmingHash);
    EXPECT_EQ(done.ProgHashValue.size(), 32u);
    EXPECT_FALSE(session->Rid029ARunning);
}

TEST_F(IntegrityRoutinesTest, StopAndCancelEndTheRunWithTheUcmCancel) {
    BuildCheck();
    Build();
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "Cancel" : "Stop");
        updateManager->ClearCalls();
        updateManager->SetFault(sim::UcmMethod::kGetSwClusterIntegrity, sim::UcmFault::Drop(), -1);
        ASSERT_EQ(StartMhv().Resp_Status, 1);
        ASSERT_TRUE(Eventually([&] { return updateManager->CountCalls(sim::UcmMethod::kGetSwClusterIntegrity) >= 1; }));
        EXPECT_EQ(Mhv(cancel ? mhv->Cancel(kMeta) : mhv->Stop(kMeta)), (Nrc3{0, 0, 0})) << capture.Dump();
        EXPECT_GE(updateManager->CountCalls(sim::UcmMethod::kCancel), 1u);
        EXPECT_FALSE(session->Rid029ARunning);
        EXPECT_EQ(Mhv(mhv->RequestResults(kMeta)), (Nrc3{0x24, 0, 0}));
        updateManager->ClearFaults();
        updateManager->ReleaseDropped();
    }
    // Nothing running: answered at once.
    EXPECT_EQ(Mhv(mhv->Stop(kMeta)), (Nrc3{0, 0, 0}));
}

TEST_F(IntegrityRoutinesTest, StartDuringAStopThatWaitsForUcmIsRefused) {
    BuildCheck({300ms, 400ms, 2});
    Build();
    updateManager->SetFault(sim::UcmMethod::kGetSwClusterIntegrity, sim::UcmFault::Drop(), -1);
    updateManager->SetFault(sim::UcmMethod::kCancel, sim::UcmFault::Drop(), -1);
    updateManager->ClearCalls();
    ASSERT_EQ(StartMhv().Resp_Status, 1);
    ASSERT_TRUE(Eventually([&] { return updateManager->CountCalls(sim::UcmMethod::kGetSwClusterIntegrity) >= 1; }));
    auto stop = mhv->Stop(kMeta);
    ASSERT_TRUE(Eventually([&] { return updateManager->CountCalls(sim::UcmMethod::kCancel) >= 1; }));
    EXPECT_EQ(Mhv(mhv->Start(kMeta, 1, 1)), (Nrc3{0, 0x22, 0}));
    EXPECT_EQ(Mhv(std::move(stop)), (Nrc3{0, 0, 0})) << capture.Dump();
    EXPECT_FALSE(session->Rid029ARunning);
    updateManager->ClearFaults();
    updateManager->ReleaseDropped();
}

TEST_F(IntegrityRoutinesTest, StartWithoutAutonomousCheckIsNotPossible) {
    Build();  // neither machine nor check
    EXPECT_EQ(StartMhv().Resp_Status, 2);
    EXPECT_FALSE(session->Rid029ARunning);
    EXPECT_EQ(Mhv(mhv->RequestResults(kMeta)), (Nrc3{0x24, 0, 0}));
}

// ---- both routines, and what they hold off ---------------------------------------

TEST_F(IntegrityRoutinesTest, IntegrityRoutinesExcludeEachOtherAndHoldOffProgramming) {
    BuildCheck();
    Build();
    auto preconditions = Connect<PreconditionsProxy>();
    ASSERT_TRUE(preconditions);
    EXPECT_NO_THROW(preconditions->Start(kMeta).get());

    // 0x0253 waits for the other instance: 0x029A, 0x0203 and a second
    // 0x0253 are refused.
    alien = std::make_unique<sim::AlienKiv>(kAlien);
    alien->SetStartBehaviour(Behaviour::Silent());
    auto forwarded = StartIvd();
    ASSERT_TRUE(alien->WaitForStartCalls(1, kBound));
    auto twice = StartIvd(1);
    EXPECT_EQ(Outcome(twice), 0x22);
    EXPECT_TRUE(session->Rid0253Running);
    EXPECT_EQ(Mhv(mhv->Start(kMeta, 1, 1)), (Nrc3{0, 0x22, 0}));
    EXPECT_FALSE(session->Rid029ARunning);
    auto heldOff = preconditions->Start(kMeta);
    EXPECT_THROW(heldOff.get(), RoutineNrc::Failed0203);
    alien->ReleaseHeld();
    EXPECT_EQ(Outcome(forwarded), kValue);
    EXPECT_NO_THROW(preconditions->Start(kMeta).get());

    // 0x029A runs: 0x0253 and 0x0203 are refused, RequestDownload sees the flag.
    updateManager->SetFault(sim::UcmMethod::kGetSwClusterIntegrity, sim::UcmFault::Drop(), -1);
    ASSERT_EQ(StartMhv().Resp_Status, 1);
    EXPECT_TRUE(session->Rid029ARunning);
    auto local = StartIvd(1);
    EXPECT_EQ(Outcome(local), 0x22);
    auto refused = preconditions->Start(kMeta);
    EXPECT_THROW(refused.get(), RoutineNrc::Failed0203);
    EXPECT_EQ(Mhv(mhv->Stop(kMeta)), (Nrc3{0, 0, 0}));
    EXPECT_FALSE(session->Rid029ARunning);
    EXPECT_NO_THROW(preconditions->Start(kMeta).get());
    updateManager->ClearFaults();
    updateManager->ReleaseDropped();
}

}  // namespace
