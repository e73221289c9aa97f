// Download bookkeeping of one logical block of a programming session.
#ifndef KIVLIBRARY_GLOBALLIBRARY_LOGICALBLOCKTRANSFERENTRY_H
#define KIVLIBRARY_GLOBALLIBRARY_LOGICALBLOCKTRANSFERENTRY_H

#include <cstdint>
#include <vector>

struct LogicalBlockTransferEntry {
    uint32_t memorySize = 0;              // as announced by RequestDownload
    uint32_t remainingSize = 0;           // starts equal to memorySize
    std::vector<uint8_t> logicalBlockId;  // 1 to 4 bytes, as received
    uint8_t format = 0;                   // addressAndLengthFormatIdentifier
    bool finished = false;
};

#endif
