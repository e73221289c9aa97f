#include "KivLibrary/Persistency/DBConsistency/DBConsistencyChecker.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/DBConsistency/DBCheck/Checks/DuplicatedLogicalBlocks.h"

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string TimingText(Clock::time_point start) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    return "It took " + std::to_string(elapsed / 1000000) + " msec";
}

}  // namespace

DBConsistencyChecker::DBConsistencyChecker()
    : m_checks{{std::make_shared<DuplicatedLogicalBlocks>(), std::make_shared<PurgeLBlocksAndEcuInfo>()}} {}

bool DBConsistencyChecker::Run(std::shared_ptr<PersistentDataStorage> storage) {
    LogInfo() << "Running database consistency checks..." << VLMR_FILE_LINE;
    const Clock::time_point runStart = Clock::now();

    bool result = true;
    for (const auto& entry : m_checks) {
        Clock::time_point start = Clock::now();
        const bool consistent = entry.first->Check(storage);
        LogInfoOrError(consistent, "Database is consistent. " + TimingText(start),
                       "Database is not consistent. Need to repair! " + TimingText(start));
        if (consistent) {
            continue;
        }
        start = Clock::now();
        result = entry.second->Repair(storage);
        LogInfoOrError(result, "Database successfully repaired. " + TimingText(start),
                       "Database repair failed! " + TimingText(start));
        break;
    }

    LogInfoOrError(result, "Database is consistent. " + TimingText(runStart),
                   "Database is not consistent! " + TimingText(runStart));
    return result;
}
