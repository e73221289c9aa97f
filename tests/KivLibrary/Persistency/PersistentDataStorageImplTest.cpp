#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"
#include "KivLibrary/Persistency/SafePersistency.h"
#include "KivLibrary/Persistency/Serialization.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::Level;
namespace hook = ara::per::testhook;

// Stored bytes must be there for the golden comparisons.
struct Stack : testsupport::DatabaseStack {
    using DatabaseStack::DatabaseStack;
    Bytes Raw(const std::string& key) const {
        Bytes bytes;
        EXPECT_TRUE(raw->Get(key, bytes)) << key;
        return bytes;
    }
};

class PersistentDataStorageImplTest : public ::testing::Test {
protected:
    void SetUp() override { hook::Reset(); }
    void TearDown() override { hook::Reset(); }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    Stack stack_{"velmora"};
    PersistentDataStorage& db_ = *stack_.database;
};

Bytes Framed(const Bytes& item) {
    Bytes bytes{0x00, 0x00};
    Serializer(bytes).Write(item);
    return bytes;
}

LogicalBlock Block(uint8_t id) {
    LogicalBlock block;
    block.m_id = id;
    block.m_programmingAttempts = 7;
    block.m_fingerPrint.m_serial = {{1, 2, 3, 4, 5, 6}};
    block.m_IVD.m_state = 1;
    block.m_IVD.m_data.fill(0xAB);
    return block;
}

TEST_F(PersistentDataStorageImplTest, ItemsReachThePlatformInTheStoredLayout) {
    ASSERT_TRUE(db_.WriteSWupdateState(SWupdateState::INSTALL_COMPLETE));
    EXPECT_EQ(stack_.Raw("SER_SwUpdateState"), (Bytes{0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x04}));
    ASSERT_TRUE(db_.WriteUpdateForPartition(PartitionEnum::B));
    EXPECT_EQ(stack_.Raw("SER_UpdateForPartition"), (Bytes{0x00, 0x00, 0x01, 0x01, 0x01}));
    ASSERT_TRUE(db_.WriteUcmSessionId(0xA1B2C3D4));
    EXPECT_EQ(stack_.Raw("SER_UcmSessionId"), (Bytes{0x00, 0x00, 0x01, 0x04, 0xA1, 0xB2, 0xC3, 0xD4}));
    ASSERT_TRUE(db_.WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent));
    EXPECT_EQ(stack_.Raw("SER_InstalledEcuInfo"), (Bytes{0x00, 0x00, 0x01, 0x03, 0x01, 0x01, 0x40}));
    ASSERT_TRUE(db_.WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
    EXPECT_EQ(stack_.Raw("SER_UpdatedEcuInfo"), (Bytes{0x00, 0x00, 0x01, 0x03, 0x01, 0x01, 0x44}));
    ASSERT_TRUE(db_.WriteInstalledLogicalBlocks({}));
    EXPECT_EQ(stack_.Raw("SER_InstalledLogicalBlocks"), (Bytes{0x00, 0x00, 0x01, 0x04, 0x01, 0x01, 0x01, 0x00}));
    ASSERT_TRUE(db_.WriteUpdatedLogicalBlocks({Block(3)}));
    EXPECT_EQ(stack_.Raw("SER_UpdatedLogicalBlocks"), Framed(EncodeLogicalBlocks({Block(3)})));
    EXPECT_EQ(stack_.Raw("SER_UpdatedLogicalBlocks").size(), 2U + 2U + 70U);
    ASSERT_TRUE(db_.WriteDatabaseFormatIdentifier("Serialization-Layout_1.0"));
    EXPECT_EQ(stack_.Raw("DatabaseFormat"), Framed(EncodeDatabaseFormat("Serialization-Layout_1.0")));
}

TEST_F(PersistentDataStorageImplTest, ABinaryWrittenByAnotherImplementationIsRead) {
    ASSERT_TRUE(stack_.raw->Set("SER_SwUpdateState", Bytes{0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x09}));
    SWupdateState state = SWupdateState::INVALID;
    ASSERT_TRUE(db_.ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::ROLLBACK_IN_PROGRESS);
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Successfully read 'SER_SwUpdateState': 'ROLLBACK_IN_PROGRESS'"));
}

TEST_F(PersistentDataStorageImplTest, SyncedItemsSurviveARestartAndUnsyncedOnesDoNot) {
    ASSERT_TRUE(db_.WriteUcmSessionId(17));
    ASSERT_TRUE(db_.WriteInstalledLogicalBlocks({Block(1), Block(2)}));
    ASSERT_TRUE(db_.SyncToStorage());
    ASSERT_TRUE(db_.WriteUcmSessionId(18));
    ASSERT_TRUE(db_.WriteSWupdateState(SWupdateState::IDLE));

    Stack restarted("velmora");
    uint32_t session = 0;
    ASSERT_TRUE(restarted.database->ReadUcmSessionId(session));
    EXPECT_EQ(session, 17U);
    EXPECT_FALSE(restarted.database->HasSWupdateState());
    LogicalBlocks blocks;
    ASSERT_TRUE(restarted.database->ReadInstalledLogicalBlocks(blocks));
    EXPECT_EQ(blocks, (LogicalBlocks{Block(1), Block(2)}));
}

TEST_F(PersistentDataStorageImplTest, HasReadAndRemoveFollowTheStorage) {
    capture_.Clear();
    EXPECT_FALSE(db_.HasUcmSessionId());
    EXPECT_FALSE(capture_.Contains("[PersistentDataStorageImpl"));

    SWupdateState state = SWupdateState::IDLE;
    EXPECT_FALSE(db_.ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::IDLE);
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Reading persisted key 'SER_SwUpdateState'"));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Failed to read 'SER_SwUpdateState'"));

    ASSERT_TRUE(db_.WriteInstalledEcuInfo(EcuInfo::ProgrammingNotConsistent));
    EXPECT_TRUE(db_.HasInstalledEcuInfo());
    EXPECT_TRUE(db_.RemoveInstalledEcuInfo());
    EXPECT_FALSE(db_.HasInstalledEcuInfo());
    EXPECT_EQ(db_.RemoveInstalledEcuInfo(), !hook::IsStrictRemoval());
    EXPECT_TRUE(db_.IsStorageAvailable());
}

TEST_F(PersistentDataStorageImplTest, MessagesShowTheValues) {
    ASSERT_TRUE(db_.WriteUcmSessionId(4000000000U));
    EXPECT_TRUE(capture_.Contains(
        Level::kInfo,
        "Writing key 'SER_UcmSessionId' and value '4000000000' to persistency[PersistentDataStorageImpl.cpp("));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Successfully wrote 'SER_UcmSessionId'"));
    ASSERT_TRUE(db_.WriteUpdateForPartition(PartitionEnum::A));
    EXPECT_TRUE(capture_.Contains("Writing key 'SER_UpdateForPartition' and value 'A' to persistency"));
    ASSERT_TRUE(db_.WriteUpdatedEcuInfo(EcuInfo::ReprogrammableAndConsistent));
    EXPECT_TRUE(capture_.Contains("value '{info=ReprogrammableAndConsistent}' to persistency"));
    ASSERT_TRUE(db_.WriteUpdatedLogicalBlocks({}));
    EXPECT_TRUE(capture_.Contains("and value 'Count: 0' to persistency"));
    std::string format;
    ASSERT_TRUE(db_.WriteDatabaseFormatIdentifier("fmt"));
    ASSERT_TRUE(db_.ReadDatabaseFormatIdentifier(format));
    EXPECT_TRUE(capture_.Contains("Successfully read 'DatabaseFormat': 'fmt'"));
}

TEST_F(PersistentDataStorageImplTest, StorageFailuresAreReportedAsFalse) {
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(db_.WriteSWupdateState(SWupdateState::IDLE));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Failed to write 'SER_SwUpdateState'"));
    EXPECT_FALSE(db_.HasSWupdateState());

    ASSERT_TRUE(db_.WriteSWupdateState(SWupdateState::IDLE));
    hook::InjectFailure(hook::Operation::kSyncToStorage, 1);
    EXPECT_FALSE(db_.SyncToStorage());
    EXPECT_TRUE(db_.SyncToStorage());

    PersistentDataStorageImpl detached(nullptr);
    uint32_t session = 3;
    EXPECT_FALSE(detached.IsStorageAvailable());
    EXPECT_FALSE(detached.HasUcmSessionId());
    EXPECT_FALSE(detached.ReadUcmSessionId(session));
    EXPECT_FALSE(detached.WriteUcmSessionId(1));
    EXPECT_FALSE(detached.RemoveUcmSessionId());
    EXPECT_FALSE(detached.SyncToStorage());
    EXPECT_EQ(session, 3U);
}

TEST_F(PersistentDataStorageImplTest, TruncatedOrGarbageValuesReadAsFalse) {
    const std::vector<Bytes> broken{
        {},
        {0x00},
        {0x00, 0x00},
        {0x00, 0x01, 0x01, 0x01, 0x01},
        {0x00, 0x00, 0x01},
        {0x00, 0x00, 0x01, 0x05, 0x01},
        {0x00, 0x00, 0x01, 0x02, 0x00, 0x00},
        {0x00, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0x00, 0x00, 0x01, 0x02, 0x01, 0x01},
    };
    for (const Bytes& bytes : broken) {
        for (const char* key : {"SER_UcmSessionId", "SER_SwUpdateState", "SER_UpdateForPartition",
                                "SER_InstalledLogicalBlocks", "SER_UpdatedEcuInfo", "DatabaseFormat"}) {
            ASSERT_TRUE(stack_.raw->Set(key, bytes));
        }
        ASSERT_TRUE(stack_.raw->Persist());
        Stack reopened("velmora");
        for (PersistentDataStorage* db : {&db_, reopened.database.get()}) {
            uint32_t session = 5;
            SWupdateState state = SWupdateState::IDLE;
            PartitionEnum partition = PartitionEnum::B;
            LogicalBlocks blocks{Block(9)};
            EcuInfo info = EcuInfo::ProgrammingNotConsistent;
            std::string format = "keep";
            EXPECT_FALSE(db->ReadUcmSessionId(session));
            EXPECT_FALSE(db->ReadSWupdateState(state));
            EXPECT_FALSE(db->ReadUpdatedEcuInfo(info));
            EXPECT_FALSE(db->ReadDatabaseFormatIdentifier(format));
            EXPECT_EQ(session, 5U);
            EXPECT_EQ(state, SWupdateState::IDLE);
            EXPECT_EQ(info, EcuInfo::ProgrammingNotConsistent);
            EXPECT_EQ(format, "keep");
            // Partition and block list may accept some of these values (one
            // byte, or a marker they skip); they must never change on a failure.
            if (!db->ReadUpdateForPartition(partition)) {
                EXPECT_EQ(partition, PartitionEnum::B);
            }
            if (!db->ReadInstalledLogicalBlocks(blocks)) {
                EXPECT_EQ(blocks, LogicalBlocks{Block(9)});
            }
        }
    }
}

}  // namespace
