#include "KivLibrary/GlobalLibrary/PartitionHandlerExecution.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"

#include <map>
#include <string>
#include <utility>

namespace PartitionHandlerExecution {

bool DetermineGlobalAbSettings(std::shared_ptr<IPartitionHandler> handler,
                               std::shared_ptr<KivConfiguration> configuration) {
    if (!handler) {
        LogError() << "invalid partition handler!" << VLMR_FILE_LINE;
        return false;
    }
    if (!configuration) {
        LogError() << "invalid kiv config!" << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "Determining global ab settings" << VLMR_FILE_LINE;

    PartitionEnum requested = handler->GetRequestedPartition();
    std::string nameA = configuration->GetPartitionAName();
    std::string nameB = configuration->GetPartitionBName();
    if (requested == PartitionEnum::UNKNOWN) {
        LogInfo() << "using default value for requested partition: " << nameA << VLMR_FILE_LINE;
        requested = PartitionEnum::A;
    }

    // The directories keep the configured case; only the stored names are lower case.
    const std::string root = configuration->GetLogisticsRootPath();
    const std::string dataFolder = configuration->logistics_data_folder;
    const std::string pathA = root + "/" + nameA + "/" + dataFolder + "/";
    const std::string pathB = root + "/" + nameB + "/" + dataFolder + "/";
    nameA = ToLowerAscii(nameA);
    nameB = ToLowerAscii(nameB);

    const bool aIsActive = requested == PartitionEnum::A;
    configuration->SetPartitionInfo(std::make_pair(nameA, pathA), aIsActive);
    configuration->SetPartitionInfo(std::make_pair(nameB, pathB), !aIsActive);

    LogInfo() << "active partition: " << configuration->activePartitionName << VLMR_FILE_LINE;
    LogInfo() << "inactive partition: " << configuration->GetInactivePartition() << VLMR_FILE_LINE;
    LogDebug() << "active partition logistics file path: " << configuration->activeLogisticsPath << VLMR_FILE_LINE;
    LogDebug() << "inactive partition logistics file path: " << configuration->inactiveLogisticsPath << VLMR_FILE_LINE;
    LogInfo() << "finished reading global a/b flag" << VLMR_FILE_LINE;

    configuration->sysfsValid = handler->IsSysfsValid();

    const std::map<uint32_t, std::string> sysfsMapping = configuration->GetSysfsMapping();
    if (sysfsMapping.empty()) {
        LogError() << "SysfsMapping invalid" << VLMR_FILE_LINE;
        return false;
    }
    std::map<uint32_t, PartitionEnum> activePartitionMap;
    for (const auto& entry : sysfsMapping) {
        activePartitionMap[entry.first] = handler->GetActivePartition(entry.first);
    }
    configuration->SetActivePartitionMap(activePartitionMap);
    return true;
}

}  // namespace PartitionHandlerExecution
