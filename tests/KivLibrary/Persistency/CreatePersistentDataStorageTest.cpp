#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/DatabaseItems.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/KivLibrary/Persistency/LegacyDatabaseWriter.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using testsupport::DatabaseConfiguration;
using testsupport::DbSnapshot;
using testsupport::kDatabaseName;
using testsupport::KeysOnMedium;
using testsupport::LegacyBlockImage;
using testsupport::LegacyDatabaseWriter;
using testsupport::Level;
using testsupport::TestBlock;
namespace hook = ara::per::testhook;

class CreatePersistentDataStorageTest : public testsupport::StorageTest {
protected:
    std::shared_ptr<PersistentDataStorage> Open() {
        return CreatePersistentDataStorage(DatabaseConfiguration(), CreateAraPersistency);
    }

    // Items written straight through the typed layers, without an open.
    void Seed(const std::function<void(PersistentDataStorage&)>& write) {
        auto db = BuildPersistentDataStorage(kDatabaseName, CreateAraPersistency);
        write(*db);
        ASSERT_TRUE(db->SyncToStorage());
    }

    static std::vector<std::string> MigratedKeys() {
        return {"DatabaseFormat",   "SER_InstalledEcuInfo",   "SER_InstalledLogicalBlocks", "SER_SwUpdateState",
                "SER_UcmSessionId", "SER_UpdateForPartition", "SER_UpdatedEcuInfo",         "SER_UpdatedLogicalBlocks"};
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
};

TEST_F(CreatePersistentDataStorageTest, AnEmptyStorageIsStampedWithTheFormatOnly) {
    auto db = Open();
    ASSERT_TRUE(db);
    DbSnapshot expected;
    expected.hasFormat = true;
    expected.format = "Serialization-Layout_1.0";
    EXPECT_EQ(DbSnapshot::Of(*db), expected);
    EXPECT_EQ(KeysOnMedium(), std::vector<std::string>{"DatabaseFormat"});
}

TEST_F(CreatePersistentDataStorageTest, AStampedDatabaseIsOpenedWithoutWrites) {
    Seed([](PersistentDataStorage& db) {
        db.WriteUcmSessionId(9);
        db.WriteDatabaseFormatIdentifier("Serialization-Layout_1.0");
    });
    capture_.Clear();
    auto db = Open();
    ASSERT_TRUE(db);
    EXPECT_FALSE(capture_.Contains("Writing key"));
    uint32_t session = 0;
    EXPECT_TRUE(db->ReadUcmSessionId(session));
    EXPECT_EQ(session, 9U);
}

TEST_F(CreatePersistentDataStorageTest, AnUnstampedDatabaseGetsTheFormatAndKeepsItsItems) {
    Seed([](PersistentDataStorage& db) {
        db.WriteSWupdateState(SWupdateState::INSTALL_COMPLETE);
        db.WriteInstalledLogicalBlocks({TestBlock(1), TestBlock(2)});
    });
    ASSERT_TRUE(Open());
    // A fresh open of the medium sees the stamp: it was synced.
    auto db = BuildPersistentDataStorage(kDatabaseName, CreateAraPersistency);
    const DbSnapshot medium = DbSnapshot::Of(*db);
    EXPECT_EQ(medium.format, "Serialization-Layout_1.0");
    EXPECT_EQ(medium.state, SWupdateState::INSTALL_COMPLETE);
    EXPECT_EQ(medium.installedBlocks, (LogicalBlocks{TestBlock(1), TestBlock(2)}));
}

TEST_F(CreatePersistentDataStorageTest, MigratesALegacyDatabaseWrittenInTheLegacyLayout) {
    LegacyDatabaseWriter::Typical().Write(kDatabaseName);
    auto db = Open();
    ASSERT_TRUE(db);
    const DbSnapshot s = DbSnapshot::Of(*db);
    EXPECT_EQ(s.sessionId, 0x01020304U);
    EXPECT_EQ(s.state, SWupdateState::INSTALL_COMPLETE);
    EXPECT_EQ(s.partition, PartitionEnum::B);
    EXPECT_EQ(s.installedEcuInfo, EcuInfo::ReprogrammableAndConsistent);
    EXPECT_EQ(s.updatedEcuInfo, EcuInfo::ProgrammingNotConsistent);
    EXPECT_EQ(s.format, "Serialization-Layout_1.0");
    ASSERT_EQ(s.installedBlocks.size(), 2U);
    ASSERT_EQ(s.updatedBlocks.size(), 1U);
    const LogicalBlock& first = s.installedBlocks[0];
    EXPECT_EQ(first.m_id, 0x11);
    EXPECT_EQ(first.m_programmingAttempts, 0x0102);
    EXPECT_EQ(first.m_lockValue, 0xA0B0);
    EXPECT_EQ(first.m_fingerPrint.m_serial, (std::array<uint8_t, 6>{{1, 2, 3, 4, 5, 6}}));
    EXPECT_EQ(first.m_fingerPrint.m_date, (std::array<uint8_t, 3>{{0x24, 0x05, 0x17}}));
    EXPECT_EQ(first.m_fingerPrint.m_status, 0x01);
    EXPECT_EQ(first.m_rfsMinVersion, (std::array<uint8_t, 4>{{'0', '1', '2', '3'}}));
    EXPECT_EQ(first.m_IVD, LogicalBlock::IVD());
    EXPECT_EQ(s.installedBlocks[1].m_id, 0xC8);
    EXPECT_EQ(s.updatedBlocks[0], s.installedBlocks[1]);
    EXPECT_EQ(KeysOnMedium(), MigratedKeys());
}

TEST_F(CreatePersistentDataStorageTest, AnyOneLegacyKeyMigratesTheDefaults) {
    LegacyDatabaseWriter().Size("UpdatedEcuInfoSize", 102).Write(kDatabaseName);
    auto db = Open();
    ASSERT_TRUE(db);
    DbSnapshot expected;
    expected.hasSessionId = true;
    expected.hasState = true;
    expected.hasPartition = true;
    expected.partition = PartitionEnum::UNKNOWN;
    expected.hasUpdatedBlocks = true;
    expected.hasInstalledBlocks = true;
    expected.hasUpdatedEcuInfo = true;
    expected.hasInstalledEcuInfo = true;
    expected.hasFormat = true;
    expected.format = "Serialization-Layout_1.0";
    EXPECT_EQ(DbSnapshot::Of(*db), expected);
    EXPECT_EQ(KeysOnMedium(), MigratedKeys());
}

TEST_F(CreatePersistentDataStorageTest, ALegacyDatabaseWithADuplicateBlockIsMigratedAndRepaired) {
    LegacyBlockImage block;
    block.id = 7;
    LegacyDatabaseWriter::Typical().InstalledBlocks({block, block}).Write(kDatabaseName);
    auto db = Open();
    ASSERT_TRUE(db);
    EXPECT_TRUE(capture_.Contains(Level::kError, "Found duplicated block in database with ID 7"));
    const DbSnapshot s = DbSnapshot::Of(*db);
    EXPECT_FALSE(s.hasInstalledBlocks);
    EXPECT_FALSE(s.hasUpdatedBlocks);
    EXPECT_FALSE(s.hasInstalledEcuInfo);
    EXPECT_FALSE(s.hasUpdatedEcuInfo);
    EXPECT_EQ(s.sessionId, 0x01020304U);
    EXPECT_EQ(s.state, SWupdateState::INSTALL_COMPLETE);
    EXPECT_EQ(KeysOnMedium(), (std::vector<std::string>{"DatabaseFormat", "SER_SwUpdateState", "SER_UcmSessionId",
                                                        "SER_UpdateForPartition"}));
}

TEST_F(CreatePersistentDataStorageTest, AnUndecodableItemIsRemovedAndTheRestOpens) {
    const struct {
        const char* key;
        std::vector<uint8_t> stored;
        bool (ReadOnlyPersistentDataStorage::*has)() const;
    } cases[] = {
        // Strategy indicator bytes that disagree: unusable contents.
        {DatabaseKeys::kSwUpdateState, {0x05, 0x07, 0x01}, &ReadOnlyPersistentDataStorage::HasSWupdateState},
        // Too short to hold a strategy indicator; a dropped marker means
        // "not applied", whereas a failed open would stop every start.
        {DatabaseKeys::kEmergencyApplied, {0x01}, &ReadOnlyPersistentDataStorage::HasEmergencyApplied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        testsupport::EraseDatabase();
        Seed([](PersistentDataStorage& db) {
            db.WriteUcmSessionId(12);
            db.WriteInstalledLogicalBlocks({TestBlock(1)});
            db.WriteDatabaseFormatIdentifier("Serialization-Layout_1.0");
        });
        {
            auto raw = CreateAraPersistency(kDatabaseName);
            ASSERT_TRUE(raw->Set(c.key, c.stored));
            ASSERT_TRUE(raw->Persist());
        }
        capture_.Clear();
        auto db = Open();
        ASSERT_TRUE(db);
        EXPECT_TRUE(capture_.Contains(Level::kError, c.key));
        EXPECT_FALSE(((*db).*c.has)());
        uint32_t session = 0;
        EXPECT_TRUE(db->ReadUcmSessionId(session));
        EXPECT_EQ(session, 12U);
        LogicalBlocks installed;
        EXPECT_TRUE(db->ReadInstalledLogicalBlocks(installed));
        EXPECT_EQ(installed, LogicalBlocks{TestBlock(1)});
        // The removal was synced.
        EXPECT_EQ(KeysOnMedium(),
                  (std::vector<std::string>{"DatabaseFormat", "SER_InstalledLogicalBlocks", "SER_UcmSessionId"}));
    }
}

// A block list is refused as a whole when one element is of another layout;
// the log names that element, so the loss of the list can be traced.
TEST_F(CreatePersistentDataStorageTest, ARefusedBlockListNamesTheElementThatFailed) {
    const struct {
        std::size_t offset;  // in the encoded list of two blocks (header 4 bytes, 66 per block)
        uint8_t value;
        std::size_t cut;  // bytes kept, 0 for all
        std::string expected;
    } cases[] = {
        {5, 0x03, 0, "element 1 of 2 cannot be decoded, its marker is 3, not 1"},
        {71, 0x02, 0, "element 2 of 2 cannot be decoded, its marker is 2, not 1"},
        {0, 0x00, 100, "element 2 of 2 cannot be decoded, it is truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        testsupport::EraseDatabase();
        Seed([](PersistentDataStorage& db) {
            db.WriteUcmSessionId(12);
            db.WriteDatabaseFormatIdentifier("Serialization-Layout_1.0");
        });
        std::vector<uint8_t> bytes = EncodeLogicalBlocks({TestBlock(1), TestBlock(2)});
        ASSERT_EQ(bytes.size(), 4U + 2U * 66U);
        if (c.offset != 0) {
            bytes[c.offset] = c.value;
        }
        if (c.cut != 0) {
            bytes.resize(c.cut);
        }
        {
            // Stored with the storage framing, as the typed layer would.
            auto framed = CreateSafePersistency(CreateAraPersistency(kDatabaseName));
            ASSERT_TRUE(framed->Set(DatabaseKeys::kInstalledLogicalBlocks, bytes));
            ASSERT_TRUE(framed->Persist());
        }
        capture_.Clear();
        auto db = Open();
        ASSERT_TRUE(db);
        EXPECT_TRUE(capture_.Contains(Level::kError, "Logical block list refused: " + c.expected)) << capture_.Dump();
        EXPECT_TRUE(capture_.Contains(Level::kError,
                                      "Database item 'SER_InstalledLogicalBlocks' cannot be decoded; removing it"));
        EXPECT_FALSE(db->HasInstalledLogicalBlocks());
    }
}

TEST_F(CreatePersistentDataStorageTest, ADatabaseThatCannotBeLoadedIsNotOpenedAndKeepsItsItems) {
    Seed([](PersistentDataStorage& db) { db.WriteUcmSessionId(12); });
    // The medium delivers no value at all: a storage fault, not bad contents.
    hook::InjectFailure(hook::Operation::kGetValue, 100000);
    EXPECT_FALSE(Open());
    hook::Reset();
    EXPECT_EQ(KeysOnMedium(), std::vector<std::string>{"SER_UcmSessionId"});
    EXPECT_TRUE(Open());
}

TEST_F(CreatePersistentDataStorageTest, HandsTheRawStorageOverToTheStack) {
    std::shared_ptr<PermanentStorage> raw = CreateAraPersistency(kDatabaseName);
    std::weak_ptr<PermanentStorage> watch = raw;
    auto db = OpenPersistentDataStorage(DatabaseConfiguration(), raw);
    ASSERT_TRUE(db);
    EXPECT_FALSE(raw);
    EXPECT_FALSE(watch.expired());
    db.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(CreatePersistentDataStorageTest, FactoryFailuresPassToTheCaller) {
    EXPECT_THROW(CreatePersistentDataStorage(DatabaseConfiguration(), StorageFactory()), std::bad_function_call);
    hook::InjectFailure(hook::Operation::kOpen, 1);
    EXPECT_THROW(Open(), std::exception);
    EXPECT_FALSE(CreatePersistentDataStorage(nullptr, CreateAraPersistency));
}

TEST_F(CreatePersistentDataStorageTest, AReconnectKeepsTheFastShutdownGuard) {
    auto db = Open();
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE));
    ASSERT_TRUE(db->SyncToStorage());
    FastShutDown::Set(true);
    // The refused write reconnects; the new stack refuses as well.
    EXPECT_FALSE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE_PREPARED4SD));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Reconnecting database 'velmora_db' due to flash corruption"));
    capture_.Clear();
    EXPECT_FALSE(db->SyncToStorage());
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "not executed due to FastShutDown"));
    FastShutDown::Set(false);
    ASSERT_TRUE(db->SyncToStorage());
    auto reopened = Open();
    ASSERT_TRUE(reopened);
    SWupdateState state = SWupdateState::INVALID;
    EXPECT_TRUE(reopened->ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::INSTALL_COMPLETE_PREPARED4SD);
}

TEST_F(CreatePersistentDataStorageTest, AStoreFailureDuringTheMigrationLeavesNoLegacyKeyBehind) {
    LegacyDatabaseWriter::Typical().Write(kDatabaseName);
    // The first migrated item is refused: the stack reconnects to the medium,
    // which still holds the legacy keys.
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    auto db = Open();
    ASSERT_TRUE(db);
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Reconnecting database 'velmora_db' due to flash corruption"));
    EXPECT_EQ(KeysOnMedium(), MigratedKeys());

    // A later start must not migrate the stale legacy values over newer state.
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::TRANSFER_IN_PROGRESS));
    ASSERT_TRUE(db->SyncToStorage());
    db.reset();
    auto reopened = Open();
    ASSERT_TRUE(reopened);
    SWupdateState state = SWupdateState::INVALID;
    EXPECT_TRUE(reopened->ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::TRANSFER_IN_PROGRESS);
}

// After the migration is synced no legacy key is left: a reconnect of that run
// must not fail on a platform that refuses to remove an absent key.
TEST_F(CreatePersistentDataStorageTest, EveryReconnectAfterAMigrationSucceedsOnAStrictPlatform) {
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict platform" : "lenient platform");
        testsupport::EraseDatabase();
        hook::StrictRemoval(strict);
        LegacyDatabaseWriter::Typical().Write(kDatabaseName);
        auto db = Open();
        ASSERT_TRUE(db);
        ASSERT_EQ(KeysOnMedium(), MigratedKeys());
        const SWupdateState states[] = {SWupdateState::TRANSFER_IN_PROGRESS, SWupdateState::INSTALL_IN_PROGRESS};
        for (const SWupdateState state : states) {
            capture_.Clear();
            hook::InjectFailure(hook::Operation::kSetValue, 1);
            EXPECT_TRUE(db->WriteSWupdateState(state));
            EXPECT_TRUE(capture_.Contains(Level::kWarn, "Reconnecting database 'velmora_db' due to flash corruption"));
            EXPECT_FALSE(capture_.Contains(Level::kError, "Removing legacy key")) << capture_.Dump();
            ASSERT_TRUE(db->SyncToStorage());
        }
        db.reset();
        auto reopened = Open();
        ASSERT_TRUE(reopened);
        SWupdateState state = SWupdateState::INVALID;
        EXPECT_TRUE(reopened->ReadSWupdateState(state));
        EXPECT_EQ(state, SWupdateState::INSTALL_IN_PROGRESS);
    }
}

TEST_F(CreatePersistentDataStorageTest, AMigrationWhoseLegacyKeysCannotBeRemovedIsNotOpened) {
    LegacyDatabaseWriter::Typical().Write(kDatabaseName);
    const std::vector<std::string> legacy = KeysOnMedium();
    hook::InjectFailure(hook::Operation::kRemoveAllKeys, 1);
    EXPECT_FALSE(Open());
    EXPECT_EQ(KeysOnMedium(), legacy);
    // The retry migrates.
    ASSERT_TRUE(Open());
    EXPECT_EQ(KeysOnMedium(), MigratedKeys());
}

}  // namespace
