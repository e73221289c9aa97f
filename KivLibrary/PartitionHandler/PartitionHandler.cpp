#include "KivLibrary/PartitionHandler/PartitionHandler.h"

#include "KivLibrary/Logger/Logging.h"

PartitionHandler::PartitionHandler(std::shared_ptr<SysfsReader> sysfsReader,
                                   std::shared_ptr<KernelCmdLineReader> cmdLineReader)
    : sysfsReader_(std::move(sysfsReader)), cmdLineReader_(std::move(cmdLineReader)) {}

PartitionEnum PartitionHandler::GetRequestedPartition() {
    PartitionEnum partition = PartitionEnum::UNKNOWN;
    const bool valid = IsSysfsValid();
    if (valid) {
        partition = sysfsReader_->GetRequestedPartition();
    }
    if (!valid || partition == PartitionEnum::UNKNOWN) {
        LogWarn() << "PartitionHandler: can't get requested partition from sysfs" << VLMR_FILE_LINE;
        partition = cmdLineReader_ ? cmdLineReader_->GetRequestedPartition() : PartitionEnum::UNKNOWN;
    }
    LogInfo() << "PartitionHandler: requested partition=" << toString(partition) << VLMR_FILE_LINE;
    return partition;
}

PartitionEnum PartitionHandler::GetInactivePartition() { return InvertPartition(GetRequestedPartition()); }

PartitionEnum PartitionHandler::GetActivePartition(const uint32_t& logicalBlockId) {
    PartitionEnum partition = PartitionEnum::UNKNOWN;
    const bool valid = IsSysfsValid();
    if (valid) {
        partition = sysfsReader_->GetActivePartition(logicalBlockId);
    }
    if (!valid || partition == PartitionEnum::UNKNOWN) {
        LogInfo() << "PartitionHandler: can't get active partition from sysfs for logicalBlockId= " << logicalBlockId
                  << VLMR_FILE_LINE;
        partition = cmdLineReader_ ? cmdLineReader_->GetRequestedPartition() : PartitionEnum::UNKNOWN;
    }
    LogInfo() << "PartitionHandler: logicalBlockId=" << logicalBlockId << ": activePartition=" << toString(partition)
              << VLMR_FILE_LINE;
    return partition;
}

bool PartitionHandler::IsSysfsValid() { return sysfsReader_ && sysfsReader_->IsSysfsValid(); }

std::shared_ptr<IPartitionHandler> CreatePartitionHandler(
    std::shared_ptr<IPartitionHandlerConfiguration> configuration) {
    auto sysfsReader = std::make_shared<SysfsReader>(configuration);
    auto cmdLineReader = std::make_shared<KernelCmdLineReader>(configuration);
    return std::make_shared<PartitionHandler>(sysfsReader, cmdLineReader);
}
