// The parsed configuration file. Filled once at start-up on the main thread
// (parser, then the partition information), read-only afterwards; no lock.
#ifndef KIVLIBRARY_PERSISTENCY_KIVCONFIGURATION_H
#define KIVLIBRARY_PERSISTENCY_KIVCONFIGURATION_H

#include "KivLibrary/PartitionHandler/IPartitionHandlerConfiguration.h"
#include "KivLibrary/PartitionHandler/PartitionEnum.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// What SMACK staging needs of the configuration.
class ISmackConfiguration {
public:
    virtual ~ISmackConfiguration() = default;
    virtual std::string GetLogisticsRootPath() const = 0;
    virtual std::string GetInactivePartition() const = 0;
    virtual std::string GetSmackSourceDir() const = 0;
    virtual std::string GetSmackDestinationDir() const = 0;
};

class KivConfiguration : public ISmackConfiguration, public IPartitionHandlerConfiguration {
public:
    static constexpr uint64_t kDefaultAutoCheckStartTimeoutMsec = 5000;
    static constexpr uint64_t kDefaultAutoCheckResumeTimeoutMsec = 5000;
    static constexpr uint64_t kDefaultAutoCheckDelayTimeoutMsec = 100;

    KivConfiguration();
    ~KivConfiguration() override;

    std::string GetLogisticsRootPath() const override;
    std::string GetInactivePartition() const override;
    std::string GetSmackSourceDir() const override;
    std::string GetSmackDestinationDir() const override;

    // nameAndPath = (partition name, logistics directory).
    virtual void SetPartitionInfo(const std::pair<std::string, std::string>& nameAndPath, bool active);
    virtual void SetRoutineServiceMapping(const std::map<std::string, std::string>& mapping);
    virtual void SetSecurityAccessMapping(const std::map<int32_t, std::string>& mapping);
    virtual void SetSysfsMapping(const std::map<uint32_t, std::string>& mapping);
    virtual void SetActivePartitionMap(const std::map<uint32_t, PartitionEnum>& mapping);
    virtual void SetSmackSourceDir(const std::string& dir);
    virtual void SetSmackDestinationDir(const std::string& dir);

    std::string GetGlobalAbFlagFile() const override;
    std::string GetSysfsGlobalAbFlagFile() const override;
    std::string GetPartitionAName() const override;
    std::string GetPartitionBName() const override;
    std::map<uint32_t, std::string> GetSysfsMapping() const override;
    // The block's entry of activePartitionMap; a block without one gets the
    // partition of activePartitionName.
    PartitionEnum GetActivePartition(const uint32_t& logicalBlockId) const override;
    bool GetSysfsValidFlag() const override;

    int32_t logicalBlockId_dpt;
    std::string service_instance_id;
    int32_t length_of_logicalBlockId;
    int32_t transfer_size;
    std::string logistics_root_path;
    std::string logistics_data_folder;
    std::string port_name;
    // Path of the kernel command-line file.
    std::string global_ab_flag_file;
    std::string SysfsGlobalABFlagFile;
    std::string partition_a_name;
    std::string partition_b_name;
    // Operation list of the SecurityAccess key calculation.
    std::string KeyCalculation;
    std::string activePartitionName;
    std::string activeLogisticsPath;
    std::string inactivePartitionName;
    std::string inactiveLogisticsPath;
    std::string hostname;
    uint8_t vmId;
    std::map<std::string, std::string> routineServiceMapping;
    std::map<int32_t, std::string> securityAccessMapping;
    std::map<uint32_t, PartitionEnum> activePartitionMap;
    std::map<uint32_t, std::string> sysfsMapping;
    bool sysfsValid;
    std::string Public_key_path;
    std::vector<uint32_t> flashBlocks;
    std::vector<uint32_t> volatileMirrorFlashBlocks;
    std::string src_dir;
    std::string dst_dir;
    std::string ucmServiceInstanceId;
    // "UCMSettings"/"ResponseTimeout_msec"; 0 = not configured: the adaptor's default.
    uint64_t ucmResponseTimeout_msec;
    std::string IVD_RID_0253_AlienKIVId;
    // 0 = not configured: the routine applies its own defaults.
    uint64_t IVD_RID_0253_StartTimeout_msec;
    uint64_t IVD_RID_0253_CancelTimeout_msec;
    bool IVD_AutoCheck_Enabled;
    uint64_t IVD_AutoCheck_StartTimeout_msec;
    uint64_t IVD_AutoCheck_ResumeTimeout_msec;
    uint64_t IVD_AutoCheck_DelayTimeout_msec;
    std::string diagnosticInfoInstanceId;
};

#endif
