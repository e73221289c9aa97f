#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"

#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/support/HexText.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Level;
using testsupport::LogCapture;
constexpr auto Hex = testsupport::LowerHex;

LogicalBlockCache Block(uint16_t id, const char* version, uint8_t ivdStart) {
    LogicalBlockCache block;
    block.id = id;
    std::copy(version, version + 4, block.version.begin());
    for (size_t i = 0; i < block.IVD.size(); ++i) {
        block.IVD[i] = static_cast<uint8_t>(ivdStart + i);
    }
    block.IVD_IsValid = true;
    return block;
}

class ProgrammingHashTest : public ::testing::Test {
protected:
    ProgrammingHashTest() : config(std::make_shared<KivConfiguration>()) { config->logicalBlockId_dpt = 15; }

    std::shared_ptr<KivConfiguration> config;
    LogicalBlockCacheData cache;
    LogCapture capture;
};

// Digests below were computed outside this code base over the hand-assembled
// 38-byte inputs: id LSB first, version, IVD.
constexpr const char* kSingleBlockDigest = "50a35acb3663890569af3955b7b158630c871fc22a5caa9691a616bc21ffed50";
constexpr const char* kTwoBlocksDigest = "9aaad508f3830df1bec8662af26392c64f9d0b7e1b519e12d0224488e0464b1e";
constexpr const char* kTwoBlocksSwappedDigest = "4ea263c1f2637bd8537a88fc6612ecb92eaf7d596c5b19a0961c87caa17bead4";

TEST_F(ProgrammingHashTest, SingleBlockHashesIdVersionAndIvd) {
    cache.blocks = {Block(0x12, "0100", 0x00)};

    ASSERT_TRUE(cache.CalculateLogicalBlockProgrammingHash(config));

    EXPECT_EQ(Hex(cache.programmingHash), kSingleBlockDigest);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "programmingHashInput: {v_size=38, 0x(12 00 30 31 30 30 00 01 02"));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "programmingHashComponentInput - id: {18, 0x0012} version: "
                                 "{[0100] 0x(30 31 30 30)} IVD: {["));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "programmingHashOutput: {v_size=32, 0x(50 A3 5A CB"));
}

TEST_F(ProgrammingHashTest, RecordsAreHashedInListOrder) {
    cache.blocks = {Block(0x12, "0100", 0x00), Block(0x134, "0207", 0xA0)};
    ASSERT_TRUE(cache.CalculateLogicalBlockProgrammingHash(config));
    EXPECT_EQ(Hex(cache.programmingHash), kTwoBlocksDigest);

    std::swap(cache.blocks[0], cache.blocks[1]);
    ASSERT_TRUE(cache.CalculateLogicalBlockProgrammingHash(config));
    EXPECT_EQ(Hex(cache.programmingHash), kTwoBlocksSwappedDigest);
}

TEST_F(ProgrammingHashTest, RefusalsLeaveTheHashEmpty) {
    struct Case {
        std::vector<LogicalBlockCache> blocks;
        std::string message;
    };
    LogicalBlockCache noIvd = Block(7, "0001", 0x10);
    noIvd.IVD_IsValid = false;
    const std::vector<Case> cases = {
        {{}, "SessionData::CalculateLogicalBlockProgrammingHash: Logical block hash data are empty "},
        {{Block(0x12, "0100", 0), Block(0, "0100", 0)},
         "SessionData::CalculateLogicalBlockProgrammingHash: wrong Id of LB= 0; no ProgHashCalc; "},
        {{Block(0x12, "0100", 0), Block(15, "0100", 0)},
         "SessionData::CalculateLogicalBlockProgrammingHash: wrong Id of LB= 15; no ProgHashCalc; "},
        {{Block(0x12, "0100", 0), noIvd},
         "SessionData::CalculateLogicalBlockProgrammingHash: missing IVD for LB= 7; no ProgHashCalc; "},
    };
    for (const Case& c : cases) {
        cache.blocks = {Block(0x12, "0100", 0x00)};
        ASSERT_TRUE(cache.CalculateLogicalBlockProgrammingHash(config));
        capture.Clear();

        cache.blocks = c.blocks;
        EXPECT_FALSE(cache.CalculateLogicalBlockProgrammingHash(config)) << c.message;
        EXPECT_TRUE(cache.programmingHash.empty()) << c.message;
        EXPECT_TRUE(capture.Contains(Level::kInfo, c.message)) << capture.Dump();
        EXPECT_FALSE(capture.Contains("programmingHashInput"));
    }
}

TEST_F(ProgrammingHashTest, DptIdComparesWithTheLow16BitsOfTheConfiguration) {
    config->logicalBlockId_dpt = 0x10012;
    cache.blocks = {Block(0x12, "0100", 0x00)};
    EXPECT_FALSE(cache.CalculateLogicalBlockProgrammingHash(config));
}

TEST_F(ProgrammingHashTest, MissingConfigurationIsRefused) {
    cache.blocks = {Block(0x12, "0100", 0x00)};
    EXPECT_FALSE(cache.CalculateLogicalBlockProgrammingHash(nullptr));
    EXPECT_TRUE(cache.programmingHash.empty());
    EXPECT_TRUE(capture.Contains(Level::kError, "no ProgHashCalc"));
}

TEST(EcuProgrammingInfo, DefaultRecord) {
    const ecuInfoCache record = InitEcuProgrammingInfo();
    ecuInfoCache expected{};
    expected[0] = 0x40;
    const std::string version = "----";
    std::copy(version.begin(), version.end(), expected.begin() + 1);
    const std::string none = "NONE";
    std::copy(none.begin(), none.end(), expected.begin() + 12);
    std::copy(none.begin(), none.end(), expected.begin() + 43);
    std::fill(expected.begin() + 91, expected.end(), '-');
    EXPECT_EQ(record, expected);
}

TEST(DisplayFormat, Forms) {
    const uint8_t bytes6[] = {0x41, 0x42, 0x01, 0x01, 0x01, 0x01};
    EXPECT_EQ(FormatBytes6(bytes6), "{[AB    ] 0x(41 42 01 01 01 01)}");
    const uint8_t bytes4[] = {'0', 0x7F, 0x1F, ' '};
    EXPECT_EQ(FormatCharField4(bytes4), "{[0   ] 0x(30 7F 1F 20)}");
    EXPECT_EQ(FormatUint16DecHex(0xBEEF), "{48879, 0xBEEF}");
    EXPECT_EQ(ByteToDecHexString(10), "{10, 0x0A}");
    EXPECT_EQ(FormatIdValue(25), "{25, 0x00000019}");
    EXPECT_EQ(FormatInt32DecHex(-2), "{-2, 0xFFFFFFFE}");
}

TEST(CacheDumps, LogicalBlockEntryLines) {
    LogCapture capture;
    LogicalBlockCache block = Block(5, "0100", 0x41);
    block.name = "cluster_a";
    block.MajorVersion = 3;
    block.IVD_Retries = 2;
    DumpLogicalBlockEntries("ACTIVE", block);

    const auto texts = capture.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("ACTIVE LB[  5] id={5, 0x0005}, name=cluster_a, version={[0100] 0x(30 31 30 30)}, "
                             "MajorVersion={3, 0x0003}, rfsCurrentVersion={[0001] 0x(30 30 30 31)}, [",
                             0),
              0u)
        << texts[0];
    EXPECT_EQ(texts[1].rfind("ACTIVE LB[  5] IVD_Retrieved{0, 0x00}, IVD_Retries{2, 0x02}, "
                             "IVD_IsValid{1, 0x00000001}, IVD_IsCorrupt{0, 0x00000000}, "
                             "IVD_ACIsValid{0, 0x00000000}, IVD_ACIsCorrupt{1, 0x00000001}, IVD{[ABCDEFGHIJ",
                             0),
              0u)
        << texts[1];
}

TEST(CacheDumps, ForEachDumpsEveryBlockInOrderAndEcuInfo) {
    LogCapture capture;
    ForEachLogicalBlockProgrammingHash("MIRROR", {Block(9, "0001", 0), Block(120, "0001", 0)});
    DumpEcuCacheInfo("MIRROR", InitEcuProgrammingInfo());

    const auto texts = capture.Texts();
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[0].rfind("MIRROR LB[  9] id=", 0), 0u);
    EXPECT_EQ(texts[2].rfind("MIRROR LB[120] id=", 0), 0u);
    EXPECT_EQ(texts[4].rfind("MIRROR ECU CACHE INFO tmp_ecu_programming_info={64, 0x40}, "
                             "version={[----] 0x(2D 2D 2D 2D)}, ksv_project_data={[       ] 0x(00 00 00 00 00 00 00)}, "
                             "sparePartNumber={[-----------] 0x(2D 2D 2D 2D 2D 2D 2D 2D 2D 2D 2D)}, [",
                             0),
              0u)
        << texts[4];
    EXPECT_EQ(texts[5].rfind("MIRROR ECU CACHE INFO asam_odx_identifier={[NONE ", 0), 0u);
    EXPECT_EQ(texts[6].rfind("MIRROR ECU CACHE INFO supplierVersion={[NONE ", 0), 0u);
}

}  // namespace
