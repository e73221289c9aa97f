// Partition detection over both sources: the sysfs flag files when every one
// of them is usable, otherwise the kernel command line.
#ifndef KIVLIBRARY_PARTITIONHANDLER_PARTITIONHANDLER_H
#define KIVLIBRARY_PARTITIONHANDLER_PARTITIONHANDLER_H

#include "KivLibrary/PartitionHandler/IPartitionHandler.h"
#include "KivLibrary/PartitionHandler/IPartitionHandlerConfiguration.h"
#include "KivLibrary/PartitionHandler/KernelCmdLineReader.h"
#include "KivLibrary/PartitionHandler/SysfsReader.h"

#include <cstdint>
#include <memory>

class PartitionHandler : public IPartitionHandler {
public:
    PartitionHandler(std::shared_ptr<SysfsReader> sysfsReader, std::shared_ptr<KernelCmdLineReader> cmdLineReader);

    PartitionEnum GetRequestedPartition() override;
    PartitionEnum GetInactivePartition() override;
    PartitionEnum GetActivePartition(const uint32_t& logicalBlockId) override;
    bool IsSysfsValid() override;

private:
    std::shared_ptr<SysfsReader> sysfsReader_;
    std::shared_ptr<KernelCmdLineReader> cmdLineReader_;
};

std::shared_ptr<IPartitionHandler> CreatePartitionHandler(
    std::shared_ptr<IPartitionHandlerConfiguration> configuration);

#endif
