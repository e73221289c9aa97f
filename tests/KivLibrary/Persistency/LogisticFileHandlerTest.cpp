// Reading the logistics files of both partitions into the session's caches,
// with real files in a sandbox.
#include "KivLibrary/Persistency/LogisticFileHandler.h"

#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "tests/KivLibrary/Persistency/LogisticsFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using logisticstest::kActiveDir;
using logisticstest::kInactiveDir;
using logisticstest::Logistics;
using logisticstest::WriteLogistics;
using testsupport::Level;
using Version = std::array<uint8_t, 4>;

std::string Field(const ecuInfoCache& ecu, size_t offset, size_t size) {
    return std::string(reinterpret_cast<const char*>(ecu.data() + offset), size);
}

std::string Text(const std::array<uint8_t, 4>& field) { return std::string(field.begin(), field.end()); }

std::vector<uint16_t> Ids(const std::vector<LogicalBlockCache>& blocks) {
    std::vector<uint16_t> ids;
    for (const auto& block : blocks) {
        ids.push_back(block.id);
    }
    return ids;
}

Version V(const char* text) {
    Version version{};
    std::memcpy(version.data(), text, 4);
    return version;
}

class LogisticFileHandlerTest : public ::testing::Test {
protected:
    std::shared_ptr<LogicalBlockCacheData> Active() { return session->GetInstalledLogistics(); }
    std::shared_ptr<LogicalBlockCacheData> Mirror() { return session->GetUpdatedLogistics(); }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    std::shared_ptr<KivConfiguration> configuration = logisticstest::MakeLogisticsConfiguration(box);
    std::shared_ptr<SessionData> session =
        std::make_shared<SessionData>(configuration, nullptr, std::make_shared<sessiontest::SpyVerifier>());
    std::shared_ptr<LogisticFileHandler> handler =
        std::make_shared<LogisticFileHandler>(configuration, nullptr, session);
};

TEST_F(LogisticFileHandlerTest, BothPartitionsFillTheirOwnCaches) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_7.json", Logistics().Name("cl7").Id(7).AppSw("0123"));
    WriteLogistics(box, kActiveDir, "prefix_ZenqLogistics_3.json", Logistics().Name("cl3").Id(3).AppSw("0200"));
    WriteLogistics(box, kActiveDir, "other.json", Logistics().Name("unrelated").Id(4));
    WriteLogistics(box, kInactiveDir, "ZenqLogistics_9.json", Logistics().Name("cl9").Id(9).AppSw("0300"));

    handler->ReadActiveLogistics();
    handler->ReadInactiveLogistics();

    const auto active = Active();
    EXPECT_EQ(Ids(active->blocks), (std::vector<uint16_t>{3, 7}));
    EXPECT_EQ(active->blocks[0].name, "cl3");
    EXPECT_EQ(Text(active->blocks[0].version), "0100");
    EXPECT_EQ(Text(active->blocks[0].rfsCurrentVersion), "0002");
    EXPECT_EQ(active->blocks[0].MajorVersion, 2);
    EXPECT_EQ(active->ecuInfo[0], 0x40);
    EXPECT_EQ(Field(active->ecuInfo, EcuInfoLayout::kVersionOffset, 4), "0200");
    EXPECT_EQ(Ids(Mirror()->blocks), (std::vector<uint16_t>{9}));
    EXPECT_EQ(Field(Mirror()->ecuInfo, EcuInfoLayout::kVersionOffset, 4), "0300");

    EXPECT_TRUE(capture.Contains(Level::kInfo, "=== Found 2 logistic files in the partition" + box.Path(kActiveDir)));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "ACTIVE LogicalBlock Cache LB["));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "MIRROR ECUInfo Cache ECU CACHE INFO "));
    EXPECT_FALSE(capture.Contains("unrelated"));
}

TEST_F(LogisticFileHandlerTest, TheHighestApplicationVersionGivesTheEcuInformation) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_1.json", Logistics().Id(1).AppSw("0123").Revision("r0123"));
    WriteLogistics(box, kActiveDir, "ZenqLogistics_2.json", Logistics().Id(2).AppSw("B200").Revision("rB200"));
    WriteLogistics(box, kActiveDir, "ZenqLogistics_3.json", Logistics().Id(3).AppSw("0200").Revision("r0200"));
    WriteLogistics(box, kActiveDir, "ZenqLogistics_4.json", Logistics().Id(4).AppSw("0150").Revision("r0150"));

    handler->ReadActiveLogistics();

    const auto active = Active();
    EXPECT_EQ(Ids(active->blocks), (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(Field(active->ecuInfo, EcuInfoLayout::kVersionOffset, 4), "0200");
    EXPECT_EQ(Field(active->ecuInfo, EcuInfoLayout::kRevisionOffset, 6), std::string("r0200\0", 6));
    EXPECT_TRUE(capture.Contains(">>>>>>>>>>>>> FINAL MAX APP SW VERSION = {[0200] 0x(30 32 30 30)}"));
}

TEST_F(LogisticFileHandlerTest, ADuplicatedIdKeepsTheFileListedFirst) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_a.json", Logistics().Name("first").Id(5).AppSw("0100"));
    WriteLogistics(box, kActiveDir, "ZenqLogistics_b.json", Logistics().Name("second").Id(5).AppSw("0900"));
    const std::vector<std::string> listed = ParseDirectory(box.Path(kActiveDir), "ZenqLogistics_");
    ASSERT_EQ(listed.size(), 2U);
    const bool aFirst = listed[0].find("_a.json") != std::string::npos;

    handler->ReadActiveLogistics();

    const auto active = Active();
    ASSERT_EQ(active->blocks.size(), 1U);
    EXPECT_EQ(active->blocks[0].name, aFirst ? "first" : "second");
    EXPECT_TRUE(capture.Contains(Level::kWarn, "Found duplicated logical block ID: 5"));
    // The duplicate's ECU information is never read, and it is no inconsistency.
    EXPECT_EQ(Field(active->ecuInfo, EcuInfoLayout::kVersionOffset, 4), aFirst ? "0100" : "0900");
    EXPECT_EQ(capture.Count("Parsing the ecu info for file : "), 1U);
    EXPECT_EQ(active->ecuInfo[0], 0x40);
}

TEST_F(LogisticFileHandlerTest, FieldsAreCutAndDecodedByTheirRules) {
    Logistics logistics;
    logistics.Id(261).AppSw("12").Rfs("");
    logistics.major = "74565";  // 0x12345
    logistics.logicalBlock = "\"AB\"";
    logistics.projectData = "\"0a0b0c0d0e0f1011\"";
    logistics.sparePartNumber = "\"123456789012345\"";
    logistics.odxIdentifier = "\"" + std::string(40, 'X') + "\"";
    WriteLogistics(box, kActiveDir, "ZenqLogistics_x.json", logistics);
    Logistics odd;
    odd.Id(6).AppSw("0001").projectData = "\"0a0b0\"";
    WriteLogistics(box, kInactiveDir, "ZenqLogistics_y.json", odd);

    handler->ReadActiveLogistics();
    handler->ReadInactiveLogistics();

    const auto active = Active();
    ASSERT_EQ(active->blocks.size(), 1U);
    const LogicalBlockCache& block = active->blocks[0];
    EXPECT_EQ(block.id, 5);
    EXPECT_EQ(block.MajorVersion, 0x2345);
    EXPECT_EQ(Text(block.version), "AB--");
    EXPECT_EQ(block.rfsCurrentVersion, (Version{0, 0, 0, 0}));
    const ecuInfoCache& ecu = active->ecuInfo;
    EXPECT_EQ(Field(ecu, EcuInfoLayout::kVersionOffset, 4), "12--");
    EXPECT_EQ(Field(ecu, EcuInfoLayout::kProjectDataOffset, 7), "\x0a\x0b\x0c\x0d\x0e\x0f\x10");
    EXPECT_EQ(Field(ecu, EcuInfoLayout::kOdxIdentifierOffset, 25), std::string(25, 'X'));
    EXPECT_EQ(Field(ecu, EcuInfoLayout::kSparePartNumberOffset, 11), "12345678901");
    EXPECT_EQ(Field(Mirror()->ecuInfo, EcuInfoLayout::kProjectDataOffset, 7), std::string(7, '\0'));
}

TEST_F(LogisticFileHandlerTest, AMissingDirectoryGivesAnEmptyConsistentCache) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_1.json", Logistics().Id(1));
    handler->ReadActiveLogistics();
    ASSERT_EQ(Active()->blocks.size(), 1U);

    configuration->activeLogisticsPath = box.Path("logistics/absent");
    handler->ReadActiveLogistics();

    EXPECT_TRUE(Active()->blocks.empty());
    EXPECT_EQ(Active()->ecuInfo, InitEcuProgrammingInfo());
    EXPECT_TRUE(capture.Contains(Level::kError, "ParseDirectory: Could not open directory"));
    EXPECT_TRUE(capture.Contains(Level::kError,
                                 "Ecuinfo wasn't read successfully from a logistic file even once. It won't be set!"));
}

TEST_F(LogisticFileHandlerTest, BadFilesContributeNothingAndMarkThePartition) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_good.json", Logistics().Name("good").Id(1).AppSw("0300"));
    box.WriteFile(std::string(kActiveDir) + "/ZenqLogistics_malformed.json", "{\"ZenqLogistics\": {\"ID\": 2,");
    Logistics wrongType;
    wrongType.id = "\"3\"";
    WriteLogistics(box, kActiveDir, "ZenqLogistics_type.json", wrongType);
    WriteLogistics(box, kActiveDir, "ZenqLogistics_name.json", Logistics().Name(std::string(300, 'n')).Id(4));
    box.WriteFile(std::string(kActiveDir) + "/ZenqLogistics_array.json", "[1, 2, 3]");
    // A huge array beside the expected keys.
    std::string padding;
    while (padding.size() <= LogisticFileHandler::kMaxLogisticFileSize) {
        padding += "0,";
    }
    std::string huge = Logistics().Id(6).Text();
    huge.insert(1, "\"Padding\": [" + padding + "0],");
    box.WriteFile(std::string(kActiveDir) + "/ZenqLogistics_huge.json", huge);
    box.MakeDir(std::string(kActiveDir) + "/ZenqLogistics_directory");
    // Only the ECU part is broken: the block is kept, the ECU info is not used.
    Logistics ecuBroken = Logistics().Name("noinfo").Id(8).AppSw("0900");
    ecuBroken.withAdditionalInformation = false;
    WriteLogistics(box, kActiveDir, "ZenqLogistics_ecu.json", ecuBroken);

    handler->ReadActiveLogistics();

    const auto active = Active();
    EXPECT_EQ(Ids(active->blocks), (std::vector<uint16_t>{1, 8}));
    EXPECT_EQ(active->ecuInfo[0], 0x44);
    EXPECT_EQ(Field(active->ecuInfo, EcuInfoLayout::kVersionOffset, 4), "0300");
    for (const char* file : {"malformed", "type", "name", "array", "huge", "directory"}) {
        EXPECT_TRUE(capture.Contains(Level::kError, "Couldn't parse logistic file \"" + box.Path(kActiveDir) +
                                                        "/ZenqLogistics_" + file +
                                                        (std::string(file) == "directory" ? "" : ".json") +
                                                        "\" for logical block, skip it and set programmable and "
                                                        "inconsistent."))
            << file;
    }
    EXPECT_TRUE(capture.Contains(Level::kError, "Couldn't parse logistic file \"" + box.Path(kActiveDir) +
                                                    "/ZenqLogistics_ecu.json\" for ecuinfo, skip it"));
    EXPECT_TRUE(capture.Contains(Level::kError, "Parse logical block -> Exception: Couldn't parse jsonInput"));
    EXPECT_TRUE(capture.Contains(Level::kError, "Parse logical block -> Exception: Couldn't get int \"ID\""));
    EXPECT_TRUE(capture.Contains(Level::kError, "\"Name\" is longer than 255 characters"));
    EXPECT_TRUE(capture.Contains(Level::kError, "is larger than 262144 bytes"));
    EXPECT_TRUE(capture.Contains(Level::kError,
                                 "Parse EcuInfo -> Exception: Couldn't get object "
                                 "\"AdditionalInformation\""));
}

// A FIFO named like a logistics file has no writer: opening or reading it
// would block the start-up for ever. It is skipped like an unreadable file.
TEST_F(LogisticFileHandlerTest, AFifoNamedLikeALogisticsFileNeverBlocksTheReader) {
    WriteLogistics(box, kActiveDir, "ZenqLogistics_good.json", Logistics().Name("good").Id(1).AppSw("0300"));
    const std::string fifo = box.Path(std::string(kActiveDir) + "/ZenqLogistics_fifo.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread reader([&]() {
        handler->ReadActiveLogistics();
        finished.set_value();
    });
    const bool returned = done.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    // Release a blocked reader so the test can end: writers that close at
    // once, for every open of the FIFO, within a bound.
    for (int i = 0; !returned && i < 100 && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready;
         ++i) {
        ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
    }
    reader.join();
    ASSERT_TRUE(returned) << "the reader blocked on the FIFO";

    const auto active = Active();
    EXPECT_EQ(Ids(active->blocks), (std::vector<uint16_t>{1}));
    EXPECT_EQ(active->ecuInfo[0], 0x44);
    EXPECT_TRUE(capture.Contains(Level::kError, "\"" + fifo + "\" is not a regular file"));
    EXPECT_TRUE(capture.Contains(Level::kError, "Couldn't parse logistic file \"" + fifo +
                                                    "\" for logical block, skip it and set programmable and "
                                                    "inconsistent."));
    EXPECT_TRUE(capture.Contains(Level::kWarn, "PRINTING ACTIVE LOGISTICS logistics file skipped: "));
}

TEST_F(LogisticFileHandlerTest, VersionsCompareByTheirRules) {
    EXPECT_TRUE(LogisticFileHandler::CompareVersions(V("0123"), V("0200")));
    EXPECT_FALSE(LogisticFileHandler::CompareVersions(V("0200"), V("0123")));
    EXPECT_FALSE(LogisticFileHandler::CompareVersions(V("0123"), V("0123")));
    EXPECT_FALSE(LogisticFileHandler::CompareVersions(V("0123"), V("A123")));
    EXPECT_TRUE(LogisticFileHandler::CompareVersions(V("A123"), V("0123")));
    EXPECT_TRUE(LogisticFileHandler::CompareVersions(V("A123"), V("B124")));
    EXPECT_TRUE(LogisticFileHandler::CompareVersions(V("A123"), V("B123")));

    EXPECT_FALSE(LogisticFileHandler::CompareVersions(V("0123"), V("0a23")));
    EXPECT_TRUE(capture.Contains(Level::kError, "ecuInfo version - rule 1 - wrong tmp EcuInfo AppSW version"));
    EXPECT_TRUE(LogisticFileHandler::CompareVersions(V("0a23"), V("0123")));
    EXPECT_TRUE(capture.Contains(Level::kError, "ecuInfo version - rule 1 - wrong max EcuInfo AppSW version"));
    EXPECT_FALSE(LogisticFileHandler::CompareVersions(V("A123"), V("B1x3")));
    EXPECT_TRUE(capture.Contains(Level::kError, "ecuInfo version - rule 2 - wrong tmp EcuInfo AppSW version"));
    EXPECT_FALSE(LogisticFileHandler::CompareVersions(V("A123"), V("a123")));
    EXPECT_TRUE(capture.Contains(Level::kError, "ecuInfo version - rule 3 - wrong tmp EcuInfo AppSW0 version"));
    EXPECT_TRUE(LogisticFileHandler::CompareVersions(V("-123"), V("A123")));
    EXPECT_TRUE(capture.Contains(Level::kError, "ecuInfo version - rule 3 - wrong max EcuInfo AppSW0 version"));
}

TEST_F(LogisticFileHandlerTest, ReReadingTheMirrorKeepsItsIntegrityState) {
    WriteLogistics(box, kInactiveDir, "ZenqLogistics_3.json", Logistics().Name("c3").Id(3));
    WriteLogistics(box, kInactiveDir, "ZenqLogistics_4.json", Logistics().Name("c4").Id(4));
    handler->ReadInactiveLogistics();
    session->ReplaceLogistics(false, [](LogicalBlockCacheData& cache) {
        cache.blocks[0].IVD_IsValid = true;
        cache.blocks[0].IVD.fill(0xAB);
        cache.blocks[1].IVD_IsCorrupt = true;
        cache.blocks[1].IVD.fill(0xCD);  // not valid: dropped
    });
    WriteLogistics(box, kInactiveDir, "ZenqLogistics_5.json", Logistics().Name("c5").Id(5));

    handler->ReadInactiveLogistics();

    const auto mirror = Mirror();
    ASSERT_EQ(Ids(mirror->blocks), (std::vector<uint16_t>{3, 4, 5}));
    EXPECT_TRUE(mirror->blocks[0].IVD_Retrieved);
    EXPECT_TRUE(mirror->blocks[0].IVD_IsValid);
    EXPECT_TRUE(mirror->blocks[0].IVD_ACIsValid);
    EXPECT_FALSE(mirror->blocks[0].IVD_ACIsCorrupt);
    EXPECT_EQ(mirror->blocks[0].IVD[31], 0xAB);
    EXPECT_TRUE(mirror->blocks[1].IVD_Retrieved);
    EXPECT_TRUE(mirror->blocks[1].IVD_IsCorrupt);
    EXPECT_TRUE(mirror->blocks[1].IVD_ACIsCorrupt);
    EXPECT_EQ(mirror->blocks[1].IVD[0], 0);
    EXPECT_FALSE(mirror->blocks[2].IVD_Retrieved);
    EXPECT_TRUE(mirror->blocks[2].IVD_ACIsCorrupt);
}

// Readers hold snapshots while the caches are re-read on another thread: a
// snapshot never changes under its reader.
TEST_F(LogisticFileHandlerTest, ReadersKeepAConsistentSnapshotWhileTheCachesAreReRead) {
    for (int id = 1; id <= 6; ++id) {
        WriteLogistics(box, kActiveDir, "ZenqLogistics_" + std::to_string(id) + ".json",
                       Logistics().Name("c" + std::to_string(id)).Id(id));
        WriteLogistics(box, kInactiveDir, "ZenqLogistics_" + std::to_string(id) + ".json",
                       Logistics().Name("m" + std::to_string(id)).Id(id));
    }
    handler->ReadActiveLogistics();
    handler->ReadInactiveLogistics();

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&]() {
            while (!stop.load()) {
                for (const auto& cache : {session->GetInstalledLogistics(), session->GetUpdatedLogistics()}) {
                    const size_t size = cache->blocks.size();
                    size_t seen = 0;
                    for (const auto& block : cache->blocks) {
                        seen += block.name.empty() ? 0 : 1;
                    }
                    if (seen != size || cache->blocks.size() != size) {
                        ++torn;
                    }
                }
                // Spinning readers would starve the re-reading thread on a busy machine.
                std::this_thread::yield();
            }
        });
    }
    auto worker = std::make_shared<LogisticFileHandler>(configuration, nullptr, session);
    for (int round = 0; round < 20; ++round) {
        worker->ReadActiveLogistics();
        worker->ReadInactiveLogistics();
    }
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(Active()->blocks.size(), 6U);
}

}  // namespace
