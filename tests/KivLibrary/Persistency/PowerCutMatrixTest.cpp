// Cuts the power after every single storage operation of an update step
// sequence and of a legacy migration, and checks that the next start finds
// either the complete old or the complete new database.
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/KivLibrary/Persistency/LegacyDatabaseWriter.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using testsupport::DatabaseConfiguration;
using testsupport::DbSnapshot;
using testsupport::kDatabaseName;
using testsupport::KeysOnMedium;
using testsupport::kNoCut;
using testsupport::LegacyDatabaseWriter;
using testsupport::PowerCutStorage;
using testsupport::TestBlock;
namespace hook = ara::per::testhook;

class PowerCutMatrixTest : public ::testing::Test {
protected:
    void SetUp() override { hook::Reset(); }
    void TearDown() override { hook::Reset(); }

    // Opens through a raw storage that cuts the power after `cutAfter`
    // operations counted from the start of the open.
    std::shared_ptr<PersistentDataStorage> OpenCounting(std::shared_ptr<PowerCutStorage>& counter,
                                                        std::size_t cutAfter) {
        return CreatePersistentDataStorage(DatabaseConfiguration(), [&counter, cutAfter](const std::string& name) {
            counter = std::make_shared<PowerCutStorage>(CreateAraPersistency(name), cutAfter);
            return counter;
        });
    }

    // The next start: power back, a plain open.
    DbSnapshot Restart() {
        hook::Reset();
        auto db = CreatePersistentDataStorage(DatabaseConfiguration(), CreateAraPersistency);
        EXPECT_TRUE(db);
        return db ? DbSnapshot::Of(*db) : DbSnapshot();
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
};

void SeedInstalledDatabase() {
    testsupport::EraseDatabase();
    auto db = CreatePersistentDataStorage(DatabaseConfiguration(), CreateAraPersistency);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::IDLE));
    ASSERT_TRUE(db->WriteUpdateForPartition(PartitionEnum::A));
    ASSERT_TRUE(db->WriteInstalledLogicalBlocks({TestBlock(1), TestBlock(2)}));
    ASSERT_TRUE(db->WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent));
    ASSERT_TRUE(db->SyncToStorage());
}

void RunUpdateSteps(PersistentDataStorage& db) {
    db.WriteUcmSessionId(77);
    db.WriteSWupdateState(SWupdateState::TRANSFER_IN_PROGRESS);
    db.WriteSWupdateState(SWupdateState::INSTALL_IN_PROGRESS);
    db.WriteSWupdateState(SWupdateState::INSTALL_COMPLETE);
    db.WriteUpdatedLogicalBlocks({TestBlock(1, 2), TestBlock(2, 2)});
    db.SyncToStorage();
}

TEST_F(PowerCutMatrixTest, UpdateStepsLeaveTheOldOrTheNewState) {
    SeedInstalledDatabase();
    const DbSnapshot before = Restart();
    std::shared_ptr<PowerCutStorage> counter;
    std::size_t total = 0;
    DbSnapshot after;
    {
        auto db = OpenCounting(counter, kNoCut);
        ASSERT_TRUE(db);
        const std::size_t start = counter->Count();
        RunUpdateSteps(*db);
        total = counter->Count() - start;
        after = DbSnapshot::Of(*db);
    }
    ASSERT_EQ(after.state, SWupdateState::INSTALL_COMPLETE);
    ASSERT_NE(before, after);
    ASSERT_GT(total, 5U);

    std::size_t oldSeen = 0;
    std::size_t newSeen = 0;
    for (std::size_t k = 0; k <= total; ++k) {
        SeedInstalledDatabase();
        {
            auto db = OpenCounting(counter, kNoCut);
            ASSERT_TRUE(db);
            counter->CutAfter(k);
            if (k == 0) {
                hook::FreezeMedium(true);
            }
            RunUpdateSteps(*db);
        }
        counter.reset();
        const DbSnapshot found = Restart();
        EXPECT_TRUE(found == before || found == after) << "cut after operation " << k << ": " << found;
        oldSeen += found == before ? 1 : 0;
        newSeen += found == after ? 1 : 0;
    }
    EXPECT_GT(oldSeen, 0U);
    EXPECT_EQ(newSeen, 1U);
}

TEST_F(PowerCutMatrixTest, LegacyMigrationLeavesTheLegacyOrTheMigratedDatabase) {
    std::vector<std::string> legacyKeys = LegacyDatabaseWriter::AllKeys();
    std::sort(legacyKeys.begin(), legacyKeys.end());
    const auto isNewLayout = [](const std::vector<std::string>& keys) {
        return !keys.empty() && std::all_of(keys.begin(), keys.end(), [](const std::string& key) {
            return key.compare(0, 4, "SER_") == 0 || key == "DatabaseFormat";
        });
    };

    testsupport::EraseDatabase();
    LegacyDatabaseWriter::Typical().Write(kDatabaseName);
    ASSERT_EQ(KeysOnMedium(), legacyKeys);
    std::shared_ptr<PowerCutStorage> counter;
    std::size_t total = 0;
    DbSnapshot migrated;
    {
        auto db = OpenCounting(counter, kNoCut);
        ASSERT_TRUE(db);
        total = counter->Count();
        migrated = DbSnapshot::Of(*db);
    }
    ASSERT_EQ(migrated.sessionId, 0x01020304U);
    ASSERT_GT(total, 5U);

    std::size_t legacySeen = 0;
    for (std::size_t k = 0; k <= total; ++k) {
        testsupport::EraseDatabase();
        LegacyDatabaseWriter::Typical().Write(kDatabaseName);
        if (k == 0) {
            hook::FreezeMedium(true);
        }
        OpenCounting(counter, k);
        counter.reset();
        hook::Reset();
        const std::vector<std::string> onMedium = KeysOnMedium();
        const bool legacy = onMedium == legacyKeys;
        EXPECT_TRUE(legacy || isNewLayout(onMedium)) << "cut after operation " << k << ": mixed or empty database";
        legacySeen += legacy ? 1 : 0;
        EXPECT_EQ(Restart(), migrated) << "cut after operation " << k;
    }
    EXPECT_GT(legacySeen, 0U);
}

}  // namespace
