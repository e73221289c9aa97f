#include "KivLibrary/Routines/Routine_Check_update_0xC00E_Impl.h"

#include "KivLibrary/GlobalLibrary/SessionData.h"

using CheckStartOutput = CheckUpdateInterface::Start::Output;
using CheckResultsOutput = CheckUpdateInterface::RequestResults::Output;

namespace {
constexpr uint8_t kStarted = 1;
constexpr uint8_t kResultsInfo = 0x24;
constexpr uint8_t kResultsData = 0xFF;
}  // namespace

Routine_c00e_Impl::Routine_c00e_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies)
    : PlainRoutine(instance, mode, dependencies, "Check_update"),
      m_sessionData(dependencies.sessionData),
      m_ucmAdaptor(dependencies.ucmAdaptor),
      m_storage(dependencies.storage) {}

jux::com::Future<CheckStartOutput> Routine_c00e_Impl::Start(const MetaInfo& metaInfo, uint8_t /*option*/) {
    CheckStartOutput output;
    output.routineInfo = kStarted;
    auto answer = Guard<CheckStartOutput>(
        "Start",
        [&] {
            if (m_sessionData) {
                m_sessionData->AddActiveRoutine(kRoutineId);
            }
            LogInfo() << "Start Check_Update" << VLMR_FILE_LINE;
            RegisterConversation(metaInfo);
            return Answer(output);
        },
        [&] { return Answer(output); });
    if (m_sessionData) {
        m_sessionData->RemoveActiveRoutine(kRoutineId);
    }
    LogDebug() << "Start Check_update completed" << VLMR_FILE_LINE;
    return answer;
}

jux::com::Future<void> Routine_c00e_Impl::Stop(const MetaInfo& /*metaInfo*/) {
    LogInfo() << "Stop Check_update" << VLMR_FILE_LINE;
    LogDebug() << "Stop Check_update completed" << VLMR_FILE_LINE;
    if (m_sessionData) {
        m_sessionData->RemoveActiveRoutine(kRoutineId);
    }
    return jux::com::MakeReadyFuture();
}

jux::com::Future<CheckResultsOutput> Routine_c00e_Impl::RequestResults(const MetaInfo& /*metaInfo*/) {
    LogInfo() << "RequestResults Check_update" << VLMR_FILE_LINE;
    CheckResultsOutput output;
    output.routineInfo = kResultsInfo;
    output.routineData = kResultsData;
    LogDebug() << "RequestResults Check_update completed with routineInfo: "
               << static_cast<uint32_t>(output.routineInfo) << VLMR_FILE_LINE;
    return jux::com::MakeReadyFuture(output);
}
