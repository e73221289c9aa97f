// Clean-up of an interrupted download against the real database, the real
// software-update status and the real conversation client; the update
// manager and the DTC are doubles.
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/ara/per/key_value_storage.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using sessiontest::Bytes;
using sessiontest::DatabaseStack;
using sessiontest::FakeDtc;
using sessiontest::FakeUcmAdaptor;
using sessiontest::SpyVerifier;
using testsupport::Level;
using Calls = std::vector<std::pair<std::string, uint32_t>>;

constexpr uint32_t kSessionId = 0x00001234;

LogicalBlock Block(uint8_t id, uint16_t attempts) {
    LogicalBlock block;
    block.m_id = id;
    block.m_programmingAttempts = attempts;
    return block;
}

std::vector<uint16_t> Attempts(const LogicalBlocks& blocks) {
    std::vector<uint16_t> attempts;
    for (const auto& block : blocks) {
        attempts.push_back(block.m_programmingAttempts);
    }
    return attempts;
}

class SessionDataResetTest : public ::testing::Test {
protected:
    SessionDataResetTest() {
        ara::per::testhook::Reset();
        session->SetSWupdateStatus(status);
    }
    ~SessionDataResetTest() override { ara::per::testhook::Reset(); }

    // A download of two blocks, the second interrupted, in the given state.
    void StartDownload(SWupdateState state) {
        ASSERT_TRUE(db->WriteInstalledLogicalBlocks({Block(1, 3), Block(2, 0)}));
        ASSERT_TRUE(db->WriteUpdatedLogicalBlocks({Block(1, 4), Block(3, 9), Block(2, 1)}));
        ASSERT_TRUE(db->WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent));
        ASSERT_TRUE(db->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
        ASSERT_TRUE(db->WriteUcmSessionId(kSessionId));
        session->SetUcmSessionId(kSessionId);
        status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS);
        status->SetStatus(state);
        session->StartBlockTransfer(16, {0x01}, 0x44);
        session->FinishBlockTransfer(true);
        session->StartBlockTransfer(0x1000, {0x02}, 0x44);
        session->SetRequestDownloadFinished(false);
        session->DecreaseRemainingSize(true, 100);
    }

    void Reset() { session->ResetProgramming(ucm, db, conversation, dtc); }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    DatabaseStack stack{"session_reset"};
    std::shared_ptr<PersistentDataStorage> db = stack.database;
    std::shared_ptr<KivConfiguration> configuration = sessiontest::MakeConfiguration(box);
    std::shared_ptr<SessionData> session =
        std::make_shared<SessionData>(configuration, stack.database, std::make_shared<SpyVerifier>());
    std::shared_ptr<SWupdateStatus> status = std::make_shared<SWupdateStatus>(stack.database);
    std::shared_ptr<FakeUcmAdaptor> ucm = std::make_shared<FakeUcmAdaptor>();
    std::shared_ptr<KivDMConversation> conversation = std::make_shared<KivDMConversation>();
    std::shared_ptr<FakeDtc> dtc = std::make_shared<FakeDtc>();
};

TEST_F(SessionDataResetTest, OutsideADownloadNothingHappens) {
    status->SetStatus(SWupdateState::IDLE);
    session->StartBlockTransfer(8, {0x01}, 0x44);
    Reset();
    EXPECT_TRUE(capture.Contains(Level::kInfo, "ResetProgramming: wrong State for Reset Programming; nothing to do."));
    EXPECT_FALSE(capture.Contains("+SessionData::ResetProgramming"));
    EXPECT_TRUE(ucm->Calls().empty());
    EXPECT_TRUE(dtc->sent.empty());
    EXPECT_EQ(session->GetDownloadedLogicalBlocks().size(), 1U);
}

TEST_F(SessionDataResetTest, InterruptedTransferReturnsToIdle) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    session->SetProgrammingState(0);
    Reset();

    EXPECT_EQ(ucm->Calls(), (Calls{{"TransferExit", kSessionId}, {"DOClose", kSessionId}}));
    EXPECT_TRUE(capture.Contains("KivDMConversation::cancel"));
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
    SWupdateState persisted = SWupdateState::INVALID;
    ASSERT_TRUE(db->ReadSWupdateState(persisted));
    EXPECT_EQ(persisted, SWupdateState::IDLE);
    EXPECT_EQ(session->GetUcmSessionId(), 0xFFFFFFFFU);
    EXPECT_FALSE(db->HasUcmSessionId());

    // Both the finished and the unfinished block are gone from the session.
    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());
    EXPECT_TRUE(session->IsRequestDownloadFinished());

    // Attempt counters of the UPDATED blocks reach the INSTALLED ones, which
    // then replace the UPDATED records.
    LogicalBlocks installed;
    LogicalBlocks updated;
    ASSERT_TRUE(db->ReadInstalledLogicalBlocks(installed));
    ASSERT_TRUE(db->ReadUpdatedLogicalBlocks(updated));
    EXPECT_EQ(Attempts(installed), (std::vector<uint16_t>{4, 1}));
    EXPECT_EQ(updated, installed);
    EcuInfo ecuInfo = EcuInfo::ProgrammingNotConsistent;
    ASSERT_TRUE(db->ReadUpdatedEcuInfo(ecuInfo));
    EXPECT_EQ(ecuInfo, EcuInfo::ReprogrammableAndConsistent);

    EXPECT_EQ(dtc->sent, (std::vector<std::pair<int, unsigned>>{{0, 1U}}));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "ResetProgramming: Raise Cleanup Error : DTC CLEANUP ERROR to PASSED"));
    EXPECT_FALSE(session->IsUcmCopyInProgress());
    EXPECT_TRUE(capture.Contains(Level::kInfo, "SessionData: Set UcmCopyInProgress Flag to: true"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "-SessionData::ResetProgramming"));
}

TEST_F(SessionDataResetTest, InterruptedInstallationIsCancelled) {
    StartDownload(SWupdateState::INSTALL_IN_PROGRESS);
    Reset();
    EXPECT_EQ(ucm->Calls(), (Calls{{"CancelUpdate", kSessionId}, {"DOClose", kSessionId}}));
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
}

TEST_F(SessionDataResetTest, BusyUpdateManagerReportsTheCleanupAsFailed) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    session->SetProgrammingState(1);
    Reset();
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
    EXPECT_EQ(dtc->sent, (std::vector<std::pair<int, unsigned>>{{1, 1U}}));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "ResetProgramming: Raise Cleanup Error : DTC CLEANUP ERROR to FAILED"));
}

TEST_F(SessionDataResetTest, FailedCloseKeepsTheSession) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    ucm->closeResult = false;
    Reset();
    EXPECT_TRUE(capture.Contains(Level::kError, "UCM Close session failed"));
    EXPECT_EQ(status->GetStatus(), SWupdateState::UNDO_DOWNLOAD);
    EXPECT_EQ(session->GetUcmSessionId(), kSessionId);
    EXPECT_TRUE(db->HasUcmSessionId());
    LogicalBlocks installed;
    ASSERT_TRUE(db->ReadInstalledLogicalBlocks(installed));
    EXPECT_EQ(Attempts(installed), (std::vector<uint16_t>{3, 0}));
    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());
    EXPECT_EQ(dtc->sent, (std::vector<std::pair<int, unsigned>>{{1, 1U}}));

    // The undo state was synced before the close was tried: a power cut now
    // leaves it on the medium, and the next start finishes the clean-up.
    DatabaseStack reopened("session_reset");
    SWupdateState persisted = SWupdateState::INVALID;
    ASSERT_TRUE(reopened.database->ReadSWupdateState(persisted));
    EXPECT_EQ(persisted, SWupdateState::UNDO_DOWNLOAD);
    EXPECT_EQ(static_cast<uint32_t>(persisted), 6U);
    uint32_t sessionId = 0;
    ASSERT_TRUE(reopened.database->ReadUcmSessionId(sessionId));
    EXPECT_EQ(sessionId, kSessionId);
}

TEST_F(SessionDataResetTest, MissingCollaboratorsStillReportTheDtc) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    session->ResetProgramming(nullptr, db, conversation, dtc);
    EXPECT_TRUE(capture.Contains(Level::kError, "SessionData::ResetProgramming: some of input pointers are null!"));
    EXPECT_EQ(status->GetStatus(), SWupdateState::TRANSFER_IN_PROGRESS);
    EXPECT_EQ(session->GetDownloadedLogicalBlocks().size(), 2U);
    EXPECT_EQ(dtc->sent, (std::vector<std::pair<int, unsigned>>{{1, 1U}}));
    EXPECT_FALSE(session->IsUcmCopyInProgress());
}

TEST_F(SessionDataResetTest, MissingDtcServiceIsReportedNotUsed) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    session->ResetProgramming(ucm, db, conversation, nullptr);
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
    EXPECT_TRUE(capture.Contains(Level::kError, "DTC CLEANUP ERROR not set"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "-SessionData::ResetProgramming"));
}

TEST_F(SessionDataResetTest, UnreadableStoredBlocksAreNotOverwritten) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    // A stored value cut short: its read fails.
    const Bytes truncated{0x00, 0x00, 0x01, 0x04, 0x01, 0x01};
    ASSERT_TRUE(stack.raw->Set("SER_InstalledLogicalBlocks", truncated));
    const Bytes updatedBefore = stack.Raw("SER_UpdatedLogicalBlocks");

    Reset();
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
    EXPECT_EQ(stack.Raw("SER_InstalledLogicalBlocks"), truncated);
    EXPECT_EQ(stack.Raw("SER_UpdatedLogicalBlocks"), updatedBefore);
    EXPECT_TRUE(capture.Contains(Level::kError, "cannot read the installed logical blocks"));
    EXPECT_FALSE(capture.Contains("SessionData: remove_updated succeeded!"));
    // The ECU information is independent of the block lists.
    EcuInfo ecuInfo = EcuInfo::ProgrammingNotConsistent;
    ASSERT_TRUE(db->ReadUpdatedEcuInfo(ecuInfo));
    EXPECT_EQ(ecuInfo, EcuInfo::ReprogrammableAndConsistent);
}

TEST_F(SessionDataResetTest, UnreadableUpdatedBlocksLeaveTheInstalledOnes) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    ASSERT_TRUE(stack.raw->Set("SER_UpdatedLogicalBlocks", Bytes{0x00, 0x00, 0x01}));
    const Bytes installedBefore = stack.Raw("SER_InstalledLogicalBlocks");

    Reset();
    EXPECT_TRUE(capture.Contains(Level::kError, "cannot read the updated logical blocks"));
    EXPECT_EQ(stack.Raw("SER_InstalledLogicalBlocks"), installedBefore);
    // The readable INSTALLED list still replaces the broken UPDATED one.
    LogicalBlocks updated;
    ASSERT_TRUE(db->ReadUpdatedLogicalBlocks(updated));
    EXPECT_EQ(Attempts(updated), (std::vector<uint16_t>{3, 0}));
}

TEST_F(SessionDataResetTest, ResetDuringDptTransferEndsIt) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    const auto rfs = session->GetRFS();
    rfs->SetTransferActive(true);
    rfs->ClearData();
    session->StartBlockTransfer(25, {0x00, 0x0F}, 0x44);
    session->AddTransferredData({0x00, 0x07, 'R', 'F', 'S'});

    Reset();
    EXPECT_FALSE(rfs->IsTransferActive());
    EXPECT_TRUE(rfs->GetData().empty());
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);

    // The next logical block is bookkept as such and its bytes stay out of the record.
    session->StartBlockTransfer(4, {0x01}, 0x44);
    session->AddTransferredData({1, 2, 3, 4});
    session->DecreaseRemainingSize(true, 4);
    ASSERT_EQ(session->GetDownloadedLogicalBlocks().size(), 1U);
    EXPECT_EQ(session->GetRemainingSize(true), 0U);
    EXPECT_TRUE(rfs->GetData().empty());
}

TEST_F(SessionDataResetTest, ResetRacesWithTheDownloadWorker) {
    StartDownload(SWupdateState::TRANSFER_IN_PROGRESS);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done.load()) {
            session->AddTransferredData({1, 2, 3});
            session->DecreaseRemainingSize(true, 3);
            (void)session->GetCurrentLogicalBlockEntry();
            std::this_thread::yield();
        }
    });
    Reset();
    done.store(true);
    worker.join();
    EXPECT_EQ(status->GetStatus(), SWupdateState::IDLE);
    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());
}

}  // namespace
