// The programming hash of a partition's logistics cache, the default ECU
// programming-information record and the log dumps of the cache's records.
// LogicalBlockCacheData::CalculateLogicalBlockProgrammingHash is defined here.
#ifndef KIVLIBRARY_GLOBALLIBRARY_LOGICALBLOCKPROGRAMMINGHASH_H
#define KIVLIBRARY_GLOBALLIBRARY_LOGICALBLOCKPROGRAMMINGHASH_H

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"

#include <string>
#include <vector>

// The record with every field at its default (0x40, "----", "NONE", dashes).
ecuInfoCache InitEcuProgrammingInfo();

// Three info lines, each starting with label + " ECU CACHE INFO ".
void DumpEcuCacheInfo(const std::string& label, const ecuInfoCache& record);

// Two info lines, each starting with label + " LB[" + id + "] ".
void DumpLogicalBlockEntries(const std::string& label, const LogicalBlockCache& record);

// Dumps every record in list order; computes nothing.
void ForEachLogicalBlockProgrammingHash(const std::string& label, const std::vector<LogicalBlockCache>& blocks);

#endif
