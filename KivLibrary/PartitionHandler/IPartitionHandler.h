// Answers which A/B partition runs, overall and per logical block.
#ifndef KIVLIBRARY_PARTITIONHANDLER_IPARTITIONHANDLER_H
#define KIVLIBRARY_PARTITIONHANDLER_IPARTITIONHANDLER_H

#include "KivLibrary/PartitionHandler/PartitionEnum.h"

#include <cstdint>

class IPartitionHandler {
public:
    virtual ~IPartitionHandler() = default;

    // The partition the boot loader was asked to start.
    virtual PartitionEnum GetRequestedPartition() = 0;
    virtual PartitionEnum GetInactivePartition() = 0;
    virtual PartitionEnum GetActivePartition(const uint32_t& logicalBlockId) = 0;
    // True when the global and every block flag file named A or B.
    virtual bool IsSysfsValid() = 0;
};

#endif
