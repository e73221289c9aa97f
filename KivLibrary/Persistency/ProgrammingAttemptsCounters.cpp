#include "KivLibrary/Persistency/ProgrammingAttemptsCounters.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <algorithm>

bool CopyProgrammingAttemptsCounters(const std::shared_ptr<PersistentDataStorage>& storage) {
    if (!storage) {
        LogError() << "CopyProgrammingAttemptsCounters: no database" << VLMR_FILE_LINE;
        return false;
    }
    LogicalBlocks updated;
    if (!storage->ReadUpdatedLogicalBlocks(updated)) {
        LogError() << "CopyProgrammingAttemptsCounters: cannot read the updated logical blocks; "
                      "installed logical blocks left unchanged"
                   << VLMR_FILE_LINE;
        return false;
    }
    LogicalBlocks installed;
    if (!storage->ReadInstalledLogicalBlocks(installed)) {
        LogError() << "CopyProgrammingAttemptsCounters: cannot read the installed logical blocks; "
                      "installed logical blocks left unchanged"
                   << VLMR_FILE_LINE;
        return false;
    }
    for (const LogicalBlock& block : updated) {
        const auto match = std::find_if(installed.begin(), installed.end(),
                                        [&block](const LogicalBlock& other) { return other.m_id == block.m_id; });
        if (match != installed.end()) {
            match->m_programmingAttempts = block.m_programmingAttempts;
        }
    }
    if (!storage->WriteInstalledLogicalBlocks(installed)) {
        LogError() << "CopyProgrammingAttemptsCounters: cannot write the installed logical blocks" << VLMR_FILE_LINE;
        return false;
    }
    return true;
}
