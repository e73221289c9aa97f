// Routine 0x0202 CheckMemory: verifies the downloaded bytes against the
// tester's signature, then either the downgrade protection of the last logical
// block or the downloaded RFS/DPT record with the hardware version. Every
// outcome is a status byte; a failure sets the session's memory-failure flag.
// Answers in the calling method thread; keeps no state of its own.
#ifndef KIVLIBRARY_ROUTINES_ROUTINE_CHECKMEMORY_0X0202_IMPL_H
#define KIVLIBRARY_ROUTINES_ROUTINE_CHECKMEMORY_0X0202_IMPL_H

#include "KivLibrary/Routines/PlainRoutine.h"
#include "platform/services/zenqo/services/diag/r_0202/RoutineService_CheckMemory_skeleton.h"

#include <vector>

class SessionData;
class PersistentDataStorage;

namespace CheckMemoryInterface = zenqo::services::diag::r_0202::RoutineService_CheckMemory;

class RoutineService_0202_Impl
    : public PlainRoutine<zenqo::services::diag::r_0202::skeleton::RoutineService_CheckMemorySkeleton> {
public:
    static constexpr uint8_t kStatusPassed = 0x00;
    static constexpr uint8_t kStatusSignature = 0x01;
    static constexpr uint8_t kStatusInvalidRecord = 0x80;
    static constexpr uint8_t kStatusDowngrade = 0x81;
    static constexpr size_t kSignatureSize = 384;
    static constexpr size_t kSignatureWithTrailerSize = 388;

    RoutineService_0202_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies);
    ~RoutineService_0202_Impl() override = default;

    jux::com::Future<CheckMemoryInterface::Start::Output> Start(const MetaInfo& metaInfo,
                                                                const std::vector<uint8_t>& data) override;

private:
    uint8_t CheckMemoryData(const std::vector<uint8_t>& request);
    void CompareDptWithRfs(uint16_t id, uint8_t& status);
    void CheckHwVersionId(uint8_t& status);
    void FailureCleanup();
    void WriteEcuInfo(bool consistent);

    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<PersistentDataStorage> m_storage;
    std::shared_ptr<KivConfiguration> m_configuration;
};

#endif
