#include "KivLibrary/Persistency/DBConsistency/DBCheck/Checks/DuplicatedLogicalBlocks.h"

#include "KivLibrary/Logger/Logging.h"

#include <bitset>

namespace {

// Reports only the first duplicate of the list.
bool HasDuplicate(const LogicalBlocks& blocks) {
    std::bitset<256> seen;
    for (const LogicalBlock& block : blocks) {
        if (seen.test(block.m_id)) {
            LogError() << "Found duplicated block in database with ID " << static_cast<uint32_t>(block.m_id)
                       << VLMR_FILE_LINE;
            return true;
        }
        seen.set(block.m_id);
    }
    return false;
}

}  // namespace

bool DuplicatedLogicalBlocks::Check(std::shared_ptr<PersistentDataStorage> storage) {
    if (!storage) {
        LogError() << "Consistency check without a database" << VLMR_FILE_LINE;
        return false;
    }
    // An unreadable list is left to the item's own error handling; only a
    // list that was read and holds an id twice fails the check.
    LogicalBlocks installed;
    if (storage->HasInstalledLogicalBlocks() && storage->ReadInstalledLogicalBlocks(installed) &&
        HasDuplicate(installed)) {
        return false;
    }
    LogicalBlocks updated;
    return !(storage->HasUpdatedLogicalBlocks() && storage->ReadUpdatedLogicalBlocks(updated) && HasDuplicate(updated));
}

bool PurgeLBlocksAndEcuInfo::Repair(std::shared_ptr<PersistentDataStorage> storage) {
    if (!storage) {
        LogError() << "Repair without a database" << VLMR_FILE_LINE;
        return false;
    }
    // Every step runs whatever the earlier ones answered, so as much as
    // possible of the inconsistent state is gone even when one step fails.
    bool ok = storage->RemoveUpdatedEcuInfo();
    ok = storage->RemoveInstalledEcuInfo() && ok;
    ok = storage->RemoveUpdatedLogicalBlocks() && ok;
    ok = storage->RemoveInstalledLogicalBlocks() && ok;
    ok = storage->SyncToStorage() && ok;
    return ok;
}
