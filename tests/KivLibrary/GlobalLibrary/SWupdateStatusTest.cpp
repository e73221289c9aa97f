#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"
#include "KivLibrary/Persistency/SafePersistency.h"
#include "KivLibrary/Persistency/SmartPersistency.h"
#include "platform/ara/per/key_value_storage.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testsupport::Level;
using S = SWupdateState;

constexpr const char* kDatabase = "swupd_status_test";

// The typed database over the platform's key-value storage stand-in.
struct Database {
    std::shared_ptr<PermanentStorage> raw;
    std::shared_ptr<PersistentDataStorage> typed;
};

Database OpenDatabase() {
    Database db;
    db.raw = CreateAraPersistency(kDatabase);
    auto safe = std::make_shared<SafePersistency>(
        SafePersistency::StrategyMap{{"SER_SwUpdateState", StorageStrategyType::SimpleStorageStrategy}}, db.raw);
    db.typed = std::make_shared<PersistentDataStorageImpl>(std::make_shared<OnChangeStorage>(safe));
    return db;
}

// Peer form and "vm_status" text of every state, and the expected transitions over peer forms.
const std::vector<std::pair<int, std::string>> kPeer = {
    {1, "invalid"},      {2, "idle"},      {3, "transfer_prog"}, {4, "install_prog"},
    {5, "install_comp"}, {6, "copy_prog"}, {6, "copy_prog"},     {6, "copy_prog"},
    {6, "copy_prog"},    {6, "copy_prog"}, {5, "install_comp"},
};
const std::set<std::pair<int, int>> kAllowedPeer = {
    {1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {2, 2}, {2, 3}, {2, 6}, {3, 3},
    {3, 4}, {3, 6}, {4, 4}, {4, 5}, {4, 6}, {5, 5}, {5, 6}, {6, 2}, {6, 6},
};

class SWupdateStatusTest : public ::testing::Test {
protected:
    SWupdateStatusTest() { box.MakeDir("sys/swupd"); }
    ~SWupdateStatusTest() override {
        FastShutDown::Set(false);
        ara::per::testhook::Reset();
    }

    std::string VmStatus() const { return box.ReadFile("sys/swupd/vm_status"); }
    S Persisted(PersistentDataStorage& db) {
        S value = S::INVALID;
        EXPECT_TRUE(db.ReadSWupdateState(value));
        return value;
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
};

TEST_F(SWupdateStatusTest, EveryTransitionIsCarriedOutWarnedOnlyOutsideTheTable) {
    Database db = OpenDatabase();
    for (uint32_t from = 0; from <= 10; ++from) {
        for (uint32_t to = 0; to <= 10; ++to) {
            SWupdateStatus status(db.typed);
            if (from != 0) {
                status.SetStatus(static_cast<S>(from));
            }
            capture.Clear();
            const std::string context = toString(static_cast<S>(from)) + " -> " + toString(static_cast<S>(to));

            EXPECT_TRUE(status.SetStatus(static_cast<S>(to))) << context;

            const bool allowed = kAllowedPeer.count({kPeer[from].first, kPeer[to].first}) != 0;
            EXPECT_EQ(SWupdateStatus::IsTransitionAllowed(static_cast<S>(from), static_cast<S>(to)), allowed)
                << context;
            EXPECT_EQ(capture.Contains(Level::kWarn, "==================== SW Update Status NOT ALLOWED from: " +
                                                         toString(static_cast<S>(from)) +
                                                         " to: " + toString(static_cast<S>(to)) + "["),
                      !allowed)
                << context;
            EXPECT_TRUE(capture.Contains(
                Level::kInfo, "+++==================== SW Update Status old: " + toString(static_cast<S>(from)) +
                                  " new: " + toString(static_cast<S>(to)) + "===================="))
                << context;
            EXPECT_EQ(status.GetStatus(), static_cast<S>(to)) << context;
            EXPECT_EQ(VmStatus(), kPeer[to].second) << context;
            EXPECT_EQ(Persisted(*db.typed), static_cast<S>(to)) << context;
        }
    }
}

TEST_F(SWupdateStatusTest, NamedEdgeTransitions) {
    Database db = OpenDatabase();
    SWupdateStatus status(db.typed);
    status.SetStatus(S::IDLE);
    capture.Clear();
    status.SetStatus(S::TRANSFER_IN_PROGRESS);
    EXPECT_FALSE(capture.Contains(Level::kWarn, "NOT ALLOWED"));
    status.SetStatus(S::IDLE);
    EXPECT_TRUE(capture.Contains(Level::kWarn, "NOT ALLOWED from: TRANSFER_IN_PROGRESS to: IDLE"));
    EXPECT_EQ(status.GetStatus(), S::IDLE);
    EXPECT_EQ(VmStatus(), "idle");
}

TEST_F(SWupdateStatusTest, OutOfRangeStateIsPublishedAsInvalid) {
    Database db = OpenDatabase();
    SWupdateStatus status(db.typed);
    status.SetStatus(S::IDLE);
    capture.Clear();
    status.SetStatus(static_cast<S>(11));
    EXPECT_EQ(VmStatus(), "invalid");
    EXPECT_TRUE(capture.Contains(Level::kWarn, "NOT ALLOWED from: IDLE to: ["));
    EXPECT_TRUE(capture.Contains(Level::kError, "invalid input state: toString(SWupdateState)"));
}

TEST_F(SWupdateStatusTest, StatusSurvivesReopeningTheDatabase) {
    {
        Database db = OpenDatabase();
        SWupdateStatus status(db.typed);
        status.SetStatus(S::INSTALL_COMPLETE_PREPARED4SD);
        ASSERT_TRUE(db.typed->SyncToStorage());
    }
    std::remove(box.Path("sys/swupd/vm_status").c_str());
    capture.Clear();
    Database db = OpenDatabase();
    SWupdateStatus status(db.typed);
    S read = S::INVALID;
    status.ReadStatus(read);
    EXPECT_EQ(read, S::INSTALL_COMPLETE_PREPARED4SD);
    EXPECT_EQ(status.GetStatus(), S::INSTALL_COMPLETE_PREPARED4SD);
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "===++++++++++++++++++ SW Read Status old: INVALID new: "
                                 "INSTALL_COMPLETE_PREPARED4SD++++++++++++++++++"));
    // Restoring the state publishes nothing.
    EXPECT_FALSE(capture.Contains("Writing SW update status to RT"));
    EXPECT_EQ(VmStatus(), "");
}

TEST_F(SWupdateStatusTest, ReadStatusRepairsMissingOutOfRangeAndCorruptValues) {
    const struct {
        const char* what;
        std::function<void(Database&)> prepare;
    } cases[] = {
        {"missing", [](Database& db) { db.typed->RemoveSWupdateState(); }},
        {"zero", [](Database& db) { db.typed->WriteSWupdateState(S::INVALID); }},
        {"eleven", [](Database& db) { db.typed->WriteSWupdateState(static_cast<S>(11)); }},
        {"truncated bytes", [](Database& db) { db.raw->Set("SER_SwUpdateState", std::vector<uint8_t>{0x00}); }},
    };
    for (const auto& c : cases) {
        {
            Database db = OpenDatabase();
            db.typed->WriteSWupdateState(S::ROLLBACK_IN_PROGRESS);
            c.prepare(db);
            ASSERT_TRUE(db.raw->Persist());
        }
        Database db = OpenDatabase();
        SWupdateStatus status(db.typed);
        S read = S::ROLLBACK_IN_PROGRESS;
        status.ReadStatus(read);
        EXPECT_EQ(read, S::IDLE) << c.what;
        EXPECT_EQ(status.GetStatus(), S::IDLE) << c.what;
        EXPECT_EQ(Persisted(*db.typed), S::IDLE) << c.what;
    }
}

TEST_F(SWupdateStatusTest, WithoutDatabaseTheStateStillChangesButIsNotPersisted) {
    SWupdateStatus status(nullptr);
    EXPECT_TRUE(capture.Contains(Level::kError, "!!!!!!!!!!! NO Persistent DB for SW update status["));
    EXPECT_FALSE(status.SetStatus(S::TRANSFER_IN_PROGRESS));
    EXPECT_TRUE(capture.Contains(Level::kError, "!!!!!!!!!!! NO Persistent DB for SW update status: WRITE"));
    EXPECT_EQ(status.GetStatus(), S::TRANSFER_IN_PROGRESS);
    EXPECT_EQ(VmStatus(), "transfer_prog");

    S read = S::IDLE;
    status.ReadStatus(read);
    EXPECT_TRUE(capture.Contains(Level::kError, "!!!!!!!!!!! NO Persistent DB for SW update status: READ"));
    EXPECT_EQ(read, S::INVALID);
    EXPECT_EQ(status.GetStatus(), S::INVALID);
}

TEST_F(SWupdateStatusTest, RefusedDatabaseWriteIsReported) {
    Database db = OpenDatabase();
    SWupdateStatus status(db.typed);
    ara::per::testhook::InjectFailure(ara::per::testhook::Operation::kSetValue, 1);
    EXPECT_FALSE(status.SetStatus(S::TRANSFER_IN_PROGRESS));
    EXPECT_EQ(status.GetStatus(), S::TRANSFER_IN_PROGRESS);
    EXPECT_EQ(VmStatus(), "transfer_prog");
}

// The state in memory and on the medium must not drift apart after a
// reconnect failed once: the next change reaches the cache, and a sync by any
// writer makes it durable.
TEST_F(SWupdateStatusTest, AChangeAfterAFailedReconnectReachesTheMedium) {
    namespace hook = ara::per::testhook;
    bool factoryFails = false;
    auto db = std::make_shared<SmartPersistency>(
        BuildPersistentDataStorage(kDatabase, CreateAraPersistency), kDatabase,
        [&factoryFails](const std::string& name) -> std::shared_ptr<PersistentDataStorage> {
            return factoryFails ? nullptr : BuildPersistentDataStorage(name, CreateAraPersistency);
        });
    SWupdateStatus status(db);
    ASSERT_TRUE(status.SetStatus(S::INSTALL_IN_PROGRESS));
    ASSERT_TRUE(db->SyncToStorage());

    factoryFails = true;
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(db->WriteUcmSessionId(7));
    factoryFails = false;

    EXPECT_TRUE(status.SetStatus(S::INSTALL_COMPLETE));
    ASSERT_TRUE(db->SyncToStorage());
    EXPECT_EQ(Persisted(*OpenDatabase().typed), S::INSTALL_COMPLETE);
}

TEST_F(SWupdateStatusTest, ProgrammingAllowedOnlyInIdleOutsideFastShutdown) {
    SWupdateStatus status(OpenDatabase().typed);
    for (uint32_t state = 0; state <= 10; ++state) {
        status.SetStatus(static_cast<S>(state));
        EXPECT_EQ(status.IsProgrammingAllowed(), state == 1) << state;
    }
    status.SetStatus(S::IDLE);
    FastShutDown::Set(true);
    EXPECT_FALSE(status.IsProgrammingAllowed());
    FastShutDown::Set(false);
    EXPECT_TRUE(status.IsProgrammingAllowed());
}

TEST_F(SWupdateStatusTest, SwUpdateFlagFollowsTheRtSide) {
    SWupdateStatus status(nullptr);
    EXPECT_EQ(status.GetSwUpdateFlag(), 3);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "------------------ SW Get Flag old: INVALID new: NO["));

    box.WriteFile("sys/swupd/rcar_magic", "swUpDvCa");
    box.WriteFile("sys/swupd/rcar_version", std::string("\x01\x00\x00\x00", 4));
    box.WriteFile("sys/swupd/rcar_status", "prog_allowed");
    EXPECT_EQ(status.GetSwUpdateFlag(), 2);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "------------------ SW Get Flag old: NO new: YES["));
}

TEST_F(SWupdateStatusTest, ConcurrentChangesKeepMemoryFileAndDatabaseInStep) {
    Database db = OpenDatabase();
    SWupdateStatus status(db.typed);
    auto toggle = [&status](S a, S b) {
        for (int i = 0; i < 50; ++i) {
            status.SetStatus(i % 2 == 0 ? a : b);
        }
    };
    std::thread first(toggle, S::INSTALL_COMPLETE, S::INSTALL_COMPLETE_PREPARED4SD);
    std::thread second(toggle, S::TRANSFER_IN_PROGRESS, S::INSTALL_IN_PROGRESS);
    first.join();
    second.join();
    const S last = status.GetStatus();
    EXPECT_EQ(VmStatus(), kPeer[static_cast<uint32_t>(last)].second);
    EXPECT_EQ(Persisted(*db.typed), last);
}

}  // namespace
