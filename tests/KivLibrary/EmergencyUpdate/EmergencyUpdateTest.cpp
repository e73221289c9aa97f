// The emergency update at start-up over the real database stack and the
// logistics files in a sandbox, with power cuts after every storage operation.
#include "KivLibrary/EmergencyUpdate/EmergencyUpdate.h"

#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/KivLibrary/Persistency/LogisticsFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace {

using logisticstest::kActiveDir;
using logisticstest::Logistics;
using logisticstest::WriteLogistics;
using testsupport::DbSnapshot;
using testsupport::kNoCut;
using testsupport::Level;
using testsupport::PowerCutStorage;
namespace hook = ara::per::testhook;

constexpr const char* kMarkerA = "var/run/A/kiv/emergencyInstallInfo.bin";
constexpr const char* kMarkerB = "var/run/B/kiv/emergencyInstallInfo.bin";
constexpr const char* kJournal = "var/run/A/kiv/emergencyInstallInfo.bin.applied";
const std::array<uint8_t, 6> kSerial{{'E', 'M', 'R', 'G', '0', '1'}};
const std::array<uint8_t, 3> kDate{{0x25, 0x01, 0x31}};

std::string Marker() {
    std::string bytes = "HEADER--";
    bytes.append(kSerial.begin(), kSerial.end());
    bytes += "..";
    bytes.append(kDate.begin(), kDate.end());
    return bytes + "trailing";
}

// One start of the process as far as the emergency update goes.
struct ProcessStart {
    // cutAtMarkerRemoval: the power goes just before the first marker file
    // would be removed. appliedWriteFailures: so many writes of the applied
    // marker's key fail.
    ProcessStart(const testsupport::Sandbox& box, std::size_t cutAfter, bool cutAtMarkerRemoval = false,
                 std::size_t appliedWriteFailures = 0) {
        auto failures = std::make_shared<std::size_t>(appliedWriteFailures);
        database = CreatePersistentDataStorage(
            testsupport::DatabaseConfiguration(), [this, failures](const std::string& name) {
                counter = std::make_shared<PowerCutStorage>(CreateAraPersistency(name), kNoCut);
                counter->FailWritesOf(DatabaseKeys::kEmergencyApplied, failures);
                return counter;
            });
        if (!database) {
            return;
        }
        counter->CutAfter(cutAfter);
        configuration = logisticstest::MakeLogisticsConfiguration(box);
        session = std::make_shared<SessionData>(configuration, database, nullptr);
        status = std::make_shared<SWupdateStatus>(database);
        session->SetSWupdateStatus(status);
        SWupdateState restored = SWupdateState::INVALID;
        status->ReadStatus(restored);
        LogisticFileHandler(configuration, database, session).ReadActiveLogistics();
        auto emergency = CreateEmergencyUpdate(configuration, session, database);
        // After the cut the process is gone: no file changes either.
        auto files = EmergencyUpdateImpl::RealFileOperations();
        auto counting = counter;
        emergency->SetFileOperations({[real = files.remove, counting, cutAtMarkerRemoval](const std::string& path) {
            if (cutAtMarkerRemoval && path.size() >= 4 && path.compare(path.size() - 4, 4, ".bin") == 0) {
                counting->CutAfter(0);
            }
            return counting->Frozen() || real(path);
        }});
        detected = emergency->HasEmergencyInstallInfo();
        if (detected) {
            emergency->Check_Database();
        }
    }
    ~ProcessStart() {
        if (session) {
            session->SetSWupdateStatus(nullptr);
        }
    }

    std::shared_ptr<PowerCutStorage> counter;
    std::shared_ptr<PersistentDataStorage> database;
    std::shared_ptr<KivConfiguration> configuration;
    std::shared_ptr<SessionData> session;
    std::shared_ptr<SWupdateStatus> status;
    bool detected = false;
};

LogicalBlock Stored(uint8_t id, uint16_t attempts) {
    LogicalBlock block = testsupport::TestBlock(id, attempts);
    block.m_IVD.m_state = 3;
    block.m_IVD.m_data.fill(0xEE);
    return block;
}

class EmergencyUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        hook::Reset();
        WriteLogistics(box, kActiveDir, "ZenqLogistics_5.json", Logistics().Id(5).Rfs("0005"));
        WriteLogistics(box, kActiveDir, "ZenqLogistics_7.json", Logistics().Id(7).Rfs("0007"));
    }
    void TearDown() override { hook::Reset(); }

    // A database as an earlier run left it: block 5 with 3 attempts, an open
    // UCM session and a partition to update.
    void SeedDatabase(bool withBlocks) {
        testsupport::EraseDatabase();
        auto db = CreatePersistentDataStorage(testsupport::DatabaseConfiguration(), CreateAraPersistency);
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->WriteSWupdateState(SWupdateState::IDLE));
        if (withBlocks) {
            ASSERT_TRUE(db->WriteInstalledLogicalBlocks({Stored(5, 3)}));
            ASSERT_TRUE(db->WriteUpdatedLogicalBlocks({Stored(5, 3)}));
            ASSERT_TRUE(db->WriteUpdatedEcuInfo(EcuInfo::ProgrammingNotConsistent));
            ASSERT_TRUE(db->WriteUcmSessionId(9));
            ASSERT_TRUE(db->WriteUpdateForPartition(PartitionEnum::B));
        }
        ASSERT_TRUE(db->SyncToStorage());
    }

    void WriteMarkers() {
        box.WriteFile(kMarkerA, Marker());
        box.WriteFile(kMarkerB, Marker());
    }

    bool Exists(const char* relative) const { return std::ifstream(box.Path(relative)).is_open(); }

    DbSnapshot Restart() {
        hook::Reset();
        ProcessStart start(box, kNoCut);
        EXPECT_TRUE(start.database);
        return start.database ? DbSnapshot::Of(*start.database) : DbSnapshot();
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
};

TEST_F(EmergencyUpdateTest, EmptyDatabaseTakesTheActiveLogisticsWithTheMarkersFingerprint) {
    SeedDatabase(false);
    WriteMarkers();
    ProcessStart start(box, kNoCut);
    EXPECT_TRUE(start.detected);
    const DbSnapshot db = DbSnapshot::Of(*start.database);
    ASSERT_EQ(db.installedBlocks.size(), 2u);
    EXPECT_EQ(db.updatedBlocks, db.installedBlocks);
    for (const LogicalBlock& block : db.installedBlocks) {
        EXPECT_EQ(block.m_programmingAttempts, 0);
        EXPECT_EQ(block.m_fingerPrint.m_serial, kSerial);
        EXPECT_EQ(block.m_fingerPrint.m_date, kDate);
    }
    EXPECT_EQ(db.state, SWupdateState::IDLE);
    EXPECT_FALSE(db.hasSessionId);
    EXPECT_FALSE(Exists(kMarkerA));
    EXPECT_FALSE(Exists(kMarkerB));
    EXPECT_FALSE(Exists(kJournal));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "****************** FINGERPRINT_SERIAL {[00]= 0x45; [01]= 0x4d; "
                                 "[02]= 0x52; [03]= 0x47; [04]= 0x30; [05]= 0x31; }"));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "****************** FINGERPRINT_DATE {[00]= 0x25; [01]= 0x01; "
                                 "[02]= 0x31; }"));
    EXPECT_TRUE(capture.Contains("EmergencyUpdate: The the persistent database not exist"));
}

TEST_F(EmergencyUpdateTest, ExistingBlocksCountOneMoreAttemptNewBlocksOne) {
    SeedDatabase(true);
    WriteMarkers();
    ProcessStart start(box, kNoCut);
    const DbSnapshot db = DbSnapshot::Of(*start.database);
    ASSERT_EQ(db.installedBlocks.size(), 2u);
    EXPECT_EQ(db.updatedBlocks, db.installedBlocks);
    EXPECT_EQ(db.installedBlocks[0].m_id, 5);
    EXPECT_EQ(db.installedBlocks[0].m_programmingAttempts, 4);
    EXPECT_EQ(db.installedBlocks[1].m_id, 7);
    EXPECT_EQ(db.installedBlocks[1].m_programmingAttempts, 1);
    for (const LogicalBlock& block : db.installedBlocks) {
        EXPECT_EQ(block.m_IVD, LogicalBlock::IVD{});
        EXPECT_EQ(block.m_fingerPrint.m_serial, kSerial);
        EXPECT_EQ(block.m_fingerPrint.m_date, kDate);
    }
    // The UPDATED ECU information the database held wins over the record's byte.
    EXPECT_EQ(db.installedEcuInfo, EcuInfo::ProgrammingNotConsistent);
    EXPECT_EQ(db.updatedEcuInfo, EcuInfo::ProgrammingNotConsistent);
    EXPECT_FALSE(db.hasSessionId);
    EXPECT_FALSE(db.hasPartition);
    EXPECT_EQ(db.state, SWupdateState::IDLE);
    EXPECT_FALSE(Exists(kMarkerA));
    EXPECT_FALSE(Exists(kMarkerB));
}

TEST_F(EmergencyUpdateTest, MarkerOnlyUnderBIsNotDetectedAndAShortMarkerKeepsDefaults) {
    SeedDatabase(true);
    box.WriteFile(kMarkerB, Marker());
    {
        ProcessStart start(box, kNoCut);
        EXPECT_FALSE(start.detected);
        EXPECT_TRUE(Exists(kMarkerB));
        EXPECT_EQ(DbSnapshot::Of(*start.database).installedBlocks, LogicalBlocks{Stored(5, 3)});
    }
    box.WriteFile(kMarkerA, Marker().substr(0, 10));  // two serial bytes, no date
    ProcessStart start(box, kNoCut);
    EXPECT_TRUE(start.detected);
    const DbSnapshot db = DbSnapshot::Of(*start.database);
    ASSERT_FALSE(db.installedBlocks.empty());
    EXPECT_EQ(db.installedBlocks[0].m_fingerPrint.m_serial, (std::array<uint8_t, 6>{{'E', 'M', 0, 0, 0, 0}}));
    EXPECT_EQ(db.installedBlocks[0].m_fingerPrint.m_date, (std::array<uint8_t, 3>{{0x00, 0x01, 0x01}}));
    EXPECT_FALSE(Exists(kMarkerA));
    EXPECT_FALSE(Exists(kMarkerB));
}

// The power goes after the n-th storage operation of the start, for every n;
// the next start converges to the uninterrupted end state, counting the
// attempt exactly once.
TEST_F(EmergencyUpdateTest, EveryPowerCutConvergesToTheUninterruptedEndState) {
    for (const bool withBlocks : {false, true}) {
        SCOPED_TRACE(withBlocks ? "database with blocks" : "empty database");
        SeedDatabase(withBlocks);
        WriteMarkers();
        std::size_t total = 0;
        DbSnapshot expected;
        {
            ProcessStart start(box, kNoCut);
            total = start.counter->Count();
            expected = DbSnapshot::Of(*start.database);
        }
        ASSERT_GT(total, 5u);
        ASSERT_FALSE(Exists(kMarkerA));
        for (std::size_t n = 1; n <= total; ++n) {
            SCOPED_TRACE("cut after operation " + std::to_string(n));
            SeedDatabase(withBlocks);
            WriteMarkers();
            { ProcessStart cut(box, n); }
            EXPECT_EQ(Restart(), expected);
            EXPECT_FALSE(Exists(kMarkerA));
            EXPECT_FALSE(Exists(kMarkerB));
            EXPECT_FALSE(Exists(kJournal));
        }
    }
}

// Killed after the records were synced but before the markers went: the
// next start only removes the files.
TEST_F(EmergencyUpdateTest, MarkerLeftAfterTheSyncIsNotAppliedTwice) {
    SeedDatabase(true);
    WriteMarkers();
    DbSnapshot expected;
    {
        ProcessStart start(box, kNoCut);
        expected = DbSnapshot::Of(*start.database);
    }
    SeedDatabase(true);
    WriteMarkers();
    { ProcessStart killed(box, kNoCut, true); }
    ASSERT_TRUE(Exists(kMarkerA));
    EXPECT_EQ(Restart(), expected);
    EXPECT_FALSE(Exists(kMarkerA));
    EXPECT_TRUE(capture.Contains("already stored"));

    // A journal file of an earlier version without a marker is dropped; a
    // later installation counts again.
    box.WriteFile(kJournal, Marker());
    Restart();
    EXPECT_FALSE(Exists(kJournal));
    WriteMarkers();
    const DbSnapshot again = Restart();
    ASSERT_EQ(again.installedBlocks.size(), 2u);
    EXPECT_EQ(again.installedBlocks[0].m_programmingAttempts, 5);
}

// Whether a marker was applied is decided by its bytes: a key left by an
// earlier installation (the power went after its marker files were removed,
// before the key was) does not hide a new marker.
TEST_F(EmergencyUpdateTest, TheAppliedKeyCountsOnlyForTheSameMarkerBytes) {
    const struct {
        const char* name;
        std::string applied;
        uint16_t attempts;  // of block 5, seeded with 3
    } cases[] = {
        {"key of an earlier installation", "HEADER--EARLY1..\x24\x12\x01", 4},
        {"key of this marker", Marker(), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SeedDatabase(true);
        {
            auto db = CreatePersistentDataStorage(testsupport::DatabaseConfiguration(), CreateAraPersistency);
            ASSERT_TRUE(db);
            ASSERT_TRUE(db->WriteEmergencyApplied(std::vector<uint8_t>(c.applied.begin(), c.applied.end())));
            ASSERT_TRUE(db->SyncToStorage());
        }
        WriteMarkers();
        const DbSnapshot db = Restart();
        ASSERT_FALSE(db.installedBlocks.empty());
        EXPECT_EQ(db.installedBlocks[0].m_programmingAttempts, c.attempts);
        EXPECT_FALSE(Exists(kMarkerA));
        EXPECT_FALSE(Exists(kMarkerB));
    }
}

// The write that records the marker as applied fails, alone or also in the
// rewrite after a reconnect: the start-up's last sync carries it with the
// records, so the next start does not count the installation again.
TEST_F(EmergencyUpdateTest, AFailedWriteOfTheAppliedKeyGoesWithTheRecordsIntoTheNextSync) {
    for (const std::size_t failures : {std::size_t{1}, std::size_t{2}}) {
        SCOPED_TRACE(std::to_string(failures) + " writes of the key fail");
        SeedDatabase(true);
        WriteMarkers();
        {
            ProcessStart start(box, kNoCut, false, failures);
            ASSERT_TRUE(start.database);
            EXPECT_TRUE(start.database->SyncToStorage());
        }
        const DbSnapshot db = Restart();
        ASSERT_EQ(db.installedBlocks.size(), 2u);
        EXPECT_EQ(db.installedBlocks[0].m_programmingAttempts, 4);
        EXPECT_EQ(db.installedBlocks[1].m_programmingAttempts, 1);
        EXPECT_FALSE(Exists(kMarkerA));
        EXPECT_FALSE(Exists(kMarkerB));
    }
}

TEST_F(EmergencyUpdateTest, WithoutBlocksInTheActiveLogisticsNothingIsAppliedAndTheMarkerStays) {
    struct Case {
        const char* name;
        const char* logisticsFile;  // the only file left in the ACTIVE directory, or none
    };
    for (const Case& c : {Case{"no logistics files", nullptr}, Case{"unreadable logistics file", "{ not json"}}) {
        SCOPED_TRACE(c.name);
        SeedDatabase(true);
        WriteMarkers();
        std::remove(box.Path(std::string(kActiveDir) + "/ZenqLogistics_5.json").c_str());
        std::remove(box.Path(std::string(kActiveDir) + "/ZenqLogistics_7.json").c_str());
        if (c.logisticsFile != nullptr) {
            box.WriteFile(std::string(kActiveDir) + "/ZenqLogistics_9.json", c.logisticsFile);
        }
        const DbSnapshot before = Restart();  // a start without a marker reads the seeded records
        WriteMarkers();
        const DbSnapshot after = Restart();
        EXPECT_EQ(after, before);
        ASSERT_EQ(after.installedBlocks, LogicalBlocks{Stored(5, 3)});
        EXPECT_TRUE(Exists(kMarkerA));
        EXPECT_TRUE(Exists(kMarkerB));
        EXPECT_TRUE(capture.Contains(Level::kError, "no logical blocks in the ACTIVE logistics files"));
        SetUp();
    }
}

// An installation whose marker bytes equal those of one applied before (the
// platform wrote the same fingerprint twice) is counted again, whatever
// happened to the storage during its start: a cut after any storage
// operation, or syncs that report failure while everything else goes on.
TEST_F(EmergencyUpdateTest, ASecondInstallationWithTheSameMarkerIsCountedOnceMore) {
    const auto firstInstallation = [this] {
        SeedDatabase(true);
        WriteMarkers();
        { ProcessStart start(box, kNoCut); }
        ASSERT_FALSE(Exists(kMarkerA));
        WriteMarkers();
    };
    const auto expectCountedOnceMore = [this](const DbSnapshot& db) {
        ASSERT_EQ(db.installedBlocks.size(), 2u);
        EXPECT_EQ(db.updatedBlocks, db.installedBlocks);
        EXPECT_EQ(db.installedBlocks[0].m_programmingAttempts, 5);
        EXPECT_EQ(db.installedBlocks[1].m_programmingAttempts, 2);
        EXPECT_EQ(db.state, SWupdateState::IDLE);
        EXPECT_FALSE(Exists(kMarkerA));
        EXPECT_FALSE(Exists(kMarkerB));
    };

    std::size_t total = 0;
    {
        firstInstallation();
        ProcessStart second(box, kNoCut);
        total = second.counter->Count();
        expectCountedOnceMore(DbSnapshot::Of(*second.database));
    }
    for (std::size_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("cut after operation " + std::to_string(n));
        firstInstallation();
        { ProcessStart cut(box, n); }
        expectCountedOnceMore(Restart());
    }
    for (unsigned failing = 1; failing <= 4; ++failing) {
        SCOPED_TRACE("the first " + std::to_string(failing) + " syncs fail");
        firstInstallation();
        hook::InjectFailure(hook::Operation::kSyncToStorage, failing);
        { ProcessStart failed(box, kNoCut); }
        expectCountedOnceMore(Restart());
    }
}

}  // namespace
