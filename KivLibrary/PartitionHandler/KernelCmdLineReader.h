// Partition detection from the "global_ab_flag=" entry of the kernel
// command-line file; the fallback when the sysfs flag files are unusable.
#ifndef KIVLIBRARY_PARTITIONHANDLER_KERNELCMDLINEREADER_H
#define KIVLIBRARY_PARTITIONHANDLER_KERNELCMDLINEREADER_H

#include "KivLibrary/PartitionHandler/IPartitionHandler.h"
#include "KivLibrary/PartitionHandler/IPartitionHandlerConfiguration.h"

#include <cstdint>
#include <memory>

class KernelCmdLineReader : public IPartitionHandler {
public:
    struct Cache {
        PartitionEnum requestedPartition{PartitionEnum::INVALID};
        PartitionEnum inactivePartition{PartitionEnum::INVALID};
    };

    explicit KernelCmdLineReader(std::shared_ptr<IPartitionHandlerConfiguration> configuration);

    PartitionEnum GetRequestedPartition() override;
    PartitionEnum GetInactivePartition() override;
    // The command line knows no per-block partition: always UNKNOWN.
    PartitionEnum GetActivePartition(const uint32_t& logicalBlockId) override;
    // Always false.
    bool IsSysfsValid() override;

private:
    std::shared_ptr<IPartitionHandlerConfiguration> configuration_;
    std::shared_ptr<Cache> cache_;
};

#endif
