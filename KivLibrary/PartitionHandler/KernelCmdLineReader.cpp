#include "KivLibrary/PartitionHandler/KernelCmdLineReader.h"

#include "KivLibrary/GlobalLibrary/CmdlineFileReader.h"
#include "KivLibrary/Logger/Logging.h"

#include <string>

KernelCmdLineReader::KernelCmdLineReader(std::shared_ptr<IPartitionHandlerConfiguration> configuration)
    : configuration_(std::move(configuration)), cache_(std::make_shared<Cache>()) {}

PartitionEnum KernelCmdLineReader::GetRequestedPartition() {
    if (cache_->requestedPartition != PartitionEnum::INVALID) {
        return cache_->requestedPartition;
    }
    PartitionEnum partition = PartitionEnum::UNKNOWN;
    std::string flag;
    if (configuration_ && CmdlineFileReader::ReadGlobalAbFlag(configuration_->GetGlobalAbFlagFile(), flag)) {
        partition = GetPartition(*configuration_, flag);
        if (partition == PartitionEnum::UNKNOWN) {
            LogError() << "KernelCmdLineReader: requested partition=" << toString(partition) << VLMR_FILE_LINE;
        } else {
            LogInfo() << "KernelCmdLineReader: requested partition=" << toString(partition) << VLMR_FILE_LINE;
        }
    } else {
        LogError() << "KernelCmdLineReader: reading A/B flag failed" << VLMR_FILE_LINE;
    }
    cache_->requestedPartition = partition;
    cache_->inactivePartition = InvertPartition(partition);
    return partition;
}

PartitionEnum KernelCmdLineReader::GetInactivePartition() {
    if (cache_->inactivePartition == PartitionEnum::INVALID) {
        cache_->inactivePartition = InvertPartition(GetRequestedPartition());
    }
    return cache_->inactivePartition;
}

PartitionEnum KernelCmdLineReader::GetActivePartition(const uint32_t& /*logicalBlockId*/) {
    LogInfo() << "KernelCmdLineReader: GetActivePartition unintended member function call" << VLMR_FILE_LINE;
    return PartitionEnum::UNKNOWN;
}

bool KernelCmdLineReader::IsSysfsValid() {
    LogInfo() << "KernelCmdLineReader: IsSysfsValid unintended member function call" << VLMR_FILE_LINE;
    return false;
}
