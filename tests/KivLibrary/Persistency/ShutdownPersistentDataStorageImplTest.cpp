#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/ShutdownPersistentDataStorageImpl.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Level;
namespace hook = ara::per::testhook;

class ShutdownGuardTest : public testsupport::StorageTest {
protected:
    // The guard as the process stacks it, over a fresh open of the medium.
    std::shared_ptr<PersistentDataStorage> Open() {
        return BuildPersistentDataStorage(testsupport::kDatabaseName, CreateAraPersistency);
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
};

TEST_F(ShutdownGuardTest, RefusesEveryReadWriteRemovalAndSyncWhileTheFlagIsSet) {
    auto db = Open();
    ASSERT_TRUE(db->WriteUcmSessionId(7));
    ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE));
    ASSERT_TRUE(db->SyncToStorage());

    FastShutDown::Set(true);
    uint32_t session = 99;
    EXPECT_FALSE(db->ReadUcmSessionId(session));
    EXPECT_EQ(session, 99U);
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "ReadUcmSessionId not executed due to FastShutDown"));
    // Existence checks still answer from the storage.
    EXPECT_TRUE(db->HasSWupdateState());
    EXPECT_TRUE(db->IsStorageAvailable());

    EXPECT_FALSE(db->WriteSWupdateState(SWupdateState::INSTALL_COMPLETE_PREPARED4SD));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "WriteSWupdateState not executed due to FastShutDown"));
    EXPECT_FALSE(db->RemoveUcmSessionId());
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "RemoveUcmSessionId not executed due to FastShutDown"));
    EXPECT_FALSE(db->SyncToStorage());
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "SyncToStorage not executed due to FastShutDown"));

    // Nothing refused reached the storage.
    FastShutDown::Set(false);
    SWupdateState state = SWupdateState::INVALID;
    ASSERT_TRUE(db->ReadSWupdateState(state));
    EXPECT_EQ(state, SWupdateState::INSTALL_COMPLETE);
    EXPECT_TRUE(db->HasUcmSessionId());
}

TEST_F(ShutdownGuardTest, PassesResultsThroughWhileTheFlagIsClear) {
    auto db = Open();
    LogicalBlocks blocks;
    EXPECT_FALSE(db->ReadInstalledLogicalBlocks(blocks));
    EXPECT_TRUE(db->WriteInstalledLogicalBlocks({testsupport::TestBlock(3)}));
    EXPECT_TRUE(db->ReadInstalledLogicalBlocks(blocks));
    EXPECT_EQ(blocks, LogicalBlocks{testsupport::TestBlock(3)});

    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(db->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
    hook::InjectFailure(hook::Operation::kSyncToStorage, 1);
    EXPECT_FALSE(db->SyncToStorage());
    EXPECT_TRUE(db->SyncToStorage());
    EXPECT_FALSE(capture_.Contains("not executed due to FastShutDown"));
}

}  // namespace
