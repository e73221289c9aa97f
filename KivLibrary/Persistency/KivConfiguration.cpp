#include "KivLibrary/Persistency/KivConfiguration.h"

#include "KivLibrary/Logger/Logging.h"

KivConfiguration::KivConfiguration()
    : logicalBlockId_dpt(0),
      length_of_logicalBlockId(0),
      transfer_size(0),
      vmId(0),
      sysfsValid(false),
      ucmResponseTimeout_msec(0),
      IVD_RID_0253_StartTimeout_msec(0),
      IVD_RID_0253_CancelTimeout_msec(0),
      IVD_AutoCheck_Enabled(false),
      IVD_AutoCheck_StartTimeout_msec(kDefaultAutoCheckStartTimeoutMsec),
      IVD_AutoCheck_ResumeTimeout_msec(kDefaultAutoCheckResumeTimeoutMsec),
      IVD_AutoCheck_DelayTimeout_msec(kDefaultAutoCheckDelayTimeoutMsec) {}

KivConfiguration::~KivConfiguration() = default;

std::string KivConfiguration::GetLogisticsRootPath() const { return logistics_root_path; }

std::string KivConfiguration::GetInactivePartition() const { return inactivePartitionName; }

std::string KivConfiguration::GetSmackSourceDir() const { return src_dir; }

std::string KivConfiguration::GetSmackDestinationDir() const { return dst_dir; }

void KivConfiguration::SetPartitionInfo(const std::pair<std::string, std::string>& nameAndPath, bool active) {
    if (active) {
        activePartitionName = nameAndPath.first;
        activeLogisticsPath = nameAndPath.second;
    } else {
        inactivePartitionName = nameAndPath.first;
        inactiveLogisticsPath = nameAndPath.second;
    }
}

void KivConfiguration::SetRoutineServiceMapping(const std::map<std::string, std::string>& mapping) {
    routineServiceMapping = mapping;
}

void KivConfiguration::SetSecurityAccessMapping(const std::map<int32_t, std::string>& mapping) {
    securityAccessMapping = mapping;
}

void KivConfiguration::SetSysfsMapping(const std::map<uint32_t, std::string>& mapping) { sysfsMapping = mapping; }

void KivConfiguration::SetActivePartitionMap(const std::map<uint32_t, PartitionEnum>& mapping) {
    activePartitionMap = mapping;
}

void KivConfiguration::SetSmackSourceDir(const std::string& dir) { src_dir = dir; }

void KivConfiguration::SetSmackDestinationDir(const std::string& dir) { dst_dir = dir; }

std::string KivConfiguration::GetGlobalAbFlagFile() const { return global_ab_flag_file; }

std::string KivConfiguration::GetSysfsGlobalAbFlagFile() const { return SysfsGlobalABFlagFile; }

std::string KivConfiguration::GetPartitionAName() const { return partition_a_name; }

std::string KivConfiguration::GetPartitionBName() const { return partition_b_name; }

std::map<uint32_t, std::string> KivConfiguration::GetSysfsMapping() const { return sysfsMapping; }

PartitionEnum KivConfiguration::GetActivePartition(const uint32_t& logicalBlockId) const {
    const auto entry = activePartitionMap.find(logicalBlockId);
    const PartitionEnum partition =
        entry != activePartitionMap.end() ? entry->second : GetPartition(*this, activePartitionName);
    LogInfo() << "logicalBlockId=" << logicalBlockId << ": activePartition=" << toString(partition) << VLMR_FILE_LINE;
    return partition;
}

bool KivConfiguration::GetSysfsValidFlag() const { return sysfsValid; }
