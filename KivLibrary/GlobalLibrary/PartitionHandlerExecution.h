// Start-up step that writes the active and inactive partition, their
// logistics directories and every logical block's partition into the
// configuration.
#ifndef KIVLIBRARY_GLOBALLIBRARY_PARTITIONHANDLEREXECUTION_H
#define KIVLIBRARY_GLOBALLIBRARY_PARTITIONHANDLEREXECUTION_H

#include "KivLibrary/PartitionHandler/IPartitionHandler.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <memory>

namespace PartitionHandlerExecution {

// False when an argument is empty or the configuration has no sysfs mapping.
bool DetermineGlobalAbSettings(std::shared_ptr<IPartitionHandler> handler,
                               std::shared_ptr<KivConfiguration> configuration);

}  // namespace PartitionHandlerExecution

#endif
