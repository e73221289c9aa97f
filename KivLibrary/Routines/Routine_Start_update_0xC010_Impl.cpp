#include "KivLibrary/Routines/Routine_Start_update_0xC010_Impl.h"

#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Routines/RoutineNrc.h"
#include "KivLibrary/SmackHandler/SmackHandler.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "KivLibrary/Ucm/UcmNames.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

using StartOutput = StartUpdateInterface::Start::Output;
using ResultsOutput = Routine_c010_Impl::ResultsOutput;

namespace {

constexpr uint8_t kStarted = 1;
constexpr uint8_t kMaxRunningProgress = 99;
constexpr uint8_t kFinishedProgress = 100;
constexpr size_t kMaxLoggedAddressBytes = 22;
constexpr uint8_t kClusterStateFailed = 2;

std::string InstallationResultName(uint8_t result) {
    static const char* const kNames[] = {
        "SUCCESS", "REJECT", "INVALID_MANIFEST", "INSUFFICIENT_MEMORY", "MISSING_DEPENDENCIES", "RESERVED"};
    return result < sizeof(kNames) / sizeof(kNames[0]) ? kNames[result] : "";
}

void LogBlockList(const std::string& label, const std::shared_ptr<LogicalBlockCacheData>& cache) {
    if (!cache) {
        LogInfo() << label << ": none" << VLMR_FILE_LINE;
        return;
    }
    for (const LogicalBlockCache& block : cache->blocks) {
        LogInfo() << label << ": id=" << static_cast<uint32_t>(block.id) << " name=" << block.name
                  << " version=" << PrintableText(block.version.data(), block.version.size())
                  << " IVD_IsValid=" << block.IVD_IsValid << " IVD=" << HashToDisplayString(block.IVD.data())
                  << VLMR_FILE_LINE;
    }
}

std::string MemoryAddressText(const std::vector<uint8_t>& address) {
    std::ostringstream text;
    text << "Memory_Address: ";
    const size_t shown = std::min(address.size(), kMaxLoggedAddressBytes);
    for (size_t i = 0; i < shown; ++i) {
        WriteHexByte(text, address[i]);
        text << ' ';
    }
    if (address.size() >= kMaxLoggedAddressBytes) {
        text << "...";
    }
    return text.str();
}

}  // namespace

Routine_c010_Impl::Routine_c010_Impl(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies)
    : PlainRoutine(instance, mode, dependencies, "Start_update"),
      m_sessionData(dependencies.sessionData),
      m_ucmAdaptor(dependencies.ucmAdaptor),
      m_storage(dependencies.storage),
      m_configuration(dependencies.configuration) {}

void Routine_c010_Impl::LogCancelCompleted() { LogInfo() << "Cancel Start_update completed" << VLMR_FILE_LINE; }

jux::com::Future<StartOutput> Routine_c010_Impl::Start(const MetaInfo& metaInfo, uint8_t LogLevel,
                                                       uint8_t Address_format_identifier,
                                                       const std::vector<uint8_t>& Memory_Address) {
    LogInfo() << "Start Start_update" << VLMR_FILE_LINE;
    bool stateChangeRefused = false;
    auto answer = Guard<StartOutput>(
        "Start",
        [&] {
            RegisterConversation(metaInfo);
            if (!m_sessionData || !m_ucmAdaptor) {
                throw std::logic_error("missing session data or UCM adaptor");
            }
            if (m_sessionData->GetMemoryFailureFlag()) {
                LogError() << "Check memory condition failed, can't proceed" << VLMR_FILE_LINE;
                return Refuse<StartOutput>(RoutineNrc::kC010StartConditionsNotCorrect);
            }
            // Installing without a transfer session would persist an
            // installation state that blocks every later download.
            if (m_sessionData->GetUcmSessionId() == SessionData::kNoUcmSession) {
                LogError() << "ConditionsNotCorrect: no UCM session open, installation not started" << VLMR_FILE_LINE;
                return Refuse<StartOutput>(RoutineNrc::kC010StartConditionsNotCorrect);
            }
            // A second installation would overwrite the running one's state.
            if (static_cast<InstallUpdateState>(m_ucmAdaptor->GetInstallUpdateState()) ==
                InstallUpdateState::kRunning) {
                LogError() << "ConditionsNotCorrect: an installation is already running" << VLMR_FILE_LINE;
                return Refuse<StartOutput>(RoutineNrc::kC010StartConditionsNotCorrect);
            }
            KeepMemoryAddress(Address_format_identifier, Memory_Address);
            LogInfo() << "Log level: " << static_cast<uint32_t>(LogLevel) << VLMR_FILE_LINE;
            LogInfo() << "Address_format_identifier: " << static_cast<uint32_t>(Address_format_identifier)
                      << VLMR_FILE_LINE;
            LogInfo() << MemoryAddressText(Memory_Address) << VLMR_FILE_LINE;
            return StartInstallation(stateChangeRefused);
        },
        [] { return Refuse<StartOutput>(RoutineNrc::kC010StartConditionsNotCorrect); });
    if (!stateChangeRefused) {
        LogInfo() << "Start Start_update completed" << VLMR_FILE_LINE;
    }
    return answer;
}

jux::com::Future<StartOutput> Routine_c010_Impl::StartInstallation(bool& stateChangeRefused) {
    const uint32_t sessionId = m_sessionData->GetUcmSessionId();
    if (!m_ucmAdaptor->InstallUpdateAsync(sessionId)) {
        LogError() << "UCM installUpdate failed" << VLMR_FILE_LINE;
        return Refuse<StartOutput>(RoutineNrc::kC010StartConditionsNotCorrect);
    }
    // Without the state holder no state can be changed: a refused change.
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    const SWupdateState previous = status ? status->GetStatus() : SWupdateState::INVALID;
    if (!status || !status->SetStatus(SWupdateState::INSTALL_IN_PROGRESS)) {
        m_ucmAdaptor->CancelUpdate(sessionId);
        // The installation is cancelled: the state must not claim it runs.
        if (status && !status->SetStatus(previous)) {
            LogError() << "Start_update: failed to update SW status to " << toString(previous) << VLMR_FILE_LINE;
        }
        LogError() << "update sw status failed" << VLMR_FILE_LINE;
        stateChangeRefused = true;
        return Refuse<StartOutput>(RoutineNrc::kC010StartConditionsNotCorrect);
    }
    if (m_storage) {
        (void)m_storage->SyncToStorage();
    }
    m_sessionData->AddActiveRoutine(kRoutineId);
    StartOutput output;
    output.routineInfo = kStarted;
    return Answer(output);
}

jux::com::Future<void> Routine_c010_Impl::Stop(const MetaInfo& /*metaInfo*/) {
    LogInfo() << "Stopping Start_update" << VLMR_FILE_LINE;
    auto answer = Guard<void>(
        "Stop",
        [&] {
            if (!m_sessionData || !m_ucmAdaptor) {
                throw std::logic_error("missing session data or UCM adaptor");
            }
            if (!m_ucmAdaptor->CancelUpdate(m_sessionData->GetUcmSessionId())) {
                LogError() << "ucm stop update failed" << VLMR_FILE_LINE;
                return Refuse<void>(RoutineNrc::kC010StopConditionsNotCorrect);
            }
            return jux::com::MakeReadyFuture();
        },
        [] { return Refuse<void>(RoutineNrc::kC010StopConditionsNotCorrect); });
    if (m_sessionData) {
        m_sessionData->RemoveActiveRoutine(kRoutineId);
    }
    LogInfo() << "Stop Start_update completed" << VLMR_FILE_LINE;
    return answer;
}

jux::com::Future<ResultsOutput> Routine_c010_Impl::RequestResults(const MetaInfo& /*metaInfo*/) {
    LogInfo() << "RequestResults for Start_update" << VLMR_FILE_LINE;
    auto answer = Guard<ResultsOutput>(
        "RequestResults", [this] { return Results(); },
        [] { return Refuse<ResultsOutput>(RoutineNrc::kC010ResultsConditionsNotCorrect); });
    LogInfo() << "RequestResults for Start_update completed" << VLMR_FILE_LINE;
    return answer;
}

jux::com::Future<ResultsOutput> Routine_c010_Impl::Results() {
    if (!m_sessionData || !m_ucmAdaptor) {
        throw std::logic_error("missing session data or UCM adaptor");
    }
    const auto refuse = [] { return Refuse<ResultsOutput>(RoutineNrc::kC010ResultsConditionsNotCorrect); };
    ResultsOutput output;
    output.Address_Length = LowNibble(m_sessionData->GetLastLogicalBlockEntry().format);
    output.Memory_Address_First = FirstMemoryAddressByte();
    const uint32_t sessionId = m_sessionData->GetUcmSessionId();
    uint8_t progress = 0;

    const uint8_t rawState = m_ucmAdaptor->GetInstallUpdateState();
    switch (static_cast<InstallUpdateState>(rawState)) {
        case InstallUpdateState::kRunning:
            LogInfo() << "Installation is still running" << VLMR_FILE_LINE;
            if (!ReadProgress(sessionId, progress)) {
                return refuse();
            }
            output.Progress = std::min(progress, kMaxRunningProgress);
            LogInfo() << "Reported progress value: " << static_cast<uint32_t>(output.Progress) << VLMR_FILE_LINE;
            output.Resp_Status = static_cast<uint8_t>(ResponseStatus::kRunning);
            return Answer(output);
        case InstallUpdateState::kNotRunning: {
            LogInfo() << "Installation was not started or completed already" << VLMR_FILE_LINE;
            if (!ReadProgress(sessionId, progress)) {
                return refuse();
            }
            output.Progress = progress;
            UCM::GetInstallationResultOutput result;
            if (!m_ucmAdaptor->GetInstallationResult(sessionId, result)) {
                LogError() << "failed to retrieve installation result" << VLMR_FILE_LINE;
                return refuse();
            }
            LogInfo() << "Retrieved installation result: " << InstallationResultName(result.result) << VLMR_FILE_LINE;
            output.Resp_Status = static_cast<uint8_t>(
                result.result == kGetInstallationResultSuccess ? ResponseStatus::kFinished : ResponseStatus::kFailed);
            return Answer(output);
        }
        case InstallUpdateState::kReturned:
            LogInfo() << "Installation completed and ready to retrieve results" << VLMR_FILE_LINE;
            m_sessionData->RemoveActiveRoutine(kRoutineId);
            if (!ReadProgress(sessionId, progress)) {
                return refuse();
            }
            LogInfo() << "retrieved progress value: " << static_cast<uint32_t>(progress) << VLMR_FILE_LINE;
            output.Progress = progress;
            return EvaluateInstallationStatus(sessionId, ResponseStatus::kFailed, output) ? Answer(output) : refuse();
        case InstallUpdateState::kUcmServiceFailed:
            LogError() << "Received UcmServiceFailed exception for installUpdate" << VLMR_FILE_LINE;
            m_sessionData->RemoveActiveRoutine(kRoutineId);
            output.Progress = kFinishedProgress;
            return EvaluateInstallationStatus(sessionId, ResponseStatus::kFailed, output) ? Answer(output) : refuse();
    }
    LogError() << "installUpdate got exception " << VLMR_FILE_LINE;
    m_sessionData->RemoveActiveRoutine(kRoutineId);
    output.Progress = kFinishedProgress;
    return EvaluateInstallationStatus(sessionId, ResponseStatus::kUnexpectedError, output) ? Answer(output) : refuse();
}

bool Routine_c010_Impl::ReadProgress(uint32_t sessionId, uint8_t& progress) {
    UCM::GetProgressOutput read;
    if (!m_ucmAdaptor->GetProgress(sessionId, read)) {
        LogError() << "failed to retrieve progress value" << VLMR_FILE_LINE;
        return false;
    }
    progress = read.progress;
    LogInfo() << "Retrieved progress value: " << static_cast<uint32_t>(progress) << VLMR_FILE_LINE;
    return true;
}

bool Routine_c010_Impl::EvaluateInstallationStatus(uint32_t sessionId, ResponseStatus fallback, ResultsOutput& output) {
    UCM::GetInstallationStatusOutput status;
    if (!m_ucmAdaptor->GetInstallationStatus(sessionId, status)) {
        LogError() << "failed to retrieve installation status" << VLMR_FILE_LINE;
        return false;
    }
    LogInfo() << "retrieved installation status: " << static_cast<uint32_t>(status.Status) << VLMR_FILE_LINE;
    if (status.Status == kInstallStatusSuccess) {
        const bool staged = m_configuration && SmackHandler(m_configuration).Stage();
        if (staged) {
            LogInfo() << "SMACK Staging succeeded." << VLMR_FILE_LINE;
            output.Resp_Status = static_cast<uint8_t>(ResponseStatus::kFinished);
        } else {
            LogError() << "SMACK Staging Failed." << VLMR_FILE_LINE;
            output.Resp_Status = static_cast<uint8_t>(ResponseStatus::kFailed);
        }
    } else {
        output.Resp_Status = static_cast<uint8_t>(fallback);
        output.Progress = kFinishedProgress;
        const std::string info = ConvertInstallStatusTypeToString(status.Status) + ":" + status.Error.Cluster + ":" +
                                 status.Error.Container + ":" + status.Error.File + ":" + status.Error.CalculatedHash;
        LogInfo() << "Start_update RequestResults Add_Info = " << info << VLMR_FILE_LINE;
        output.Add_Info.assign(info.begin(), info.end());
    }
    UCM::LogInstallationStatus(status);
    RecordIntegrityData(status);
    LogBlockList("MIRROR Cache", m_sessionData->GetUpdatedLogistics());
    UCM::GetLogOutput log;
    if (m_ucmAdaptor->GetLog(sessionId, log)) {
        for (const LogEntryType& entry : log.log) {
            LogInfo() << "UCM LOG: " << entry.text << VLMR_FILE_LINE;
        }
    }
    return true;
}

void Routine_c010_Impl::RecordIntegrityData(const InstallationStatusResult& status) {
    m_sessionData->ClearPendingClusters();
    const auto record = [this](const SwClusterIntegrity& cluster, const std::string& label, const std::string& data) {
        // A fresh installation replaces whatever integrity data the cache held.
        if (m_sessionData->FindClusterAndUpdateInPartition(cluster, false, true)) {
            LogInfo() << label << cluster.clusterName << " IntegrityData = " << data << VLMR_FILE_LINE;
        } else {
            LogInfo() << label << cluster.clusterName << " not found; now adding  IntegrityData = " << data
                      << VLMR_FILE_LINE;
            m_sessionData->AddPendingCluster(cluster);
        }
    };
    if (status.Status == kInstallStatusSuccess) {
        for (const auto& entry : status.IntegrityData) {
            SwClusterIntegrity cluster;
            cluster.status = kInstallStatusSuccess;
            cluster.clusterName = entry.clusterName;
            cluster.ivd = entry.data;
            record(cluster, "InstallationStatus.IntegrityData.cluster = ", HashToDisplayString(entry.data.data()));
        }
        return;
    }
    SwClusterIntegrity cluster;
    cluster.status = kClusterStateFailed;
    cluster.clusterName = status.Error.Cluster;
    record(cluster, "InstallationStatus.result.Error.ClusterName = ", status.Error.CalculatedHash);
}

void Routine_c010_Impl::KeepMemoryAddress(uint8_t addressFormat, const std::vector<uint8_t>& address) {
    const size_t length = LowNibble(addressFormat);
    if (address.size() < length) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_memoryAddressMutex);
    m_memoryAddress.assign(address.begin(), address.begin() + static_cast<std::ptrdiff_t>(length));
}

uint8_t Routine_c010_Impl::FirstMemoryAddressByte() const {
    std::lock_guard<std::mutex> lock(m_memoryAddressMutex);
    return m_memoryAddress.empty() ? 0 : m_memoryAddress.front();
}
