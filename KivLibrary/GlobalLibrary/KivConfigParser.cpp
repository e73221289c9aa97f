#include "KivLibrary/GlobalLibrary/KivConfigParser.h"

#include "KivLibrary/GlobalLibrary/CmdlineFileReader.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "KivLibrary/Helper/HelperTypes.h"
#include "KivLibrary/Logger/Logging.h"
#include "json/JsonParser.h"

#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <vector>

namespace {

using LogFunction = LoggingStream (*)();

const char* const kDefaultHostname = "qemu";

// Ids and sizes live in unsigned fields: a negative value must not wrap into
// a huge one.
uint32_t ToUint32(int64_t value, const std::string& what) {
    if (value < 0 || value > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
        throw std::out_of_range(what + " out of range: " + std::to_string(value));
    }
    return static_cast<uint32_t>(value);
}

std::vector<uint32_t> ReadUint32List(const IJsonArray& array, const std::string& what) {
    std::vector<uint32_t> values;
    values.reserve(array.Size());
    for (size_t i = 0; i < array.Size(); ++i) {
        values.push_back(ToUint32(array.GetInt(i), what + " #" + std::to_string(i)));
    }
    return values;
}

// Missing, mistyped and empty all count as invalid.
bool ReadRequiredString(const IJsonObject& section, const std::string& key, const std::string& description,
                        const std::string& failureMessage, LogFunction log, std::string& target) {
    std::string value;
    TryExecute(description, [&] { value = section.GetString(key); });
    if (value.empty()) {
        log() << failureMessage << VLMR_FILE_LINE;
        return false;
    }
    target = value;
    return true;
}

// Ids and sizes: 0, negative or beyond int32 are invalid (never truncated).
bool ReadRequiredPositiveInt32(const IJsonObject& section, const std::string& key, const std::string& description,
                               const std::string& failureMessage, int32_t& target) {
    int64_t value = 0;
    TryExecute(description, [&] { value = section.GetInt(key); });
    if (value <= 0 || value > std::numeric_limits<int32_t>::max()) {
        LogError() << failureMessage << VLMR_FILE_LINE;
        return false;
    }
    target = static_cast<int32_t>(value);
    return true;
}

void ReadOptionalString(const IJsonObject& section, const std::string& key, const std::string& description,
                        std::string& target) {
    std::string value;
    TryExecute(description, [&] { value = section.GetString(key); });
    if (!value.empty()) {
        target = value;
    }
}

// 0 keeps the default; a negative time-out would wrap to an endless one, so it
// keeps the default too, with an error.
void ReadOptionalTimeout(const IJsonObject& section, const std::string& key, const std::string& description,
                         uint64_t& target) {
    int64_t value = 0;
    TryExecute(description, [&] { value = section.GetInt(key); });
    if (value > 0) {
        target = static_cast<uint64_t>(value);
    } else if (value < 0) {
        LogError() << key << " invalid! negative value " << value << " ignored, keeping " << target << VLMR_FILE_LINE;
    }
}

}  // namespace

KivConfigParser::KivConfigParser(std::istream& configFile) : configFile_(configFile) {}

std::shared_ptr<IJsonObject> KivConfigParser::ParseFromStart() {
    auto parser = CreateJsonParser();
    // A previous parse leaves the stream at its end with eofbit set.
    configFile_.clear();
    configFile_.seekg(0, std::ios::beg);
    return parser->Parse(configFile_);
}

bool KivConfigParser::TryParse(const std::string& name, const std::function<bool()>& function) {
    try {
        return function();
    } catch (const std::exception& e) {
        LogError() << name << ": Exception: " << e.what() << VLMR_FILE_LINE;
    } catch (...) {
        LogError() << "Unknown Exception in: " << name << VLMR_FILE_LINE;
    }
    return false;
}

bool KivConfigParser::parse(std::shared_ptr<KivConfiguration> configuration) {
    LogInfo() << "Parsing kiv configuration file" << VLMR_FILE_LINE;
    if (!configuration) {
        LogError() << "invalid kiv config!" << VLMR_FILE_LINE;
        return false;
    }
    KivConfiguration& config = *configuration;

    return TryParse("Parse json file", [this, &config]() -> bool {
        const auto root = ParseFromStart();
        const auto general = root->GetObject("general_settings");
        const auto logistics = root->GetObject("zenq_logistics_settings");
        const auto abScheme = root->GetObject("ab_scheme_settings");
        const auto persistancy = root->GetObject("persistancy_settings");
        const auto securityAccess = root->GetObject("security_access_settings");

        if (!ReadRequiredPositiveInt32(*general, "logicalBlockId_dpt", "Parse logical block id",
                                       "general_settings::logicalBlockId_dpt invalid!", config.logicalBlockId_dpt) ||
            !ReadRequiredString(*general, "service_instance_id", "Parse service instance id",
                                "general_settings::service_instance_id invalid!", LogError,
                                config.service_instance_id) ||
            !ReadRequiredPositiveInt32(*general, "length_of_logicalBlockId", "Parse length of logical block id",
                                       "general_settings::length_of_logicalBlockId invalid!",
                                       config.length_of_logicalBlockId) ||
            !ReadRequiredPositiveInt32(*general, "transfer_size", "Parse transfer size",
                                       "general_settings::transfer_size invalid!", config.transfer_size) ||
            !ReadRequiredString(*logistics, "logistics_root_path", "Parse logistic root path",
                                "zenq_logistics_settings::logistics_root_path invalid!", LogError,
                                config.logistics_root_path) ||
            !ReadRequiredString(*logistics, "logistics_data_folder", "Parse logistic data folder",
                                "zenq_logistics_settings::logistics_data_folder invalid!", LogError,
                                config.logistics_data_folder) ||
            !ReadRequiredString(*abScheme, "global_ab_flag_file", "Parse global ab flag file",
                                "ab_scheme_settings::global_ab_flag_file invalid!", LogError,
                                config.global_ab_flag_file) ||
            !ReadRequiredString(*persistancy, "port_name", "Parse port name",
                                "persistancy_settings::port_name invalid!", LogInfo, config.port_name) ||
            !ReadRequiredString(*securityAccess, "KeyCalculation", "Parse key calculation",
                                "security_access_settings::KeyCalculation invalid!", LogInfo, config.KeyCalculation) ||
            !ReadRequiredString(*abScheme, "partition_a_name", "Parse partition a name",
                                "ab_scheme_settings::partition_a_name invalid!", LogError, config.partition_a_name) ||
            !ReadRequiredString(*abScheme, "partition_b_name", "Parse partition b name",
                                "ab_scheme_settings::partition_b_name invalid!", LogError, config.partition_b_name) ||
            !ReadRequiredString(*root, "Public_key_path", "Parse public key path", "Public_key path invalid!", LogInfo,
                                config.Public_key_path)) {
            return false;
        }

        std::string useDummyValues;
        TryExecute("Parse use dummy values for Rcar",
                   [&] { useDummyValues = root->GetString("UseDummyValuesforRcar"); });
        if (useDummyValues == "yes") {
            // Process-wide and never cleared: a later "no" does not undo it.
            SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(true);
        }
        ReadOptionalString(*root, "IVD_RID_0253_AlienKIVId", "Parse AlienKIV id", config.IVD_RID_0253_AlienKIVId);
        ReadOptionalTimeout(*root, "IVD_RID_0253_StartTimeout_msec", "Parse start timeout of start routine 0x0253",
                            config.IVD_RID_0253_StartTimeout_msec);
        ReadOptionalTimeout(*root, "IVD_RID_0253_CancelTimeout_msec", "Parse cancel timeout of cancel routine 0x0253",
                            config.IVD_RID_0253_CancelTimeout_msec);
        TryExecute("Parse AutonomousCheck enabled flag",
                   [&] { config.IVD_AutoCheck_Enabled = root->GetBool("IVD_AutoCheck_Enabled"); });
        ReadOptionalTimeout(*root, "IVD_AutoCheck_StartTimeout_msec", "Parse start timeout of AutonomousCheck",
                            config.IVD_AutoCheck_StartTimeout_msec);
        ReadOptionalTimeout(*root, "IVD_AutoCheck_ResumeTimeout_msec", "Parse resume timeout of AutonomousCheck",
                            config.IVD_AutoCheck_ResumeTimeout_msec);
        ReadOptionalTimeout(*root, "IVD_AutoCheck_DelayTimeout_msec", "Parse delay timeout of AutonomousCheck",
                            config.IVD_AutoCheck_DelayTimeout_msec);
        TryExecute("Parse volatile Mirror partition Logical Blocks for AutonomousCheck", [&] {
            // Read completely before storing: a bad element leaves the default untouched.
            config.volatileMirrorFlashBlocks = ReadUint32List(
                *root->GetArray("IVD_AutoCheck_VolatileMirrorFlashBlocks"), "IVD_AutoCheck_VolatileMirrorFlashBlocks");
        });

        const auto ucmSettings = root->GetObject("UCMSettings");
        ReadOptionalString(*ucmSettings, "ServiceInstanceId", "UCM Service instance id", config.ucmServiceInstanceId);
        ReadOptionalTimeout(*ucmSettings, "ResponseTimeout_msec", "Parse UCM response timeout",
                            config.ucmResponseTimeout_msec);
        const auto diagnosticInfoSettings = root->GetObject("DiagnosticInfo_settings");
        ReadOptionalString(*diagnosticInfoSettings, "instance_id", "DiagnosticInfo Service instance id",
                           config.diagnosticInfoInstanceId);

        LogInfo() << "ParseConfiguredLogicalBlocks" << VLMR_FILE_LINE;
        if (!TryParse("ParseConfiguredLogicalBlocks", [&] { return ParseConfiguredLogicalBlocks(config); })) {
            LogError() << "parsing of configured logical blocks failed" << VLMR_FILE_LINE;
            return false;
        }
        LogDebug() << "Parse ParseConfiguredLogicalBlocks succeeded" << VLMR_FILE_LINE;

        if (!TryParse("ParseSysfsSettings", [&] { return ParseSysfsSettings(config); })) {
            LogError() << "parsing SysfsSettings failed" << VLMR_FILE_LINE;
            return false;
        }
        LogDebug() << "Parse SysfsSettings succeeded" << VLMR_FILE_LINE;

        LogInfo() << "ParseRoutineServiceMapping" << VLMR_FILE_LINE;
        if (!TryParse("ParseRoutineServiceMapping", [&] { return ParseRoutineServiceMapping(config); })) {
            LogError() << "parsing RoutineServiceMapping failed" << VLMR_FILE_LINE;
            return false;
        }
        LogDebug() << "ParseRoutineServiceMapping succeeded" << VLMR_FILE_LINE;

        LogInfo() << "ParseSecurityAccessMapping" << VLMR_FILE_LINE;
        if (!TryParse("ParseSecurityAccessMapping", [&] { return ParseSecurityAccessMapping(config); })) {
            LogError() << "parsing SecurityAccessMapping failed" << VLMR_FILE_LINE;
            return false;
        }
        LogDebug() << "ParseSecurityAccessMapping succeeded" << VLMR_FILE_LINE;

        const auto smackStaging = root->GetObject("SmackStaging");
        std::string sourceDir;
        std::string destinationDir;
        if (!ReadRequiredString(*smackStaging, "src_dir", "Parse staging source dir", "SmackStaging::src_dir invalid!",
                                LogError, sourceDir) ||
            !ReadRequiredString(*smackStaging, "dst_dir", "Parse staging destination dir",
                                "SmackStaging::dst_dir invalid!", LogError, destinationDir)) {
            return false;
        }
        config.SetSmackSourceDir(sourceDir);
        config.SetSmackDestinationDir(destinationDir);

        LogInfo() << "Finished parsing kiv configuration." << VLMR_FILE_LINE;
        return true;
    });
}

bool KivConfigParser::ParseConfiguredLogicalBlocks(KivConfiguration& configuration) {
    LogInfo() << "start parsing configured logical blocks" << VLMR_FILE_LINE;
    const auto root = ParseFromStart();

    std::string hostname = kDefaultHostname;
    if (!CmdlineFileReader::ReadHostname(configuration.GetGlobalAbFlagFile(), hostname)) {
        LogInfo() << "reading hostname failed" << VLMR_FILE_LINE;
        LogInfo() << "default hostname set to" << kDefaultHostname << VLMR_FILE_LINE;
    }
    configuration.hostname = hostname;
    configuration.vmId = GetVmIdByName(hostname);

    const auto vms = root->GetObject("ConfiguredLogicalBlocks")->GetArray("VMs");
    for (size_t i = 0; i < vms->Size(); ++i) {
        const auto vm = vms->GetObject(i);
        if (vm->GetString("Name") == hostname) {
            // Only the first entry of this host counts.
            configuration.flashBlocks = ReadUint32List(*vm->GetArray("FlashBlocks"), "FlashBlocks");
            break;
        }
    }

    if (configuration.flashBlocks.empty()) {
        LogInfo() << "empty configured logical blocks" << VLMR_FILE_LINE;
        return false;
    }
    std::string ids;
    for (const uint32_t id : configuration.flashBlocks) {
        ids += (ids.empty() ? "" : " ") + std::to_string(id);
    }
    LogInfo() << "ConfiguredLogicalBlocks: [" + ids + "]" << VLMR_FILE_LINE;
    return true;
}

bool KivConfigParser::ParseSysfsSettings(KivConfiguration& configuration) {
    LogInfo() << "Start parsing SysfsSettings" << VLMR_FILE_LINE;
    const auto root = ParseFromStart();
    const auto sysfsSettings = root->GetObject("SysfsSettings");

    if (!ReadRequiredString(*sysfsSettings, "SysfsGlobalABFlagFile", "Parse SysfsSettings::SysfsGlobalABFlagFile",
                            "SysfsSettings::SysfsGlobalABFlagFile invalid!", LogError,
                            configuration.SysfsGlobalABFlagFile)) {
        return false;
    }

    const auto mappingArray = sysfsSettings->GetArray("SysfsMapping");
    LogInfo() << "SysfsSettings::SysfsMapping size: " << static_cast<uint64_t>(mappingArray->Size()) << VLMR_FILE_LINE;

    // 255 marks an id that was not read; it is refused as a value too.
    const uint32_t kUnreadId = 255;
    std::map<uint32_t, std::string> mapping;
    for (size_t i = 0; i < mappingArray->Size(); ++i) {
        const std::string index = std::to_string(i);
        const auto entry = mappingArray->GetObject(i);

        uint32_t id = kUnreadId;
        TryExecute("Parse entry #" + index + " of SysfsSettings::::SysfsMapping::SysfsLogicalBlockId",
                   [&] { id = ToUint32(entry->GetInt("SysfsLogicalBlockId"), "SysfsLogicalBlockId"); });
        if (id == kUnreadId) {
            LogError() << "SysfsSettings::SysfsMapping::SysfsLogicalBlockId #" << index << " invalid!"
                       << VLMR_FILE_LINE;
            return false;
        }

        std::string file;
        if (!ReadRequiredString(*entry, "SysfsFile",
                                "Parse entry #" + index + " of SysfsSettings::::SysfsMapping::SysfsFile",
                                "SysfsSettings::SysfsMapping::SysfsFile #" + index + " invalid!", LogError, file)) {
            return false;
        }

        LogInfo() << "SysfsSettings::logicalBlockId= " << id << ", sysfsFile= " << file << VLMR_FILE_LINE;
        mapping[id] = file;
    }
    configuration.SetSysfsMapping(mapping);
    return true;
}

bool KivConfigParser::ParseRoutineServiceMapping(KivConfiguration& configuration) {
    const auto root = ParseFromStart();
    const auto mappingArray = root->GetObject("RoutineServiceSettings")->GetArray("ServiceMapping");
    LogDebug() << "RoutineServiceMapping size: " << static_cast<uint64_t>(mappingArray->Size()) << VLMR_FILE_LINE;
    std::map<std::string, std::string> mapping;
    for (size_t i = 0; i < mappingArray->Size(); ++i) {
        const auto entry = mappingArray->GetObject(i);
        mapping[entry->GetString("RoutineId")] = entry->GetString("InstanceId");
    }
    configuration.SetRoutineServiceMapping(mapping);
    return true;
}

bool KivConfigParser::ParseSecurityAccessMapping(KivConfiguration& configuration) {
    const auto root = ParseFromStart();
    const auto mappingArray = root->GetObject("SecurityAccessSettings")->GetArray("ServiceMapping");
    LogDebug() << "SecurityAccessMapping size: " << static_cast<uint64_t>(mappingArray->Size()) << VLMR_FILE_LINE;
    std::map<int32_t, std::string> mapping;
    for (size_t i = 0; i < mappingArray->Size(); ++i) {
        const auto entry = mappingArray->GetObject(i);
        const int64_t level = entry->GetInt("SecurityLevel");
        if (level < std::numeric_limits<int32_t>::min() || level > std::numeric_limits<int32_t>::max()) {
            throw std::out_of_range("SecurityLevel #" + std::to_string(i) + " out of range: " + std::to_string(level));
        }
        mapping[static_cast<int32_t>(level)] = entry->GetString("InstanceId");
    }
    configuration.SetSecurityAccessMapping(mapping);
    return true;
}
