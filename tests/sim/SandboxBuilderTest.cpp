// The sandbox layout as the real readers see it: the configuration derived
// from the shipped one, the partition flags, the logistics and the RT side's
// shared files.
#include "sim/SandboxBuilder.h"

#include "KivLibrary/GlobalLibrary/KivConfigParser.h"
#include "KivLibrary/GlobalLibrary/PartitionHandlerExecution.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/PartitionHandler/PartitionHandler.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

using Json = nlohmann::json;

Json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return Json::parse(in);
}

// Every absolute path of the shipped file reappears below the root, except the
// SMACK staging directories (places inside a partition's tree); nothing else
// changed.
void ExpectMovedBelowRoot(const Json& shipped, const Json& written, const std::string& root, const std::string& where) {
    ASSERT_EQ(shipped.type(), written.type()) << where;
    if (shipped.is_string()) {
        const std::string text = shipped.get<std::string>();
        const bool systemPath = !text.empty() && text.front() == '/' && where.rfind("/SmackStaging", 0) != 0;
        const std::string expected = systemPath ? root + text : text;
        EXPECT_EQ(written.get<std::string>(), expected) << where;
    } else if (shipped.is_object()) {
        ASSERT_EQ(shipped.size(), written.size()) << where;
        for (auto it = shipped.begin(); it != shipped.end(); ++it) {
            ASSERT_TRUE(written.contains(it.key())) << where << "/" << it.key();
            ExpectMovedBelowRoot(it.value(), written[it.key()], root, where + "/" + it.key());
        }
    } else if (shipped.is_array()) {
        ASSERT_EQ(shipped.size(), written.size()) << where;
        for (size_t i = 0; i < shipped.size(); ++i) {
            ExpectMovedBelowRoot(shipped[i], written[i], root, where + "/" + std::to_string(i));
        }
    } else {
        EXPECT_EQ(written, shipped) << where;
    }
}

class SandboxBuilderTest : public ::testing::Test {
protected:
    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    sim::SandboxBuilder builder{box.Root()};
};

TEST_F(SandboxBuilderTest, TheConfigurationIsTheShippedOneWithEveryPathInsideTheRoot) {
    builder.WriteAll();
    const Json shipped = ReadJson(sim::SandboxBuilder::ShippedConfigurationPath());
    const Json written = ReadJson(builder.ConfigPath());
    ExpectMovedBelowRoot(shipped, written, box.Root(), "");

    for (const std::string& file : {builder.PublicKeyPath(), builder.KernelCommandLinePath(),
                                    written["SysfsSettings"]["SysfsGlobalABFlagFile"].get<std::string>()}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(file)) << file;
    }
    for (PartitionEnum partition : {PartitionEnum::A, PartitionEnum::B}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(builder.SmackDirectory(partition, "src_dir") +
                                                     sim::SandboxBuilder::kSmackRuleFile));
        EXPECT_TRUE(std::filesystem::is_directory(builder.SmackDirectory(partition, "dst_dir")));
    }
    EXPECT_EQ(builder.SmackDirectory(PartitionEnum::B, "dst_dir"),
              box.Root() + "/persist/logistics/B/" + written["SmackStaging"]["dst_dir"].get<std::string>() + "/");
    std::ifstream key(builder.PublicKeyPath());
    std::string firstLine;
    std::getline(key, firstLine);
    EXPECT_EQ(firstLine, "-----BEGIN PUBLIC KEY-----");
}

TEST_F(SandboxBuilderTest, PartitionBWithItsOwnLogisticsAndValidPeerFilesAsTheRealReadersSeeThem) {
    sim::LogisticsFile high;
    high.Name("hk_high").Id(6).AppSw("0300");
    sim::LogisticsFile low;
    low.Name("hk_low").Id(5).AppSw("0200");
    builder.SetHostname("vm_housekeeping")
        .SetActivePartition(PartitionEnum::B)
        .SetPublicKeyPem("not a key")
        .SetLogistics(PartitionEnum::B, {{"ZenqLogistics_high.json", high}, {"ZenqLogistics_low.json", low}})
        .WriteAll();
    EXPECT_EQ(builder.FlashBlocks(), (std::vector<uint32_t>{5, 6}));

    std::ifstream file(builder.ConfigPath());
    KivConfigParser parser(file);
    auto configuration = std::make_shared<KivConfiguration>();
    ASSERT_TRUE(parser.parse(configuration)) << capture.Dump();
    ASSERT_TRUE(
        PartitionHandlerExecution::DetermineGlobalAbSettings(CreatePartitionHandler(configuration), configuration));
    EXPECT_EQ(configuration->hostname, "vm_housekeeping");
    EXPECT_EQ(configuration->activePartitionName, "b");
    EXPECT_TRUE(configuration->sysfsValid);
    EXPECT_EQ(configuration->activeLogisticsPath, builder.LogisticsDirectory(PartitionEnum::B));

    auto session = std::make_shared<SessionData>(configuration, nullptr, nullptr);
    LogisticFileHandler handler(configuration, nullptr, session);
    handler.ReadActiveLogistics();
    handler.ReadInactiveLogistics();
    const auto active = session->GetInstalledLogistics();
    ASSERT_EQ(active->blocks.size(), 2u);
    EXPECT_EQ(active->blocks[0].name, "hk_low");
    EXPECT_EQ(active->blocks[1].name, "hk_high");
    EXPECT_EQ(std::string(active->ecuInfo.begin() + 1, active->ecuInfo.begin() + 5), "0300");
    // Partition A keeps its default: one file per configured block.
    const auto mirror = session->GetUpdatedLogistics();
    ASSERT_EQ(mirror->blocks.size(), 2u);
    EXPECT_EQ(mirror->blocks[0].name, "vm_housekeeping_lb5");

    SharedMemoryInterface& shared = SharedMemoryInterface::Instance();
    EXPECT_TRUE(shared.IsRcarValid());
    EXPECT_EQ(shared.ReadSwUpdateFlag(SharedMemoryInterface::kRcarStatusPath),
              SharedMemoryInterface::kSwUpdateFlagAllowed);
    EXPECT_EQ(shared.ReadHwVersion(SharedMemoryInterface::kRcarHardwareIdPath),
              (std::array<uint8_t, 3>{{'H', 'W', '1'}}));
    EXPECT_EQ(shared.ReadFingerprintDate(SharedMemoryInterface::kRcarFingerprintDatePath),
              (std::array<uint8_t, 3>{{0x24, 0x05, 0x17}}));
    for (const auto& message : capture.Messages()) {
        EXPECT_NE(message.level, testsupport::Level::kError) << message.text;
    }
}

}  // namespace
