#include "KivLibrary/GlobalLibrary/KivConfigParser.h"

#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using testsupport::Level;
using testsupport::LogCapture;
using testsupport::Sandbox;

namespace {

// A file with every section and every optional key set to a non-default value.
nlohmann::json CompleteConfig(const std::string& cmdlinePath) {
    nlohmann::json json = nlohmann::json::parse(R"({
        "general_settings": {"logicalBlockId_dpt": 15, "service_instance_id": "uds1",
                             "length_of_logicalBlockId": 2, "transfer_size": 4093},
        "zenq_logistics_settings": {"logistics_root_path": "/data/log", "logistics_data_folder": "json"},
        "ab_scheme_settings": {"global_ab_flag_file": "", "partition_a_name": "A", "partition_b_name": "B"},
        "persistancy_settings": {"port_name": "KivDb"},
        "security_access_settings": {"KeyCalculation": "814C"},
        "UCMSettings": {"ServiceInstanceId": "ucm7", "ResponseTimeout_msec": 2500},
        "DiagnosticInfo_settings": {"instance_id": "diag3"},
        "ConfiguredLogicalBlocks": {"VMs": [
            {"Name": "vm_adaptive", "FlashBlocks": [1, 2]},
            {"Name": "vm_java", "FlashBlocks": [7, 3, 9]},
            {"Name": "vm_java", "FlashBlocks": [99]},
            {"Name": "qemu", "FlashBlocks": [4]}]},
        "SysfsSettings": {"SysfsGlobalABFlagFile": "/sys/ab/global",
                          "SysfsMapping": [{"SysfsLogicalBlockId": 7, "SysfsFile": "/sys/ab/lb7"},
                                           {"SysfsLogicalBlockId": 3, "SysfsFile": "/sys/ab/lb3"},
                                           {"SysfsLogicalBlockId": 254, "SysfsFile": "/sys/ab/lb254"}]},
        "RoutineServiceSettings": {"ServiceMapping": [{"RoutineId": "0x0202", "InstanceId": "r1"},
                                                      {"RoutineId": "0xC010", "InstanceId": "r2"},
                                                      {"RoutineId": "0x0202", "InstanceId": "r3"}]},
        "SecurityAccessSettings": {"ServiceMapping": [{"SecurityLevel": 9, "InstanceId": "sa9"},
                                                      {"SecurityLevel": 1, "InstanceId": "sa1"}]},
        "SmackStaging": {"src_dir": "/stage/src", "dst_dir": "/stage/dst"},
        "Public_key_path": "/keys/pub.pem",
        "UseDummyValuesforRcar": "no",
        "IVD_RID_0253_AlienKIVId": "alien",
        "IVD_RID_0253_StartTimeout_msec": 3000,
        "IVD_RID_0253_CancelTimeout_msec": 1500,
        "IVD_AutoCheck_Enabled": true,
        "IVD_AutoCheck_StartTimeout_msec": 6000,
        "IVD_AutoCheck_ResumeTimeout_msec": 7000,
        "IVD_AutoCheck_DelayTimeout_msec": 250,
        "IVD_AutoCheck_VolatileMirrorFlashBlocks": [3, 7]
    })");
    json["ab_scheme_settings"]["global_ab_flag_file"] = cmdlinePath;
    return json;
}

class KivConfigParserTest : public ::testing::Test {
protected:
    KivConfigParserTest()
        : cmdline_(box_.WriteFile("cmdline", "console=ttyS0 hostname=vm_java global_ab_flag=a quiet\n")) {}

    nlohmann::json Complete() const { return CompleteConfig(cmdline_); }

    bool Parse(const std::string& text) {
        std::istringstream stream(text);
        KivConfigParser parser(stream);
        return parser.parse(config_);
    }
    bool Parse(const nlohmann::json& json) { return Parse(json.dump()); }

    Sandbox box_;
    std::string cmdline_;
    std::shared_ptr<KivConfiguration> config_ = std::make_shared<KivConfiguration>();
    LogCapture capture_;
};

TEST_F(KivConfigParserTest, CompleteFileFillsEveryFieldAndMapping) {
    ASSERT_TRUE(Parse(Complete())) << capture_.Dump();
    const KivConfiguration& c = *config_;
    EXPECT_EQ(c.logicalBlockId_dpt, 15);
    EXPECT_EQ(c.service_instance_id, "uds1");
    EXPECT_EQ(c.length_of_logicalBlockId, 2);
    EXPECT_EQ(c.transfer_size, 4093);
    EXPECT_EQ(c.GetLogisticsRootPath(), "/data/log");
    EXPECT_EQ(c.logistics_data_folder, "json");
    EXPECT_EQ(c.port_name, "KivDb");
    EXPECT_EQ(c.GetGlobalAbFlagFile(), cmdline_);
    EXPECT_EQ(c.GetSysfsGlobalAbFlagFile(), "/sys/ab/global");
    EXPECT_EQ(c.GetPartitionAName(), "A");
    EXPECT_EQ(c.GetPartitionBName(), "B");
    EXPECT_EQ(c.KeyCalculation, "814C");
    EXPECT_EQ(c.hostname, "vm_java");
    EXPECT_EQ(c.vmId, 2);
    // The first entry of the host wins; later ones with the same name are ignored.
    EXPECT_EQ(c.flashBlocks, (std::vector<uint32_t>{7, 3, 9}));
    EXPECT_EQ(c.GetSysfsMapping(),
              (std::map<uint32_t, std::string>{{3, "/sys/ab/lb3"}, {7, "/sys/ab/lb7"}, {254, "/sys/ab/lb254"}}));
    EXPECT_EQ(c.routineServiceMapping, (std::map<std::string, std::string>{{"0x0202", "r3"}, {"0xC010", "r2"}}));
    EXPECT_EQ(c.securityAccessMapping, (std::map<int32_t, std::string>{{1, "sa1"}, {9, "sa9"}}));
    EXPECT_EQ(c.Public_key_path, "/keys/pub.pem");
    EXPECT_EQ(c.volatileMirrorFlashBlocks, (std::vector<uint32_t>{3, 7}));
    EXPECT_EQ(c.GetSmackSourceDir(), "/stage/src");
    EXPECT_EQ(c.GetSmackDestinationDir(), "/stage/dst");
    EXPECT_EQ(c.ucmServiceInstanceId, "ucm7");
    EXPECT_EQ(c.ucmResponseTimeout_msec, 2500u);
    EXPECT_EQ(c.diagnosticInfoInstanceId, "diag3");
    EXPECT_EQ(c.IVD_RID_0253_AlienKIVId, "alien");
    EXPECT_EQ(c.IVD_RID_0253_StartTimeout_msec, 3000u);
    EXPECT_EQ(c.IVD_RID_0253_CancelTimeout_msec, 1500u);
    EXPECT_TRUE(c.IVD_AutoCheck_Enabled);
    EXPECT_EQ(c.IVD_AutoCheck_StartTimeout_msec, 6000u);
    EXPECT_EQ(c.IVD_AutoCheck_ResumeTimeout_msec, 7000u);
    EXPECT_EQ(c.IVD_AutoCheck_DelayTimeout_msec, 250u);
    // Partition information is written later, at start-up.
    EXPECT_TRUE(c.activePartitionName.empty());
    EXPECT_TRUE(c.activePartitionMap.empty());
    EXPECT_FALSE(c.GetSysfsValidFlag());

    EXPECT_TRUE(capture_.Contains(Level::kInfo, "ConfiguredLogicalBlocks: [7 3 9]"));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Finished parsing kiv configuration."));
    EXPECT_FALSE(capture_.Contains(Level::kError, ""));
}

TEST_F(KivConfigParserTest, OptionalKeysKeepTheirDefaultsWhenMissingOrZero) {
    nlohmann::json json = Complete();
    for (const char* key :
         {"UseDummyValuesforRcar", "IVD_RID_0253_AlienKIVId", "IVD_RID_0253_CancelTimeout_msec",
          "IVD_AutoCheck_Enabled", "IVD_AutoCheck_DelayTimeout_msec", "IVD_AutoCheck_VolatileMirrorFlashBlocks"}) {
        json.erase(key);
    }
    json["IVD_RID_0253_StartTimeout_msec"] = 0;
    json["IVD_AutoCheck_StartTimeout_msec"] = 0;
    json["IVD_AutoCheck_ResumeTimeout_msec"] = -20;  // would wrap to an endless time-out
    json["UCMSettings"].erase("ServiceInstanceId");
    json["UCMSettings"].erase("ResponseTimeout_msec");
    json["DiagnosticInfo_settings"]["instance_id"] = "";

    ASSERT_TRUE(Parse(json)) << capture_.Dump();
    const KivConfiguration& c = *config_;
    EXPECT_EQ(c.IVD_RID_0253_AlienKIVId, "");
    EXPECT_EQ(c.IVD_RID_0253_StartTimeout_msec, 0u);
    EXPECT_EQ(c.IVD_RID_0253_CancelTimeout_msec, 0u);
    EXPECT_FALSE(c.IVD_AutoCheck_Enabled);
    EXPECT_EQ(c.IVD_AutoCheck_StartTimeout_msec, 5000u);
    EXPECT_EQ(c.IVD_AutoCheck_ResumeTimeout_msec, 5000u);
    EXPECT_EQ(c.IVD_AutoCheck_DelayTimeout_msec, 100u);
    EXPECT_TRUE(c.volatileMirrorFlashBlocks.empty());
    EXPECT_EQ(c.ucmServiceInstanceId, "");
    EXPECT_EQ(c.ucmResponseTimeout_msec, 0u);
    EXPECT_EQ(c.diagnosticInfoInstanceId, "");

    EXPECT_EQ(capture_.Count("Parse delay timeout of AutonomousCheck -> Exception: Couldn't get int "
                             "\"IVD_AutoCheck_DelayTimeout_msec\""),
              1u);
    EXPECT_TRUE(capture_.Contains(Level::kError, "IVD_AutoCheck_ResumeTimeout_msec invalid!"));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Finished parsing kiv configuration."));
}

TEST_F(KivConfigParserTest, OptionalValuesOfWrongTypeOrRangeKeepTheDefault) {
    nlohmann::json json = Complete();
    json["IVD_AutoCheck_Enabled"] = "true";
    json["IVD_AutoCheck_StartTimeout_msec"] = 12.5;
    json["IVD_AutoCheck_VolatileMirrorFlashBlocks"] = {3, -1};
    ASSERT_TRUE(Parse(json)) << capture_.Dump();
    EXPECT_FALSE(config_->IVD_AutoCheck_Enabled);
    EXPECT_EQ(config_->IVD_AutoCheck_StartTimeout_msec, 5000u);
    EXPECT_TRUE(config_->volatileMirrorFlashBlocks.empty());
    EXPECT_TRUE(capture_.Contains(Level::kError, "Parse AutonomousCheck enabled flag -> Exception: "));
    EXPECT_TRUE(capture_.Contains(Level::kError,
                                  "Parse volatile Mirror partition Logical Blocks for AutonomousCheck"
                                  " -> Exception: IVD_AutoCheck_VolatileMirrorFlashBlocks #1 out of "
                                  "range: -1"));
}

TEST_F(KivConfigParserTest, EveryRequiredKeyMissingEmptyZeroOrMistypedEndsParsing) {
    struct Case {
        std::vector<std::string> path;
        bool integer;
        std::string message;
        Level level;
    };
    const std::vector<Case> cases = {
        {{"general_settings", "logicalBlockId_dpt"},
         true,
         "general_settings::logicalBlockId_dpt invalid!",
         Level::kError},
        {{"general_settings", "service_instance_id"},
         false,
         "general_settings::service_instance_id invalid!",
         Level::kError},
        {{"general_settings", "length_of_logicalBlockId"},
         true,
         "general_settings::length_of_logicalBlockId invalid!",
         Level::kError},
        {{"general_settings", "transfer_size"}, true, "general_settings::transfer_size invalid!", Level::kError},
        {{"zenq_logistics_settings", "logistics_root_path"},
         false,
         "zenq_logistics_settings::logistics_root_path invalid!",
         Level::kError},
        {{"zenq_logistics_settings", "logistics_data_folder"},
         false,
         "zenq_logistics_settings::logistics_data_folder invalid!",
         Level::kError},
        {{"ab_scheme_settings", "global_ab_flag_file"},
         false,
         "ab_scheme_settings::global_ab_flag_file invalid!",
         Level::kError},
        {{"persistancy_settings", "port_name"}, false, "persistancy_settings::port_name invalid!", Level::kInfo},
        {{"security_access_settings", "KeyCalculation"},
         false,
         "security_access_settings::KeyCalculation invalid!",
         Level::kInfo},
        {{"ab_scheme_settings", "partition_a_name"},
         false,
         "ab_scheme_settings::partition_a_name invalid!",
         Level::kError},
        {{"ab_scheme_settings", "partition_b_name"},
         false,
         "ab_scheme_settings::partition_b_name invalid!",
         Level::kError},
        {{"Public_key_path"}, false, "Public_key path invalid!", Level::kInfo},
        {{"SysfsSettings", "SysfsGlobalABFlagFile"},
         false,
         "SysfsSettings::SysfsGlobalABFlagFile invalid!",
         Level::kError},
        {{"SmackStaging", "src_dir"}, false, "SmackStaging::src_dir invalid!", Level::kError},
        {{"SmackStaging", "dst_dir"}, false, "SmackStaging::dst_dir invalid!", Level::kError},
    };

    for (const Case& c : cases) {
        nlohmann::json valid = Complete();
        nlohmann::json::json_pointer pointer;
        for (const std::string& part : c.path) {
            pointer /= part;
        }
        std::vector<std::pair<std::string, nlohmann::json>> variants = {
            {"missing", nullptr}, {"wrong type", c.integer ? nlohmann::json("12") : nlohmann::json(12)}};
        if (c.integer) {
            variants.push_back({"zero", 0});
            variants.push_back({"negative", -4});
            variants.push_back({"beyond int32", 4294967297LL});  // low 32 bits would read as 1
        } else {
            variants.push_back({"empty", ""});
        }
        for (const auto& variant : variants) {
            SCOPED_TRACE(c.message + " / " + variant.first);
            nlohmann::json json = valid;
            if (variant.first == "missing") {
                json[pointer.parent_pointer()].erase(pointer.back());
            } else {
                json[pointer] = variant.second;
            }
            capture_.Clear();
            config_ = std::make_shared<KivConfiguration>();
            EXPECT_FALSE(Parse(json));
            EXPECT_TRUE(capture_.Contains(c.level, c.message)) << capture_.Dump();
            EXPECT_FALSE(capture_.Contains("Finished parsing kiv configuration."));
            // Parsing stops at the failing key: the last section is never reached.
            EXPECT_EQ(config_->GetSmackDestinationDir(), "");
        }
    }
}

TEST_F(KivConfigParserTest, MissingSectionsAndMalformedListsFailWithTheirStepMessage) {
    struct Case {
        std::string section;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"general_settings", "Parse json file: Exception: Couldn't get object \"general_settings\""},
        {"zenq_logistics_settings", "Parse json file: Exception: Couldn't get object \"zenq_logistics_settings\""},
        {"ab_scheme_settings", "Parse json file: Exception: Couldn't get object \"ab_scheme_settings\""},
        {"persistancy_settings", "Parse json file: Exception: Couldn't get object \"persistancy_settings\""},
        {"security_access_settings", "Parse json file: Exception: Couldn't get object \"security_access_settings\""},
        {"UCMSettings", "Parse json file: Exception: Couldn't get object \"UCMSettings\""},
        {"DiagnosticInfo_settings", "Parse json file: Exception: Couldn't get object \"DiagnosticInfo_settings\""},
        {"SmackStaging", "Parse json file: Exception: Couldn't get object \"SmackStaging\""},
        {"ConfiguredLogicalBlocks", "parsing of configured logical blocks failed"},
        {"SysfsSettings", "parsing SysfsSettings failed"},
        {"RoutineServiceSettings", "parsing RoutineServiceMapping failed"},
        {"SecurityAccessSettings", "parsing SecurityAccessMapping failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        nlohmann::json json = Complete();
        json.erase(c.section);
        capture_.Clear();
        EXPECT_FALSE(Parse(json));
        EXPECT_TRUE(capture_.Contains(Level::kError, c.expected)) << capture_.Dump();
    }

    // Entries of the lists with a missing key or a value out of range.
    struct ListCase {
        std::string name;
        nlohmann::json patch;
        std::string expected;
    };
    const std::vector<ListCase> listCases = {
        {"negative flash block",
         {{"ConfiguredLogicalBlocks", {{"VMs", {{{"Name", "vm_java"}, {"FlashBlocks", {-7}}}}}}}},
         "parsing of configured logical blocks failed"},
        {"flash blocks not an array",
         {{"ConfiguredLogicalBlocks", {{"VMs", {{{"Name", "vm_java"}, {"FlashBlocks", 7}}}}}}},
         "parsing of configured logical blocks failed"},
        {"routine without instance",
         {{"RoutineServiceSettings", {{"ServiceMapping", {{{"RoutineId", "0x0202"}}}}}}},
         "ParseRoutineServiceMapping: Exception: Couldn't get string \"InstanceId\""},
        {"security level as text",
         {{"SecurityAccessSettings", {{"ServiceMapping", {{{"SecurityLevel", "9"}, {"InstanceId", "x"}}}}}}},
         "parsing SecurityAccessMapping failed"},
        {"security level beyond int32",
         {{"SecurityAccessSettings", {{"ServiceMapping", {{{"SecurityLevel", 4294967305LL}, {"InstanceId", "x"}}}}}}},
         "parsing SecurityAccessMapping failed"},
    };
    for (const ListCase& c : listCases) {
        SCOPED_TRACE(c.name);
        nlohmann::json json = Complete();
        json.merge_patch(c.patch);
        capture_.Clear();
        EXPECT_FALSE(Parse(json));
        EXPECT_TRUE(capture_.Contains(Level::kError, c.expected)) << capture_.Dump();
    }
}

TEST_F(KivConfigParserTest, OnlyAnExactYesEnablesDummyRcarValues) {
    SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(false);
    nlohmann::json json = Complete();
    json["UseDummyValuesforRcar"] = "Yes";
    ASSERT_TRUE(Parse(json));
    EXPECT_FALSE(SharedMemoryInterface::Instance().UseDummyValuesForRcar());

    json["UseDummyValuesforRcar"] = "yes";
    ASSERT_TRUE(Parse(json));
    EXPECT_TRUE(SharedMemoryInterface::Instance().UseDummyValuesForRcar());
    SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(false);
}

TEST_F(KivConfigParserTest, UnreadableOrMalformedFilesFailWithoutCrash) {
    for (const std::string& text :
         {std::string(), std::string("{\"general_settings\": {"), std::string("[1, 2]"), std::string("not json")}) {
        SCOPED_TRACE(text);
        capture_.Clear();
        EXPECT_FALSE(Parse(text));
        EXPECT_TRUE(capture_.Contains(Level::kError, "Parse json file: Exception: ")) << capture_.Dump();
    }

    std::ifstream missing(box_.Path("does_not_exist.json"));
    capture_.Clear();
    EXPECT_FALSE(KivConfigParser(missing).parse(config_));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Parse json file: Exception: Couldn't parse jsonInput: "));

    std::istringstream stream(Complete().dump());
    EXPECT_FALSE(KivConfigParser(stream).parse(nullptr));
    EXPECT_TRUE(capture_.Contains(Level::kError, "invalid kiv config!"));
}

TEST_F(KivConfigParserTest, HostnameFallsBackToQemu) {
    nlohmann::json json = Complete();
    json["ab_scheme_settings"]["global_ab_flag_file"] = box_.Path("missing_cmdline");
    ASSERT_TRUE(Parse(json)) << capture_.Dump();
    EXPECT_EQ(config_->hostname, "qemu");
    EXPECT_EQ(config_->vmId, 0);
    EXPECT_EQ(config_->flashBlocks, (std::vector<uint32_t>{4}));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "reading hostname failed"));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "default hostname set toqemu"));

    // Without an entry for the host there are no logical blocks to manage.
    json["ConfiguredLogicalBlocks"]["VMs"].erase(3);
    capture_.Clear();
    config_ = std::make_shared<KivConfiguration>();
    EXPECT_FALSE(Parse(json));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "empty configured logical blocks"));
    EXPECT_TRUE(capture_.Contains(Level::kError, "parsing of configured logical blocks failed"));
}

TEST_F(KivConfigParserTest, SysfsMappingEntriesAreChecked) {
    struct Case {
        std::string name;
        nlohmann::json mapping;
        std::string expected;  // empty: parsing succeeds
    };
    const std::vector<Case> cases = {
        {"id 255 is the unread mark",
         {{{"SysfsLogicalBlockId", 255}, {"SysfsFile", "/f"}}},
         "SysfsSettings::SysfsMapping::SysfsLogicalBlockId #0 invalid!"},
        {"negative id",
         {{{"SysfsLogicalBlockId", 1}, {"SysfsFile", "/f"}}, {{"SysfsLogicalBlockId", -1}, {"SysfsFile", "/g"}}},
         "SysfsSettings::SysfsMapping::SysfsLogicalBlockId #1 invalid!"},
        {"missing file",
         {{{"SysfsLogicalBlockId", 1}, {"SysfsFile", "/f"}}, {{"SysfsLogicalBlockId", 2}}},
         "SysfsSettings::SysfsMapping::SysfsFile #1 invalid!"},
        {"empty file",
         {{{"SysfsLogicalBlockId", 1}, {"SysfsFile", ""}}},
         "SysfsSettings::SysfsMapping::SysfsFile #0 invalid!"},
        {"empty mapping", nlohmann::json::array(), ""},
        {"later duplicate replaces",
         {{{"SysfsLogicalBlockId", 5}, {"SysfsFile", "/old"}}, {{"SysfsLogicalBlockId", 5}, {"SysfsFile", "/new"}}},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json json = Complete();
        json["SysfsSettings"]["SysfsMapping"] = c.mapping;
        capture_.Clear();
        config_ = std::make_shared<KivConfiguration>();
        const bool ok = Parse(json);
        if (c.expected.empty()) {
            EXPECT_TRUE(ok) << capture_.Dump();
        } else {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(capture_.Contains(Level::kError, c.expected)) << capture_.Dump();
            EXPECT_TRUE(capture_.Contains(Level::kError, "parsing SysfsSettings failed"));
        }
    }
    EXPECT_EQ(config_->GetSysfsMapping(), (std::map<uint32_t, std::string>{{5, "/new"}}));
}

TEST_F(KivConfigParserTest, ShippedSampleConfigurationParses) {
    std::ifstream sample(std::string(VELMORA_SOURCE_DIR) + "/config/velmora_config.json");
    ASSERT_TRUE(sample.is_open());
    std::stringstream text;
    text << sample.rdbuf();
    nlohmann::json json = nlohmann::json::parse(text.str());
    // The kernel command line of the build machine is not ours to rely on.
    box_.WriteFile("cmdline", "root=/dev/vda hostname=vm_housekeeping global_ab_flag=b\n");
    json["ab_scheme_settings"]["global_ab_flag_file"] = cmdline_;

    ASSERT_TRUE(Parse(json)) << capture_.Dump();
    const KivConfiguration& c = *config_;
    EXPECT_EQ(c.vmId, 3);
    EXPECT_EQ(c.flashBlocks, (std::vector<uint32_t>{5, 6}));
    EXPECT_EQ(c.transfer_size, 4093);
    EXPECT_EQ(c.GetSysfsMapping().size(), 4u);
    EXPECT_EQ(c.routineServiceMapping.size(), 8u);
    for (const char* routine : {"0x0202", "0x0203", "0xC00E", "0xC010", "0xFF00", "0xFF01", "0x0253", "0x029A"}) {
        EXPECT_EQ(c.routineServiceMapping.count(routine), 1u) << routine;
    }
    EXPECT_EQ(c.securityAccessMapping.count(9), 1u);
    EXPECT_FALSE(c.ucmServiceInstanceId.empty());
    EXPECT_FALSE(c.diagnosticInfoInstanceId.empty());
    EXPECT_FALSE(c.GetSmackSourceDir().empty());
    EXPECT_FALSE(c.Public_key_path.empty());
    EXPECT_FALSE(capture_.Contains(Level::kError, ""));
}

}  // namespace
