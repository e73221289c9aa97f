// The logistics caches into the database: the import of the ACTIVE partition
// into an empty database and the merge of the MIRROR partition into the
// UPDATED blocks after a download, over the real database stack.
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "KivLibrary/Persistency/ProgrammingAttemptsCounters.h"
#include "platform/ara/per/key_value_storage.h"
#include "tests/KivLibrary/Persistency/LogisticsFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using logisticstest::kActiveDir;
using logisticstest::kInactiveDir;
using logisticstest::Logistics;
using logisticstest::WriteLogistics;
using sessiontest::Bytes;
using testsupport::Level;
using Version = std::array<uint8_t, 4>;

LogicalBlock Block(uint8_t id, uint16_t attempts) {
    LogicalBlock block;
    block.m_id = id;
    block.m_programmingAttempts = attempts;
    return block;
}

std::vector<uint8_t> Ids(const LogicalBlocks& blocks) {
    std::vector<uint8_t> ids;
    for (const auto& block : blocks) {
        ids.push_back(block.m_id);
    }
    return ids;
}

class LogisticsDatabaseTest : public ::testing::Test {
protected:
    LogisticsDatabaseTest() { ara::per::testhook::Reset(); }
    ~LogisticsDatabaseTest() override { ara::per::testhook::Reset(); }

    LogicalBlocks Installed() {
        LogicalBlocks blocks;
        EXPECT_TRUE(db->ReadInstalledLogicalBlocks(blocks));
        return blocks;
    }
    LogicalBlocks Updated() {
        LogicalBlocks blocks;
        EXPECT_TRUE(db->ReadUpdatedLogicalBlocks(blocks));
        return blocks;
    }
    EcuInfo UpdatedEcu() {
        EcuInfo ecu = EcuInfo::ReprogrammableAndConsistent;
        EXPECT_TRUE(db->ReadUpdatedEcuInfo(ecu));
        return ecu;
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    sessiontest::DatabaseStack stack{"logistics_db"};
    std::shared_ptr<PersistentDataStorage> db = stack.database;
    std::shared_ptr<KivConfiguration> configuration = logisticstest::MakeLogisticsConfiguration(box);
    std::shared_ptr<SessionData> session =
        std::make_shared<SessionData>(configuration, db, std::make_shared<sessiontest::SpyVerifier>());
    std::shared_ptr<LogisticFileHandler> handler = std::make_shared<LogisticFileHandler>(configuration, db, session);
};

TEST_F(LogisticsDatabaseTest, AnEmptyDatabaseTakesTheActiveLogistics) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_7.json", Logistics().Id(7).Rfs("0007"));
    WriteLogistics(box, kActiveDir, "ZenqLogistics_3.json", Logistics().Id(3).Rfs("0003"));
    handler->ReadActiveLogistics();
    ASSERT_FALSE(db->HasInstalledLogicalBlocks());

    handler->StoreInstalledLogistics({1, 2, 3, 4, 5, 6}, {0x24, 0x05, 0x17});

    const LogicalBlocks installed = Installed();
    EXPECT_EQ(Ids(installed), (std::vector<uint8_t>{3, 7}));
    EXPECT_EQ(installed, Updated());
    for (const LogicalBlock& block : installed) {
        EXPECT_EQ(block.m_programmingAttempts, 0);
        EXPECT_EQ(block.m_fingerPrint.m_status, 0);
        EXPECT_EQ(block.m_fingerPrint.m_date, (std::array<uint8_t, 3>{0x24, 0x05, 0x17}));
        EXPECT_EQ(block.m_fingerPrint.m_serial, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(block.m_IVD, LogicalBlock::IVD{});
    }
    EXPECT_EQ(installed[0].m_rfsMinVersion, (Version{'0', '0', '0', '3'}));
    EcuInfo ecu = EcuInfo::ProgrammingNotConsistent;
    ASSERT_TRUE(db->ReadInstalledEcuInfo(ecu));
    EXPECT_EQ(ecu, EcuInfo::ReprogrammableAndConsistent);
    EXPECT_EQ(UpdatedEcu(), EcuInfo::ReprogrammableAndConsistent);
    bool logged = false;
    for (const std::string& text : capture.Texts()) {
        logged = logged || (text.find("INSTALLED ecu info: ") == 0 &&
                            text.find("ReprogrammableAndConsistent") != std::string::npos);
    }
    EXPECT_TRUE(logged) << capture.Dump();
}

TEST_F(LogisticsDatabaseTest, BadFilesReachTheDatabaseOnlyAsInconsistency) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_1.json", Logistics().Id(1));
    Logistics wrongType = Logistics().Id(2);
    wrongType.major = "\"2\"";
    WriteLogistics(box, kActiveDir, "ZenqLogistics_2.json", wrongType);
    box.WriteFile(std::string(kActiveDir) + "/ZenqLogistics_3.json", "{\"ZenqLogistics\": ");
    handler->ReadActiveLogistics();

    handler->WriteActiveLogisticsToDatabase({1, 2, 3, 4, 5, 6}, {1, 2, 3});

    EXPECT_EQ(Ids(Installed()), (std::vector<uint8_t>{1}));
    EXPECT_EQ(Ids(Updated()), (std::vector<uint8_t>{1}));
    EXPECT_EQ(UpdatedEcu(), EcuInfo::ProgrammingNotConsistent);
}

TEST_F(LogisticsDatabaseTest, PopulatingMergesByBlockId) {
    LogicalBlockCacheData cache;
    cache.blocks.resize(2);
    cache.blocks[0].id = 7;
    cache.blocks[1].id = 3;
    cache.blocks[1].rfsCurrentVersion = {'0', '0', '3', '3'};

    LogicalBlocks fresh;
    handler->PopulateCaches(cache, fresh);
    EXPECT_EQ(Ids(fresh), (std::vector<uint8_t>{3, 7}));
    for (const LogicalBlock& block : fresh) {
        EXPECT_EQ(block.m_fingerPrint.m_date, (std::array<uint8_t, 3>{0x00, 0x01, 0x01}));
        EXPECT_EQ(block.m_fingerPrint.m_serial, (std::array<uint8_t, 6>{}));
        EXPECT_EQ(block.m_fingerPrint.m_status, 0);
    }
    EXPECT_EQ(fresh[0].m_rfsMinVersion, (Version{'0', '0', '3', '3'}));

    LogicalBlocks stored{Block(9, 4), Block(3, 5)};
    handler->PopulateCaches(cache, stored);
    EXPECT_EQ(Ids(stored), (std::vector<uint8_t>{3, 7, 9}));
    EXPECT_EQ(stored[0], fresh[0]);
    EXPECT_EQ(stored[2].m_programmingAttempts, 4);
}

class MirrorIntoUpdatedTest : public LogisticsDatabaseTest {
protected:
    MirrorIntoUpdatedTest() {
        LogicalBlock known = Block(3, 2);
        known.m_lockValue = 7;
        known.m_IVD.m_state = 1;
        known.m_IVD.m_data.fill(0x33);
        EXPECT_TRUE(db->WriteUpdatedLogicalBlocks({known, Block(5, 1), Block(9, 6)}));
        session->SetFingerprint({0x24, 0x06, 0x01}, {9, 8, 7, 6, 5, 4});
        for (uint8_t id : {3, 7, 9}) {
            session->StartBlockTransfer(16, {0x00, id}, 0x44);
            session->FinishBlockTransfer(true);
        }
        WriteLogistics(box, kInactiveDir, "ZenqLogistics_3.json", Logistics().Name("c3").Id(3).Rfs("0203"));
        WriteLogistics(box, kInactiveDir, "ZenqLogistics_7.json", Logistics().Name("c7").Id(7).Rfs("0207"));
    }
};

TEST_F(MirrorIntoUpdatedTest, DownloadedBlocksAreMergedIntoTheUpdatedList) {
    EXPECT_TRUE(handler->ReadMirrorLogisticsIntoUpdated());

    const LogicalBlocks updated = Updated();
    ASSERT_EQ(Ids(updated), (std::vector<uint8_t>{3, 5, 7}));
    // Known to the list: attempts and integrity data stay, the rest is new.
    EXPECT_EQ(updated[0].m_programmingAttempts, 2);
    EXPECT_EQ(updated[0].m_IVD.m_state, 1);
    EXPECT_EQ(updated[0].m_IVD.m_data[0], 0x33);
    EXPECT_EQ(updated[0].m_lockValue, 0);
    EXPECT_EQ(updated[0].m_fingerPrint.m_status, 0);
    EXPECT_EQ(updated[0].m_fingerPrint.m_date, (std::array<uint8_t, 3>{0x24, 0x06, 0x01}));
    EXPECT_EQ(updated[0].m_fingerPrint.m_serial, (std::array<uint8_t, 6>{9, 8, 7, 6, 5, 4}));
    EXPECT_EQ(updated[0].m_rfsMinVersion, (Version{'0', '2', '0', '3'}));
    // Not downloaded: untouched.
    EXPECT_EQ(updated[1], Block(5, 1));
    // New: a first attempt with the default minimum version.
    EXPECT_EQ(updated[2].m_programmingAttempts, 1);
    EXPECT_EQ(updated[2].m_rfsMinVersion, (Version{'0', '0', '0', '1'}));
    EXPECT_EQ(updated[2].m_fingerPrint.m_serial, (std::array<uint8_t, 6>{9, 8, 7, 6, 5, 4}));
    EXPECT_TRUE(
        capture.Contains(Level::kInfo, "Removing logical block: 9, because no matching logistic file was found."));
    EXPECT_EQ(UpdatedEcu(), EcuInfo::ReprogrammableAndConsistent);
    EXPECT_EQ(session->GetUpdatedLogistics()->blocks.size(), 2U);
}

TEST_F(MirrorIntoUpdatedTest, AnInconsistentMirrorFailsTheCheck) {
    box.WriteFile(std::string(kInactiveDir) + "/ZenqLogistics_8.json", "not json");

    EXPECT_FALSE(handler->ReadMirrorLogisticsIntoUpdated());

    EXPECT_EQ(UpdatedEcu(), EcuInfo::ProgrammingNotConsistent);
    EXPECT_EQ(Ids(Updated()), (std::vector<uint8_t>{3, 5, 7}));
}

TEST_F(LogisticsDatabaseTest, ProgrammingAttemptsFollowTheUpdatedBlocks) {
    ASSERT_TRUE(db->WriteInstalledLogicalBlocks({Block(1, 0), Block(2, 3)}));
    ASSERT_TRUE(db->WriteUpdatedLogicalBlocks({Block(2, 4), Block(1, 1), Block(8, 9)}));
    EXPECT_TRUE(CopyProgrammingAttemptsCounters(db));
    const LogicalBlocks installed = Installed();
    EXPECT_EQ(Ids(installed), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(installed[0].m_programmingAttempts, 1);
    EXPECT_EQ(installed[1].m_programmingAttempts, 4);

    // An unreadable list is never overwritten.
    ASSERT_TRUE(stack.raw->Set("SER_UpdatedLogicalBlocks", Bytes{0x00, 0x00, 0x01}));
    const Bytes before = stack.Raw("SER_InstalledLogicalBlocks");
    EXPECT_FALSE(CopyProgrammingAttemptsCounters(db));
    EXPECT_EQ(stack.Raw("SER_InstalledLogicalBlocks"), before);
    EXPECT_FALSE(CopyProgrammingAttemptsCounters(nullptr));
}

}  // namespace
