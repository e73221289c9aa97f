#include "KivLibrary/Functional/RequestTransferExit.h"

#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

#include <string>

RequestTransferExit::RequestTransferExit(const UdsServiceDependencies& dependencies)
    : CheckedService("RequestTransferExit", kSid, dependencies.sessionData, dependencies.ucmAdaptor,
                     dependencies.storage),
      m_conversation(dependencies.conversation) {
    using Nrc = UDS::Nrc;
    AddCheck("SessionUCMCheck", Nrc::conditionsNotCorrect, &RequestTransferExit::SessionUCMCheck);
    AddCheck("RequestDownloadFinishedCheck", Nrc::requestSequenceError,
             &RequestTransferExit::RequestDownloadFinishedCheck);
    // Before the data check: a malformed request must not end anything at UCM.
    AddCheck("TotalLengthCheck", Nrc::incorrectMessageLengthOrInvalidFormat, &RequestTransferExit::TotalLengthCheck);
    AddCheck("GetDataCheck", Nrc::requestSequenceError, &RequestTransferExit::GetDataCheck);
}

std::vector<uint8_t> RequestTransferExit::Process(const UDS::Message& message) {
    LogInfo() << "RequestTransferExit: Process started!" << VLMR_FILE_LINE;
    LogCurrentStatus();
    const Request request(message);
    std::vector<uint8_t> response;
    // Held until the worker is drained and the transfer ended at UCM, which
    // may outlast the tester's wait for this answer: a RequestDownload or a
    // memory check sent meanwhile waits for the end of this transfer rather
    // than run beside its last pieces.
    SessionData::TransferLock transfer;
    if (m_sessionData) {
        transfer = m_sessionData->WaitForTurn("RequestTransferExit", m_conversation);
        if (!transfer.owns_lock()) {
            LogError() << (transfer.Overtaken()
                               ? "ConditionsNotCorrect: the session ended while the request waited"
                               : "ConditionsNotCorrect: the previous download step did not end in time")
                       << VLMR_FILE_LINE;
            return MakeNegativeFrame(Sid(), UDS::Nrc::conditionsNotCorrect);
        }
    }
    if (!RunChecks(request, response)) {
        return response;
    }
    return ExitTransfer();
}

bool RequestTransferExit::IsDptTransfer() const {
    const std::shared_ptr<RFS> rfs = m_sessionData->GetRFS();
    return rfs && rfs->IsTransferActive();
}

CheckResult RequestTransferExit::SessionUCMCheck(const Request&, std::vector<uint8_t>&) {
    if (!m_sessionData || !m_ucmAdaptor) {
        return CheckResult::Refuse("ConditionsNotCorrect: session or ucmClient nullptr!");
    }
    return CheckResult::Pass();
}

CheckResult RequestTransferExit::RequestDownloadFinishedCheck(const Request&, std::vector<uint8_t>&) {
    if (m_sessionData->IsRequestDownloadFinished()) {
        return CheckResult::Refuse("RequestSequenceError: RequestDownload not started!");
    }
    return CheckResult::Pass();
}

CheckResult RequestTransferExit::GetDataCheck(const Request&, std::vector<uint8_t>&) {
    const uint32_t remaining = m_sessionData->GetRemainingSize(true);
    if (remaining == 0) {
        return CheckResult::Pass();
    }
    // UCM never had the dpt: ending it there would end nothing.
    if (!IsDptTransfer()) {
        if (m_ucmAdaptor->TransferExit(m_sessionData->GetUcmSessionId())) {
            LogInfo() << "RequestTransferExit: sending NRC RequestSequenceError" << VLMR_FILE_LINE;
        } else {
            LogError() << "RequestTransferExit: UCM TransferExit failed" << VLMR_FILE_LINE;
        }
    }
    return CheckResult::Refuse("RequestSequenceError: remainingSize: " + std::to_string(remaining));
}

CheckResult RequestTransferExit::TotalLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t size = request.GetFrame().size();
    if (size != Request::kMinimumLength) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: Request data size not correct. Request data size is " +
            std::to_string(size));
    }
    return CheckResult::Pass();
}

std::vector<uint8_t> RequestTransferExit::ExitTransfer() {
    const std::shared_ptr<FlashingThread> flashingThread = m_sessionData->TakeFlashingThread();
    if (!flashingThread) {
        LogError() << "No flashing thread available in RequestTransferExit, was the request called before?"
                   << VLMR_FILE_LINE;
        return MakeNegativeFrame(Sid(), UDS::Nrc::requestSequenceError);
    }
    // Every buffered piece reaches UCM (or the RFS record) before the thread ends.
    flashingThread->stopAndJoin();
    if (IsDptTransfer()) {
        LogInfo() << "RequestTransferExit: TransferExit for dpt succeeded!" << VLMR_FILE_LINE;
        m_sessionData->SetDownloadActive(true);
        m_sessionData->GetRFS()->SetTransferActive(false);
    } else {
        flashingThread->waitForAllBuffersToBeEmpty();
        std::vector<uint8_t> stored;
        if (!flashingThread->checkTransferResult(stored)) {
            LogError() << "RequestTransferExit: flashing thread reports error" << VLMR_FILE_LINE;
            return stored;
        }
        if (!m_ucmAdaptor->TransferExit(m_sessionData->GetUcmSessionId())) {
            LogError() << "RequestTransferExit: TransferExit failed!" << VLMR_FILE_LINE;
            return MakeNegativeFrame(Sid(), UDS::Nrc::generalProgrammingFailure);
        }
        LogInfo() << "RequestTransferExit: TransferExit for datablock succeeded!" << VLMR_FILE_LINE;
        m_sessionData->SetDownloadActive(true);
    }
    m_sessionData->SetRequestDownloadFinished(true);
    m_sessionData->SetLastBlockSequenceCounter(0);
    m_sessionData->DiscardUnfinishedDatablocks();
    LogDebug() << "RequestTransferExit processed!" << VLMR_FILE_LINE;
    return UDS::RequestTransferExitResponse().GetFrame();
}
