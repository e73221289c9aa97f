// Cluster-integrity answers of the update manager brought into the logistics
// caches of both partitions and into the persisted logical blocks. The update
// manager is a double that answers from its own thread, like the binding.
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/ara/per/key_value_storage.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testsupport::Level;
using Ivd = std::array<uint8_t, 32>;

Ivd Filled(uint8_t value) {
    Ivd ivd;
    ivd.fill(value);
    return ivd;
}

LogicalBlockCache Record(uint16_t id, const std::string& name) {
    LogicalBlockCache record;
    record.id = id;
    record.name = name;
    return record;
}

SwClusterIntegrity Answer(const std::string& cluster, uint8_t status, uint8_t fill = 0x11) {
    SwClusterIntegrity answer;
    answer.clusterName = cluster;
    answer.status = status;
    answer.ivd = Filled(fill);
    answer.errorTexts = {"e1", "e2", "e3", "e4", "e5"};
    return answer;
}

LogicalBlock Persisted(uint8_t id) {
    LogicalBlock block;
    block.m_id = id;
    return block;
}

// Answers every integrity request with the scripted answer of its partition,
// from a thread of its own; a cluster without script is refused.
class IntegrityUcm : public sessiontest::FakeUcmAdaptor {
public:
    ~IntegrityUcm() override {
        for (auto& thread : threads) {
            thread.join();
        }
    }

    bool GetSwClusterIntegrity(std::string clusterName, bool readPartitionB,
                               std::function<void(SwClusterIntegrity)> callback) override {
        const auto it = script.find({clusterName, readPartitionB});
        if (it == script.end()) {
            return false;
        }
        const SwClusterIntegrity answer = it->second;
        threads.emplace_back([this, answer, callback]() {
            callback(answer);
            std::lock_guard<std::mutex> lock(mutex);
            ++delivered;
            changed.notify_all();
        });
        return true;
    }

    bool WaitForAnswers(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&]() { return delivered >= count; });
    }

    std::map<std::pair<std::string, bool>, SwClusterIntegrity> script;

private:
    std::mutex mutex;
    std::condition_variable changed;
    int delivered = 0;
    std::vector<std::thread> threads;
};

class ClusterIntegrityTest : public ::testing::Test {
protected:
    ClusterIntegrityTest() {
        ara::per::testhook::Reset();
        configuration->volatileMirrorFlashBlocks = {2, 42};
    }
    ~ClusterIntegrityTest() override { ara::per::testhook::Reset(); }

    void SetCache(bool active, std::vector<LogicalBlockCache> blocks) {
        session->ReplaceLogistics(active, [&blocks](LogicalBlockCacheData& cache) { cache.blocks = blocks; });
    }
    std::vector<LogicalBlockCache> Blocks(bool active) {
        return active ? session->GetInstalledLogistics()->blocks : session->GetUpdatedLogistics()->blocks;
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    sessiontest::DatabaseStack stack{"cluster_integrity"};
    std::shared_ptr<PersistentDataStorage> db = stack.database;
    std::shared_ptr<KivConfiguration> configuration = sessiontest::MakeConfiguration(box);
    std::shared_ptr<SessionData> session =
        std::make_shared<SessionData>(configuration, db, std::make_shared<sessiontest::SpyVerifier>());
};

TEST_F(ClusterIntegrityTest, AnswersUpdateTheIvdRecordsOfBothPartitions) {
    LogicalBlockCache retrieved = Record(4, "d");
    retrieved.IVD_Retrieved = true;
    LogicalBlockCache retried = Record(3, "c");
    retried.IVD_Retries = 3;
    SetCache(true, {Record(1, "a"), Record(2, "b")});
    SetCache(false, {Record(1, "a"), retried, retrieved});

    auto ucm = std::make_shared<IntegrityUcm>();
    ucm->script[{"a", false}] = Answer("a", 7, 0xA1);
    ucm->script[{"b", false}] = Answer("b", 6, 0xB1);
    ucm->script[{"a", true}] = Answer("a", 7, 0xA2);
    ucm->script[{"c", true}] = Answer("c", 3, 0xC2);
    int requested = 0;
    for (const bool active : {true, false}) {
        for (const LogicalBlockCache& record : Blocks(active)) {
            const std::weak_ptr<SessionData> weak = session;
            if (ucm->GetSwClusterIntegrity(record.name, !active, [weak, active](SwClusterIntegrity answer) {
                    if (auto target = weak.lock()) {
                        (void)target->FindClusterAndUpdateInPartition(answer, active, false);
                    }
                })) {
                ++requested;
            }
        }
    }
    ASSERT_EQ(requested, 4);
    ASSERT_TRUE(ucm->WaitForAnswers(requested));
    // The answer for an already retrieved record arrives with the installation status.
    session->AddPendingCluster(Answer("d", 7, 0xD2));

    LogicalBlocks installed{Persisted(1), Persisted(2), Persisted(9)};
    session->storePartitionIVDOnPersistentDb(installed, session->GetInstalledLogistics()->blocks);
    ASSERT_TRUE(db->WriteInstalledLogicalBlocks(installed));
    LogicalBlocks updated{Persisted(1), Persisted(3), Persisted(4)};
    session->storePartitionIVDOnPersistentDb(updated, session->GetUpdatedLogistics()->blocks);
    ASSERT_TRUE(db->WriteUpdatedLogicalBlocks(updated));

    LogicalBlocks readInstalled;
    ASSERT_TRUE(db->ReadInstalledLogicalBlocks(readInstalled));
    ASSERT_EQ(readInstalled.size(), 3U);
    EXPECT_EQ(readInstalled[0].m_IVD.m_state, 1);
    EXPECT_EQ(readInstalled[0].m_IVD.m_data, Filled(0xA1));
    EXPECT_EQ(readInstalled[1].m_IVD.m_state, 1);
    EXPECT_EQ(readInstalled[1].m_IVD.m_data, Filled(0xB1));
    EXPECT_EQ(readInstalled[2].m_IVD, LogicalBlock::IVD{});

    LogicalBlocks readUpdated;
    ASSERT_TRUE(db->ReadUpdatedLogicalBlocks(readUpdated));
    ASSERT_EQ(readUpdated.size(), 3U);
    EXPECT_EQ(readUpdated[0].m_IVD.m_data, Filled(0xA2));
    // Status 3 after three retries: retrieved without a valid IVD, not corrupt.
    EXPECT_EQ(readUpdated[1].m_IVD.m_state, 0);
    EXPECT_EQ(readUpdated[1].m_IVD.m_data, Ivd{});
    // The pending answer is forced into the retrieved record.
    EXPECT_EQ(readUpdated[2].m_IVD.m_state, 1);
    EXPECT_EQ(readUpdated[2].m_IVD.m_data, Filled(0xD2));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "storePartitionIVDOnPersistentDb: add new cluster IVD info = d"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "FindClusterAndUpdate MIRROR LB = c status= 3(!=SUCCESS) IVD="));
    EXPECT_TRUE(capture.Contains(" ERROR=e1 : e2 : e3 : e4 : e5;"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "FindClusterAndUpdate ACTIVE Found LB = b ID= 2"));
}

TEST_F(ClusterIntegrityTest, AnswerStatusesFollowTheirRules) {
    std::vector<LogicalBlockCache> list{Record(1, "x")};
    list[0].IVD_Retrieved = true;
    EXPECT_FALSE(session->FindClusterAndUpdate(Answer("x", 7), "ACTIVE", list, false));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "FindCluster: no more LBs found ACTIVE"));
    EXPECT_TRUE(session->FindClusterAndUpdate(Answer("x", 7, 0x77), "ACTIVE", list, true));
    EXPECT_EQ(list[0].IVD, Filled(0x77));
    EXPECT_TRUE(list[0].IVD_IsValid);
    EXPECT_FALSE(list[0].IVD_ACIsCorrupt);

    // Status 3 before the retries are used up: only the autonomous-check corruption is cleared.
    list = {Record(1, "x")};
    EXPECT_TRUE(session->FindClusterAndUpdate(Answer("x", 3, 0x33), "MIRROR", list, false));
    EXPECT_FALSE(list[0].IVD_ACIsCorrupt);
    EXPECT_FALSE(list[0].IVD_Retrieved);
    EXPECT_FALSE(list[0].IVD_IsValid);
    EXPECT_EQ(list[0].IVD, Ivd{});

    // Status 5 after three retries: the autonomous-check IVD becomes the IVD.
    list = {Record(1, "x")};
    list[0].IVD_Retries = 3;
    EXPECT_TRUE(session->FindClusterAndUpdate(Answer("x", 5, 0x55), "MIRROR", list, false));
    EXPECT_EQ(list[0].IVD, Filled(0x55));
    EXPECT_TRUE(list[0].IVD_IsValid);
    EXPECT_TRUE(list[0].IVD_Retrieved);
    EXPECT_TRUE(list[0].IVD_IsCorrupt);  // status 5 leaves the corruption flag as it was

    // Status 2 forced: no valid IVD is left.
    list = {Record(1, "x")};
    list[0].IVD.fill(0x99);
    EXPECT_TRUE(session->FindClusterAndUpdate(Answer("x", 2), "MIRROR", list, true));
    EXPECT_FALSE(list[0].IVD_IsValid);
    EXPECT_EQ(list[0].IVD, Ivd{});
    EXPECT_TRUE(list[0].IVD_Retrieved);

    std::vector<LogicalBlockCache> empty;
    EXPECT_FALSE(session->FindClusterAndUpdate(Answer("x", 7), "MIRROR", empty, true));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "FindClusterAndUpdate: no LBs found MIRROR"));
}

TEST_F(ClusterIntegrityTest, FindClusterCountsTheMatchingRecords) {
    auto noIvd = [](const LogicalBlockCache& record) { return !record.IVD_Retrieved; };
    uint32_t total = 9;
    uint32_t count = 9;
    EXPECT_FALSE(session->FindCluster(noIvd, true, total, count));
    EXPECT_EQ(total, 0U);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "FindCluster: no LBs found "));

    LogicalBlockCache done = Record(2, "b");
    done.IVD_Retrieved = true;
    SetCache(true, {Record(1, "a"), done, Record(3, "c")});
    EXPECT_TRUE(session->FindCluster(noIvd, true, total, count));
    EXPECT_EQ(total, 3U);
    EXPECT_EQ(count, 2U);
    EXPECT_TRUE(session->FindCluster(noIvd, true));
    EXPECT_FALSE(session->FindCluster([](const LogicalBlockCache& record) { return record.id == 7; }, true));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "FindCluster: no more LBs found "));
    EXPECT_FALSE(session->FindCluster(noIvd, false));
}

TEST_F(ClusterIntegrityTest, AnEmptyMirrorTakesTheActiveRecordsOnce) {
    LogicalBlockCache valid = Record(1, "a");
    valid.IVD_IsValid = true;
    valid.IVD_Retrieved = true;
    valid.IVD = Filled(0xA1);
    LogicalBlockCache volatileBlock = Record(2, "b");
    volatileBlock.IVD_Retrieved = true;
    volatileBlock.IVD_Retries = 2;
    SetCache(true, {valid, volatileBlock});
    const auto before = session->GetUpdatedLogistics();

    session->UpdateMirrorIVDInfo();

    EXPECT_TRUE(before->blocks.empty());  // a reader's snapshot stays as it was
    std::vector<LogicalBlockCache> mirror = Blocks(false);
    ASSERT_EQ(mirror.size(), 2U);
    EXPECT_EQ(mirror[0].IVD, Filled(0xA1));
    EXPECT_TRUE(mirror[0].IVD_Retrieved);
    EXPECT_FALSE(mirror[1].IVD_Retrieved);
    EXPECT_EQ(mirror[1].IVD_Retries, 0);
    EXPECT_TRUE(mirror[1].IVD_ACIsCorrupt);
    EXPECT_TRUE(session->MirrorUpdateComplete);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "UpdateMirrorIVDInfo: no mirror LBs found "));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "UpdateMirrorIVDInfo : clear volatile LB = b ID= 2"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "UpdateMirrorIVDInfo : volatile LB = 42"));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Completion of Mirror partition update during Autonomous Check"));

    SetCache(true, {Record(1, "a")});
    capture.Clear();
    session->UpdateMirrorIVDInfo();
    EXPECT_EQ(Blocks(false)[0].IVD, Filled(0xA1));
    EXPECT_FALSE(capture.Contains("Do UpdateMirrorIVDInfo..."));
}

TEST_F(ClusterIntegrityTest, AnExistingMirrorTakesTheActiveIntegrityResults) {
    LogicalBlockCache corrupt = Record(1, "a");
    corrupt.IVD_IsCorrupt = true;
    corrupt.IVD = Filled(0xEE);
    LogicalBlockCache valid = Record(5, "e");
    valid.IVD_IsValid = true;
    valid.IVD = Filled(0x55);
    SetCache(true, {corrupt, valid, Record(6, "f")});
    LogicalBlockCache mirrorOnly = Record(8, "h");
    mirrorOnly.IVD = Filled(0x88);
    SetCache(false, {Record(1, "a"), Record(5, "e"), mirrorOnly});
    session->SetMirrorUpdateFlag(true);
    session->ResetMirrorUpdateFlag(false);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Reset Mirror partition update Flag during Autonomous Check Flag"));

    session->UpdateMirrorIVDInfo();

    const std::vector<LogicalBlockCache> mirror = Blocks(false);
    ASSERT_EQ(mirror.size(), 3U);
    EXPECT_TRUE(mirror[0].IVD_Retrieved);
    EXPECT_TRUE(mirror[0].IVD_IsCorrupt);
    EXPECT_TRUE(mirror[0].IVD_ACIsCorrupt);
    EXPECT_EQ(mirror[0].IVD, Ivd{});
    EXPECT_TRUE(mirror[1].IVD_IsValid);
    EXPECT_TRUE(mirror[1].IVD_ACIsValid);
    EXPECT_EQ(mirror[1].IVD, Filled(0x55));
    EXPECT_EQ(mirror[2].IVD, Filled(0x88));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "UpdateMirrorIVDInfo: mirror LBs already exists "));
    EXPECT_TRUE(capture.Contains(Level::kError, "UpdateMirrorIVDInfo: mirror LBs already exists, but ID=6is missing"));
}

// What a reader of a cache object sees of it.
std::string Contents(const LogicalBlockCacheData& cache) {
    std::string text = "hash=" + std::to_string(cache.programmingHash.size()) + ";";
    for (const LogicalBlockCache& record : cache.blocks) {
        text += std::to_string(record.id) + ":" + std::to_string(record.IVD[0]) + "," +
                std::to_string(record.IVD_Retrieved) + std::to_string(record.IVD_IsValid) +
                std::to_string(record.IVD_ACIsValid) + std::to_string(record.IVD_ACIsCorrupt) + ";";
    }
    return text;
}

// Readers hold cache objects without the lock: every change publishes a new
// object and leaves the one a reader holds as it was.
TEST_F(ClusterIntegrityTest, ChangesNeverTouchTheCacheObjectAReaderHolds) {
    const struct {
        const char* what;
        bool active;
        std::function<void()> change;
    } changes[] = {
        {"ACTIVE integrity answer", true,
         [this] { EXPECT_TRUE(session->FindClusterAndUpdateInPartition(Answer("c1", 7, 0x77), true, true)); }},
        {"MIRROR integrity answer", false,
         [this] { EXPECT_TRUE(session->FindClusterAndUpdateInPartition(Answer("c1", 7, 0x77), false, true)); }},
        {"programming hash", true,
         [this] { EXPECT_TRUE(session->CalculateLogicalBlockProgrammingHash(configuration)); }},
        {"MIRROR from ACTIVE", false,
         [this] {
             session->SetMirrorUpdateFlag(false);
             session->UpdateMirrorIVDInfo();
         }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        LogicalBlockCache active = Record(1, "c1");
        active.IVD_IsValid = true;
        active.IVD = Filled(0xAB);
        LogicalBlockCache volatileActive = Record(2, "c2");
        volatileActive.IVD_IsValid = true;
        volatileActive.IVD = Filled(0xCD);
        SetCache(true, {active, volatileActive});
        SetCache(false, {Record(1, "c1"), Record(2, "c2")});

        const std::shared_ptr<LogicalBlockCacheData> held =
            c.active ? session->GetInstalledLogistics() : session->GetUpdatedLogistics();
        const std::string before = Contents(*held);
        c.change();
        const std::shared_ptr<LogicalBlockCacheData> now =
            c.active ? session->GetInstalledLogistics() : session->GetUpdatedLogistics();
        EXPECT_EQ(Contents(*held), before);
        EXPECT_NE(now.get(), held.get());
        EXPECT_NE(Contents(*now), before);
    }
}

// Integrity answers arrive on the binding's threads while a routine computes
// the ACTIVE partition's programming hash.
TEST_F(ClusterIntegrityTest, ProgrammingHashOfTheActiveCacheRacesWithAnswers) {
    LogicalBlockCache record = Record(1, "c1");
    record.IVD_IsValid = true;
    SetCache(true, {record});
    std::atomic<bool> done{false};
    std::thread answers([&] {
        while (!done.load()) {
            session->FindClusterAndUpdateInPartition(Answer("c1", 7), true, true);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(session->CalculateLogicalBlockProgrammingHash(configuration));
    }
    done.store(true);
    answers.join();
    EXPECT_EQ(session->GetInstalledLogistics()->programmingHash.size(), 32U);
    EXPECT_TRUE(session->GetUpdatedLogistics()->programmingHash.empty());
}

}  // namespace
