#include "KivLibrary/PartitionHandler/PartitionHandler.h"

#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using testsupport::Level;
using testsupport::LogCapture;
using testsupport::Sandbox;

namespace {

class PartitionHandlerTest : public ::testing::Test {
protected:
    PartitionHandlerTest() {
        config_->partition_a_name = "a";
        config_->partition_b_name = "b";
        config_->global_ab_flag_file = box_.Path("cmdline");
        config_->SysfsGlobalABFlagFile = box_.Path("sys/global");
        config_->SetSysfsMapping({{1, box_.Path("sys/lb1")}, {2, box_.Path("sys/lb2")}});
    }

    std::shared_ptr<IPartitionHandler> Handler() { return CreatePartitionHandler(config_); }

    Sandbox box_;
    LogCapture capture_;
    std::shared_ptr<KivConfiguration> config_ = std::make_shared<KivConfiguration>();
};

TEST_F(PartitionHandlerTest, ValidSysfsFilesDecideAndTheCommandLineIsNeverRead) {
    box_.WriteFile("sys/global", "B\n");
    box_.WriteFile("sys/lb1", "b\n");
    box_.WriteFile("sys/lb2", "B\r\nignored");
    box_.WriteFile("cmdline", "global_ab_flag=a ");

    auto handler = Handler();
    EXPECT_TRUE(handler->IsSysfsValid());
    EXPECT_EQ(handler->GetRequestedPartition(), PartitionEnum::B);
    EXPECT_EQ(handler->GetInactivePartition(), PartitionEnum::A);
    EXPECT_EQ(handler->GetActivePartition(1), PartitionEnum::B);
    EXPECT_EQ(handler->GetActivePartition(2), PartitionEnum::B);
    EXPECT_FALSE(capture_.Contains("reading cmdline file from: "));
    EXPECT_FALSE(capture_.Contains(Level::kWarn, ""));
    EXPECT_TRUE(capture_.Contains(Level::kInfo,
                                  "SysfsReader: content of " + box_.Path("sys/global") + " file='B\n', A/B flag='B'"));
}

TEST_F(PartitionHandlerTest, OneMissingBlockFileMakesEverythingComeFromTheCommandLine) {
    box_.WriteFile("sys/global", "b");
    box_.WriteFile("sys/lb1", "b");
    box_.WriteFile("cmdline", "console=ttyS0 global_ab_flag=A quiet\n");

    auto handler = Handler();
    EXPECT_EQ(handler->GetRequestedPartition(), PartitionEnum::A);
    EXPECT_FALSE(handler->IsSysfsValid());
    EXPECT_EQ(handler->GetActivePartition(1), PartitionEnum::A);
    EXPECT_EQ(handler->GetActivePartition(2), PartitionEnum::A);
    EXPECT_EQ(handler->GetInactivePartition(), PartitionEnum::B);
    EXPECT_TRUE(capture_.Contains(Level::kError, "SysfsReader: file '" + box_.Path("sys/lb2") + "' is missing"));
    EXPECT_TRUE(capture_.Contains(Level::kWarn, "PartitionHandler: can't get requested partition from sysfs"));
    EXPECT_TRUE(capture_.Contains(Level::kInfo,
                                  "PartitionHandler: can't get active partition from sysfs for "
                                  "logicalBlockId= 1"));
}

TEST_F(PartitionHandlerTest, UnknownNamesInEitherSourceGiveUnknown) {
    // Names longer than one letter never match the one-character command-line flag.
    config_->partition_a_name = "part_a";
    config_->partition_b_name = "part_b";
    box_.WriteFile("sys/global", "part_c\n");
    box_.WriteFile("sys/lb1", "PART_A");
    box_.WriteFile("sys/lb2", "part_b");
    box_.WriteFile("cmdline", "global_ab_flag=part_a ");

    auto handler = Handler();
    EXPECT_EQ(handler->GetRequestedPartition(), PartitionEnum::UNKNOWN);
    EXPECT_FALSE(handler->IsSysfsValid());
    EXPECT_TRUE(capture_.Contains(Level::kError, "GetPartition: UNKNOWN [in] partitionName='part_c'"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "SysfsReader: active partition=UNKNOWN"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "KernelCmdLineReader: requested partition=UNKNOWN"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "InvertPartition: Inverted partition=UNKNOWN"));
    // The sysfs files of the blocks were never reached: the global file already failed.
    EXPECT_FALSE(capture_.Contains("content of " + box_.Path("sys/lb1")));
}

TEST_F(PartitionHandlerTest, BlockWithoutSysfsEntryFallsBackWhileSysfsIsValid) {
    box_.WriteFile("sys/global", "a");
    box_.WriteFile("sys/lb1", "a");
    box_.WriteFile("sys/lb2", "b");
    box_.WriteFile("cmdline", "global_ab_flag=b ");

    auto handler = Handler();
    EXPECT_EQ(handler->GetActivePartition(2), PartitionEnum::B);
    EXPECT_EQ(handler->GetActivePartition(9), PartitionEnum::B);
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "SysfsReader: logicalBlockId is not found"));
    EXPECT_EQ(handler->GetRequestedPartition(), PartitionEnum::A);
}

TEST_F(PartitionHandlerTest, EveryFileIsReadOnce) {
    box_.WriteFile("sys/global", "a");
    box_.WriteFile("sys/lb1", "a");
    box_.WriteFile("sys/lb2", "b");
    box_.WriteFile("cmdline", "global_ab_flag=b ");

    auto handler = Handler();
    EXPECT_EQ(handler->GetRequestedPartition(), PartitionEnum::A);
    box_.WriteFile("sys/global", "b");
    box_.WriteFile("sys/lb1", "b");
    EXPECT_EQ(handler->GetRequestedPartition(), PartitionEnum::A);
    EXPECT_EQ(handler->GetActivePartition(1), PartitionEnum::A);
    EXPECT_EQ(capture_.Count("SysfsReader: content of " + box_.Path("sys/global")), 1u);
    EXPECT_EQ(capture_.Count("SysfsReader: content of " + box_.Path("sys/lb1")), 1u);

    // The command-line reader caches as well, also an UNKNOWN answer.
    KernelCmdLineReader reader(config_);
    box_.WriteFile("cmdline", "nothing here");
    EXPECT_EQ(reader.GetRequestedPartition(), PartitionEnum::UNKNOWN);
    box_.WriteFile("cmdline", "global_ab_flag=b ");
    EXPECT_EQ(reader.GetRequestedPartition(), PartitionEnum::UNKNOWN);
    EXPECT_EQ(reader.GetInactivePartition(), PartitionEnum::UNKNOWN);
}

TEST_F(PartitionHandlerTest, SysfsReaderWithoutMappingOnlyKnowsTheGlobalFile) {
    config_->SetSysfsMapping({});
    box_.WriteFile("sys/global", "b");
    SysfsReader reader(config_);
    EXPECT_TRUE(capture_.Contains(Level::kError, "SysfsReader: empty map of logical block id to sysfs file name"));
    EXPECT_EQ(reader.GetInactivePartition(), PartitionEnum::A);
    EXPECT_EQ(reader.GetActivePartition(1), PartitionEnum::UNKNOWN);
    EXPECT_TRUE(reader.IsSysfsValid());
}

TEST(PartitionEnumTest, TextFormsConversionsAndInversion) {
    LogCapture capture;
    EXPECT_EQ(PartitionFromString("b"), PartitionEnum::B);
    EXPECT_EQ(PartitionFromString("INVALID"), PartitionEnum::UNKNOWN);

    EXPECT_EQ(InvertPartition(PartitionEnum::A), PartitionEnum::B);
    EXPECT_EQ(InvertPartition(PartitionEnum::B), PartitionEnum::A);
    EXPECT_FALSE(capture.Contains(Level::kError, ""));
    EXPECT_EQ(InvertPartition(PartitionEnum::UNKNOWN), PartitionEnum::UNKNOWN);
    EXPECT_EQ(InvertPartition(PartitionEnum::INVALID), PartitionEnum::INVALID);
    EXPECT_EQ(InvertPartition(static_cast<PartitionEnum>(4)), PartitionEnum::INVALID);
    EXPECT_TRUE(capture.Contains(Level::kError, "InvertPartition: Can't invert [in] partition=INVALID"));
    EXPECT_TRUE(
        capture.Contains(Level::kError, "InvertPartition: Can't invert [in] partition=Invalid PartitionEnum value=4"));
}

TEST(PartitionEnumTest, GetPartitionComparesConfiguredNamesIgnoringCase) {
    LogCapture capture;
    KivConfiguration config;
    config.partition_a_name = "SlotA";
    config.partition_b_name = "slotb";
    EXPECT_EQ(GetPartition(config, "sLOTa"), PartitionEnum::A);
    EXPECT_EQ(GetPartition(config, "SLOTB"), PartitionEnum::B);
    EXPECT_EQ(GetPartition(config, "slot"), PartitionEnum::UNKNOWN);
    EXPECT_EQ(GetPartition(config, "slotb "), PartitionEnum::UNKNOWN);
    EXPECT_TRUE(capture.Contains(Level::kError, "GetPartition: UNKNOWN [in] partitionName='slot'"));

    // Names differing only in case: A is tested first.
    config.partition_b_name = "SLOTA";
    EXPECT_EQ(GetPartition(config, "slota"), PartitionEnum::A);
}

}  // namespace
