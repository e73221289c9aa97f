// Routine 0xFF01 CheckProgrammingDependencies: after the installation, re-reads
// the logistics of the programmed partition and checks that the downloaded
// logical blocks fit together and fit the downloaded downgrade-protection
// table; on success the update becomes INSTALL_COMPLETE and the partition to
// update is persisted. Answers in the calling method thread; takes no lock of
// its own.
#ifndef KIVLIBRARY_ROUTINES_ROUTINE_CHECKPROGRAMMINGDEPENDENCIES_0XFF01_IMPL_H
#define KIVLIBRARY_ROUTINES_ROUTINE_CHECKPROGRAMMINGDEPENDENCIES_0XFF01_IMPL_H

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/Routines/PlainRoutine.h"
#include "platform/services/zenqo/services/diag/r_ff01/RoutineService_CheckProgrammingDependencies_skeleton.h"

#include <vector>

class SessionData;
class PersistentDataStorage;

namespace DependenciesInterface = zenqo::services::diag::r_ff01::RoutineService_CheckProgrammingDependencies;

class RoutineService_ff01_Impl
    : public PlainRoutine<
          zenqo::services::diag::r_ff01::skeleton::RoutineService_CheckProgrammingDependenciesSkeleton> {
public:
    static constexpr uint8_t kPassed = 0;
    static constexpr uint8_t kMajorVersionsDiffer = 1;
    static constexpr uint8_t kLogisticsOrF1ab = 4;
    static constexpr uint8_t kNoRfsData = 5;
    static constexpr uint8_t kRfsCheckFailed = 6;
    // The checks passed but INSTALL_COMPLETE could not be stored.
    static constexpr uint8_t kStateNotChanged = kLogisticsOrF1ab;

    RoutineService_ff01_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies);
    ~RoutineService_ff01_Impl() override = default;

    jux::com::Future<DependenciesInterface::Start::Output> Start(const MetaInfo& metaInfo) override;

private:
    void LogCancelCompleted() override;

    void checkProgrammingDependencies(uint8_t& result);
    bool CheckRfsDriver(uint8_t& result);
    bool CheckRfsMinimumVersions(uint8_t& result);
    bool CheckMajorVersions(uint8_t& result);
    bool CheckRfsWithDpt(uint8_t& result);
    bool CheckF1abWithDpt(uint8_t& result);
    void PersistUpdatedPartition();
    void WriteEcuInfo(bool consistent);
    std::vector<uint16_t> DownloadedIds() const;
    std::vector<LogicalBlockCache> UpdatedBlocks() const;
    std::vector<LogicalBlockCache> InstalledBlocks() const;

    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::shared_ptr<KivConfiguration> m_configuration;
};

#endif
