#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/SmartPersistency.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using testsupport::DbSnapshot;
using testsupport::EraseDatabase;
using testsupport::kDatabaseName;
using testsupport::Level;
using testsupport::TestBlock;
namespace hook = ara::per::testhook;

class SmartPersistencyTest : public testsupport::StorageTest {
protected:
    enum class FactoryMode { kOpen, kEmpty, kThrow };

    std::shared_ptr<SmartPersistency> Make() {
        return std::make_shared<SmartPersistency>(
            BuildPersistentDataStorage(kDatabaseName, CreateAraPersistency), kDatabaseName,
            [this](const std::string& name) -> std::shared_ptr<PersistentDataStorage> {
                ++factoryCalls_;
                factoryName_ = name;
                if (mode_ == FactoryMode::kThrow) {
                    throw std::runtime_error("medium gone");
                }
                if (mode_ == FactoryMode::kEmpty) {
                    return nullptr;
                }
                return BuildPersistentDataStorage(name, CreateAraPersistency);
            });
    }

    // What a fresh open of the medium holds (read past the fast-shutdown guard).
    DbSnapshot OnMedium() {
        const bool shutdown = FastShutDown::IsSet();
        FastShutDown::Set(false);
        struct Restore {
            bool shutdown;
            ~Restore() { FastShutDown::Set(shutdown); }
        } restore{shutdown};
        auto db = BuildPersistentDataStorage(kDatabaseName, CreateAraPersistency);
        return DbSnapshot::Of(*db);
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    std::atomic<int> factoryCalls_{0};
    std::string factoryName_;
    FactoryMode mode_ = FactoryMode::kOpen;
};

TEST_F(SmartPersistencyTest, LoadsTheCacheOnceAndAnswersFromIt) {
    auto db = Make();
    EXPECT_FALSE(db->HasUcmSessionId());
    EXPECT_EQ(capture_.Count("Loading database cache from database..."), 1U);
    EXPECT_TRUE(capture_.Contains("Loaded database cache. Result is "));
    EXPECT_TRUE(capture_.Contains("[UPDATED]Count: 0"));

    // From now on reads never reach the storage.
    hook::InjectFailure(hook::Operation::kHasKey, 1000);
    hook::InjectFailure(hook::Operation::kGetValue, 1000);
    EXPECT_FALSE(db->HasUcmSessionId());
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::TRANSFER_IN_PROGRESS));
    SWupdateState state = SWupdateState::INVALID;
    ASSERT_TRUE(db->ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::TRANSFER_IN_PROGRESS);
    ASSERT_TRUE(db->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
    ASSERT_TRUE(db->RemoveUpdatedEcuInfo());
    EXPECT_FALSE(db->HasUpdatedEcuInfo());
    EXPECT_EQ(capture_.Count("Loading database cache from database..."), 1U);
    EXPECT_EQ(factoryCalls_, 0);
}

TEST_F(SmartPersistencyTest, AFailedStoreReconnectsAndRewritesTheWholeCache) {
    {
        auto seed = BuildPersistentDataStorage(kDatabaseName, CreateAraPersistency);
        ASSERT_TRUE(seed->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
        ASSERT_TRUE(seed->WriteInstalledLogicalBlocks({TestBlock(1)}));
        ASSERT_TRUE(seed->SyncToStorage());
    }
    auto db = Make();
    ASSERT_TRUE(db->WriteUcmSessionId(17));
    ASSERT_TRUE(db->RemoveUpdatedEcuInfo());
    // The storage refuses the next write: the new storage, opened from the
    // medium, still holds the removed item and lacks the unsynced session id.
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_TRUE(db->WriteSWupdateState(SWupdateState::TRANSFER_IN_PROGRESS));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Reconnecting database 'velmora_db' due to flash corruption"));
    EXPECT_EQ(factoryCalls_, 1);
    EXPECT_EQ(factoryName_, kDatabaseName);
    EXPECT_TRUE(capture_.Contains("Wrote database cache. Result is "));
    ASSERT_TRUE(db->SyncToStorage());

    const DbSnapshot medium = OnMedium();
    EXPECT_EQ(medium.sessionId, 17U);
    EXPECT_EQ(medium.state, SWupdateState::TRANSFER_IN_PROGRESS);
    EXPECT_FALSE(medium.hasUpdatedEcuInfo);
    EXPECT_EQ(medium.installedBlocks, LogicalBlocks{TestBlock(1)});
}

TEST_F(SmartPersistencyTest, AFailedLoadReconnectsOnceAndRetries) {
    {
        auto seed = BuildPersistentDataStorage(kDatabaseName, CreateAraPersistency);
        ASSERT_TRUE(seed->WriteUcmSessionId(5));
        ASSERT_TRUE(seed->SyncToStorage());
    }
    auto db = Make();
    // The existence check reads the value once, then the load reads it.
    hook::InjectFailure(hook::Operation::kGetValue, 2);
    uint32_t session = 0;
    EXPECT_TRUE(db->ReadUcmSessionId(session));
    EXPECT_EQ(session, 5U);
    EXPECT_EQ(factoryCalls_, 1);
}

TEST_F(SmartPersistencyTest, AnEmptyOrThrowingFactoryIsAFailedReconnectAndTheNextOperationTriesAgain) {
    auto db = Make();
    ASSERT_TRUE(db->WriteUcmSessionId(1));

    mode_ = FactoryMode::kEmpty;
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(db->WriteUcmSessionId(2));
    EXPECT_EQ(factoryCalls_, 1);
    // No storage left: nothing may touch it, every operation (the question
    // for the storage too) keeps failing cleanly and tries to reconnect again.
    EXPECT_FALSE(db->IsStorageAvailable());
    EXPECT_EQ(factoryCalls_, 2);
    mode_ = FactoryMode::kThrow;
    EXPECT_FALSE(db->WriteUpdateForPartition(PartitionEnum::B));
    EXPECT_EQ(factoryCalls_, 3);
    EXPECT_TRUE(capture_.Contains(Level::kError, "medium gone"));
    EXPECT_FALSE(db->SyncToStorage());
    EXPECT_EQ(factoryCalls_, 4);

    // Reads are served from the cache, which kept every accepted value.
    uint32_t session = 0;
    EXPECT_TRUE(db->ReadUcmSessionId(session));
    EXPECT_EQ(session, 2U);

    mode_ = FactoryMode::kOpen;
    EXPECT_TRUE(db->SyncToStorage());
    EXPECT_EQ(factoryCalls_, 5);
    const DbSnapshot medium = OnMedium();
    EXPECT_EQ(medium.sessionId, 2U);
    EXPECT_EQ(medium.partition, PartitionEnum::B);
}

TEST_F(SmartPersistencyTest, TheQuestionForTheStorageReconnectsAfterAFailedReconnect) {
    auto db = Make();
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::TRANSFER_IN_PROGRESS));
    ASSERT_TRUE(db->SyncToStorage());
    mode_ = FactoryMode::kEmpty;
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(db->WriteUcmSessionId(9));

    // A caller that asks before it writes is answered by a new attempt, and
    // the reconnected storage receives the whole cache with the next write.
    mode_ = FactoryMode::kOpen;
    EXPECT_TRUE(db->IsStorageAvailable());
    EXPECT_EQ(factoryCalls_, 2);
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::INSTALL_IN_PROGRESS));
    ASSERT_TRUE(db->SyncToStorage());
    EXPECT_EQ(factoryCalls_, 2);
    const DbSnapshot medium = OnMedium();
    EXPECT_EQ(medium.state, SWupdateState::INSTALL_IN_PROGRESS);
    EXPECT_EQ(medium.sessionId, 9U);
}

// A platform that refuses to remove an absent key must not fail the
// whole-cache rewrite of a reconnect, nor the removal of an absent item.
TEST_F(SmartPersistencyTest, OnlyItemsTheStorageHoldsAreRemoved) {
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict platform" : "lenient platform");
        EraseDatabase();
        hook::StrictRemoval(strict);
        auto db = Make();
        ASSERT_TRUE(db->WriteUcmSessionId(17));
        ASSERT_TRUE(db->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
        ASSERT_TRUE(db->SyncToStorage());
        EXPECT_TRUE(db->RemoveUpdatedEcuInfo());
        EXPECT_TRUE(db->RemoveUpdatedEcuInfo());
        EXPECT_TRUE(db->RemoveInstalledLogicalBlocks());

        // The reconnected storage, opened from the medium, still holds the
        // removed item; every other absent item is absent there too.
        hook::InjectFailure(hook::Operation::kSetValue, 1);
        EXPECT_TRUE(db->WriteSWupdateState(SWupdateState::TRANSFER_IN_PROGRESS));
        EXPECT_TRUE(capture_.Contains("Wrote database cache. Result is true"));
        capture_.Clear();
        // Nothing is left dirty: the next write goes alone, and the sync holds all.
        EXPECT_TRUE(db->WriteUpdateForPartition(PartitionEnum::B));
        EXPECT_FALSE(capture_.Contains("Writing database cache to database..."));
        ASSERT_TRUE(db->SyncToStorage());
        const DbSnapshot medium = OnMedium();
        EXPECT_EQ(medium.sessionId, 17U);
        EXPECT_EQ(medium.state, SWupdateState::TRANSFER_IN_PROGRESS);
        EXPECT_EQ(medium.partition, PartitionEnum::B);
        EXPECT_FALSE(medium.hasUpdatedEcuInfo);
        EXPECT_FALSE(medium.hasInstalledBlocks);
    }
}

TEST_F(SmartPersistencyTest, ValuesAcceptedDuringFastShutdownAreWrittenByTheNextStoreAfterwards) {
    auto db = Make();
    ASSERT_TRUE(db->WriteInstalledLogicalBlocks({TestBlock(4)}));
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE));
    ASSERT_TRUE(db->SyncToStorage());

    FastShutDown::Set(true);
    EXPECT_FALSE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE_PREPARED4SD));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "WriteSWupdateState not executed due to FastShutDown"));
    EXPECT_FALSE(db->WriteUcmSessionId(33));
    EXPECT_FALSE(db->SyncToStorage());
    SWupdateState state = SWupdateState::INVALID;
    EXPECT_TRUE(db->ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::INSTALL_COMPLETE_PREPARED4SD);
    // Nothing reached the medium while the guard refused.
    EXPECT_EQ(OnMedium().state, SWupdateState::INSTALL_COMPLETE);
    EXPECT_FALSE(OnMedium().hasSessionId);

    FastShutDown::Set(false);
    const int reconnects = factoryCalls_;
    ASSERT_TRUE(db->WriteUpdateForPartition(PartitionEnum::A));
    EXPECT_EQ(factoryCalls_, reconnects);
    ASSERT_TRUE(db->SyncToStorage());
    const DbSnapshot medium = OnMedium();
    EXPECT_EQ(medium.state, SWupdateState::INSTALL_COMPLETE_PREPARED4SD);
    EXPECT_EQ(medium.sessionId, 33U);
    EXPECT_EQ(medium.partition, PartitionEnum::A);
    EXPECT_EQ(medium.installedBlocks, LogicalBlocks{TestBlock(4)});
}

TEST_F(SmartPersistencyTest, ValuesAcceptedDuringFastShutdownAreWrittenByTheNextSyncAfterwards) {
    auto db = Make();
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE));
    ASSERT_TRUE(db->SyncToStorage());

    FastShutDown::Set(true);
    EXPECT_FALSE(db->RemoveSWupdateState());
    EXPECT_FALSE(db->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
    // After a reconnect during the fast shutdown access is still refused.
    uint32_t session = 0;
    EXPECT_FALSE(db->ReadUcmSessionId(session));

    FastShutDown::Set(false);
    ASSERT_TRUE(db->SyncToStorage());
    const DbSnapshot medium = OnMedium();
    EXPECT_FALSE(medium.hasState);
    EXPECT_EQ(medium.updatedEcuInfo, EcuInfo::ProgrammingNotConsistent);
}

TEST_F(SmartPersistencyTest, SerialisesConcurrentUsers) {
    auto db = Make();
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&db, &failed, t]() {
            for (uint32_t i = 0; i < 50; ++i) {
                bool ok = true;
                switch (t) {
                    case 0:
                        ok = db->WriteUcmSessionId(i);
                        break;
                    case 1:
                        ok = db->WriteInstalledLogicalBlocks({TestBlock(static_cast<uint8_t>(i))});
                        break;
                    case 2: {
                        LogicalBlocks blocks;
                        db->ReadInstalledLogicalBlocks(blocks);
                        ok = blocks.size() <= 1;
                        break;
                    }
                    default:
                        ok = db->SyncToStorage();
                        break;
                }
                if (!ok) {
                    failed = true;
                }
            }
        });
    }
    // A reconnect in the middle replaces the storage under the other users.
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(failed);
    ASSERT_TRUE(db->SyncToStorage());
    const DbSnapshot medium = OnMedium();
    EXPECT_EQ(medium.sessionId, 49U);
    EXPECT_EQ(medium.installedBlocks, LogicalBlocks{TestBlock(49)});
}

}  // namespace
