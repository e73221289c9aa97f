#include "KivLibrary/GlobalLibrary/PartitionHandlerExecution.h"

#include "KivLibrary/PartitionHandler/PartitionHandler.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

using testsupport::Level;
using testsupport::LogCapture;
using testsupport::Sandbox;

namespace {

// Real partition detection over flag files in a sandbox.
class DetermineGlobalAbSettingsTest : public ::testing::Test {
protected:
    DetermineGlobalAbSettingsTest() {
        config_->logistics_root_path = "/data/log";
        config_->logistics_data_folder = "json";
        config_->partition_a_name = "A";
        config_->partition_b_name = "B";
        config_->global_ab_flag_file = box_.Path("cmdline");
        config_->SysfsGlobalABFlagFile = box_.Path("sys/global");
        config_->SetSysfsMapping({{7, box_.Path("sys/lb7")}, {3, box_.Path("sys/lb3")}});
    }

    bool Determine() {
        return PartitionHandlerExecution::DetermineGlobalAbSettings(CreatePartitionHandler(config_), config_);
    }

    Sandbox box_;
    LogCapture capture_;
    std::shared_ptr<KivConfiguration> config_ = std::make_shared<KivConfiguration>();
};

TEST_F(DetermineGlobalAbSettingsTest, RequestedBMakesBActiveWithLowerCaseNamesAndConfiguredCasePaths) {
    box_.WriteFile("sys/global", "B\n");
    box_.WriteFile("sys/lb3", "a\n");  // a block may still run from the other partition
    box_.WriteFile("sys/lb7", "b");

    ASSERT_TRUE(Determine()) << capture_.Dump();
    EXPECT_EQ(config_->activePartitionName, "b");
    EXPECT_EQ(config_->activeLogisticsPath, "/data/log/B/json/");
    EXPECT_EQ(config_->inactivePartitionName, "a");
    EXPECT_EQ(config_->GetInactivePartition(), "a");
    EXPECT_EQ(config_->inactiveLogisticsPath, "/data/log/A/json/");
    EXPECT_TRUE(config_->GetSysfsValidFlag());
    EXPECT_EQ(config_->activePartitionMap,
              (std::map<uint32_t, PartitionEnum>{{3, PartitionEnum::A}, {7, PartitionEnum::B}}));
    EXPECT_EQ(config_->GetActivePartition(3), PartitionEnum::A);
    EXPECT_EQ(config_->GetActivePartition(7), PartitionEnum::B);
    // Blocks not in the mapping follow the active partition.
    EXPECT_EQ(config_->GetActivePartition(42), PartitionEnum::B);

    // Blocks are asked in ascending id order.
    const auto texts = capture_.Texts();
    size_t block3 = texts.size();
    size_t block7 = texts.size();
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].find("PartitionHandler: logicalBlockId=3:") == 0)
            block3 = i;
        if (texts[i].find("PartitionHandler: logicalBlockId=7:") == 0)
            block7 = i;
    }
    EXPECT_LT(block3, block7);
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "active partition: b"));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "inactive partition: a"));
}

TEST_F(DetermineGlobalAbSettingsTest, RequestedAFromTheKernelCommandLineWhenSysfsIsIncomplete) {
    box_.WriteFile("sys/global", "B\n");
    box_.WriteFile("sys/lb3", "b\n");  // lb7 missing: the sysfs source is dropped as a whole
    box_.WriteFile("cmdline", "console=ttyS0 global_ab_flag=a hostname=vm_java \n");

    ASSERT_TRUE(Determine()) << capture_.Dump();
    EXPECT_EQ(config_->activePartitionName, "a");
    EXPECT_EQ(config_->activeLogisticsPath, "/data/log/A/json/");
    EXPECT_EQ(config_->inactivePartitionName, "b");
    EXPECT_EQ(config_->inactiveLogisticsPath, "/data/log/B/json/");
    EXPECT_FALSE(config_->GetSysfsValidFlag());
    EXPECT_EQ(config_->activePartitionMap,
              (std::map<uint32_t, PartitionEnum>{{3, PartitionEnum::A}, {7, PartitionEnum::A}}));
}

TEST_F(DetermineGlobalAbSettingsTest, UnknownRequestedPartitionDefaultsToA) {
    // Neither source exists at all.
    ASSERT_TRUE(Determine()) << capture_.Dump();
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "using default value for requested partition: A"));
    EXPECT_EQ(config_->activePartitionName, "a");
    EXPECT_EQ(config_->inactivePartitionName, "b");
    EXPECT_FALSE(config_->sysfsValid);
    EXPECT_EQ(config_->activePartitionMap,
              (std::map<uint32_t, PartitionEnum>{{3, PartitionEnum::UNKNOWN}, {7, PartitionEnum::UNKNOWN}}));
}

TEST_F(DetermineGlobalAbSettingsTest, EmptySysfsMappingFailsAfterStoringThePartitions) {
    config_->SetSysfsMapping({});
    box_.WriteFile("cmdline", "global_ab_flag=b");
    EXPECT_FALSE(Determine());
    EXPECT_TRUE(capture_.Contains(Level::kError, "SysfsMapping invalid"));
    EXPECT_EQ(config_->activePartitionName, "b");
    EXPECT_EQ(config_->inactivePartitionName, "a");
    EXPECT_TRUE(config_->activePartitionMap.empty());
}

TEST_F(DetermineGlobalAbSettingsTest, EmptyArgumentsAreRefused) {
    EXPECT_FALSE(PartitionHandlerExecution::DetermineGlobalAbSettings(nullptr, config_));
    EXPECT_TRUE(capture_.Contains(Level::kError, "invalid partition handler!"));
    EXPECT_FALSE(PartitionHandlerExecution::DetermineGlobalAbSettings(CreatePartitionHandler(config_), nullptr));
    EXPECT_TRUE(capture_.Contains(Level::kError, "invalid kiv config!"));
    EXPECT_TRUE(config_->activePartitionName.empty());
}

}  // namespace
