// Routine 0xC010 StartUpdate: starts the installation of the downloaded
// package at UCM, reports its progress and outcome, and after a successful
// installation stages the SMACK files and records the clusters' integrity
// data. Every method answers in the calling method thread; the UCM adaptor
// serialises the UCM calls. Start and RequestResults may run at once: the
// kept memory address is the only state of the routine and has its own lock.
#ifndef KIVLIBRARY_ROUTINES_ROUTINE_START_UPDATE_0XC010_IMPL_H
#define KIVLIBRARY_ROUTINES_ROUTINE_START_UPDATE_0XC010_IMPL_H

#include "KivLibrary/Routines/PlainRoutine.h"
#include "KivLibrary/Ucm/UcmTypes.h"
#include "platform/services/zenqo/services/diag/r_c010/RoutineService_StartUpdate_skeleton.h"

#include <mutex>
#include <vector>

class SessionData;
class PersistentDataStorage;

namespace StartUpdateInterface = zenqo::services::diag::r_c010::RoutineService_StartUpdate;

class Routine_c010_Impl
    : public PlainRoutine<zenqo::services::diag::r_c010::skeleton::RoutineService_StartUpdateSkeleton> {
public:
    using ResultsOutput = StartUpdateInterface::RequestResults::Output;
    static constexpr uint16_t kRoutineId = 0xC010;

    // The UCM adaptor's installation state.
    enum class InstallUpdateState : uint8_t {
        kNotRunning = 0,
        kReturned = 1,
        kRunning = 2,
        kUcmServiceFailed = 3,
    };
    // Resp_Status of RequestResults.
    enum class ResponseStatus : uint8_t {
        kUnexpectedError = 0,
        kRunning = 1,
        kFailed = 20,
        kFinished = 36,
    };
    static constexpr uint8_t kInstallStatusSuccess = 7;
    static constexpr uint8_t kGetInstallationResultSuccess = 0;

    Routine_c010_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies);
    ~Routine_c010_Impl() override = default;

    jux::com::Future<StartUpdateInterface::Start::Output> Start(const MetaInfo& metaInfo, uint8_t LogLevel,
                                                                uint8_t Address_format_identifier,
                                                                const std::vector<uint8_t>& Memory_Address) override;
    jux::com::Future<void> Stop(const MetaInfo& metaInfo) override;
    jux::com::Future<ResultsOutput> RequestResults(const MetaInfo& metaInfo) override;

private:
    void LogCancelCompleted() override;

    jux::com::Future<StartUpdateInterface::Start::Output> StartInstallation(bool& stateChangeRefused);
    jux::com::Future<ResultsOutput> Results();
    bool ReadProgress(uint32_t sessionId, uint8_t& progress);
    bool EvaluateInstallationStatus(uint32_t sessionId, ResponseStatus fallback, ResultsOutput& output);
    void RecordIntegrityData(const InstallationStatusResult& status);
    void KeepMemoryAddress(uint8_t addressFormat, const std::vector<uint8_t>& address);
    uint8_t FirstMemoryAddressByte() const;

    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::shared_ptr<KivConfiguration> m_configuration;
    mutable std::mutex m_memoryAddressMutex;
    std::vector<uint8_t> m_memoryAddress;
};

#endif
