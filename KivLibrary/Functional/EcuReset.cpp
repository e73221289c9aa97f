#include "KivLibrary/Functional/EcuReset.h"

#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/Logger/Logging.h"
#include "uds/ServiceNames.h"

#include <atomic>
#include <string>

namespace {
// The diagnosticSession text by which the diagnostic manager reports the
// programming session.
const std::string ProgrammingSessionId = "2";
}  // namespace

EcuReset::EcuReset(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck)
    : CheckedService("EcuReset", kSid, dependencies.sessionData, dependencies.ucmAdaptor, dependencies.storage),
      m_conversation(dependencies.conversation),
      m_cleanupErrorDtc(dependencies.cleanupErrorDtc),
      m_autonomousCheck(&autonomousCheck) {
    AddCheck("MessageLengthCheck", UDS::Nrc::incorrectMessageLengthOrInvalidFormat, &EcuReset::MessageLengthCheck);
    AddCheck("CheckSupportedSubfunctions", UDS::Nrc::subFunctionNotSupported, &EcuReset::CheckSupportedSubfunctions);
}

std::vector<uint8_t> EcuReset::Process(const UDS::Message& message) {
    LogInfo() << "EcuReset: Process will be started!" << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lock(m_mutex);
    LogInfo() << "EcuReset: Process started!" << VLMR_FILE_LINE;
    LogCurrentStatus();
    const Request request(message);
    std::vector<uint8_t> response;
    if (!RunChecks(request, response)) {
        return response;
    }
    LogInfo() << "EcuReset:: processed!" << VLMR_FILE_LINE;
    return UDS::EcuResetResponse(request.GetResetType()).GetFrame();
}

CheckResult EcuReset::MessageLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t length = request.GetFrame().size();
    if (length != Request::kLength) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: message does not have 2 bytes length! Message length is " +
            std::to_string(length));
    }
    return CheckResult::PassWithLine("EcuReset: MessageLengthCheck succeeded! Message length is " +
                                     std::to_string(length));
}

CheckResult EcuReset::CheckSupportedSubfunctions(const Request& request, std::vector<uint8_t>&) {
    const uint8_t resetType = request.GetResetType();
    if (resetType == kKeyOffOnReset) {
        return HandleKeyOffOnReset();
    }
    if (resetType == kHardReset) {
        return HandleHardReset();
    }
    return CheckResult::Refuse("SubFunctionNotSupported: the sub-function parameter is not supported! Subfunction is " +
                               UDS::EcuResetTypeToString(resetType));
}

CheckResult EcuReset::HandleHardReset() {
    if (!m_sessionData) {
        return CheckResult::Refuse(UDS::Nrc::conditionsNotCorrect, "ConditionsNotCorrect: no session state");
    }
    const bool memoryFailure = m_sessionData->GetMemoryFailureFlag();
    LogInfo() << "EcuReset (HardReset): memory failure detected? : "
              << (memoryFailure ? "YES => reset memory failure flag" : "NO") << VLMR_FILE_LINE;
    m_sessionData->SetMemoryFailureFlag(false);

    const SWupdateState state = m_sessionData->GetSWupdateState();
    if (state == SWupdateState::TRANSFER_IN_PROGRESS || state == SWupdateState::INSTALL_IN_PROGRESS) {
        ResetProgramming(state);
        return CheckResult::PassWithLine("EcuReset: HardReset aborted the update");
    }
    if (state == SWupdateState::INSTALL_COMPLETE) {
        return HandleInstallComplete(state);
    }
    return FakeHardReset();
}

void EcuReset::ResetProgramming(SWupdateState state) {
    LogInfo() << "EcuReset(HardReset): Handling for SWupdateStatus=" << toString(state) << VLMR_FILE_LINE;
    // The download's worker is stopped and joined before the UCM session is
    // closed, and a DPT transfer kept locally ends too.
    m_sessionData->AbortLocalTransfer();
    m_sessionData->ResetProgramming(m_ucmAdaptor, m_storage, m_conversation, m_cleanupErrorDtc);
    const std::shared_ptr<AutonomousCheck> autonomousCheck =
        m_autonomousCheck ? std::atomic_load(m_autonomousCheck) : nullptr;
    if (m_sessionData->IsStatusAllowingIVDCheck() && !m_sessionData->AutonomousCheckDone && autonomousCheck) {
        LogInfo() << "ECUReset::ResetProgramming: do retrigger of AutonomousCheck" << VLMR_FILE_LINE;
        autonomousCheck->StartIvdTimer();
    }
}

CheckResult EcuReset::HandleInstallComplete(SWupdateState state) {
    LogInfo() << "EcuReset(HardReset): Handling for SWupdateStatus=" << toString(state) << VLMR_FILE_LINE;
    if (m_conversation) {
        m_conversation->cancel();
    }
    return CheckResult::PassWithLine("EcuReset: HardReset after the installation");
}

CheckResult EcuReset::FakeHardReset() {
    if (!m_conversation) {
        return CheckResult::Refuse(UDS::Nrc::conditionsNotCorrect,
                                   "ConditionsNotCorrect: EcuReset: m_kivDMConversation is not initialized");
    }
    const std::string session = m_conversation->GetConversationState().diagnosticSession;
    LogInfo() << "EcuReset (HardReset): current diagnosticSession = " << session << VLMR_FILE_LINE;
    if (session != ProgrammingSessionId) {
        return CheckResult::Refuse(UDS::Nrc::subFunctionNotSupportedInActiveSession,
                                   "SubFunctionNotSupportedInActiveSession: Sending NRC "
                                   "SubFunctionNotSupportedInActiveSession");
    }
    LogInfo() << "Sending Fake Reset" << VLMR_FILE_LINE;
    m_sessionData->AbortLocalTransfer();
    m_conversation->cancel();
    LogInfo() << "Cancelled diagnosticConversation with DM" << VLMR_FILE_LINE;
    return CheckResult::PassWithLine("EcuReset: fake HardReset sent");
}

CheckResult EcuReset::HandleKeyOffOnReset() {
    LogInfo() << "EcuReset: KeyOffOnReset requested" << VLMR_FILE_LINE;
    const SWupdateState state = m_sessionData ? m_sessionData->GetSWupdateState() : SWupdateState::INVALID;
    if (state != SWupdateState::IDLE) {
        LogWarn() << "EcuReset: Can not reset. We have update in progress" << VLMR_FILE_LINE;
        LogInfo() << "EcuReset: currSWUpdateState = " << toString(state) << VLMR_FILE_LINE;
        return CheckResult::Refuse(
            UDS::Nrc::conditionsNotCorrect,
            "ConditionsNotCorrect: EcuReset: update in progress, SWupdateState = " + toString(state));
    }
    LogInfo() << "EcuReset: current SWupdateState is Idle" << VLMR_FILE_LINE;
    if (!m_conversation) {
        return CheckResult::Refuse(UDS::Nrc::conditionsNotCorrect,
                                   "ConditionsNotCorrect: EcuReset: m_kivDMConversation is not initialized");
    }
    return FakeKeyOffOnReset();
}

CheckResult EcuReset::FakeKeyOffOnReset() {
    const std::string session = m_conversation->GetConversationState().diagnosticSession;
    LogInfo() << "EcuReset: current diagnosticSession = " << session << VLMR_FILE_LINE;
    if (session == ProgrammingSessionId) {
        return CheckResult::Refuse(UDS::Nrc::conditionsNotCorrect,
                                   "ConditionsNotCorrect: EcuReset: ConditionsNotCorrect as diagnostic programming "
                                   "session is active");
    }
    LogInfo() << "EcuReset: Fake Restart!" << VLMR_FILE_LINE;
    m_conversation->cancel();
    LogInfo() << "EcuReset: cancelled diagnosticConversation with DM" << VLMR_FILE_LINE;
    return CheckResult::PassWithLine("EcuReset: fake KeyOffOnReset sent");
}
