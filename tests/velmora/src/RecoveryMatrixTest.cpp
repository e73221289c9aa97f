// The recovery of an interrupted update at start-up, through the whole process
// over one sandbox and the real database stack: every persisted state, with and
// without a session id, with the partition to update active or not, against an
// update manager that answers, already committed, already closed the session
// or is not there. Then power cuts at every write and sync of the recovery.
#include "KivLibrary/EmergencyUpdate/EmergencyUpdate.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "sim/UpdateManager.h"
#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/velmora/src/ProcessHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>

namespace {

using testsupport::DbSnapshot;

constexpr uint32_t kSession = 0x2A17;
constexpr uint32_t kNone = SessionData::kNoUcmSession;
constexpr const char* kDatabase = "KivDatabase";

// The power of the simulated ECU. Every write and sync of the database and
// every call that reaches the update manager is one event; after the event
// numbered `cutAfter` the medium freezes and no call reaches UCM any more, as
// if the power had gone at that instant (the process itself runs on, with
// nothing of what it does surviving).
class Power {
public:
    static constexpr size_t kNever = std::numeric_limits<size_t>::max();

    void Arm(size_t cutAfter) {
        m_count = 0;
        m_cutAfter = cutAfter;
    }
    // False when the event happens without power.
    bool Event() {
        const size_t n = ++m_count;
        if (n == m_cutAfter) {
            ara::per::testhook::FreezeMedium(true);
        }
        return n <= m_cutAfter;
    }
    size_t Count() const { return m_count; }

    // The sync numbered `from` fails, and with `onward` every later one of
    // the start too, as a medium that reports its failure while the process
    // and UCM go on.
    void FailSyncs(size_t from, bool onward) {
        m_syncs = 0;
        m_failFrom = from;
        m_failOnward = onward;
    }
    bool SyncFails() {
        const size_t n = ++m_syncs;
        return n == m_failFrom || (m_failOnward && n > m_failFrom);
    }
    size_t Syncs() const { return m_syncs; }

private:
    std::atomic<size_t> m_count{0};
    std::atomic<size_t> m_cutAfter{kNever};
    std::atomic<size_t> m_syncs{0};
    std::atomic<size_t> m_failFrom{kNever};
    std::atomic<bool> m_failOnward{false};
};

// The raw storage of the process with every write and sync counted as an event.
class PoweredStorage : public PermanentStorage {
public:
    PoweredStorage(std::shared_ptr<PermanentStorage> inner, Power& power) : m_inner(std::move(inner)), m_power(power) {}

    bool IsEmpty() override { return m_inner->IsEmpty(); }
    uint64_t GetSize() override { return m_inner->GetSize(); }
    bool Has(const std::string& key) override { return m_inner->Has(key); }
    std::vector<std::string> GetAllKeys() override { return m_inner->GetAllKeys(); }
#define VELMORA_FORWARD(T)                                                       \
    bool Get(const std::string& k, T& v) override { return m_inner->Get(k, v); } \
    bool Set(const std::string& k, T v) override { return Write(m_inner->Set(k, v)); }
    VELMORA_FORWARD(bool)
    VELMORA_FORWARD(uint8_t)
    VELMORA_FORWARD(uint16_t)
    VELMORA_FORWARD(uint32_t)
    VELMORA_FORWARD(uint64_t)
    VELMORA_FORWARD(int8_t)
    VELMORA_FORWARD(int16_t)
    VELMORA_FORWARD(int32_t)
    VELMORA_FORWARD(int64_t)
    VELMORA_FORWARD(float)
    VELMORA_FORWARD(double)
#undef VELMORA_FORWARD
    bool Get(const std::string& k, std::string& v) override { return m_inner->Get(k, v); }
    bool Get(const std::string& k, std::vector<uint8_t>& v) override { return m_inner->Get(k, v); }
    bool Set(const std::string& k, const std::string& v) override { return Write(m_inner->Set(k, v)); }
    bool Set(const std::string& k, const std::vector<uint8_t>& v) override { return Write(m_inner->Set(k, v)); }
    bool Clear() override { return Write(m_inner->Clear()); }
    bool Remove(const std::string& k) override { return Write(m_inner->Remove(k)); }
    bool Persist() override {
        if (m_power.SyncFails()) {
            ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kSyncToStorage, 1);
        }
        return Write(m_inner->Persist());
    }

private:
    bool Write(bool result) {
        (void)m_power.Event();
        return result;
    }

    std::shared_ptr<PermanentStorage> m_inner;
    Power& m_power;
};

enum class Ucm { kAnswering, kCommitted, kClosed, kUnreachable };

const char* Name(Ucm ucm) {
    switch (ucm) {
        case Ucm::kAnswering:
            return "answering";
        case Ucm::kCommitted:
            return "committed";
        case Ucm::kClosed:
            return "closed";
        case Ucm::kUnreachable:
            return "unreachable";
    }
    return "?";
}

// The CurrentStatus notifications the runtime received, so that a test can
// wait until the process knows what the update manager reports.
class StatusRelay {
public:
    std::function<void(CurrentStatusType)> Wrap(std::function<void(CurrentStatusType)> callback) {
        return [this, callback](CurrentStatusType status) {
            callback(status);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_last = status;
            m_changed.notify_all();
        };
    }
    bool WaitFor(CurrentStatusType status) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, testsupport::kBound, [&] { return m_last == status; });
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = 0xFF;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    CurrentStatusType m_last = 0xFF;
};

// The process's adaptor on the power of the ECU: a call without power never
// reaches the update manager. After each call it waits until the process has
// the update manager's new CurrentStatus, as a prompt notification would
// bring it, so the start-up's decisions do not race the binding.
class PoweredUcm : public UCM::UCMAdaptorInterface {
public:
    PoweredUcm(std::shared_ptr<UCM::UCMAdaptorInterface> inner, Power& power, sim::UpdateManager* ucm,
               StatusRelay& relay)
        : m_inner(std::move(inner)), m_power(power), m_ucm(ucm), m_relay(relay) {}

    bool Start(UCM::StartOutput& o) override {
        return Call([&] { return m_inner->Start(o); });
    }
    bool TransferStart(const uint32_t& id, const uint32_t& size) override {
        return Call([&] { return m_inner->TransferStart(id, size); });
    }
    bool TransferData(const uint32_t& id, const std::vector<uint8_t>& block, const uint32_t& counter) override {
        return Call([&] { return m_inner->TransferData(id, block, counter); });
    }
    bool TransferExit(const uint32_t& id) override {
        return Call([&] { return m_inner->TransferExit(id); });
    }
    bool InstallUpdateAsync(const uint32_t& id) override {
        return Call([&] { return m_inner->InstallUpdateAsync(id); });
    }
    uint8_t GetInstallUpdateState() override { return m_inner->GetInstallUpdateState(); }
    bool Close(const uint32_t& id, bool flag) override {
        return Call([&] { return m_inner->Close(id, flag); });
    }
    bool DOClose(const uint32_t& id, bool flag) override {
        return Call([&] { return m_inner->DOClose(id, flag); });
    }
    bool GetProgress(uint32_t id, UCM::GetProgressOutput& o) override {
        return Call([&] { return m_inner->GetProgress(id, o); });
    }
    bool GetLog(uint32_t id, UCM::GetLogOutput& o) override {
        return Call([&] { return m_inner->GetLog(id, o); });
    }
    bool CommitUpdate(uint32_t id, bool flag) override {
        return Call([&] { return m_inner->CommitUpdate(id, flag); });
    }
    bool GetInstallationResult(uint32_t id, UCM::GetInstallationResultOutput& o) override {
        return Call([&] { return m_inner->GetInstallationResult(id, o); });
    }
    bool GetInstallationStatus(uint32_t id, UCM::GetInstallationStatusOutput& o) override {
        return Call([&] { return m_inner->GetInstallationStatus(id, o); });
    }
    bool GetSwClusterIntegrity(std::string cluster, bool partitionB,
                               std::function<void(SwClusterIntegrity)> callback) override {
        return Call([&] { return m_inner->GetSwClusterIntegrity(cluster, partitionB, callback); });
    }
    bool CancelSwClusterIntegrity(std::string cluster, std::function<void(CancelStatusType)> callback) override {
        return Call([&] { return m_inner->CancelSwClusterIntegrity(cluster, callback); });
    }
    bool CancelUpdate(uint32_t id) override {
        return Call([&] { return m_inner->CancelUpdate(id); });
    }
    bool commitUpdate(const uint32_t& id, bool flag) override {
        return Call([&] { return m_inner->commitUpdate(id, flag); });
    }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType& status) override {
        return Call([&] { return m_inner->GetCurrentStatus(status); });
    }

private:
    template <typename F>
    bool Call(F&& call) {
        if (!m_power.Event()) {
            return false;
        }
        const bool result = call();
        if (m_ucm && m_ucm->IsOffered()) {
            EXPECT_TRUE(m_relay.WaitFor(m_ucm->CurrentStatus())) << "CurrentStatus not delivered";
        }
        return result;
    }

    std::shared_ptr<UCM::UCMAdaptorInterface> m_inner;
    Power& m_power;
    sim::UpdateManager* m_ucm;
    StatusRelay& m_relay;
};

// Keeps the last state each DTC was set to.
class LastStateDtc : public DTCService {
public:
    bool Startup() override { return true; }
    bool Shutdown() override { return true; }
    bool SetDTCState(int state, unsigned) override {
        m_state = state;
        return true;
    }
    bool GetDTCState(uint8_t& state) override {
        state = static_cast<uint8_t>(m_state.load());
        return m_state >= 0;
    }
    std::atomic<int> m_state{-1};
};

enum class Records { kKept, kInstalled, kRolledBack };

struct Expected {
    SWupdateState state;
    Records records;
    bool sessionKept;
    bool partitionKept;
    std::vector<std::string> calls;
    int dtc;  // CLEANUP ERROR: 0 passed, 1 failed
};

// The cases of one rule: -1 or an empty list means any.
struct Rule {
    std::vector<int> states;
    int withId;
    int samePartition;
    std::vector<Ucm> ucm;
    Expected expected;
};

// The update manager's call log: method(session id), repeats counted.
const std::string C = "CommitUpdate(10775)";
const std::string X = "Close(10775)";
const std::string N = "Close(4294967295)";
const std::string S = "GetInstallationStatus(10775)";
const std::string C10 = C + " x10";  // every attempt of the adaptor failed
const std::string X10 = X + " x10";
// The self-repair of a session UCM still holds open while no id is on record:
// a fresh session tells the newest id, the older one is committed and closed.
const std::vector<std::string> kRepair = {"Start()", "Close(10776)", C, X};
const std::vector<std::string> kCloseThenRepair = {N, "Start()", "Close(10776)", C, X};
const std::vector<Ucm> kReached = {Ucm::kAnswering, Ucm::kCommitted, Ucm::kClosed};
const std::vector<Ucm> kOpen = {Ucm::kAnswering, Ucm::kCommitted};
const std::vector<Ucm> kClosed = {Ucm::kClosed};
const std::vector<Ucm> kOff = {Ucm::kUnreachable};
const auto I = SWupdateState::IDLE;
const auto kUndo = SWupdateState::UNDO_DOWNLOAD;
const auto kCommit = SWupdateState::UPDATE_IN_PROGRESS_COMMIT;
const auto kClose = SWupdateState::UPDATE_IN_PROGRESS_CLOSE;
const auto kRollback = SWupdateState::ROLLBACK_IN_PROGRESS;
const auto kKept = Records::kKept;
const auto kInstalled = Records::kInstalled;
const auto kRolledBack = Records::kRolledBack;

// First matching rule wins. Keys: the persisted session id and partition to
// update after the start; records as seeded, committed or rolled back.
const std::vector<Rule> kRules = {
    // Nothing was running: IDLE, the id goes; a session UCM still holds is repaired.
    {{0, 1, 5}, -1, -1, kOpen, {I, kKept, false, true, kRepair, 0}},
    {{0, 1, 5}, -1, -1, {}, {I, kKept, false, true, {}, 0}},
    {{2, 3, 6, 4, 10}, 0, -1, kOpen, {I, kKept, false, true, kRepair, 0}},
    {{2, 3, 6, 4, 10}, 0, -1, {}, {I, kKept, false, true, {}, 0}},
    // An interrupted download is undone; its attempts stay counted.
    {{2, 3, 6}, 1, -1, kOpen, {I, kRolledBack, false, false, {X}, 0}},
    {{6}, 1, -1, kClosed, {I, kRolledBack, false, false, {X}, 0}},
    {{2, 3}, 1, -1, kClosed, {kUndo, kKept, true, true, {X10, S}, 1}},
    {{2, 3, 6}, 1, -1, kOff, {kUndo, kKept, true, true, {}, 1}},
    // Installed, partition not toggled yet: wait.
    {{4}, 1, 0, kReached, {SWupdateState::INSTALL_COMPLETE, kKept, true, true, {S}, 0}},
    {{4}, 1, 0, kOff, {SWupdateState::INSTALL_COMPLETE, kKept, true, true, {}, 0}},
    // Installed and toggled (partition names compared ignoring case): commit and close.
    {{4, 10}, 1, 1, {Ucm::kAnswering}, {I, kInstalled, false, false, {C, X}, 0}},
    {{4, 10}, 1, 1, {Ucm::kCommitted, Ucm::kClosed}, {kCommit, kKept, true, true, {C10, S}, 1}},
    {{4, 10}, 1, 1, kOff, {kCommit, kKept, true, true, {}, 1}},
    // Prepared for shutdown but not toggled: roll back.
    {{10}, 1, 0, kOpen, {I, kRolledBack, false, false, {X}, 0}},
    {{10}, 1, 0, kClosed, {kRollback, kKept, true, true, {X10, S}, 1}},
    {{10}, 1, 0, kOff, {kRollback, kKept, true, true, {}, 1}},
    // Power failure while committing: commit again (already done counts), close.
    {{7}, 1, -1, kOpen, {I, kInstalled, false, false, {C, X}, 0}},
    {{7}, 1, -1, kClosed, {kCommit, kKept, true, true, {C10, S}, 1}},
    {{7}, 1, -1, kOff, {kCommit, kKept, true, true, {}, 1}},
    // ... without a session id, while closing, while rolling back: close again.
    {{7, 8}, 0, -1, kOpen, {I, kInstalled, false, false, kCloseThenRepair, 0}},
    {{7, 8}, 0, -1, kClosed, {I, kInstalled, false, false, {N}, 0}},
    {{7, 8}, 0, -1, kOff, {kClose, kKept, false, true, {}, 1}},
    {{8}, 1, -1, kReached, {I, kInstalled, false, false, {X}, 0}},
    {{8}, 1, -1, kOff, {kClose, kKept, true, true, {}, 1}},
    {{9}, 0, -1, kOpen, {I, kRolledBack, false, false, kCloseThenRepair, 0}},
    {{9}, 0, -1, kClosed, {I, kRolledBack, false, false, {N}, 0}},
    {{9}, 1, -1, kReached, {I, kRolledBack, false, false, {X}, 0}},
    {{9}, -1, -1, kOff, {kRollback, kKept, true, true, {}, 1}},
};

struct Row {
    int state;
    bool withId;
    bool samePartition;
    Ucm ucm;

    std::string Name() const {
        std::ostringstream out;
        out << "state " << state << (withId ? " with id" : " without id")
            << (samePartition ? ", partition active" : ", partition inactive") << ", UCM " << ::Name(ucm);
        return out.str();
    }
};

bool Matches(const Rule& rule, const Row& row) {
    const auto in = [](const auto& list, auto value) {
        return list.empty() || std::find(list.begin(), list.end(), value) != list.end();
    };
    return in(rule.states, row.state) && (rule.withId < 0 || rule.withId == (row.withId ? 1 : 0)) &&
           (rule.samePartition < 0 || rule.samePartition == (row.samePartition ? 1 : 0)) && in(rule.ucm, row.ucm);
}

class RecoveryTest : public testsupport::ProcessTest {
protected:
    RecoveryTest() {
        // The first start over an empty database imports the ACTIVE logistics.
        const int exitCode = RunOnce();
        EXPECT_EQ(exitCode, 0);
        EXPECT_TRUE(capture.Contains("Persistence database is empty, proceeding to read json files"));
        m_base = Snapshot();
        m_baseFile = ReadDatabaseFile();
        // ... as both the INSTALLED and the UPDATED records, one per configured block.
        EXPECT_EQ(m_base.installedBlocks, m_base.updatedBlocks);
        EXPECT_EQ(m_base.installedBlocks.size(), builder.FlashBlocks().size());
        EXPECT_TRUE(m_base.hasInstalledEcuInfo && m_base.hasUpdatedEcuInfo);
        EXPECT_EQ(m_base.installedEcuInfo, m_base.updatedEcuInfo);
        EXPECT_EQ(toString(m_base.state), toString(SWupdateState::IDLE));
        EXPECT_FALSE(m_base.hasSessionId);
        m_installed = m_base.installedBlocks;
        m_updated = m_installed;
        for (LogicalBlock& block : m_updated) {
            block.m_programmingAttempts = static_cast<uint16_t>(block.m_programmingAttempts + 3);
            block.m_rfsMinVersion = {{'9', '9', '9', '9'}};
            block.m_fingerPrint.m_serial = {{'N', 'E', 'W', '0', '0', '1'}};
        }
    }

    VelmoraEntryDependencies RecoveryDeps() {
        VelmoraEntryDependencies deps = Deps();
        deps.storageFactory = [this](const std::string& name) {
            return std::make_shared<PoweredStorage>(CreateAraPersistency(name), m_power);
        };
        deps.runtime.createUcmAdaptor = [this](const std::string& instance,
                                               std::function<void(CurrentStatusType)> callback,
                                               const KivConfiguration&) -> std::shared_ptr<UCM::UCMAdaptorInterface> {
            UCM::UCMAdaptorSettings settings;
            settings.responseTimeout = m_responseTimeout;
            settings.retryPause = std::chrono::milliseconds(1);
            auto adaptor = std::make_shared<UCM::UCMAdaptorImpl>(instance, m_relay.Wrap(std::move(callback)), settings);
            // A running update manager is found and has reported before the start-up asks it.
            if (m_sim->IsOffered()) {
                EXPECT_TRUE(m_relay.WaitFor(m_sim->CurrentStatus()));
            }
            return std::make_shared<PoweredUcm>(adaptor, m_power, m_sim.get(), m_relay);
        };
        // The integrity check's own requests are not part of the recovery.
        deps.runtime.startAutonomousCheck = nullptr;
        deps.runtime.createDtcService = [this](const std::string& instance,
                                               std::function<void()>) -> std::shared_ptr<DTCService> {
            return instance == "1456" ? m_cleanupDtc : std::make_shared<LastStateDtc>();
        };
        return deps;
    }

    // One start of the process up to running, then an orderly stop.
    int RunOnce(const std::function<void(KivRuntime&)>& whileRunning = nullptr) {
        ResetProcessState();
        ara::exec::testhook::Reset();
        m_relay.Reset();
        sim::UpdateManager::Options options;
        options.sessionTablePath = box.Path("ucm/sessions.json");
        options.offer = m_ucmOffered;
        m_sim = std::make_unique<sim::UpdateManager>(options);
        if (m_arrangeSimulator) {
            m_arrangeSimulator(*m_sim);
        }
        struct SimGuard {
            RecoveryTest& test;
            ~SimGuard() { test.EndSimulator(); }
        } simGuard{*this};
        std::weak_ptr<KivRuntime> runtime;
        VelmoraEntryDependencies deps = m_entryDeps ? *m_entryDeps : RecoveryDeps();
        deps.runtimeCreated = [&runtime](std::weak_ptr<KivRuntime> created) { runtime = created; };
        auto process = Start(deps);
        EXPECT_TRUE(WaitRunning()) << capture.Dump();
        if (whileRunning) {
            if (const auto running = runtime.lock()) {
                whileRunning(*running);
            } else {
                ADD_FAILURE() << "no runtime";
            }
        }
        return Stop(process);
    }

    // What the update manager saw of one start, before it goes with the process.
    void EndSimulator() {
        m_calls.clear();
        for (const sim::UcmCall& call : m_sim->Calls()) {
            if (call.method == "GetCurrentStatus") {
                continue;  // the client's own subscription
            }
            const std::string text = call.method + "(" + call.arguments + ")";
            if (!m_calls.empty() && m_calls.back().rfind(text, 0) == 0) {
                const size_t times =
                    m_calls.back() == text ? 2 : std::stoul(m_calls.back().substr(text.size() + 2)) + 1;
                m_calls.back() = text + " x" + std::to_string(times);
            } else {
                m_calls.push_back(text);
            }
        }
        const auto session = m_sim->Session(kSession);
        m_ucmState = session ? session->state : "none";
        m_sim.reset();
    }

    void SeedUcm(Ucm mode, const std::string& state) {
        m_ucmOffered = mode != Ucm::kUnreachable;
        const std::string seeded = mode == Ucm::kCommitted ? "committed" : mode == Ucm::kClosed ? "closed" : state;
        box.WriteFile("ucm/sessions.json", "{\"nextId\": " + std::to_string(kSession + 1) +
                                               ", \"sessions\": [{\"id\": " + std::to_string(kSession) +
                                               ", \"state\": \"" + seeded + "\"}]}\n");
    }

    std::string ReadDatabaseFile() const {
        std::ifstream in(ara::per::KeyValueStorage::FilePath(kDatabase), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteDatabaseFile(const std::string& bytes) const {
        std::ofstream(ara::per::KeyValueStorage::FilePath(kDatabase), std::ios::binary | std::ios::trunc) << bytes;
    }
    static DbSnapshot Snapshot() {
        testsupport::DatabaseStack stack(kDatabase);
        return DbSnapshot::Of(*stack.database);
    }

    void Seed(const Row& row) {
        WriteDatabaseFile(m_baseFile);
        {
            testsupport::DatabaseStack stack(kDatabase);
            PersistentDataStorage& db = *stack.database;
            ASSERT_TRUE(db.WriteSWupdateState(static_cast<SWupdateState>(row.state)));
            if (row.withId) {
                ASSERT_TRUE(db.WriteUcmSessionId(kSession));
            } else {
                ASSERT_TRUE(db.RemoveUcmSessionId());
            }
            const PartitionEnum active = builder.ActivePartition();
            ASSERT_TRUE(db.WriteUpdateForPartition(row.samePartition ? active : InvertPartition(active)));
            ASSERT_TRUE(db.WriteUpdatedLogicalBlocks(m_updated));
            ASSERT_TRUE(db.WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
            ASSERT_TRUE(db.WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent));
            ASSERT_TRUE(db.SyncToStorage());
        }
        const bool download = row.state == 2 || row.state == 3 || row.state == 6;
        SeedUcm(row.ucm, download ? "open" : "installed");
        m_cleanupDtc->m_state = -1;
    }

    DbSnapshot ExpectedDatabase(const Row& row, const Expected& expected) const {
        DbSnapshot db = m_base;
        db.hasState = true;
        db.state = expected.state;
        db.hasSessionId = row.withId && expected.sessionKept;
        db.sessionId = db.hasSessionId ? kSession : 0;
        db.hasPartition = expected.partitionKept;
        db.partition = expected.partitionKept ? (row.samePartition ? builder.ActivePartition()
                                                                   : InvertPartition(builder.ActivePartition()))
                                              : PartitionEnum::INVALID;
        db.hasUpdatedBlocks = db.hasInstalledBlocks = db.hasUpdatedEcuInfo = db.hasInstalledEcuInfo = true;
        switch (expected.records) {
            case Records::kKept:
                db.installedBlocks = m_installed;
                db.updatedBlocks = m_updated;
                db.installedEcuInfo = EcuInfo::ReprogrammableAndConsistent;
                db.updatedEcuInfo = EcuInfo::ProgrammingNotConsistent;
                break;
            case Records::kInstalled: {
                // The update's records, with the minimum RFS version of the running software.
                LogicalBlocks blocks = m_updated;
                for (size_t i = 0; i < blocks.size(); ++i) {
                    blocks[i].m_rfsMinVersion = m_installed[i].m_rfsMinVersion;
                }
                db.installedBlocks = db.updatedBlocks = blocks;
                db.installedEcuInfo = db.updatedEcuInfo = EcuInfo::ProgrammingNotConsistent;
                break;
            }
            case Records::kRolledBack: {
                // The running software's records, the update's attempts still counted.
                LogicalBlocks blocks = m_installed;
                for (size_t i = 0; i < blocks.size(); ++i) {
                    blocks[i].m_programmingAttempts = m_updated[i].m_programmingAttempts;
                }
                db.installedBlocks = db.updatedBlocks = blocks;
                db.installedEcuInfo = db.updatedEcuInfo = EcuInfo::ReprogrammableAndConsistent;
                break;
            }
        }
        return db;
    }

    Power m_power;
    // Replaces RecoveryDeps() for the starts of a test.
    std::optional<VelmoraEntryDependencies> m_entryDeps;
    // Generous: under a loaded sanitizer build a round trip can take long.
    std::chrono::milliseconds m_responseTimeout{10000};
    std::function<void(sim::UpdateManager&)> m_arrangeSimulator;
    StatusRelay m_relay;
    bool m_ucmOffered = true;
    std::unique_ptr<sim::UpdateManager> m_sim;
    std::vector<std::string> m_calls;
    std::string m_ucmState;
    std::shared_ptr<LastStateDtc> m_cleanupDtc = std::make_shared<LastStateDtc>();
    DbSnapshot m_base;
    std::string m_baseFile;
    LogicalBlocks m_installed;
    LogicalBlocks m_updated;
};

TEST_F(RecoveryTest, EveryPersistedStateIsFinishedOrKeptAsTheUpdateManagerAllows) {
    ASSERT_FALSE(m_installed.empty());
    // The RFS version of the running software, published for the RT side.
    EXPECT_EQ(box.ReadFile("sys/swupd/vm_rfs").size(), 4u);
    const auto started = std::chrono::steady_clock::now();
    size_t rows = 0;
    for (int state = 0; state <= 10; ++state) {
        for (const bool withId : {true, false}) {
            for (const bool same : {true, false}) {
                for (const Ucm ucm : {Ucm::kAnswering, Ucm::kCommitted, Ucm::kClosed, Ucm::kUnreachable}) {
                    const Row row{state, withId, same, ucm};
                    SCOPED_TRACE(row.Name());
                    const auto rule =
                        std::find_if(kRules.begin(), kRules.end(), [&row](const Rule& r) { return Matches(r, row); });
                    ASSERT_NE(rule, kRules.end()) << "no rule";
                    Seed(row);
                    capture.Clear();
                    ASSERT_EQ(RunOnce(), 0);
                    ++rows;
                    const Expected& expected = rule->expected;
                    const DbSnapshot actual = Snapshot();
                    EXPECT_EQ(toString(actual.state), toString(expected.state)) << capture.Dump();
                    EXPECT_EQ(actual, ExpectedDatabase(row, expected));
                    EXPECT_EQ(m_calls, expected.calls);
                    EXPECT_EQ(m_cleanupDtc->m_state.load(), expected.dtc);
                    EXPECT_EQ(box.ReadFile("sys/swupd/vm_status"),
                              SharedMemoryInterface::ToText(SWupdateStatus::ToPeerState(expected.state)));
                    EXPECT_EQ(box.ReadFile("sys/swupd/vm_magic"), SharedMemoryInterface::kVmMagicValid);
                }
            }
        }
    }
    std::cout
        << "recovery matrix: " << rows << " rows in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
        << " ms" << std::endl;
}

}  // namespace

namespace {

// For every n: the power goes after the n-th write, sync or UCM call of a
// start; the next start over the same medium and update manager reaches the
// same end as a start without a cut.
TEST_F(RecoveryTest, APowerCutAtAnyPointOfTheRecoveryConvergesOnTheNextStart) {
    const std::vector<Row> scenarios = {
        {10, true, true, Ucm::kAnswering},   // commit and close
        {10, true, false, Ucm::kAnswering},  // roll back
        {3, true, true, Ucm::kAnswering},    // undo a download
        {7, true, true, Ucm::kAnswering},    // commit again after a cut
        {9, false, true, Ucm::kAnswering},   // roll back without a session
    };
    const auto started = std::chrono::steady_clock::now();
    size_t points = 0;
    for (const Row& row : scenarios) {
        SCOPED_TRACE(row.Name());
        Seed(row);
        m_power.Arm(Power::kNever);
        ASSERT_EQ(RunOnce(), 0);
        const size_t events = m_power.Count();
        const DbSnapshot end = Snapshot();
        const std::string endUcm = m_ucmState;
        ASSERT_EQ(toString(end.state), toString(SWupdateState::IDLE)) << capture.Dump();

        for (size_t n = 1; n <= events; ++n) {
            SCOPED_TRACE("power cut after event " + std::to_string(n));
            Seed(row);
            m_power.Arm(n);
            capture.Clear();
            ASSERT_EQ(RunOnce(), 0);
            ara::per::testhook::Reset();
            m_power.Arm(Power::kNever);
            ASSERT_EQ(RunOnce(), 0);
            ++points;
            EXPECT_EQ(Snapshot(), end) << capture.Dump();
            EXPECT_EQ(m_ucmState, endUcm);
            EXPECT_EQ(m_cleanupDtc->m_state.load(), 0);
        }
    }
    std::cout
        << "power cuts: " << points << " points in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
        << " ms" << std::endl;
}

// The calls that change what UCM holds, without the status queries.
std::vector<std::string> Operations(const std::vector<std::string>& calls) {
    std::vector<std::string> operations;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(operations),
                 [](const std::string& call) { return call.rfind("Get", 0) != 0; });
    return operations;
}

// A sync of the recovery that fails while UCM goes on answering, once or for
// the rest of the start: no UCM operation may run ahead of its in-progress
// state, so that the next start, over a sound medium, finishes the update as
// a start without the fault does.
TEST_F(RecoveryTest, AFailingSyncAtAnyStepOfTheRecoveryIsFinishedOnTheNextStart) {
    const std::vector<Row> scenarios = {
        {10, true, true, Ucm::kAnswering},   // commit and close
        {10, true, false, Ucm::kAnswering},  // roll back
        {3, true, true, Ucm::kAnswering},    // undo a download
        {6, true, true, Ucm::kAnswering},    // undo again
        {7, true, true, Ucm::kAnswering},    // commit again
        {8, true, true, Ucm::kAnswering},    // close again
        {9, true, true, Ucm::kAnswering},    // roll back again
    };
    size_t points = 0;
    for (const Row& row : scenarios) {
        SCOPED_TRACE(row.Name());
        Seed(row);
        m_power.FailSyncs(Power::kNever, false);
        ASSERT_EQ(RunOnce(), 0);
        const size_t syncs = m_power.Syncs();
        const DbSnapshot end = Snapshot();
        const std::string endUcm = m_ucmState;
        const std::vector<std::string> endCalls = m_calls;
        ASSERT_EQ(toString(end.state), toString(SWupdateState::IDLE)) << capture.Dump();

        for (size_t n = 1; n <= syncs; ++n) {
            for (const bool onward : {false, true}) {
                SCOPED_TRACE("sync " + std::to_string(n) + (onward ? " and every later one" : " alone") + " fails");
                Seed(row);
                m_power.FailSyncs(n, onward);
                capture.Clear();
                ASSERT_EQ(RunOnce(), 0);
                // UCM sees no operation a start without the fault would not make.
                const std::vector<std::string> faulty = Operations(m_calls);
                const std::vector<std::string> endOperations = Operations(endCalls);
                EXPECT_TRUE(faulty.size() <= endOperations.size() &&
                            std::equal(faulty.begin(), faulty.end(), endOperations.begin()))
                    << testing::PrintToString(faulty) << capture.Dump();
                ara::per::testhook::Reset();
                m_power.FailSyncs(Power::kNever, false);
                capture.Clear();
                ASSERT_EQ(RunOnce(), 0);
                ++points;
                EXPECT_EQ(Snapshot(), end) << capture.Dump();
                EXPECT_EQ(m_ucmState, endUcm);
                // ... and what is left of the recovery succeeds at once.
                for (const std::string& call : m_calls) {
                    EXPECT_EQ(call.find(" x"), std::string::npos) << testing::PrintToString(m_calls);
                }
                EXPECT_EQ(m_cleanupDtc->m_state.load(), 0);
            }
        }
    }
    std::cout << "failing syncs: " << points << " points" << std::endl;
}

}  // namespace

namespace {

// The integrity caches start from the stored integrity results: the ACTIVE
// cache from the INSTALLED records, the MIRROR cache from the UPDATED ones
// while an update waits for its partition; a stored state 3 is valid and
// corrupt at once.
TEST_F(RecoveryTest, TheIntegrityCachesStartFromTheStoredResults) {
    for (LogicalBlock& block : m_updated) {
        block.m_IVD.m_state = 1;
        block.m_IVD.m_data.fill(0x11);
    }
    const Row row{4, true, false, Ucm::kAnswering};
    Seed(row);
    {
        testsupport::DatabaseStack stack(kDatabase);
        LogicalBlocks installed = m_installed;
        installed.front().m_IVD.m_state = 3;
        installed.front().m_IVD.m_data.fill(0x33);
        ASSERT_TRUE(stack.database->WriteInstalledLogicalBlocks(installed));
        ASSERT_TRUE(stack.database->SyncToStorage());
    }
    ASSERT_EQ(RunOnce([this](KivRuntime& runtime) {
                  const auto session = runtime.Context().sessionData;
                  EXPECT_FALSE(session->IsUcmCopyInProgress());
                  const auto active = session->GetInstalledLogistics();
                  const auto mirror = session->GetUpdatedLogistics();
                  ASSERT_TRUE(active && mirror);
                  for (const LogicalBlockCache& entry : active->blocks) {
                      const bool first = entry.id == m_installed.front().m_id;
                      SCOPED_TRACE("ACTIVE block " + std::to_string(entry.id));
                      EXPECT_EQ(entry.IVD_IsValid, first);
                      EXPECT_EQ(entry.IVD_IsCorrupt, first);
                      EXPECT_EQ(entry.IVD[0], first ? 0x33 : 0);
                      EXPECT_FALSE(entry.IVD_Retrieved);
                      EXPECT_TRUE(entry.IVD_ACIsCorrupt);
                  }
                  size_t filled = 0;
                  for (const LogicalBlockCache& entry : mirror->blocks) {
                      if (entry.IVD_IsValid && !entry.IVD_IsCorrupt && entry.IVD[31] == 0x11) {
                          ++filled;
                      }
                  }
                  EXPECT_EQ(filled, m_updated.size());
              }),
              0);
    EXPECT_TRUE(capture.Contains("partition not toggled! Remain in InstallComplete = INSTALL_COMPLETE"));
}

}  // namespace

namespace {

// A close whose UPDATED records cannot be read copies nothing:
// the INSTALLED records stay and so does the in-progress state, for the next
// start, also when UCM still holds a session without a record and the
// self-repair closes it.
TEST_F(RecoveryTest, UnreadableUpdatedRecordsNeverReplaceTheInstalledOnes) {
    const struct {
        Row row;
        std::vector<std::string> calls;
        std::string failure;
    } cases[] = {
        {{8, true, true, Ucm::kAnswering},
         {X},
         "Closing of sessionId :10775 has FAILED; state = UPDATE_IN_PROGRESS_CLOSE"},
        {{8, false, true, Ucm::kAnswering},
         kCloseThenRepair,
         "Closing of sessionId :4294967295 has FAILED; state = UPDATE_IN_PROGRESS_CLOSE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row.Name());
        Seed(c.row);
        {
            testsupport::DatabaseStack stack(kDatabase);
            ASSERT_TRUE(stack.raw->Set(DatabaseKeys::kUpdatedLogicalBlocks, std::vector<uint8_t>{0x07}));
            ASSERT_TRUE(stack.raw->Persist());
        }
        capture.Clear();
        ASSERT_EQ(RunOnce(), 0);
        const DbSnapshot after = Snapshot();
        EXPECT_EQ(toString(after.state), toString(static_cast<SWupdateState>(c.row.state))) << capture.Dump();
        EXPECT_EQ(after.installedBlocks, m_installed);
        EXPECT_EQ(after.installedEcuInfo, EcuInfo::ReprogrammableAndConsistent);
        EXPECT_EQ(m_calls, c.calls);
        EXPECT_EQ(m_cleanupDtc->m_state.load(), 1);
        EXPECT_TRUE(capture.Contains(c.failure));
    }
}

}  // namespace

namespace {

class EmergencyStartTest : public RecoveryTest {
protected:
    // The marker of an emergency installation: fingerprint serial at offset 8,
    // date at offset 16; under both partitions, as the platform leaves it.
    void WriteMarkers() const {
        std::string marker(19, '\0');
        marker.replace(8, 6, "EMG042");
        marker.replace(16, 3, std::string("\x25\x01\x31", 3));
        box.WriteFile("var/run/A/kiv/emergencyInstallInfo.bin", marker);
        box.WriteFile("var/run/B/kiv/emergencyInstallInfo.bin", marker);
    }
    bool MarkersGone() const {
        return !std::ifstream(box.Path("var/run/A/kiv/emergencyInstallInfo.bin")).is_open() &&
               !std::ifstream(box.Path("var/run/B/kiv/emergencyInstallInfo.bin")).is_open();
    }

    VelmoraEntryDependencies EmergencyDeps() {
        VelmoraEntryDependencies deps = RecoveryDeps();
        deps.runtime.createEmergencyUpdate = [this](const KivRuntimeContext& c) {
            auto emergency = CreateEmergencyUpdate(c.configuration, c.sessionData, c.storage);
            // The marker files are on the same power as the database.
            const EmergencyUpdateImpl::FileOperations real = EmergencyUpdateImpl::RealFileOperations();
            EmergencyUpdateImpl::FileOperations powered;
            powered.remove = [this, real](const std::string& path) { return m_power.Event() && real.remove(path); };
            emergency->SetFileOperations(powered);
            return emergency;
        };
        return deps;
    }
};

// An emergency installation is taken into the database instead of the
// recovery: every block counts one more attempt and carries the marker's
// fingerprint, once, whatever instant the power goes.
TEST_F(EmergencyStartTest, APowerCutAtAnyPointOfTheEmergencyUpdateCountsItOnce) {
    m_entryDeps = EmergencyDeps();
    const Row row{1, true, true, Ucm::kClosed};
    Seed(row);
    WriteMarkers();
    m_power.Arm(Power::kNever);
    capture.Clear();
    ASSERT_EQ(RunOnce(), 0);
    EXPECT_TRUE(capture.Contains("Emergency update occurred, and the logistic information has persisted"));
    EXPECT_FALSE(capture.Contains("Finishing update : state before"));  // no recovery in this start
    EXPECT_TRUE(MarkersGone());
    const size_t events = m_power.Count();
    const DbSnapshot end = Snapshot();
    EXPECT_EQ(toString(end.state), toString(SWupdateState::IDLE));
    EXPECT_FALSE(end.hasSessionId);
    ASSERT_EQ(end.installedBlocks.size(), m_installed.size());
    for (size_t i = 0; i < m_installed.size(); ++i) {
        EXPECT_EQ(end.installedBlocks[i].m_programmingAttempts, m_installed[i].m_programmingAttempts + 1);
        EXPECT_EQ(std::string(end.installedBlocks[i].m_fingerPrint.m_serial.begin(),
                              end.installedBlocks[i].m_fingerPrint.m_serial.end()),
                  "EMG042");
    }

    size_t points = 0;
    for (size_t n = 1; n <= events; ++n) {
        SCOPED_TRACE("power cut after event " + std::to_string(n));
        Seed(row);
        WriteMarkers();
        m_power.Arm(n);
        ASSERT_EQ(RunOnce(), 0);
        ara::per::testhook::Reset();
        m_power.Arm(Power::kNever);
        capture.Clear();
        ASSERT_EQ(RunOnce(), 0);
        ++points;
        EXPECT_EQ(Snapshot(), end) << capture.Dump();
        EXPECT_TRUE(MarkersGone());
    }
    std::cout << "emergency power cuts: " << points << " points" << std::endl;
}

// Syncs that report failure while everything else, the update manager
// included, goes on: the first k syncs of the start fail, for every k up to
// all of them. The start runs to its end with the same UCM calls, and the
// next start reaches the uninterrupted end state, the attempt counted once.
TEST_F(EmergencyStartTest, FailingSyncsDuringTheEmergencyUpdateCountItOnce) {
    m_entryDeps = EmergencyDeps();
    const Row row{1, true, true, Ucm::kClosed};
    Seed(row);
    WriteMarkers();
    m_power.Arm(Power::kNever);
    ASSERT_EQ(RunOnce(), 0);
    const DbSnapshot end = Snapshot();
    const std::vector<std::string> calls = m_calls;

    bool finalSyncFailed = false;
    for (const unsigned failing : {1U, 2U, 3U, 4U, 5U, 6U, 7U, 8U, 1000U}) {
        SCOPED_TRACE("the first " + std::to_string(failing) + " syncs fail");
        Seed(row);
        WriteMarkers();
        capture.Clear();
        ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kSyncToStorage, failing);
        ASSERT_EQ(RunOnce(), 0);
        EXPECT_EQ(m_calls, calls);
        finalSyncFailed = finalSyncFailed || capture.Contains("EmergencyUpdate: records not synced");
        ara::per::testhook::Reset();
        capture.Clear();
        ASSERT_EQ(RunOnce(), 0);
        EXPECT_EQ(Snapshot(), end) << capture.Dump();
        EXPECT_TRUE(MarkersGone());
    }
    EXPECT_TRUE(finalSyncFailed);
}

// A second emergency installation whose marker has the same bytes as the
// first one's: wherever the power goes in its start (between recording what
// was applied and the sync of it among the rest), the next start counts it
// once more, never zero times or twice.
TEST_F(EmergencyStartTest, ASecondInstallationWithTheSameMarkerCountsOnceMoreWhereverThePowerGoes) {
    m_entryDeps = EmergencyDeps();
    const Row row{1, true, true, Ucm::kClosed};
    Seed(row);
    WriteMarkers();
    m_power.Arm(Power::kNever);
    ASSERT_EQ(RunOnce(), 0);
    const std::string afterFirst = ReadDatabaseFile();
    const DbSnapshot first = Snapshot();

    WriteMarkers();
    m_power.Arm(Power::kNever);
    ASSERT_EQ(RunOnce(), 0);
    const size_t events = m_power.Count();
    const std::vector<std::string> calls = m_calls;
    const DbSnapshot end = Snapshot();
    ASSERT_EQ(end.installedBlocks.size(), first.installedBlocks.size());
    for (size_t i = 0; i < end.installedBlocks.size(); ++i) {
        EXPECT_EQ(end.installedBlocks[i].m_programmingAttempts, first.installedBlocks[i].m_programmingAttempts + 1);
    }

    for (size_t n = 1; n <= events; ++n) {
        SCOPED_TRACE("power cut after event " + std::to_string(n));
        WriteDatabaseFile(afterFirst);
        SeedUcm(row.ucm, "installed");
        WriteMarkers();
        m_power.Arm(n);
        ASSERT_EQ(RunOnce(), 0);
        ara::per::testhook::Reset();
        m_power.Arm(Power::kNever);
        capture.Clear();
        ASSERT_EQ(RunOnce(), 0);
        EXPECT_EQ(m_calls, calls);
        EXPECT_EQ(Snapshot(), end) << capture.Dump();
        EXPECT_TRUE(MarkersGone());
    }
}

// An emergency installation that cannot be applied keeps its marker for a
// later start; this start goes on as one without a marker, so an update
// waiting for its commit is still finished and UCM's session closed.
TEST_F(EmergencyStartTest, ARefusedEmergencyUpdateStillFinishesTheWaitingUpdate) {
    m_entryDeps = EmergencyDeps();
    Seed(Row{10, true, true, Ucm::kAnswering});
    WriteMarkers();
    builder.SetLogistics(builder.ActivePartition(), {});
    builder.WriteLogistics();
    capture.Clear();
    ASSERT_EQ(RunOnce(), 0);
    EXPECT_TRUE(capture.Contains("no logical blocks in the ACTIVE logistics files"));
    EXPECT_FALSE(capture.Contains("Emergency update occurred"));
    const DbSnapshot after = Snapshot();
    EXPECT_EQ(toString(after.state), toString(SWupdateState::IDLE)) << capture.Dump();
    EXPECT_FALSE(after.hasSessionId);
    EXPECT_EQ(m_calls, (std::vector<std::string>{C, X}));
    EXPECT_EQ(m_cleanupDtc->m_state.load(), 0);
    EXPECT_TRUE(std::ifstream(box.Path("var/run/A/kiv/emergencyInstallInfo.bin")).is_open());
}

}  // namespace

namespace {

// An update manager that takes the requests and never answers delays the
// start-up by the adaptor's time-outs; the process still reports running and
// keeps the in-progress state for the next start.
TEST_F(RecoveryTest, ASilentUpdateManagerDelaysTheStartUpButNeverHangsIt) {
    m_responseTimeout = std::chrono::milliseconds(40);
    m_arrangeSimulator = [](sim::UpdateManager& ucm) {
        ucm.SetFault(sim::UcmMethod::kClose, sim::UcmFault::Drop(), -1);
        ucm.SetFault(sim::UcmMethod::kGetInstallationStatus, sim::UcmFault::Drop(), -1);
    };
    Seed(Row{8, true, true, Ucm::kAnswering});
    capture.Clear();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunOnce(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // Every one dropped: the retries of the close share one time-out, so one attempt fits.
    EXPECT_EQ(m_calls, (std::vector<std::string>{X, S}));
    const DbSnapshot after = Snapshot();
    EXPECT_EQ(toString(after.state), toString(SWupdateState::UPDATE_IN_PROGRESS_CLOSE));
    EXPECT_TRUE(after.hasSessionId);
    EXPECT_EQ(after.installedBlocks, m_installed);
    EXPECT_EQ(m_cleanupDtc->m_state.load(), 1);
}

}  // namespace
