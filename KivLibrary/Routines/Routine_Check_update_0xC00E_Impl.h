// Routine 0xC00E CheckUpdate: answers the tester's update check with constant
// results; it checks nothing. Answers in the calling method thread; the only
// shared state it touches is the session's list of running routines.
#ifndef KIVLIBRARY_ROUTINES_ROUTINE_CHECK_UPDATE_0XC00E_IMPL_H
#define KIVLIBRARY_ROUTINES_ROUTINE_CHECK_UPDATE_0XC00E_IMPL_H

#include "KivLibrary/Routines/PlainRoutine.h"
#include "platform/services/zenqo/services/diag/r_c00e/RoutineService_CheckUpdate_skeleton.h"

class SessionData;
class PersistentDataStorage;

namespace CheckUpdateInterface = zenqo::services::diag::r_c00e::RoutineService_CheckUpdate;

class Routine_c00e_Impl
    : public PlainRoutine<zenqo::services::diag::r_c00e::skeleton::RoutineService_CheckUpdateSkeleton> {
public:
    static constexpr uint16_t kRoutineId = 0xC00E;

    Routine_c00e_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies);
    ~Routine_c00e_Impl() override = default;

    jux::com::Future<CheckUpdateInterface::Start::Output> Start(const MetaInfo& metaInfo, uint8_t option) override;
    jux::com::Future<void> Stop(const MetaInfo& metaInfo) override;
    jux::com::Future<CheckUpdateInterface::RequestResults::Output> RequestResults(const MetaInfo& metaInfo) override;

private:
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> m_storage;
};

#endif
