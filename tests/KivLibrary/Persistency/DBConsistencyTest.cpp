#include "KivLibrary/Persistency/DBConsistency/DBConsistencyChecker.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Level;
namespace hook = ara::per::testhook;

const char* const kDatabase = "velmora";

std::shared_ptr<PersistentDataStorage> OpenStack() { return testsupport::DatabaseStack(kDatabase).database; }

LogicalBlocks Blocks(std::initializer_list<uint8_t> ids) {
    LogicalBlocks blocks;
    for (uint8_t id : ids) {
        LogicalBlock block;
        block.m_id = id;
        blocks.push_back(block);
    }
    return blocks;
}

class DBConsistencyTest : public ::testing::Test {
protected:
    void SetUp() override { hook::Reset(); }
    void TearDown() override { hook::Reset(); }

    // Writes a full database with the given block lists and syncs it.
    void Prepare(const LogicalBlocks& installed, const LogicalBlocks& updated) {
        ASSERT_TRUE(db_->WriteUcmSessionId(42));
        ASSERT_TRUE(db_->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE));
        ASSERT_TRUE(db_->WriteUpdateForPartition(PartitionEnum::B));
        ASSERT_TRUE(db_->WriteDatabaseFormatIdentifier("Serialization-Layout_1.0"));
        ASSERT_TRUE(db_->WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent));
        ASSERT_TRUE(db_->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
        ASSERT_TRUE(db_->WriteInstalledLogicalBlocks(installed));
        ASSERT_TRUE(db_->WriteUpdatedLogicalBlocks(updated));
        ASSERT_TRUE(db_->SyncToStorage());
    }

    // What is on the medium, seen through a fresh stack.
    std::shared_ptr<PersistentDataStorage> Reopen() { return OpenStack(); }

    static void ExpectPurged(PersistentDataStorage& db) {
        EXPECT_FALSE(db.HasInstalledLogicalBlocks());
        EXPECT_FALSE(db.HasUpdatedLogicalBlocks());
        EXPECT_FALSE(db.HasInstalledEcuInfo());
        EXPECT_FALSE(db.HasUpdatedEcuInfo());
        uint32_t sessionId = 0;
        SWupdateState state = SWupdateState::INVALID;
        PartitionEnum partition = PartitionEnum::INVALID;
        std::string format;
        EXPECT_TRUE(db.ReadUcmSessionId(sessionId));
        EXPECT_TRUE(db.ReadSWupdateState(state));
        EXPECT_TRUE(db.ReadUpdateForPartition(partition));
        EXPECT_TRUE(db.ReadDatabaseFormatIdentifier(format));
        EXPECT_EQ(sessionId, 42u);
        EXPECT_EQ(state, SWupdateState::INSTALL_COMPLETE);
        EXPECT_EQ(partition, PartitionEnum::B);
        EXPECT_EQ(format, "Serialization-Layout_1.0");
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    std::shared_ptr<PersistentDataStorage> db_ = OpenStack();
};

TEST_F(DBConsistencyTest, DatabaseWithoutBlockListsIsConsistent) {
    EXPECT_TRUE(DBConsistencyChecker().Run(db_));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Running database consistency checks..."));
    std::size_t consistentLines = 0;
    for (const auto& message : capture_.Messages()) {
        if (message.level == Level::kInfo && message.text.rfind("Database is consistent. It took ", 0) == 0) {
            ++consistentLines;
        }
    }
    EXPECT_EQ(consistentLines, 2u);
    EXPECT_FALSE(capture_.Contains(Level::kError, "Database"));
}

TEST_F(DBConsistencyTest, SameIdInBothListsIsNoDuplicate) {
    Prepare(Blocks({1, 2}), Blocks({2, 3}));
    EXPECT_TRUE(DBConsistencyChecker().Run(db_));
    EXPECT_FALSE(capture_.Contains("Need to repair"));
    EXPECT_TRUE(Reopen()->HasInstalledLogicalBlocks());
    EXPECT_TRUE(Reopen()->HasUpdatedEcuInfo());
}

TEST_F(DBConsistencyTest, DuplicateInInstalledListIsRepairedOnTheMedium) {
    Prepare(Blocks({3, 5, 3}), Blocks({1}));
    EXPECT_TRUE(DBConsistencyChecker().Run(db_));

    EXPECT_TRUE(capture_.Contains(Level::kError, "Found duplicated block in database with ID 3"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Database is not consistent. Need to repair! It took "));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Database successfully repaired. It took "));
    EXPECT_TRUE(capture_.Messages().back().text.rfind("Database is consistent. It took ", 0) == 0);
    ExpectPurged(*Reopen());
}

TEST_F(DBConsistencyTest, DuplicateInUpdatedListIsRepairedAndIdLoggedUnsigned) {
    Prepare(Blocks({1, 2}), Blocks({200, 7, 200, 7}));
    EXPECT_TRUE(DBConsistencyChecker().Run(db_));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Found duplicated block in database with ID 200"));
    // Only the first duplicate is reported.
    EXPECT_FALSE(capture_.Contains("with ID 7"));
    ExpectPurged(*Reopen());
}

TEST_F(DBConsistencyTest, UnreadableInstalledListDoesNotHideDuplicatesInUpdatedList) {
    Prepare(Blocks({1}), Blocks({7, 7}));
    // A value without the storage framing cannot be decoded.
    auto raw = CreateAraPersistency(kDatabase);
    ASSERT_TRUE(raw->Set("SER_InstalledLogicalBlocks", std::vector<uint8_t>{0x01, 0x02}));
    ASSERT_TRUE(raw->Persist());
    raw.reset();
    auto db = Reopen();
    EXPECT_TRUE(db->HasInstalledLogicalBlocks());
    EXPECT_TRUE(DBConsistencyChecker().Run(db));
    EXPECT_TRUE(capture_.Contains(Level::kError, "with ID 7"));
    EXPECT_FALSE(Reopen()->HasInstalledLogicalBlocks());
}

TEST_F(DBConsistencyTest, FailedRepairFailsTheRun) {
    Prepare(Blocks({4, 4}), {});
    hook::InjectFailure(hook::Operation::kSyncToStorage, 1);
    EXPECT_FALSE(DBConsistencyChecker().Run(db_));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Database repair failed! It took "));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Database is not consistent! It took "));
    // Nothing reached the medium; the next open checks and repairs again.
    hook::Reset();
    auto db = Reopen();
    EXPECT_TRUE(db->HasInstalledLogicalBlocks());
    EXPECT_TRUE(DBConsistencyChecker().Run(db));
    ExpectPurged(*Reopen());
}

}  // namespace
