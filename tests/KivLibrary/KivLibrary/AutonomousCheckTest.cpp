// The autonomous integrity check on the real worker thread, timers, session
// state and database stack, against a scripted update manager that answers
// from threads of its own as the binding does.
#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/KivLibrary/AutonomousCheckImpl.h"
#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"
#include "KivLibrary/KivLibrary/StateMachineAdapter.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "threading/Timer.h"
#include "threading/WorkerThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Ivd = std::array<uint8_t, 32>;

enum class Reply { kAnswer, kCorrupt, kNoIvd, kDrop, kRefuse };

Ivd Filled(uint8_t value) {
    Ivd ivd;
    ivd.fill(value);
    return ivd;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Answers each request after the script of its (cluster, partition B) key;
// an unscripted request gets a valid IVD filled with the cluster's last char.
class ScriptedUcm : public sessiontest::FakeUcmAdaptor {
public:
    ~ScriptedUcm() override { Join(); }

    bool GetSwClusterIntegrity(std::string cluster, bool readPartitionB,
                               std::function<void(SwClusterIntegrity)> callback) override {
        Reply reply = Reply::kAnswer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const std::string key = cluster + (readPartitionB ? "/B" : "/A");
            m_requests.push_back(key);
            auto& queue = script[key];
            if (!queue.empty()) {
                reply = queue.front();
                queue.erase(queue.begin());
            }
            if (reply == Reply::kRefuse) {
                return false;
            }
            if (m_unanswered > 0) {
                m_overlap = true;
            }
            if (reply == Reply::kDrop) {
                return true;
            }
            ++m_unanswered;
        }
        SwClusterIntegrity answer;
        answer.clusterName = cluster;
        answer.status = reply == Reply::kAnswer ? 7 : (reply == Reply::kCorrupt ? 2 : 1);
        answer.ivd = reply == Reply::kAnswer ? Filled(static_cast<uint8_t>(cluster.back())) : Ivd{};
        Spawn([this, answer, callback] {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                --m_unanswered;
            }
            callback(answer);
        });
        return true;
    }

    bool CancelSwClusterIntegrity(std::string cluster, std::function<void(CancelStatusType)> callback) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancels.push_back(cluster);
        if (!dropCancels) {
            m_threads.emplace_back([callback] { callback(2); });
        }
        return true;
    }

    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    std::vector<std::string> Cancels() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_cancels;
    }
    bool Overlapped() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_overlap;
    }
    void Join() {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            threads.swap(m_threads);
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }

    std::map<std::string, std::vector<Reply>> script;
    bool dropCancels = false;

private:
    void Spawn(std::function<void()> work) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.emplace_back(std::move(work));
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<std::string> m_cancels;
    std::vector<std::thread> m_threads;
    int m_unanswered = 0;
    bool m_overlap = false;
};

class RecordingDtc : public DTCService {
public:
    bool Startup() override { return true; }
    bool Shutdown() override { return true; }
    bool SetDTCState(int state, unsigned) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_states.push_back(state);
        return true;
    }
    bool GetDTCState(uint8_t&) override { return false; }
    std::vector<int> States() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_states;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_states;
};

class SilentEngineLogger : public stelvo::small_sm::Logger {
public:
    void log(int, const std::string&) override {}
};

LogicalBlockCache Record(uint16_t id) {
    LogicalBlockCache record;
    record.id = id;
    record.name = "c" + std::to_string(id);
    return record;
}

// Everything one check needs; each table case builds its own.
struct CheckBench {
    CheckBench() {
        ara::per::testhook::Reset();
        FastShutDown::Set(false);
        configuration->partition_a_name = "a";
        configuration->partition_b_name = "b";
        configuration->activePartitionName = "a";
        configuration->IVD_AutoCheck_StartTimeout_msec = 1;
        configuration->IVD_AutoCheck_ResumeTimeout_msec = 1;
        configuration->IVD_AutoCheck_DelayTimeout_msec = 1;
        configuration->volatileMirrorFlashBlocks = {2, 3};
        SWupdateState state;
        status->ReadStatus(state);
        session->SetSWupdateStatus(status);

        // Block 1 holds a valid IVD from an earlier check.
        LogicalBlocks blocks;
        for (uint8_t id = 1; id <= 3; ++id) {
            LogicalBlock block;
            block.m_id = id;
            if (id == 1) {
                block.m_IVD.m_state = 1;
                block.m_IVD.m_data = Filled(0xEE);
            }
            blocks.push_back(block);
        }
        db->WriteInstalledLogicalBlocks(blocks);
        db->WriteUpdatedLogicalBlocks(blocks);
        for (const bool active : {true, false}) {
            session->ReplaceLogistics(active, [](LogicalBlockCacheData& cache) {
                cache.blocks = {Record(1), Record(2), Record(3)};
            });
        }
    }

    ~CheckBench() {
        startTimer->timer_stop();
        pauseTimer->timer_stop();
        // The check holds the worker too; as the runtime does, the thread is
        // stopped itself, so that no later task drives the machine with this
        // bench's logger once it is gone.
        const std::shared_ptr<IWorkerThread> running = worker;
        SafeShutDown(worker);
        running->Shutdown();
        ucm->Join();
        FastShutDown::Set(false);
        ara::per::testhook::Reset();
    }

    void RunCheck(AutonomousCheckSettings settings = {200ms, 200ms, 2}) {
        machine = CreateAutonomousCheckModel(&engineLogger, adapter, adapter);
        machine->Start();
        slot = MakeAutonomousCheck(
            {startTimer, pauseTimer, major, minor, GetLoggingBackend(), worker, machine, db, ucm, session}, settings);
        ASSERT_TRUE(slot->Start());
        slot->SendEventToStateMachine(EV_AUTOCHECK_INIT_DONE);
    }

    // The machine belongs to the worker: its state is read there.
    uint16_t State() {
        auto promise = std::make_shared<std::promise<uint16_t>>();
        std::future<uint16_t> state = promise->get_future();
        auto machineCopy = machine;
        if (worker->Invoke([promise, machineCopy] { promise->set_value(machineCopy->GetCurrentState()); }) == 0 ||
            state.wait_for(5s) != std::future_status::ready) {
            return stelvo::small_sm::kNoState;
        }
        return state.get();
    }

    bool RestsInIdle(bool done) {
        return Eventually([&] { return session->AutonomousCheckDone == done && State() == ST_IDLE; });
    }

    // As the start-up fills the ACTIVE cache from a block stored as corrupt.
    void StoreAsCorrupt(uint8_t id) {
        LogicalBlocks blocks;
        db->ReadInstalledLogicalBlocks(blocks);
        for (LogicalBlock& block : blocks) {
            if (block.m_id == id) {
                block.m_IVD.m_state = 2;
            }
        }
        db->WriteInstalledLogicalBlocks(blocks);
        session->ReplaceLogistics(true, [id](LogicalBlockCacheData& cache) {
            for (LogicalBlockCache& record : cache.blocks) {
                if (record.id == id) {
                    record.IVD_IsCorrupt = true;
                }
            }
        });
    }

    // Runs the store of the check's results on the worker, as the check does.
    void StoreResults() {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> stored = done->get_future();
        auto check = std::static_pointer_cast<AutonomousCheckImpl>(slot);
        ASSERT_NE(worker->Invoke([check, done] {
            check->storeIVDOnPersistentDb();
            done->set_value();
        }),
                  0U);
        ASSERT_EQ(stored.wait_for(10s), std::future_status::ready);
    }

    LogicalBlock Installed(uint8_t id) {
        LogicalBlocks blocks;
        db->ReadInstalledLogicalBlocks(blocks);
        for (const auto& block : blocks) {
            if (block.m_id == id) {
                return block;
            }
        }
        return {};
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    sessiontest::DatabaseStack stack{"autonomous_check"};
    std::shared_ptr<PersistentDataStorage> db = stack.database;
    std::shared_ptr<KivConfiguration> configuration = sessiontest::MakeConfiguration(box);
    std::shared_ptr<SessionData> session =
        std::make_shared<SessionData>(configuration, db, std::make_shared<sessiontest::SpyVerifier>());
    std::shared_ptr<SWupdateStatus> status = std::make_shared<SWupdateStatus>(db);
    std::shared_ptr<ScriptedUcm> ucm = std::make_shared<ScriptedUcm>();
    std::shared_ptr<RecordingDtc> major = std::make_shared<RecordingDtc>();
    std::shared_ptr<RecordingDtc> minor = std::make_shared<RecordingDtc>();
    std::shared_ptr<IWorkerThread> worker = CreateWorkerThread("VLMR_WorkerThread");
    std::shared_ptr<ITimer> startTimer = CreateTimer("AutonomousCheckStartTimer", 1);
    std::shared_ptr<ITimer> pauseTimer = CreateTimer("AutonomousCheckPauseTimer", 1);
    SilentEngineLogger engineLogger;
    std::shared_ptr<AutonomousCheck> slot;
    std::shared_ptr<StateMachineAdapter> adapter = std::make_shared<StateMachineAdapter>(&slot);
    std::shared_ptr<stelvo::small_sm::StateMachine> machine;
};

class AutonomousCheckTest : public ::testing::Test, public CheckBench {};

struct Case {
    const char* name;
    bool activeIsB;
    std::map<std::string, std::vector<Reply>> script;
    std::vector<std::string> requests;  // with the partition read
    int major;                          // kLeftAsItWas: never set
    bool block1Answered;                // else its stored IVD is kept
    SWupdateState state = SWupdateState::IDLE;
    std::vector<int> minor = {DTC_PASSED};
    uint8_t storedCorrupt = 0;  // a block the database holds as corrupt
};

constexpr int kLeftAsItWas = -1;

TEST_F(AutonomousCheckTest, FetchesEveryClusterOnceAtATimeStoresAndRestsInIdle) {
    const std::vector<Case> cases = {
        {"all answer", false, {}, {"c1/A", "c2/A", "c3/A", "c2/B", "c3/B"}, DTC_PASSED, true},
        {"active partition is B", true, {}, {"c1/B", "c2/B", "c3/B", "c2/A", "c3/A"}, DTC_PASSED, true},
        {"one corrupt cluster",
         false,
         {{"c3/A", {Reply::kCorrupt, Reply::kCorrupt, Reply::kCorrupt}}},
         {"c1/A", "c2/A", "c3/A", "c3/A", "c3/A", "c2/B", "c3/B"},
         DTC_FAILED,
         true},
        {"dropped answer",
         false,
         {{"c2/A", {Reply::kDrop}}},
         {"c1/A", "c2/A", "c2/A", "c3/A", "c2/B", "c3/B"},
         DTC_PASSED,
         true},
        {"answer without IVD",
         false,
         {{"c2/A", {Reply::kNoIvd}}},
         {"c1/A", "c2/A", "c2/A", "c3/A", "c2/B", "c3/B"},
         DTC_PASSED,
         true},
        {"refused request",
         false,
         {{"c2/A", {Reply::kRefuse}}},
         {"c1/A", "c2/A", "c2/A", "c3/A", "c2/B", "c3/B"},
         DTC_PASSED,
         true},
        {"never answered: given up",
         false,
         {{"c1/A", {Reply::kDrop, Reply::kDrop, Reply::kDrop, Reply::kDrop}}},
         {"c1/A", "c1/A", "c1/A", "c1/A", "c2/A", "c3/A", "c2/B", "c3/B"},
         kLeftAsItWas,
         false},
        // Outside IDLE the mirror partition is neither requested nor judged.
        {"rolling back",
         false,
         {},
         {"c1/A", "c2/A", "c3/A"},
         DTC_PASSED,
         true,
         SWupdateState::ROLLBACK_IN_PROGRESS,
         {}},
        {"stored corrupt, never answered: its DTC is left as it was",
         false,
         {{"c3/A", {Reply::kRefuse, Reply::kRefuse, Reply::kRefuse, Reply::kRefuse}}},
         {"c1/A", "c2/A", "c3/A", "c3/A", "c3/A", "c2/B", "c3/B"},
         kLeftAsItWas,
         true,
         SWupdateState::IDLE,
         {DTC_PASSED},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckBench fixture;  // fresh stack per case
        fixture.configuration->activePartitionName = c.activeIsB ? "b" : "a";
        fixture.ucm->script = c.script;
        fixture.status->SetStatus(c.state);
        if (c.storedCorrupt != 0) {
            fixture.StoreAsCorrupt(c.storedCorrupt);
        }
        // Short supervision only where an answer is meant to be lost, so that
        // a late answer under load is never taken for a lost one.
        bool drops = false;
        for (const auto& entry : c.script) {
            drops = drops || std::count(entry.second.begin(), entry.second.end(), Reply::kDrop) > 0;
        }
        fixture.RunCheck({drops ? 500ms : 10s, 10s, 2});
        ASSERT_TRUE(fixture.RestsInIdle(true)) << c.name;
        EXPECT_EQ(fixture.ucm->Requests(), c.requests);
        EXPECT_FALSE(fixture.ucm->Overlapped());
        EXPECT_EQ(fixture.major->States(), c.major == kLeftAsItWas ? std::vector<int>{} : std::vector<int>{c.major});
        EXPECT_EQ(fixture.minor->States(), c.minor);
        EXPECT_TRUE(fixture.session->GetIvdRequestCluster().empty());

        const LogicalBlock block1 = fixture.Installed(1);
        EXPECT_EQ(block1.m_IVD.m_state, 1);
        EXPECT_EQ(block1.m_IVD.m_data, Filled(c.block1Answered ? '1' : 0xEE));
        EXPECT_EQ(fixture.Installed(3).m_IVD.m_state, c.major == DTC_FAILED || c.storedCorrupt == 3 ? 2 : 1);
        const bool allValid = c.major == DTC_PASSED && c.block1Answered;
        EXPECT_EQ(fixture.session->GetInstalledLogistics()->programmingHash.size(), allValid ? 32U : 0U);
    }
}

// A block given up holds the DTC as it was for its own run only: a later run
// over new logistics, in which every remaining cluster answers, decides it.
TEST_F(AutonomousCheckTest, AGivenUpClusterHoldsTheDtcForItsOwnRunOnly) {
    ucm->script["c1/A"] = {Reply::kDrop, Reply::kDrop, Reply::kDrop, Reply::kDrop};
    RunCheck({500ms, 10s, 2});
    ASSERT_TRUE(RestsInIdle(true));
    ASSERT_EQ(major->States(), std::vector<int>{});

    // A new run as routine 0x029A starts one, over logistics without block 1.
    session->ReplaceLogistics(true, [](LogicalBlockCacheData& cache) { cache.blocks = {Record(2), Record(3)}; });
    session->ReplaceLogistics(false, [](LogicalBlockCacheData& cache) {
        for (LogicalBlockCache& record : cache.blocks) {
            record.IVD_Retrieved = false;
            record.IVD_Retries = 0;
        }
    });
    session->Rid029AResultsReady = false;
    session->Rid029ARunning = true;
    session->ResetMirrorUpdateFlag(false);
    slot->SendEventToStateMachine(EV_START_IVD_FETCHING);
    ASSERT_TRUE(Eventually([&] { return session->Rid029AResultsReady && State() == ST_IDLE; }));
    EXPECT_EQ(major->States(), std::vector<int>{DTC_PASSED});
}

TEST_F(AutonomousCheckTest, AStoreWhoseReadsAreRefusedLeavesTheStoredListsAsTheyWere) {
    RunCheck();
    ASSERT_TRUE(RestsInIdle(true));
    LogicalBlocks installed, updated;
    ASSERT_TRUE(db->ReadInstalledLogicalBlocks(installed));
    ASSERT_TRUE(db->ReadUpdatedLogicalBlocks(updated));
    ASSERT_EQ(installed.size(), 3U);

    // Every read refused, as during a fast shutdown, while writes go through.
    ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kGetValue, 1000);
    StoreResults();
    ara::per::testhook::Reset();

    LogicalBlocks installedAfter, updatedAfter;
    ASSERT_TRUE(db->ReadInstalledLogicalBlocks(installedAfter));
    ASSERT_TRUE(db->ReadUpdatedLogicalBlocks(updatedAfter));
    EXPECT_EQ(installedAfter, installed);
    EXPECT_EQ(updatedAfter, updated);
}

TEST_F(AutonomousCheckTest, CancelDuringAPendingRequestFreesTheDownloadWithinASecond) {
    ucm->script["c2/A"] = {Reply::kDrop};
    RunCheck({30s, 30s, 2});
    ASSERT_TRUE(Eventually([&] { return session->GetIvdRequestCluster() == "c2"; }));

    const auto start = std::chrono::steady_clock::now();
    slot->CancelAC();
    WaitForIvdRequestsToEnd(*session, {5s, 10ms});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(ucm->Cancels(), std::vector<std::string>{"c2"});
    EXPECT_TRUE(RestsInIdle(false));
    EXPECT_TRUE(session->GetIvdCancelCluster().empty());
    EXPECT_FALSE(session->AutonomousCheckCancelRequested);

    // A later start continues with the blocks still without IVD.
    slot->StartIvdTimer();
    EXPECT_TRUE(RestsInIdle(true));
}

TEST_F(AutonomousCheckTest, UnansweredCancelIsGivenUpAfterItsSupervision) {
    ucm->script["c1/A"] = {Reply::kDrop};
    ucm->dropCancels = true;
    RunCheck({30s, 100ms, 2});
    ASSERT_TRUE(Eventually([&] { return session->GetIvdRequestCluster() == "c1"; }));
    slot->CancelAC();
    EXPECT_LT(WaitForIvdRequestsToEnd(*session, {5s, 10ms}), 2U);
    EXPECT_TRUE(session->GetIvdCancelCluster().empty());
    EXPECT_TRUE(RestsInIdle(false));
}

TEST_F(AutonomousCheckTest, FastShutdownPausesTheCheckAndItsRevocationResumesIt) {
    ucm->script["c2/A"] = {Reply::kDrop};
    RunCheck({100ms, 100ms, 2});
    ASSERT_TRUE(Eventually([&] { return session->GetIvdRequestCluster() == "c2"; }));
    FastShutDown::Set(true);
    slot->PauseForFastShutdown();
    EXPECT_TRUE(RestsInIdle(false));
    const size_t requestsWhilePaused = ucm->Requests().size();

    FastShutDown::Set(false);
    slot->ResumeAfterFastShutdown();
    ASSERT_TRUE(RestsInIdle(true));
    EXPECT_GT(ucm->Requests().size(), requestsWhilePaused);

    // After completion a fast shutdown, its revocation and a start event
    // (as routine 0x029A sends it) all end in Idle without new requests.
    const size_t requestsDone = ucm->Requests().size();
    FastShutDown::Set(true);
    slot->PauseForFastShutdown();
    FastShutDown::Set(false);
    slot->ResumeAfterFastShutdown();
    slot->SendEventToStateMachine(EV_START_IVD_FETCHING);
    EXPECT_TRUE(RestsInIdle(true));
    EXPECT_EQ(ucm->Requests().size(), requestsDone);
}

TEST_F(AutonomousCheckTest, TriggersFromOtherThreadsWhileTheWorkerRuns) {
    ucm->script["c1/A"] = {Reply::kDrop, Reply::kRefuse};
    ucm->script["c3/B"] = {Reply::kNoIvd};
    RunCheck({20ms, 20ms, 2});
    std::thread stateManagement([&] {
        for (int i = 0; i < 30; ++i) {
            FastShutDown::Set(i % 2 == 0);
            if (i % 2 == 0) {
                slot->PauseForFastShutdown();
            } else {
                slot->ResumeAfterFastShutdown();
            }
            if (i % 7 == 0) {
                slot->CancelAC();
            }
            slot->SendEventToStateMachine(EV_START_IVD_FETCHING);
            std::this_thread::sleep_for(1ms);
        }
        FastShutDown::Set(false);
    });
    stateManagement.join();
    // A check left resting in Idle before its end is started again, as a
    // later start timer would; one event per look at the machine.
    EXPECT_TRUE(Eventually([&] {
        const bool idle = State() == ST_IDLE;
        if (idle && !session->AutonomousCheckDone) {
            slot->SendEventToStateMachine(EV_START_IVD_FETCHING);
        }
        return idle && session->AutonomousCheckDone;
    }));
}

}  // namespace
