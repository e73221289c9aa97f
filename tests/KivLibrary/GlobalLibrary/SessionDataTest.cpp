#include "KivLibrary/GlobalLibrary/SessionData.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

using sessiontest::Bytes;
using sessiontest::SpyVerifier;
using testsupport::Level;

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SessionDataTest : public ::testing::Test {
protected:
    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    std::shared_ptr<KivConfiguration> configuration = sessiontest::MakeConfiguration(box);
    std::shared_ptr<SpyVerifier> verifier = std::make_shared<SpyVerifier>();
    std::shared_ptr<SessionData> session = std::make_shared<SessionData>(configuration, nullptr, verifier);
};

TEST_F(SessionDataTest, FreshObjectAnswersItsInitialSession) {
    EXPECT_TRUE(capture.Contains(Level::kInfo, "key loaded from: " + configuration->Public_key_path));
    EXPECT_EQ(session->GetUcmSessionId(), 0xFFFFFFFFU);
    EXPECT_TRUE(session->IsRequestDownloadFinished());
    EXPECT_FALSE(session->IsFirstDataTransfered());
    EXPECT_EQ(session->GetProgrammingStateText(), "RESERVED");
    EXPECT_EQ(session->GetSignatureResult(), 0);
    EXPECT_EQ(session->GetLogCounter({0x76, 0x00}), "0");
    EXPECT_EQ(session->LogNameToId("KIV_LOG"), (Bytes{0x76, 0x01}));
    EXPECT_EQ(session->LogIdToName({0x76, 0x00}), "UCM_LOG");
    EXPECT_EQ(session->LogIdToName({0x76}), "");
    EXPECT_EQ(session->LogNameToId("OTHER_LOG"), Bytes());
    EXPECT_EQ(session->GetSWupdateState(), SWupdateState::INVALID);
    EXPECT_FALSE(session->IsStatusAllowingIVDCheck());
    EXPECT_NE(session->GetRFS(), nullptr);
    EXPECT_TRUE(session->GetInstalledLogistics()->blocks.empty());
    EXPECT_TRUE(session->GetUpdatedLogistics()->blocks.empty());

    session->SetProgrammingState(0);
    EXPECT_EQ(session->GetProgrammingStateText(), "READY");
    session->SetProgrammingState(1);
    EXPECT_EQ(session->GetProgrammingStateText(), "BUSY");
}

TEST_F(SessionDataTest, MissingKeyFileLeavesEveryBlockUnsigned) {
    configuration->Public_key_path = box.Path("keys/absent.pem");
    auto verifier2 = std::make_shared<SpyVerifier>();
    SessionData noKey(configuration, nullptr, verifier2);
    EXPECT_TRUE(capture.Contains(Level::kWarn, "Key file is not valid " + configuration->Public_key_path));

    noKey.StartBlockTransfer(0x10, {0x01}, 0x44);
    EXPECT_TRUE(capture.Contains(Level::kWarn, "KSV public key is not loaded"));
    EXPECT_EQ(verifier2->initializations, 0);
    // The bookkeeping itself still works.
    EXPECT_EQ(noKey.GetRemainingSize(true), 0x10U);
}

TEST_F(SessionDataTest, BlockStartFeedsItsHeaderToAFreshComputation) {
    session->StartBlockTransfer(0x00001000, {0x01, 0x02}, 0x44);
    EXPECT_EQ(verifier->key, Bytes({'K', 'E', 'Y'}));
    EXPECT_EQ(verifier->Stream(), (Bytes{0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x10, 0x00}));
    const LogicalBlockTransferEntry entry = session->GetCurrentLogicalBlockEntry();
    EXPECT_EQ(entry.memorySize, 4096U);
    EXPECT_EQ(entry.remainingSize, 4096U);
    EXPECT_EQ(entry.logicalBlockId, (Bytes{0x01, 0x02}));
    EXPECT_EQ(entry.format, 0x44);
    EXPECT_FALSE(entry.finished);

    session->AddTransferredData({0xAA, 0xBB});
    session->FinishBlockTransfer(true);
    // The next block's signature covers that block alone.
    session->StartBlockTransfer(0xA1B2C3D4, {0x11, 0x22, 0x33, 0x44}, 0x44);
    EXPECT_EQ(verifier->initializations, 2);
    EXPECT_EQ(verifier->Stream(), (Bytes{0x11, 0x22, 0x33, 0x44, 0xA1, 0xB2, 0xC3, 0xD4}));
    session->StartBlockTransfer(7, {0x05}, 0x14);
    EXPECT_EQ(verifier->Stream(), (Bytes{0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x07}));
    EXPECT_EQ(session->GetDownloadedLogicalBlocks().size(), 3U);
}

TEST_F(SessionDataTest, BlockIdOutsideOneToFourBytesIsLeftOutOfTheStream) {
    session->StartBlockTransfer(16, {1, 2, 3, 4, 5}, 0x44);
    EXPECT_TRUE(capture.Contains(Level::kError, "Invalid size of 'logicalBlockId' vector: 5"));
    EXPECT_EQ(verifier->initializations, 1);
    EXPECT_TRUE(verifier->Stream().empty());

    session->StartBlockTransfer(16, {}, 0x44);
    EXPECT_TRUE(capture.Contains(Level::kError, "Invalid size of 'logicalBlockId' vector: 0"));
    EXPECT_TRUE(verifier->Stream().empty());
}

TEST_F(SessionDataTest, ChunksAreFedInOrderAndCountedAgainstTheAnnouncedSize) {
    session->StartBlockTransfer(0x1000, {0x01, 0x02}, 0x44);
    session->DecreaseRemainingSize(true, 1000);
    session->AddTransferredData({1, 2, 3});
    session->DecreaseRemainingSize(true, 1000);
    session->AddTransferredData({4});
    EXPECT_EQ(session->GetRemainingSize(true), 2096U);
    EXPECT_EQ(verifier->Stream(), Concat({0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x10, 0x00}, {1, 2, 3, 4}));
    EXPECT_TRUE(capture.Contains(Level::kDebug, "Decrease size to be transferred for currently transferred datablock"));

    // A count beyond the announced size must not wrap into a huge remainder.
    session->DecreaseRemainingSize(true, 5000);
    EXPECT_EQ(session->GetRemainingSize(true), 0U);
}

TEST_F(SessionDataTest, SignatureIsVerifiedOncePerAcceptedDownload) {
    session->StartBlockTransfer(4, {0x07}, 0x44);
    session->AddTransferredData({9, 9, 9, 9});
    verifier->expected = Concat({0, 0, 0, 0x07, 0, 0, 0, 4}, {9, 9, 9, 9});

    EXPECT_TRUE(session->IsSignatureValid({0x01}));
    EXPECT_TRUE(session->IsSignatureValid({0x02}));
    EXPECT_EQ(verifier->verifications, 1);
    EXPECT_EQ(session->GetSignatureResult(), 1);

    // The next RequestDownload resets the result; a stream that does not match fails.
    session->SetSignatureResult(0);
    session->StartBlockTransfer(4, {0x07}, 0x44);
    session->AddTransferredData({9, 9, 9, 8});
    EXPECT_FALSE(session->IsSignatureValid({0x01}));
    EXPECT_EQ(session->GetSignatureResult(), 2);
    EXPECT_FALSE(session->IsSignatureValid({0x01}));
    EXPECT_EQ(verifier->verifications, 2);
}

TEST_F(SessionDataTest, ResetDropsOnlyTheUnfinishedLogicalBlock) {
    session->StartBlockTransfer(8, {0x01}, 0x44);
    session->FinishBlockTransfer(true);
    session->StartBlockTransfer(0x1000, {0x02}, 0x44);
    session->SetRequestDownloadFinished(false);
    session->SetLastBlockSequenceCounter(5);
    session->DecreaseRemainingSize(true, 1000);

    session->ResetTransferProgress();
    EXPECT_TRUE(capture.Contains(Level::kDebug, "Resetting unfinished transfer progress "));
    EXPECT_TRUE(capture.Contains(Level::kDebug, "Discarding unfinished datablocks"));
    const auto blocks = session->GetDownloadedLogicalBlocks();
    ASSERT_EQ(blocks.size(), 1U);
    EXPECT_EQ(blocks[0].logicalBlockId, Bytes{0x01});
    EXPECT_TRUE(blocks[0].finished);
    EXPECT_TRUE(session->IsRequestDownloadFinished());
    EXPECT_EQ(session->GetLastBlockSequenceCounter(), 0U);

    // A finished block survives a later reset, and so does the download state.
    session->SetLastBlockSequenceCounter(3);
    session->SetRequestDownloadFinished(false);
    session->ResetTransferProgress();
    EXPECT_EQ(session->GetDownloadedLogicalBlocks().size(), 1U);
    EXPECT_EQ(session->GetLastBlockSequenceCounter(), 3U);
    EXPECT_FALSE(session->IsRequestDownloadFinished());
}

TEST_F(SessionDataTest, DptTransferIsRoutedIntoTheRecord) {
    const auto rfs = session->GetRFS();
    rfs->SetTransferActive(true);
    rfs->ClearData();
    session->StartBlockTransfer(5, {0x00, 0x0F}, 0x44);
    session->AddTransferredData({'R', 'F'});
    session->DecreaseRemainingSize(true, 2);
    session->AddTransferredData({'S'});
    session->DecreaseRemainingSize(false, 1);

    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());
    EXPECT_EQ(rfs->GetData(), (Bytes{'R', 'F', 'S'}));
    EXPECT_EQ(session->GetRemainingSize(true), 2U);
    EXPECT_EQ(session->GetRemainingSize(false), 2U);
    EXPECT_EQ(session->GetCurrentBlockId(true), (Bytes{0x00, 0x0F}));
    EXPECT_EQ(verifier->Stream(), Concat({0x00, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x05}, {'R', 'F', 'S'}));

    // An abandoned dpt transfer loses its bytes, not the logical blocks.
    session->ResetTransferProgress();
    EXPECT_TRUE(rfs->GetData().empty());
    EXPECT_TRUE(rfs->IsTransferActive());

    // An overlong chunk ends the transfer (FinishBlockTransfer(false)).
    session->FinishBlockTransfer(false);
    EXPECT_FALSE(rfs->IsTransferActive());
}

TEST_F(SessionDataTest, RfsRecordIsFedAgainAsOneSignedBlock) {
    const auto rfs = session->GetRFS();
    rfs->SetTransferActive(true);
    session->StartBlockTransfer(3, {0x0F}, 0x44);
    session->AddTransferredData({'a', 'b', 'c'});
    session->FinishBlockTransfer(true);
    rfs->SetTransferActive(false);
    session->StartBlockTransfer(2, {0x01}, 0x44);
    EXPECT_EQ(verifier->initializations, 2);

    // With a logical block in the session the record is not fed again.
    session->FeedRfsToSignature();
    EXPECT_EQ(verifier->initializations, 2);

    session->ClearLogicalBlockEntries();
    session->FeedRfsToSignature();
    EXPECT_EQ(verifier->initializations, 3);
    EXPECT_EQ(verifier->Stream(), Concat({0x00, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x03}, {'a', 'b', 'c'}));
}

TEST_F(SessionDataTest, DatablocksFollowTheCurrentDatablockId) {
    std::vector<uint8_t> data(40);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    session->AddDatablock({0x01, 0x00}, {0xD1}, {1, 2}, 3);
    session->AddDatablock({0x00, 0x00, 0x00, 0x28}, {0xD2}, data, 4);
    session->AddDatablock({1, 2, 3, 4, 5}, {0xD3}, {}, 5);
    const auto entries = session->GetDatablocks();
    ASSERT_EQ(entries.size(), 3U);
    EXPECT_EQ(entries[0].remainingSize, 256U);
    EXPECT_EQ(entries[1].remainingSize, 40U);
    EXPECT_EQ(entries[2].remainingSize, 0U);  // a 5-byte size has no reading

    EXPECT_EQ(session->GetCurrentDatablock().id, Bytes());
    session->SetDatablockInfo({0xD2}, {0x99}, 7);
    EXPECT_EQ(session->GetCurrentDatablock().value, 4);
    EXPECT_EQ(session->GetCurrentBlockId(false), Bytes{0xD2});

    std::vector<uint8_t> chunk{0xEE};
    session->GetCurrentDatablockChunk(16, 2, chunk);
    EXPECT_EQ(chunk, Bytes(data.begin() + 32, data.end()));
    session->GetCurrentDatablockChunk(16, 3, chunk);
    EXPECT_EQ(chunk, Bytes(data.begin() + 32, data.end()));
    // 0x10000 * 0x10000 wraps to 0 in 32 bits: that would be chunk 0.
    session->GetCurrentDatablockChunk(0x10000, 0x10000, chunk);
    EXPECT_EQ(chunk, Bytes(data.begin() + 32, data.end()));

    // The size check reads the last entry, the decrease works on the current one.
    session->DecreaseRemainingSize(false, 10);
    EXPECT_EQ(session->GetDatablocks()[1].remainingSize, 30U);
    EXPECT_EQ(session->GetRemainingSize(false), 0U);
    session->FinishBlockTransfer(false);
    session->DiscardUnfinishedDatablocks();
    ASSERT_EQ(session->GetDatablocks().size(), 1U);
    EXPECT_EQ(session->GetDatablocks()[0].id, Bytes{0xD2});

    EXPECT_FALSE(session->EraseBlockEntry(false, 1));
    EXPECT_TRUE(session->EraseBlockEntry(false, 0));
    session->SetLastBlockSequenceCounter(9);
    session->ClearDatablocks();
    EXPECT_TRUE(session->GetDatablocks().empty());
    EXPECT_EQ(session->GetLastBlockSequenceCounter(), 0U);
    EXPECT_EQ(session->GetCurrentBlockId(false), Bytes());
}

TEST_F(SessionDataTest, EraseAndClearOfLogicalBlocks) {
    session->StartBlockTransfer(1, {0x01}, 0x44);
    session->StartBlockTransfer(2, {0x02}, 0x44);
    EXPECT_FALSE(session->EraseBlockEntry(true, 2));
    EXPECT_TRUE(session->EraseBlockEntry(true, 0));
    ASSERT_EQ(session->GetDownloadedLogicalBlocks().size(), 1U);
    EXPECT_EQ(session->GetCurrentBlockId(true), Bytes{0x02});

    session->SetMemoryFailureFlag(true);
    session->SetDependencyCheckResult(true);
    session->SetFingerprintFlag(true);
    session->SetRequestDownloadFinished(false);
    session->SetLastBlockSequenceCounter(4);
    EXPECT_TRUE(session->ClearLogicalBlockEntries());
    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());
    EXPECT_FALSE(session->GetMemoryFailureFlag());
    EXPECT_FALSE(session->GetDependencyCheckResult());
    EXPECT_FALSE(session->GetFingerprintFlag());
    EXPECT_TRUE(session->IsRequestDownloadFinished());
    EXPECT_EQ(session->GetLastBlockSequenceCounter(), 0U);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "SessionData: Set fingerprint flag to: 1"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "SessionData: Fingerprint flag is: 0"));

    // Operations on an empty list answer zeros and change nothing.
    EXPECT_EQ(session->GetRemainingSize(true), 0U);
    EXPECT_EQ(session->GetCurrentBlockId(true), Bytes());
    EXPECT_EQ(session->GetCurrentLogicalBlockEntry().memorySize, 0U);
    session->DecreaseRemainingSize(true, 1);
    session->FinishBlockTransfer(true);
}

TEST_F(SessionDataTest, LogCountersCountPerKnownId) {
    session->IncrementLogCounter({0x76, 0x01});
    session->IncrementLogCounter({0x76, 0x01});
    session->IncrementLogCounter({0x76, 0x02});
    EXPECT_EQ(session->GetLogCounter({0x76, 0x01}), "2");
    EXPECT_EQ(session->GetLogCounter({0x76, 0x00}), "0");
    EXPECT_EQ(session->GetLogCounter({0x76, 0x02}), "");
}

TEST_F(SessionDataTest, ActiveRoutinesKeepDuplicatesAndOrder) {
    session->AddActiveRoutine(0x0253);
    session->AddActiveRoutine(0x029A);
    session->AddActiveRoutine(0x0253);
    session->RemoveActiveRoutine(0x0253);
    session->RemoveActiveRoutine(0xFF01);
    EXPECT_EQ(session->GetActiveRoutines(), (std::vector<uint16_t>{0x029A, 0x0253}));
}

TEST_F(SessionDataTest, StatusQueriesFollowTheSoftwareUpdateState) {
    auto status = std::make_shared<SWupdateStatus>(nullptr);
    session->SetSWupdateStatus(status);
    for (uint32_t value = 0; value <= 10; ++value) {
        const auto state = static_cast<SWupdateState>(value);
        status->SetStatus(state);
        SCOPED_TRACE(toString(state));
        EXPECT_EQ(session->GetSWupdateState(), state);
        EXPECT_EQ(session->IsStatusAllowingIVDCheck(), value == 1 || value == 7 || value == 8 || value == 9);
        EXPECT_EQ(session->IsSWDownloadFinished(), value == 4 || value == 10);
        EXPECT_EQ(session->CheckRollbackInProgress(), value == 9);
    }
    EXPECT_TRUE(
        capture.Contains(Level::kInfo, "SessionData::IsStatusAllowingIVDCheck: SWupdateStatus=ROLLBACK_IN_PROGRESS"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "SessionData::IsSWDownloadFinished: SWupdateStatus=INSTALL_COMPLETE"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "SessionData::CheckRollbackInProgress: SWupdateStatus=IDLE"));

    session->SetSWupdateStatus(nullptr);
    EXPECT_EQ(session->GetSWupdateStatus(), nullptr);
    EXPECT_EQ(session->GetSWupdateState(), SWupdateState::INVALID);
    EXPECT_FALSE(session->CheckRollbackInProgress());
}

// A wait for the transfer lock ends, without it, as soon as termination is
// requested, however long its bound; the holder's own thread still takes it.
TEST_F(SessionDataTest, AWaitForTheTransferLockEndsOnTermination) {
    SessionData::TransferLock held = session->LockTransfer(std::chrono::milliseconds::zero());
    ASSERT_TRUE(held.owns_lock());
    RequestTermination();
    auto waiter =
        std::async(std::launch::async, [this] { return session->LockTransfer(std::chrono::hours(1)).owns_lock(); });
    const bool ended = waiter.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(session->LockTransfer(std::chrono::hours(1)).owns_lock());
    ResetTerminationRequest();
    held.unlock();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(waiter.get());
}

TEST_F(SessionDataTest, DownloadWorkerAndResetMayRunAtOnce) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done.load()) {
            session->AddTransferredData({1, 2, 3});
            session->DecreaseRemainingSize(true, 3);
            (void)session->GetRemainingSize(true);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 200; ++i) {
        session->StartBlockTransfer(0x1000, {0x01, 0x02}, 0x44);
        session->AddActiveRoutine(0x0202);
        session->ResetTransferProgress();
        session->ClearLogicalBlockEntries();
        session->RemoveActiveRoutine(0x0202);
    }
    done.store(true);
    worker.join();
    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());
    EXPECT_TRUE(session->GetActiveRoutines().empty());
}

}  // namespace
