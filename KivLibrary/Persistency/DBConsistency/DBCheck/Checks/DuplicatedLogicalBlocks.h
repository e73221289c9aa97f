// A logical-block id must stand at most once in each block list. The repair
// drops both block lists and both ECU-information items, so the next start
// rebuilds them from the logistics files.
#ifndef KIVLIBRARY_PERSISTENCY_DBCONSISTENCY_DBCHECK_CHECKS_DUPLICATEDLOGICALBLOCKS_H
#define KIVLIBRARY_PERSISTENCY_DBCONSISTENCY_DBCHECK_CHECKS_DUPLICATEDLOGICALBLOCKS_H

#include "KivLibrary/Persistency/DBConsistency/DBCheck/DBCheck.h"

class DuplicatedLogicalBlocks : public DBCheck {
public:
    bool Check(std::shared_ptr<PersistentDataStorage> storage) override;
};

class PurgeLBlocksAndEcuInfo : public DBRepair {
public:
    bool Repair(std::shared_ptr<PersistentDataStorage> storage) override;
};

#endif
