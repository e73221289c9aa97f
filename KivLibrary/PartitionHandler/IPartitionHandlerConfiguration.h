// The configuration as partition detection sees it.
#ifndef KIVLIBRARY_PARTITIONHANDLER_IPARTITIONHANDLERCONFIGURATION_H
#define KIVLIBRARY_PARTITIONHANDLER_IPARTITIONHANDLERCONFIGURATION_H

#include "KivLibrary/PartitionHandler/PartitionEnum.h"

#include <cstdint>
#include <map>
#include <string>

class IPartitionHandlerConfiguration {
public:
    virtual ~IPartitionHandlerConfiguration() = default;

    // Path of the kernel command-line file.
    virtual std::string GetGlobalAbFlagFile() const = 0;
    virtual std::string GetSysfsGlobalAbFlagFile() const = 0;
    // Logical block id -> path of its sysfs A/B flag file.
    virtual std::map<uint32_t, std::string> GetSysfsMapping() const = 0;
    virtual std::string GetPartitionAName() const = 0;
    virtual std::string GetPartitionBName() const = 0;
    // The block's partition as determined at start-up.
    virtual PartitionEnum GetActivePartition(const uint32_t& logicalBlockId) const = 0;
    virtual bool GetSysfsValidFlag() const = 0;
};

#endif
