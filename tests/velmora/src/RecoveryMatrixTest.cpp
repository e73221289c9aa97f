// The recovery of an interrupted update at start-up, through the whole process
// over one sandbox and the real database stack: every persisted state, with and
// without a session id, with the partition to update active or not, against an
// update manager that answers, already committed, already closed the session
// or is not there. Then power cuts at every write and sync of the recovery.
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/velmora/src/ProcessHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <limits>
#include <map>
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

private:
    std::atomic<size_t> m_count{0};
    std::atomic<size_t> m_cutAfter{kNever};
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
    bool Persist() override { return Write(m_inner->Persist()); }

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

// An update manager with one session, its answers as the platform's gives
// them: a commit of a session that is not installed is ServiceNotSupported, any
// call on a closed or unknown session SessionIdInvalid; the adaptor counts
// those as success only with its flag.
class SessionUcm : public testsupport::GatedUcmAdaptor {
public:
    void Seed(Ucm mode, const std::string& sessionState) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reachable = mode != Ucm::kUnreachable;
        m_state = mode == Ucm::kCommitted ? "committed" : mode == Ucm::kClosed ? "closed" : sessionState;
        m_log.clear();
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }
    std::string State() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state;
    }
    explicit SessionUcm(Power& power) : m_power(power) {}

    bool commitUpdate(const uint32_t& id, bool ignoreNotSupported) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Reach("CommitUpdate", id)) {
            return false;
        }
        if (id != kSession || m_state == "closed") {
            return false;  // SessionIdInvalid
        }
        if (m_state != "installed") {
            return ignoreNotSupported;  // ServiceNotSupported
        }
        m_state = "committed";
        return true;
    }
    bool DOClose(const uint32_t& id, bool ignoreInvalidSession) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Reach("Close", id)) {
            return false;
        }
        if (id != kSession || m_state == "closed") {
            return ignoreInvalidSession;
        }
        m_state = "closed";
        return true;
    }
    bool GetInstallationStatus(uint32_t id, UCM::GetInstallationStatusOutput&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return Reach("GetInstallationStatus", id) && id == kSession && m_state != "closed";
    }

private:
    bool Reach(const char* method, uint32_t id) {
        if (!m_reachable || !m_power.Event()) {
            return false;
        }
        m_log.push_back(std::string(method) + "(" + (id == kNone ? "none" : std::to_string(id)) + ")");
        return true;
    }

    std::mutex m_mutex;
    bool m_reachable = true;
    Power& m_power;
    std::string m_state;
    std::vector<std::string> m_log;
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

const std::string C = "CommitUpdate(10775)";
const std::string X = "Close(10775)";
const std::string N = "Close(none)";
const std::string S = "GetInstallationStatus(10775)";
const std::vector<Ucm> kReached = {Ucm::kAnswering, Ucm::kCommitted, Ucm::kClosed};
const std::vector<Ucm> kOpen = {Ucm::kAnswering, Ucm::kCommitted};
const std::vector<Ucm> kOff = {Ucm::kUnreachable};
const auto I = SWupdateState::IDLE;

// First matching rule wins. Keys: the persisted session id and partition to
// update after the start; records as seeded, committed or rolled back.
const std::vector<Rule> kRules = {
    // Nothing was running: IDLE, the id goes, nothing is asked of UCM.
    {{0, 1, 5}, -1, -1, {}, {I, Records::kKept, false, true, {}, 0}},
    {{2, 3, 6, 4, 10}, 0, -1, {}, {I, Records::kKept, false, true, {}, 0}},
    // An interrupted download is undone; its attempts stay counted.
    {{2, 3, 6}, 1, -1, kOpen, {I, Records::kRolledBack, false, false, {X}, 0}},
    {{6}, 1, -1, {Ucm::kClosed}, {I, Records::kRolledBack, false, false, {X}, 0}},
    {{2, 3}, 1, -1, {Ucm::kClosed}, {SWupdateState::UNDO_DOWNLOAD, Records::kKept, true, true, {X, S}, 1}},
    {{2, 3, 6}, 1, -1, kOff, {SWupdateState::UNDO_DOWNLOAD, Records::kKept, true, true, {}, 1}},
    // Installed, partition not toggled yet: wait.
    {{4}, 1, 0, kReached, {SWupdateState::INSTALL_COMPLETE, Records::kKept, true, true, {S}, 0}},
    {{4}, 1, 0, kOff, {SWupdateState::INSTALL_COMPLETE, Records::kKept, true, true, {}, 0}},
    // Installed and toggled: commit and close.
    {{4, 10}, 1, 1, {Ucm::kAnswering}, {I, Records::kInstalled, false, false, {C, X}, 0}},
    {{4, 10},
     1,
     1,
     {Ucm::kCommitted, Ucm::kClosed},
     {SWupdateState::UPDATE_IN_PROGRESS_COMMIT, Records::kKept, true, true, {C, S}, 1}},
    {{4, 10}, 1, 1, kOff, {SWupdateState::UPDATE_IN_PROGRESS_COMMIT, Records::kKept, true, true, {}, 1}},
    // Prepared for shutdown but not toggled: roll back.
    {{10}, 1, 0, kOpen, {I, Records::kRolledBack, false, false, {X}, 0}},
    {{10}, 1, 0, {Ucm::kClosed}, {SWupdateState::ROLLBACK_IN_PROGRESS, Records::kKept, true, true, {X, S}, 1}},
    {{10}, 1, 0, kOff, {SWupdateState::ROLLBACK_IN_PROGRESS, Records::kKept, true, true, {}, 1}},
    // Power failure while committing: commit again (already done counts), close.
    {{7}, 1, -1, kOpen, {I, Records::kInstalled, false, false, {C, X}, 0}},
    {{7}, 1, -1, {Ucm::kClosed}, {SWupdateState::UPDATE_IN_PROGRESS_COMMIT, Records::kKept, true, true, {C, S}, 1}},
    {{7}, 1, -1, kOff, {SWupdateState::UPDATE_IN_PROGRESS_COMMIT, Records::kKept, true, true, {}, 1}},
    // ... without a session id, while closing, while rolling back: close again.
    {{7, 8}, 0, -1, kReached, {I, Records::kInstalled, false, false, {N}, 0}},
    {{7, 8}, 0, -1, kOff, {SWupdateState::UPDATE_IN_PROGRESS_CLOSE, Records::kKept, false, true, {}, 1}},
    {{8}, 1, -1, kReached, {I, Records::kInstalled, false, false, {X}, 0}},
    {{8}, 1, -1, kOff, {SWupdateState::UPDATE_IN_PROGRESS_CLOSE, Records::kKept, true, true, {}, 1}},
    {{9}, 0, -1, kReached, {I, Records::kRolledBack, false, false, {N}, 0}},
    {{9}, 1, -1, kReached, {I, Records::kRolledBack, false, false, {X}, 0}},
    {{9}, -1, -1, kOff, {SWupdateState::ROLLBACK_IN_PROGRESS, Records::kKept, true, true, {}, 1}},
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
        deps.runtime.createUcmAdaptor = [this](const std::string&, std::function<void(CurrentStatusType)>,
                                               const KivConfiguration&) { return m_ucm; };
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
        std::weak_ptr<KivRuntime> runtime;
        VelmoraEntryDependencies deps = RecoveryDeps();
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
        m_ucm->Seed(row.ucm, download ? "open" : "installed");
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
    std::shared_ptr<SessionUcm> m_ucm = std::make_shared<SessionUcm>(m_power);
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
                    EXPECT_EQ(m_ucm->Log(), expected.calls);
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
        const std::string endUcm = m_ucm->State();
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
            EXPECT_EQ(m_ucm->State(), endUcm);
            EXPECT_EQ(m_cleanupDtc->m_state.load(), 0);
        }
    }
    std::cout
        << "power cuts: " << points << " points in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
        << " ms" << std::endl;
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

// A close whose UPDATED records cannot be read copies nothing: the INSTALLED
// records stay and so does the in-progress state, for the next start.
TEST_F(RecoveryTest, UnreadableUpdatedRecordsNeverReplaceTheInstalledOnes) {
    const Row row{8, true, true, Ucm::kAnswering};
    Seed(row);
    {
        testsupport::DatabaseStack stack(kDatabase);
        ASSERT_TRUE(stack.raw->Set(DatabaseKeys::kUpdatedLogicalBlocks, std::vector<uint8_t>{0x07}));
        ASSERT_TRUE(stack.raw->Persist());
    }
    ASSERT_EQ(RunOnce(), 0);
    const DbSnapshot after = Snapshot();
    EXPECT_EQ(toString(after.state), toString(SWupdateState::UPDATE_IN_PROGRESS_CLOSE)) << capture.Dump();
    EXPECT_EQ(after.installedBlocks, m_installed);
    EXPECT_EQ(after.installedEcuInfo, EcuInfo::ReprogrammableAndConsistent);
    EXPECT_EQ(m_cleanupDtc->m_state.load(), 1);
    EXPECT_TRUE(capture.Contains("Closing of sessionId :10775 has FAILED; state = UPDATE_IN_PROGRESS_CLOSE"));
}

}  // namespace
