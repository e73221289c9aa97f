// The routines of a programming session called through their proxies over the
// real binding, on the real session state and database in a sandbox, with UCM
// scripted.
#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Routines/ProgrammingPreconditionRoutines.h"
#include "KivLibrary/Routines/RoutineNrc.h"
#include "platform/services/jux/swl/ProgrammingPreCondition_proxy.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_proxy.h"
#include "platform/services/zenqo/services/diag/r_0203/RoutineService_CheckProgrammingPreconditions_proxy.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_proxy.h"
#include "platform/services/zenqo/services/diag/r_ff00/RoutineService_EraseMemory_proxy.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_proxy.h"
#include "tests/KivLibrary/Routines/RoutineHarness.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

namespace {

using namespace routinetest;
using testsupport::Level;
namespace diag = zenqo::services::diag;
using CheckMemoryProxy = diag::r_0202::proxy::RoutineService_CheckMemoryProxy;
using StartUpdateProxy = diag::r_c010::proxy::RoutineService_StartUpdateProxy;
using DependenciesProxy = diag::r_ff01::proxy::RoutineService_CheckProgrammingDependenciesProxy;
using StartUpdateFailed = RoutineNrc::FailedC010;

const zov::dm::types::MetaInfoType kMeta{};
const std::array<uint8_t, 3> kStartRefused{0, 0x22, 0};
const std::array<uint8_t, 3> kResultsRefused{0x22, 0, 0};

sim::BlockDefinition Block(uint8_t id, const char* rfs, const char* f1ab) {
    sim::BlockDefinition block;
    block.id = id;
    block.payload = Bytes(64 + id, static_cast<uint8_t>(id * 7));
    std::copy(rfs, rfs + 4, block.rfsVersion.begin());
    std::copy(f1ab, f1ab + 4, block.f1abVersion.begin());
    return block;
}

// ---- 0x0202 over every kind of broken package --------------------------------

// The real database, except that the stored UPDATED list cannot be read.
class UnreadableUpdatedBlocks : public PersistentDataStorage {
public:
    explicit UnreadableUpdatedBlocks(std::shared_ptr<PersistentDataStorage> inner) : m_inner(std::move(inner)) {}
    bool ReadUpdatedLogicalBlocks(LogicalBlocks&) override { return false; }
    bool HasUcmSessionId() const override { return m_inner->HasUcmSessionId(); }
    bool ReadUcmSessionId(uint32_t& value) override { return m_inner->ReadUcmSessionId(value); }
    bool HasSWupdateState() const override { return m_inner->HasSWupdateState(); }
    bool ReadSWupdateState(SWupdateState& value) override { return m_inner->ReadSWupdateState(value); }
    bool HasUpdateForPartition() const override { return m_inner->HasUpdateForPartition(); }
    bool ReadUpdateForPartition(PartitionEnum& value) override { return m_inner->ReadUpdateForPartition(value); }
    bool HasUpdatedLogicalBlocks() const override { return m_inner->HasUpdatedLogicalBlocks(); }
    bool HasInstalledLogicalBlocks() const override { return m_inner->HasInstalledLogicalBlocks(); }
    bool ReadInstalledLogicalBlocks(LogicalBlocks& value) override {
        return m_inner->ReadInstalledLogicalBlocks(value);
    }
    bool HasUpdatedEcuInfo() const override { return m_inner->HasUpdatedEcuInfo(); }
    bool ReadUpdatedEcuInfo(EcuInfo& value) override { return m_inner->ReadUpdatedEcuInfo(value); }
    bool HasInstalledEcuInfo() const override { return m_inner->HasInstalledEcuInfo(); }
    bool ReadInstalledEcuInfo(EcuInfo& value) override { return m_inner->ReadInstalledEcuInfo(value); }
    bool HasDatabaseFormatIdentifier() const override { return m_inner->HasDatabaseFormatIdentifier(); }
    bool ReadDatabaseFormatIdentifier(std::string& value) override {
        return m_inner->ReadDatabaseFormatIdentifier(value);
    }
    bool IsStorageAvailable() override { return m_inner->IsStorageAvailable(); }
    bool RemoveUcmSessionId() override { return m_inner->RemoveUcmSessionId(); }
    bool WriteUcmSessionId(const uint32_t& value) override { return m_inner->WriteUcmSessionId(value); }
    bool RemoveSWupdateState() override { return m_inner->RemoveSWupdateState(); }
    bool WriteSWupdateState(const SWupdateState& value) override { return m_inner->WriteSWupdateState(value); }
    bool RemoveUpdateForPartition() override { return m_inner->RemoveUpdateForPartition(); }
    bool WriteUpdateForPartition(const PartitionEnum& value) override {
        return m_inner->WriteUpdateForPartition(value);
    }
    bool RemoveUpdatedLogicalBlocks() override { return m_inner->RemoveUpdatedLogicalBlocks(); }
    bool WriteUpdatedLogicalBlocks(const LogicalBlocks& value) override {
        return m_inner->WriteUpdatedLogicalBlocks(value);
    }
    bool RemoveInstalledLogicalBlocks() override { return m_inner->RemoveInstalledLogicalBlocks(); }
    bool WriteInstalledLogicalBlocks(const LogicalBlocks& value) override {
        return m_inner->WriteInstalledLogicalBlocks(value);
    }
    bool RemoveUpdatedEcuInfo() override { return m_inner->RemoveUpdatedEcuInfo(); }
    bool WriteUpdatedEcuInfo(const EcuInfo& value) override { return m_inner->WriteUpdatedEcuInfo(value); }
    bool RemoveInstalledEcuInfo() override { return m_inner->RemoveInstalledEcuInfo(); }
    bool WriteInstalledEcuInfo(const EcuInfo& value) override { return m_inner->WriteInstalledEcuInfo(value); }
    bool RemoveDatabaseFormatIdentifier() override { return m_inner->RemoveDatabaseFormatIdentifier(); }
    bool WriteDatabaseFormatIdentifier(const std::string& value) override {
        return m_inner->WriteDatabaseFormatIdentifier(value);
    }
    bool SyncToStorage() override { return m_inner->SyncToStorage(); }

private:
    std::shared_ptr<PersistentDataStorage> m_inner;
};

class CheckMemoryTest : public RoutineHarness {
public:
    // The shared signer with the package's two blocks, added once.
    static sim::PackageBuilder& Packages() {
        static sim::PackageBuilder& builder =
            Signer().AddBlock(Block(1, "0002", "0102")).AddBlock(Block(2, "0002", "0102"));
        return builder;
    }
};

TEST_F(CheckMemoryTest, EveryPackageDefectEndsWithItsStatus) {
    struct Case {
        sim::Defect defect;
        uint8_t status;
    };
    const Case cases[] = {
        {sim::Defect::kNone, 0x00},           {sim::Defect::kWrongSignature, 0x01},
        {sim::Defect::kRecordTooShort, 0x80}, {sim::Defect::kRecordTooLong, 0x80},
        {sim::Defect::kDuplicateBlock, 0x80}, {sim::Defect::kUnknownBlock, 0x80},
        {sim::Defect::kDowngrade, 0x81},      {sim::Defect::kUnknownHardwareId, 0x81},
    };
    const auto proxy = Connect<CheckMemoryProxy>();
    ASSERT_TRUE(proxy);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.defect));
        Packages().SetDefect(c.defect);
        const sim::Package package = Packages().Build();
        Packages().SetDefect(sim::Defect::kNone);
        configuration->flashBlocks = package.configuredBlockIds;
        ASSERT_TRUE(database->WriteUpdatedLogicalBlocks(package.installedBlocks));
        session->SetMemoryFailureFlag(c.status == 0);  // every Start clears it first

        DownloadDpt(package.dpt);
        EXPECT_EQ(proxy->Start(kMeta, package.dpt.signature).get().routineStatus, c.status) << capture.Dump();
        EXPECT_EQ(session->GetMemoryFailureFlag(), c.status != 0);
        // A refused record leaves neither its table nor its bytes behind.
        EXPECT_EQ(session->GetRFS()->GetDowngradeTable().empty(), c.status != 0);
        EXPECT_EQ(session->GetRFS()->GetData().empty(), c.status != 0);
    }
}

TEST_F(CheckMemoryTest, UnreadableDowngradeFloorFailsTheCheck) {
    const sim::Package package = Packages().Build();
    configuration->flashBlocks = package.configuredBlockIds;
    ASSERT_TRUE(database->WriteUpdatedLogicalBlocks(package.installedBlocks));
    routines->StopOfferServices();
    RoutineDependencies dependencies{
        session, ucm, std::make_shared<UnreadableUpdatedBlocks>(database), nullptr, nullptr, configuration, nullptr};
    routines = std::make_unique<RoutineServicesImpl>(1, dependencies, stateMachine);
    routines->OfferServices();

    DownloadDpt(package.dpt);
    const auto proxy = Connect<CheckMemoryProxy>();
    EXPECT_EQ(proxy->Start(kMeta, package.dpt.signature).get().routineStatus, 0x81);
    EXPECT_TRUE(session->GetMemoryFailureFlag());
    EXPECT_TRUE(capture.Contains(Level::kError, "downgrade protection cannot be checked"));
}

// A downloaded logical block may not be older than the installed one: the DPT
// lists block 1 at "0002", the installed record varies.
TEST_F(CheckMemoryTest, DownloadedBlockAgainstTheInstalledVersion) {
    struct Case {
        const char* name;
        const char* installed;
        bool listed;
        uint8_t status;
    };
    const Case cases[] = {
        {"newer than installed", "0001", true, 0x00},
        {"same as installed", "0002", true, 0x00},
        {"older than installed", "0003", true, 0x81},
        {"not in the DPT", "0001", false, 0x81},
    };
    const sim::Package package = Packages().Build();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        configuration->flashBlocks = package.configuredBlockIds;
        ASSERT_TRUE(database->WriteUpdatedLogicalBlocks(package.installedBlocks));
        DownloadDpt(package.dpt);
        ASSERT_EQ(Connect<CheckMemoryProxy>()->Start(kMeta, package.dpt.signature).get().routineStatus, 0)
            << capture.Dump();
        for (LogicalBlockCache& block : session->GetInstalledLogistics()->blocks) {
            if (block.id == 1) {
                std::copy(c.installed, c.installed + 4, block.rfsCurrentVersion.begin());
            }
        }
        if (!c.listed) {
            session->GetRFS()->ClearDowngradeTable();
        }
        Download(package.blocks.front());
        EXPECT_EQ(Connect<CheckMemoryProxy>()->Start(kMeta, package.blocks.front().signature).get().routineStatus,
                  c.status)
            << capture.Dump();
        EXPECT_EQ(session->GetMemoryFailureFlag(), c.status != 0);
        EcuInfo info = EcuInfo::ReprogrammableAndConsistent;
        ASSERT_TRUE(database->ReadUpdatedEcuInfo(info));
        EXPECT_EQ(info, c.status == 0 ? EcuInfo::ReprogrammableAndConsistent : EcuInfo::ProgrammingNotConsistent);
    }
}

// A check sent while RequestTransferExit still drains the worker (the tester
// gave up on the exit's answer) waits for the exit: it verifies the whole
// block, not the part that had reached the signature, and keeps no failure.
TEST_F(CheckMemoryTest, ACheckDuringTheExitOfADownloadWaitsForIt) {
    const sim::Package package = Packages().Build();
    configuration->flashBlocks = package.configuredBlockIds;
    ASSERT_TRUE(database->WriteUpdatedLogicalBlocks(package.installedBlocks));
    DownloadDpt(package.dpt);
    const auto proxy = Connect<CheckMemoryProxy>();
    ASSERT_EQ(proxy->Start(kMeta, package.dpt.signature).get().routineStatus, 0) << capture.Dump();

    const sim::SignedBlock& block = package.blocks.front();
    const auto half = block.payload.begin() + static_cast<std::ptrdiff_t>(block.payload.size() / 2);
    session->SetSignatureResult(0);
    session->StartBlockTransfer(block.memorySize, block.memoryAddress, kFormat);
    session->SetRequestDownloadFinished(false);
    session->DecreaseRemainingSize(true, block.memorySize);
    session->AddTransferredData(Bytes(block.payload.begin(), half));
    // Stands for the exit, which holds the transfer lock while it drains.
    SessionData::TransferLock exit = session->LockTransfer(std::chrono::milliseconds::zero());
    ASSERT_TRUE(exit.owns_lock());
    auto check =
        std::async(std::launch::async, [&] { return proxy->Start(kMeta, block.signature).get().routineStatus; });
    EXPECT_TRUE(capture.WaitFor("checkMemory: waiting for the previous download step to end"));
    session->AddTransferredData(Bytes(half, block.payload.end()));
    session->FinishBlockTransfer(true);
    session->SetRequestDownloadFinished(true);
    exit.unlock();
    EXPECT_EQ(check.get(), 0) << capture.Dump();
    EXPECT_FALSE(session->GetMemoryFailureFlag());
}

// ---- 0xC010 -------------------------------------------------------------------

// Persists like the real holder but reports the change to INSTALL_IN_PROGRESS as refused.
class RefusingStatus : public SWupdateStatus {
public:
    using SWupdateStatus::SWupdateStatus;
    bool SetStatus(SWupdateState state) override {
        const bool written = SWupdateStatus::SetStatus(state);
        return state != SWupdateState::INSTALL_IN_PROGRESS && written;
    }
};

class StartUpdateTest : public RoutineHarness {
public:
    std::unique_ptr<StartUpdateProxy> proxy;
    void SetUp() override {
        RoutineHarness::SetUp();
        proxy = Connect<StartUpdateProxy>();
        ASSERT_TRUE(proxy);
    }
    std::array<uint8_t, 3> StartNrc() { return NrcOf<StartUpdateFailed>(proxy->Start(kMeta, 0, 0x44, {1, 2, 3, 4})); }
};

TEST_F(StartUpdateTest, StartIsRefusedInEveryWrongStateWithoutHarm) {
    struct Case {
        const char* name;
        std::function<void(StartUpdateTest&)> arrange;
        std::vector<std::string> ucmCalls;
        SWupdateState stateAfter;
    };
    const std::vector<Case> cases = {
        {"memory check failed",
         [](StartUpdateTest& t) {
             t.OpenUcmSession();
             t.session->SetMemoryFailureFlag(true);
         },
         {},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"no UCM session", [](StartUpdateTest&) {}, {}, SWupdateState::IDLE},
        {"installation running",
         [](StartUpdateTest& t) {
             t.OpenUcmSession();
             t.ucm->SetInstallState(2);
         },
         {},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"UCM refuses the installation",
         [](StartUpdateTest& t) {
             t.OpenUcmSession();
             t.ucm->SetResult("InstallUpdateAsync", false);
         },
         {"InstallUpdateAsync"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"state change refused",
         [](StartUpdateTest& t) {
             t.OpenUcmSession();
             auto refusing = std::make_shared<RefusingStatus>(t.database);
             SWupdateState restored = SWupdateState::INVALID;
             refusing->ReadStatus(restored);
             t.session->SetSWupdateStatus(refusing);
         },
         {"InstallUpdateAsync", "CancelUpdate"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"no state holder",
         [](StartUpdateTest& t) {
             t.OpenUcmSession();
             t.session->SetSWupdateStatus(nullptr);
         },
         {"InstallUpdateAsync", "CancelUpdate"},
         SWupdateState::TRANSFER_IN_PROGRESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.arrange(*this);
        EXPECT_EQ(StartNrc(), kStartRefused);
        EXPECT_EQ(ucm->Calls(), c.ucmCalls);
        EXPECT_EQ(toString(status->GetStatus()), toString(c.stateAfter));
        SWupdateState persisted = SWupdateState::INVALID;
        database->ReadSWupdateState(persisted);
        EXPECT_EQ(toString(persisted), toString(c.stateAfter));
        const auto active = session->GetActiveRoutines();
        EXPECT_EQ(std::count(active.begin(), active.end(), 0xC010), 0);
    }
}

// An update manager whose progress read stays inside until the test lets it
// go, whatever the process does meanwhile.
class StuckProgressUcm : public testsupport::ScriptedUcm {
public:
    bool GetProgress(uint32_t id, UCM::GetProgressOutput& output) override {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_inside = true;
            m_changed.notify_all();
            m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_released; });
        }
        const bool result = ScriptedUcm::GetProgress(id, output);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
        m_changed.notify_all();
        return result;
    }
    bool WaitInside() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_inside; });
    }
    bool ReleaseAndWaitDone() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_done; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_inside = false;
    bool m_released = false;
    bool m_done = false;
};

// The withdrawal gives up on a call that does not end in time; the routine
// must then stay for that call instead of being freed under it.
TEST_F(StartUpdateTest, ARoutineOutlivesItsOwnerWhileACallGivenUpOnStillRuns) {
    routines->StopOfferServices();
    const auto stuck = std::make_shared<StuckProgressUcm>();
    RoutineDependencies dependencies{session, stuck, database, nullptr, nullptr, configuration, nullptr};
    routines = std::make_unique<RoutineServicesImpl>(1, dependencies, stateMachine);
    routines->OfferServices();
    proxy = Connect<StartUpdateProxy>();
    ASSERT_TRUE(proxy);

    const auto limit = zov::com::testing::GetTeardownLimit();
    zov::com::testing::SetTeardownLimit(std::chrono::milliseconds(50));
    auto results = proxy->RequestResults(kMeta);
    ASSERT_TRUE(stuck->WaitInside());
    routines->StopOfferServices();
    routines.reset();
    zov::com::testing::SetTeardownLimit(limit);
    EXPECT_TRUE(capture.Contains(Level::kError, "Routine 0xC010: a call still runs after the withdrawal"));

    // The call goes on in the routine it started in (the sanitizer build sees any use after free).
    EXPECT_TRUE(stuck->ReleaseAndWaitDone());
    EXPECT_TRUE(capture.WaitFor("RequestResults for Start_update completed"));
    EXPECT_THROW(results.get(), jux::com::Broken_promise_exception);
}

TEST_F(StartUpdateTest, StartedInstallationIsFollowedUntilItsOutcome) {
    OpenUcmSession();
    EXPECT_EQ(proxy->Start(kMeta, 0, 0x44, {0xAB, 2, 3, 4, 5}).get().routineInfo, 1);
    EXPECT_EQ(toString(status->GetStatus()), "INSTALL_IN_PROGRESS");
    EXPECT_EQ(session->GetActiveRoutines(), std::vector<uint16_t>{0xC010});
    // A second Start while the first runs would report it as failed.
    EXPECT_EQ(StartNrc(), kStartRefused);

    InstallationStatusResult mismatch;
    mismatch.Status = 0;
    mismatch.Error = {"vm_adaptive_lb2", "container", "file", "expected", "calculated"};
    InstallationStatusResult success;
    success.Status = 7;
    InstallationStatusResult::IntegrityEntry entry;
    entry.clusterName = "vm_adaptive_lb1";
    entry.data.fill(0x5A);
    success.IntegrityData = {entry};

    struct Case {
        const char* name;
        uint8_t installState;
        uint8_t progress;
        uint8_t installationResult;
        InstallationStatusResult status;
        uint8_t respStatus;
        uint8_t reportedProgress;
        std::string addInfo;
    };
    const std::string mismatchInfo = "IntegrityMismatch:vm_adaptive_lb2:container:file:calculated";
    const Case cases[] = {
        {"running", 2, 100, 0, success, 1, 99, ""},
        {"installed", 1, 100, 0, success, 36, 100, ""},
        {"integrity mismatch", 1, 40, 0, mismatch, 20, 100, mismatchInfo},
        {"UCM service error", 3, 40, 0, mismatch, 20, 100, mismatchInfo},
        {"other error", 4, 40, 0, mismatch, 0, 100, mismatchInfo},
        {"finished, rejected", 0, 100, 1, success, 20, 100, ""},
        {"finished, success", 0, 100, 0, success, 36, 100, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ucm->SetInstallState(c.installState);
        ucm->SetProgress(c.progress);
        ucm->SetInstallationResult(c.installationResult);
        ucm->SetInstallationStatus(c.status);
        const auto results = proxy->RequestResults(kMeta).get();
        EXPECT_EQ(results.Resp_Status, c.respStatus);
        EXPECT_EQ(results.Progress, c.reportedProgress);
        EXPECT_EQ(std::string(results.Add_Info.begin(), results.Add_Info.end()), c.addInfo);
        EXPECT_EQ(results.Address_Length, 0);  // no logical block in this session
        EXPECT_EQ(results.Memory_Address_First, 0xAB);
    }
    // The installed clusters' integrity data reached the MIRROR cache.
    const auto mirror = session->GetUpdatedLogistics();
    const auto lb1 = std::find_if(mirror->blocks.begin(), mirror->blocks.end(),
                                  [](const LogicalBlockCache& b) { return b.name == "vm_adaptive_lb1"; });
    ASSERT_NE(lb1, mirror->blocks.end());
    EXPECT_EQ(lb1->IVD, entry.data);
    EXPECT_TRUE(session->GetActiveRoutines().empty());

    ucm->SetInstallState(2);
    ucm->SetResult("GetProgress", false);
    EXPECT_EQ(NrcOf<StartUpdateFailed>(proxy->RequestResults(kMeta)), kResultsRefused);
    ucm->SetInstallState(1);
    ucm->SetResult("GetProgress", true);
    ucm->SetResult("GetInstallationStatus", false);
    EXPECT_EQ(NrcOf<StartUpdateFailed>(proxy->RequestResults(kMeta)), kResultsRefused);

    session->AddActiveRoutine(0xC010);
    ucm->SetResult("CancelUpdate", false);
    EXPECT_EQ(NrcOf<StartUpdateFailed>(proxy->Stop(kMeta)), (std::array<uint8_t, 3>{0, 0, 0x22}));
    EXPECT_TRUE(session->GetActiveRoutines().empty());
}

// ---- 0xFF01 -------------------------------------------------------------------

class DependenciesTest : public RoutineHarness {
public:
    // The record of a package for blocks 1 to 4 as the inactive partition holds
    // them, block 1 downloaded; change adjusts the blocks first.
    void Prepare(const std::function<void(std::vector<sim::BlockDefinition>&)>& change) {
        OpenUcmSession();
        ASSERT_TRUE(status->SetStatus(SWupdateState::INSTALL_IN_PROGRESS));
        std::vector<sim::BlockDefinition> blocks;
        // The downloaded block carries the new version, the others the installed one.
        for (uint8_t id = 1; id <= 4; ++id) {
            blocks.push_back(Block(id, "0001", id == 1 ? "0102" : "0101"));
        }
        change(blocks);
        const auto rfs = session->GetRFS();
        rfs->AppendData(sim::PackageBuilder::BuildRecord(blocks, {{{'H', 'W', '1'}}}));
        uint8_t result = 0;
        LogicalBlocks installed;
        ASSERT_TRUE(database->ReadInstalledLogicalBlocks(installed));
        ASSERT_TRUE(rfs->ConvertToDpt(installed, result, configuration->flashBlocks)) << capture.Dump();
        session->StartBlockTransfer(64, {0x00, 0x01}, kFormat);
        session->FinishBlockTransfer(true);
    }
};

TEST_F(DependenciesTest, EachCheckFailsOnceAndAllPassingCompletesTheInstallation) {
    using Blocks = std::vector<sim::BlockDefinition>;
    struct Case {
        const char* name;
        std::function<void(Blocks&)> record;
        std::function<void(DependenciesTest&)> arrange;
        uint8_t result;
    };
    const auto none = [](DependenciesTest&) {};
    const std::vector<Case> cases = {
        {"all pass", [](Blocks&) {}, none, 0},
        {"no RFS data", [](Blocks&) {}, [](DependenciesTest& t) { t.session->GetRFS()->ClearDowngradeTable(); }, 5},
        {"RFS minimum version", [](Blocks&) {},
         [](DependenciesTest& t) {
             LogicalBlocks installed;
             t.database->ReadInstalledLogicalBlocks(installed);
             installed[1].m_rfsMinVersion = {{'0', '0', '0', '9'}};
             t.database->WriteInstalledLogicalBlocks(installed);
         },
         6},
        {"major versions", [](Blocks&) {},
         [](DependenciesTest& t) {
             sim::SandboxBuilder layout(t.box.Root());
             auto files = layout.DefaultLogistics(PartitionEnum::B);
             files[2].second.major = "3";
             layout.SetLogistics(PartitionEnum::B, files).WriteLogistics();
         },
         1},
        {"RFS against the DPT",
         [](Blocks& b) {
             b[0].rfsVersion = {{'0', '0', '0', '2'}};
         },
         none, 6},
        {"F1AB against the DPT",
         [](Blocks& b) {
             b[0].f1abVersion = {{'0', '1', '0', '1'}};
         },
         none, 4},
        {"F1AB of a block not downloaded",
         [](Blocks& b) {
             b[2].f1abVersion = {{'0', '1', '0', '9'}};
         },
         none, 4},
        {"corrupted block not downloaded", [](Blocks&) {},
         [](DependenciesTest& t) {
             for (LogicalBlockCache& block : t.session->GetInstalledLogistics()->blocks) {
                 block.IVD_IsCorrupt = block.id == 3;
             }
         },
         4},
        {"corrupted block downloaded", [](Blocks&) {},
         [](DependenciesTest& t) {
             for (LogicalBlockCache& block : t.session->GetInstalledLogistics()->blocks) {
                 block.IVD_IsCorrupt = block.id == 1;
             }
         },
         0},
        // The medium refuses INSTALL_COMPLETE (no database, as in a fast
        // shutdown): the next start would roll back, so no success is reported.
        {"state change refused", [](Blocks&) {},
         [](DependenciesTest& t) {
             t.status = std::make_shared<SWupdateStatus>(nullptr);
             t.status->SetStatus(SWupdateState::INSTALL_IN_PROGRESS);
             t.session->SetSWupdateStatus(t.status);
         },
         4},
        // Memory took it, the medium did not: the same as a refused change.
        {"final sync refused", [](Blocks&) {},
         [](DependenciesTest&) { ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kSyncToStorage, 1); },
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        database->RemoveUpdateForPartition();  // left by an earlier case
        Prepare(c.record);
        c.arrange(*this);
        const auto proxy = Connect<DependenciesProxy>();
        ASSERT_TRUE(proxy);
        EXPECT_EQ(proxy->Start(kMeta).get().routineStatus, c.result) << capture.Dump();
        EXPECT_EQ(session->GetDependencyCheckResult(), c.result != 0);
        EXPECT_EQ(toString(status->GetStatus()), c.result == 0 ? "INSTALL_COMPLETE" : "INSTALL_IN_PROGRESS");
        PartitionEnum partition = PartitionEnum::INVALID;
        EXPECT_EQ(database->ReadUpdateForPartition(partition) && partition == PartitionEnum::B, c.result == 0);
    }
}

// ---- 0x0203, 0xFF00, 0xC00E and the programming pre-condition ----------------

TEST_F(RoutineHarness, SmallRoutinesAnswerByState) {
    using PreconditionsFailed = RoutineNrc::Failed0203;
    const auto preconditions = Connect<diag::r_0203::proxy::RoutineService_CheckProgrammingPreconditionsProxy>();
    const auto erase = Connect<diag::r_ff00::proxy::RoutineService_EraseMemoryProxy>();
    const auto check = Connect<diag::r_c00e::proxy::RoutineService_CheckUpdateProxy>();
    ASSERT_TRUE(preconditions && erase && check);
    const auto refusal = [&] {
        try {
            preconditions->Start(kMeta).get();
        } catch (const PreconditionsFailed& error) {
            return static_cast<int>(error.GetCode());
        }
        return 0;
    };
    EXPECT_EQ(refusal(), 0);
    session->Rid029ARunning = true;
    EXPECT_EQ(refusal(), 0x22);
    session->Rid029ARunning = false;
    ASSERT_TRUE(status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
    EXPECT_EQ(refusal(), 0x22);
    EXPECT_TRUE(capture.Contains("currSWUpdateState = TRANSFER_IN_PROGRESS"));

    EXPECT_EQ(erase->Start(kMeta, 1, 2).get().routineStatus, 0);
    EXPECT_EQ(check->Start(kMeta, 9).get().routineInfo, 1);
    EXPECT_TRUE(session->GetActiveRoutines().empty());
    const auto results = check->RequestResults(kMeta).get();
    EXPECT_EQ(results.routineInfo, 0x24);
    EXPECT_EQ(results.routineData, 0xFF);

    Routine_ProgrammingPreCondition_Impl service("test", 1, session);
    service.OfferService();
    const auto precondition = Connect<jux::swl::proxy::ProgrammingPreConditionProxy>("test");
    ASSERT_TRUE(precondition);
    EXPECT_EQ(precondition->GetPreCondition().get().preCondition, 2);
    ASSERT_TRUE(status->SetStatus(SWupdateState::IDLE));
    EXPECT_EQ(precondition->GetPreCondition().get().preCondition, 1);
    FastShutDown::Set(true);
    EXPECT_EQ(precondition->GetPreCondition().get().preCondition, 2);
    FastShutDown::Set(false);
    session->SetSWupdateStatus(nullptr);
    EXPECT_EQ(precondition->GetPreCondition().get().preCondition, 2);
    service.StopOfferService();
    service.StopMethodDispatcher();
}

}  // namespace
