// Partition detection from the sysfs A/B flag files: one global file and one
// file per logical block. Every file is read at most once per object.
#ifndef KIVLIBRARY_PARTITIONHANDLER_SYSFSREADER_H
#define KIVLIBRARY_PARTITIONHANDLER_SYSFSREADER_H

#include "KivLibrary/PartitionHandler/IPartitionHandler.h"
#include "KivLibrary/PartitionHandler/IPartitionHandlerConfiguration.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class SysfsReader : public IPartitionHandler {
public:
    struct Cache {
        struct Entry {
            std::string sysfsFile;
            PartitionEnum activePartition{PartitionEnum::INVALID};
        };
        std::map<uint32_t, Entry> blocks;
        PartitionEnum requestedPartition{PartitionEnum::INVALID};
        PartitionEnum inactivePartition{PartitionEnum::INVALID};
        bool validityComputed{false};
        bool valid{false};
    };

    explicit SysfsReader(std::shared_ptr<IPartitionHandlerConfiguration> configuration);

    PartitionEnum GetRequestedPartition() override;
    PartitionEnum GetInactivePartition() override;
    PartitionEnum GetActivePartition(const uint32_t& logicalBlockId) override;
    bool IsSysfsValid() override;

private:
    PartitionEnum ReadFlagFile(const std::string& path) const;

    std::shared_ptr<IPartitionHandlerConfiguration> configuration_;
    std::shared_ptr<Cache> cache_;
};

#endif
