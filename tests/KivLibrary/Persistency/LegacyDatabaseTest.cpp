#include "KivLibrary/GlobalLibrary/FastShutDown.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/BackwardCompatibility/PersistedDb.h"
#include "tests/KivLibrary/Persistency/LegacyDatabaseWriter.h"

#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

using testsupport::LegacyBlockImage;
using testsupport::LegacyDatabaseWriter;
using testsupport::Level;

const char* const kDatabase = "velmora";

class LegacyDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { ara::per::testhook::Reset(); }
    void TearDown() override {
        FastShutDown::Set(false);
        ara::per::testhook::Reset();
    }

    // Writes the legacy values to the medium and opens them the way the
    // migration does: a fresh raw storage under the same name.
    PersistedDb& Open(const LegacyDatabaseWriter& writer) {
        writer.Write(kDatabase);
        db_ = std::make_unique<PersistedDb>(std::make_shared<KivConfiguration>(), CreateAraPersistency(kDatabase));
        return *db_;
    }

    static LegacyBlockImage Block(uint8_t id) {
        LegacyBlockImage block;
        block.id = id;
        return block;
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    std::unique_ptr<PersistedDb> db_;
};

TEST_F(LegacyDatabaseTest, ReadsEveryValueOfALegacyDatabase) {
    PersistedDb& db = Open(LegacyDatabaseWriter::Typical());

    int32_t sessionId = 0;
    int32_t state = 0;
    std::string partition;
    LegacyLogicalBlocks installed;
    LegacyLogicalBlocks updated;
    EXPECT_TRUE(db.ReadUcmSessionId(sessionId));
    EXPECT_TRUE(db.ReadSwUpdateState(state));
    EXPECT_TRUE(db.ReadUpdateForPartition(partition));
    EXPECT_TRUE(db.ReadInstalledLogicalBlocks(installed));
    EXPECT_TRUE(db.ReadUpdatedLogicalBlocks(updated));
    EXPECT_TRUE(db.ReadInstalledEcuInfo());
    EXPECT_TRUE(db.ReadUpdatedEcuInfo());

    EXPECT_EQ(sessionId, 0x01020304);
    EXPECT_EQ(state, 4);
    EXPECT_EQ(partition, "B");
    ASSERT_EQ(installed.size(), 2u);
    ASSERT_EQ(updated.size(), 1u);
    EXPECT_EQ(installed[0].LogisticsVersion(), 0x01020304u);
    const auto installedImage = testsupport::LegacyEcuInfoBytes(0x40);
    EXPECT_TRUE(std::equal(installedImage.begin(), installedImage.end(),
                           db.GetPersistedData()->m_installedEcuInfo.bytes.begin()));
    EXPECT_EQ(db.GetPersistedData()->m_updatedEcuInfo.EcuInfoByte(), 0x44);

    const LogicalBlocks blocks = ConvertLegacyLogicalBlocks(installed);
    ASSERT_EQ(blocks.size(), 2u);
    LogicalBlock expected;
    expected.m_id = 0x11;
    expected.m_programmingAttempts = 0x0102;
    expected.m_lockValue = 0xA0B0;
    expected.m_fingerPrint.m_serial = {{1, 2, 3, 4, 5, 6}};
    expected.m_fingerPrint.m_date = {{0x24, 0x05, 0x17}};
    expected.m_fingerPrint.m_status = 0x01;
    expected.m_rfsMinVersion = {{'0', '1', '2', '3'}};
    expected.m_IVD = LogicalBlock::IVD{};
    EXPECT_EQ(blocks[0], expected);
    EXPECT_EQ(blocks[1].m_id, 0xC8);
    EXPECT_EQ(blocks[1].m_programmingAttempts, 3);
    EXPECT_EQ(blocks[1].m_rfsMinVersion, (std::array<uint8_t, 4>{{'0', '0', '0', '7'}}));
    EXPECT_EQ(ConvertLegacyLogicalBlocks(updated)[0], blocks[1]);
}

TEST_F(LegacyDatabaseTest, MissingOrMistypedScalarsFailAndKeepTheCallersValues) {
    PersistedDb& db = Open(LegacyDatabaseWriter()
                               .Value("UcmSessionId", ara::per::KvsType(std::string("garbage")))
                               .Value("SwUpdateState", ara::per::KvsType(uint64_t{4}))
                               .Value("UpdateForPartition", ara::per::KvsType(int32_t{1})));
    int32_t sessionId = -7;
    int32_t state = -8;
    std::string partition = "keep";
    EXPECT_FALSE(db.ReadUcmSessionId(sessionId));
    EXPECT_FALSE(db.ReadSwUpdateState(state));
    EXPECT_FALSE(db.ReadUpdateForPartition(partition));
    EXPECT_EQ(sessionId, -7);
    EXPECT_EQ(state, -8);
    EXPECT_EQ(partition, "keep");
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "GetValue failure due to flash corruption"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "No recovery strategy present"));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Read failed"));
}

TEST_F(LegacyDatabaseTest, ReadsAreRefusedDuringFastShutdownOrWithoutStorage) {
    PersistedDb& db = Open(LegacyDatabaseWriter::Typical());
    FastShutDown::Set(true);
    int32_t sessionId = 0;
    LegacyLogicalBlocks blocks;
    EXPECT_FALSE(db.ReadUcmSessionId(sessionId));
    EXPECT_FALSE(db.ReadInstalledLogicalBlocks(blocks));
    EXPECT_FALSE(db.ReadInstalledEcuInfo());
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Read not executed due to FastShutDown"));
    FastShutDown::Set(false);

    PersistedDb detached(std::make_shared<KivConfiguration>(), nullptr);
    EXPECT_FALSE(detached.ReadUpdatedEcuInfo());
    EXPECT_FALSE(detached.ReadUpdatedLogicalBlocks(blocks));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Read not executed due to missing Storage"));
    EXPECT_EQ(sessionId, 0);
    EXPECT_TRUE(blocks.empty());
}

// Block lists: the size key is untrusted and never lets a read leave the stored bytes.
TEST_F(LegacyDatabaseTest, BlockListSizeZeroOrMissingKeys) {
    const auto blocks = testsupport::LegacyBlockListBytes({Block(1)});
    PersistedDb& db = Open(LegacyDatabaseWriter()
                               .Binary("InstalledLogicalBlocks", blocks)
                               .Size("InstalledLogicalBlocksSize", 0)
                               .Size("UpdatedLogicalBlocksSize", 72));
    LegacyLogicalBlocks installed;
    EXPECT_TRUE(db.ReadInstalledLogicalBlocks(installed));
    EXPECT_TRUE(installed.empty());
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Read value 0 for key InstalledLogicalBlocksSize"));

    LegacyLogicalBlocks updated(1);
    EXPECT_FALSE(db.ReadUpdatedLogicalBlocks(updated));
    EXPECT_EQ(updated.size(), 1u);
    EXPECT_TRUE(capture_.Contains(Level::kError, "Reading key UpdatedLogicalBlocks failed!"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "No recovery strategy present"));

    PersistedDb& noSize = Open(LegacyDatabaseWriter().Binary("UpdatedLogicalBlocks", blocks));
    EXPECT_FALSE(noSize.ReadUpdatedLogicalBlocks(updated));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Reading key UpdatedLogicalBlocksSize failed!"));
}

TEST_F(LegacyDatabaseTest, BlockListWithLyingOrTruncatedSizesReadsOnlyWholeStoredRecords) {
    const auto two = testsupport::LegacyBlockListBytes({Block(1), Block(2)});
    struct Case {
        std::vector<uint8_t> bytes;
        uint64_t size;
        std::size_t records;
    };
    const std::vector<Case> cases{
        {two, 1000, 2},                                                  // size beyond the stored bytes
        {two, std::numeric_limits<uint64_t>::max(), 2},                  // absurd size
        {two, 100, 1},                                                   // size not a multiple of the record
        {std::vector<uint8_t>(two.begin(), two.begin() + 100), 144, 1},  // truncated value
        {std::vector<uint8_t>(two.begin(), two.begin() + 50), 50, 0},    // less than one record
        {{}, 72, 0},                                                     // empty value
    };
    for (const Case& c : cases) {
        PersistedDb& db = Open(LegacyDatabaseWriter()
                                   .Binary("InstalledLogicalBlocks", c.bytes)
                                   .Size("InstalledLogicalBlocksSize", c.size));
        LegacyLogicalBlocks blocks;
        EXPECT_TRUE(db.ReadInstalledLogicalBlocks(blocks)) << c.size;
        ASSERT_EQ(blocks.size(), c.records) << c.size;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i].Id(), i + 1);
        }
    }
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "Stored size 1000 of key InstalledLogicalBlocksSize does not match"));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "trailing bytes of key InstalledLogicalBlocks"));
}

TEST_F(LegacyDatabaseTest, EcuInfoSizeZeroOrMissingKeepsTheDefault) {
    PersistedDb& db = Open(LegacyDatabaseWriter()
                               .Binary("UpdatedEcuInfo", testsupport::LegacyEcuInfoBytes(0x44))
                               .Binary("InstalledEcuInfo", testsupport::LegacyEcuInfoBytes(0x44))
                               .Size("InstalledEcuInfoSize", 0));
    EXPECT_FALSE(db.ReadUpdatedEcuInfo());
    EXPECT_TRUE(capture_.Contains(Level::kDebug, "Read Failed"));
    EXPECT_TRUE(db.ReadInstalledEcuInfo());
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "data is empty"));
    const LegacyEcuInfo defaults;
    EXPECT_EQ(db.GetPersistedData()->m_updatedEcuInfo.bytes, defaults.bytes);
    EXPECT_EQ(db.GetPersistedData()->m_installedEcuInfo.bytes, defaults.bytes);
    EXPECT_EQ(defaults.EcuInfoByte(), 0x40);
}

TEST_F(LegacyDatabaseTest, EcuInfoWithLyingOrTruncatedSizesStaysInsideRecordAndValue) {
    // The size claims far more than is stored: only the stored bytes are copied.
    std::vector<uint8_t> shortValue{0x44, 0xAA, 0xBB};
    PersistedDb& db = Open(LegacyDatabaseWriter()
                               .Binary("InstalledEcuInfo", shortValue)
                               .Size("InstalledEcuInfoSize", std::numeric_limits<uint64_t>::max())
                               .Binary("UpdatedEcuInfo", std::vector<uint8_t>(4096, 0x44))
                               .Size("UpdatedEcuInfoSize", 4096));
    EXPECT_TRUE(db.ReadInstalledEcuInfo());
    std::array<uint8_t, 102> expected{};
    expected[0] = 0x44;
    expected[1] = 0xAA;
    expected[2] = 0xBB;
    EXPECT_EQ(db.GetPersistedData()->m_installedEcuInfo.bytes, expected);
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "of key InstalledEcuInfoSize does not match the 3 bytes"));

    // An oversized value fills the record and no more.
    EXPECT_TRUE(db.ReadUpdatedEcuInfo());
    expected.fill(0x44);
    EXPECT_EQ(db.GetPersistedData()->m_updatedEcuInfo.bytes, expected);
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "or the record size 102"));
}

}  // namespace
