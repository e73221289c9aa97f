#include "KivLibrary/PartitionHandler/SysfsReader.h"

#include "KivLibrary/Logger/Logging.h"

#include <fstream>
#include <iterator>

SysfsReader::SysfsReader(std::shared_ptr<IPartitionHandlerConfiguration> configuration)
    : configuration_(std::move(configuration)), cache_(std::make_shared<Cache>()) {
    if (!configuration_) {
        LogError() << "SysfsReader: no configuration => invalid kiv configuration" << VLMR_FILE_LINE;
        return;
    }
    const auto mapping = configuration_->GetSysfsMapping();
    if (mapping.empty()) {
        // Still usable: every block lookup then fails and the caller falls back.
        LogError() << "SysfsReader: empty map of logical block id to sysfs file name => invalid kiv configuration"
                   << VLMR_FILE_LINE;
        return;
    }
    for (const auto& item : mapping) {
        cache_->blocks[item.first] = Cache::Entry{item.second, PartitionEnum::INVALID};
    }
}

PartitionEnum SysfsReader::ReadFlagFile(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open() || !file.good()) {
        LogError() << "SysfsReader: file '" << path << "' is missing" << VLMR_FILE_LINE;
        return PartitionEnum::UNKNOWN;
    }
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string flag = content.substr(0, content.find_first_of("\n\r"));
    LogInfo() << "SysfsReader: content of " << path << " file='" << content << "', A/B flag='" << flag << "'"
              << VLMR_FILE_LINE;
    file.close();

    const PartitionEnum partition = GetPartition(*configuration_, flag);
    if (partition == PartitionEnum::UNKNOWN) {
        LogError() << "SysfsReader: active partition=" << toString(partition) << VLMR_FILE_LINE;
    } else {
        LogInfo() << "SysfsReader: active partition=" << toString(partition) << VLMR_FILE_LINE;
    }
    return partition;
}

PartitionEnum SysfsReader::GetRequestedPartition() {
    if (cache_->requestedPartition == PartitionEnum::INVALID) {
        cache_->requestedPartition =
            configuration_ ? ReadFlagFile(configuration_->GetSysfsGlobalAbFlagFile()) : PartitionEnum::UNKNOWN;
        cache_->inactivePartition = InvertPartition(cache_->requestedPartition);
    }
    return cache_->requestedPartition;
}

PartitionEnum SysfsReader::GetInactivePartition() {
    if (cache_->inactivePartition == PartitionEnum::INVALID) {
        cache_->inactivePartition = InvertPartition(GetRequestedPartition());
    }
    return cache_->inactivePartition;
}

PartitionEnum SysfsReader::GetActivePartition(const uint32_t& logicalBlockId) {
    PartitionEnum partition = PartitionEnum::UNKNOWN;
    const auto entry = cache_->blocks.find(logicalBlockId);
    if (entry == cache_->blocks.end()) {
        LogInfo() << "SysfsReader: logicalBlockId is not found" << VLMR_FILE_LINE;
    } else {
        if (entry->second.activePartition == PartitionEnum::INVALID) {
            entry->second.activePartition = ReadFlagFile(entry->second.sysfsFile);
        }
        partition = entry->second.activePartition;
    }
    LogInfo() << "SysfsReader: logicalBlockId=" << logicalBlockId << ": activePartition=" << toString(partition)
              << VLMR_FILE_LINE;
    return partition;
}

bool SysfsReader::IsSysfsValid() {
    if (cache_->validityComputed) {
        return cache_->valid;
    }
    cache_->validityComputed = true;
    cache_->valid = false;
    if (GetRequestedPartition() == PartitionEnum::UNKNOWN) {
        return false;
    }
    for (const auto& item : cache_->blocks) {
        // Stops at the first unusable block: the sysfs source counts only as a whole.
        if (GetActivePartition(item.first) == PartitionEnum::UNKNOWN) {
            return false;
        }
    }
    cache_->valid = true;
    return true;
}
