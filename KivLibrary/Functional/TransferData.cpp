#include "KivLibrary/Functional/TransferData.h"

#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

#include <string>

namespace {
constexpr size_t kHeaderLength = 2;  // SID and blockSequenceCounter
constexpr uint32_t kCounterModulo = 256;

// A repeated piece is answered by CheckRepeatedPiece; the checks after it
// then let the request through untouched.
bool AlreadyAnswered(const std::vector<uint8_t>& response) { return !response.empty(); }
}  // namespace

TransferData::TransferData(const UdsServiceDependencies& dependencies)
    : CheckedService("TransferData", kSid, dependencies.sessionData, dependencies.ucmAdaptor, dependencies.storage) {
    using Nrc = UDS::Nrc;
    AddCheck("IsSessionInterfaceAndUCMAvailable", Nrc::conditionsNotCorrect,
             &TransferData::IsSessionInterfaceAndUCMAvailable);
    AddCheck("CheckIfPreviousTransferDataSuccess", Nrc::generalProgrammingFailure,
             &TransferData::CheckIfPreviousTransferDataSuccess);
    AddCheck("CheckSize", Nrc::incorrectMessageLengthOrInvalidFormat, &TransferData::CheckSize);
    AddCheck("CheckActiveDownload", Nrc::requestSequenceError, &TransferData::CheckActiveDownload);
    // Before the size checks: a retry of the last piece must not be taken for
    // one that overruns the block or arrives after its end.
    AddCheck("CheckRepeatedPiece", Nrc::generalReject, &TransferData::CheckRepeatedPiece);
    AddCheck("CheckIfDataTransferComplete", Nrc::requestSequenceError, &TransferData::CheckIfDataTransferComplete);
    AddCheck("CheckIfDataSizeIsCorrect", Nrc::transferDataSuspended, &TransferData::CheckIfDataSizeIsCorrect);
    AddCheck("CheckBlockSequenceCounter", Nrc::wrongBlockSequenceCounter, &TransferData::CheckBlockSequenceCounter);
    AddCheck("CheckBlockSize", Nrc::requestOutOfRange, &TransferData::CheckBlockSize);
    AddCheck("ExecuteTransferData", Nrc::conditionsNotCorrect, &TransferData::ExecuteTransferData);
}

std::vector<uint8_t> TransferData::Process(const UDS::Message& message) {
    LogInfo() << "TransferData: Process started" << VLMR_FILE_LINE;
    const Request request(message);
    std::vector<uint8_t> response;
    (void)RunChecks(request, response);
    return response;
}

size_t TransferData::DataLength(const Request& request) {
    const size_t size = request.GetFrame().size();
    return size > kHeaderLength ? size - kHeaderLength : 0;
}

bool TransferData::IsRepetition(uint8_t counter) const {
    const uint32_t last = m_sessionData->GetLastBlockSequenceCounter();
    return last >= 1 && counter == last % kCounterModulo;
}

CheckResult TransferData::IsSessionInterfaceAndUCMAvailable(const Request&, std::vector<uint8_t>&) {
    if (!m_sessionData || !m_ucmAdaptor || !m_sessionData->GetConfiguration()) {
        return CheckResult::Refuse("ConditionsNotCorrect: session or ucmClient nullptr!");
    }
    // The piece would go to a download that is being cancelled.
    if (!DiagStatusChangesHandled()) {
        return CheckResult::Refuse("ConditionsNotCorrect: the end of the previous diagnostic session is still handled");
    }
    return CheckResult::Pass();
}

CheckResult TransferData::CheckIfPreviousTransferDataSuccess(const Request&, std::vector<uint8_t>&) {
    if (m_sessionData->m_transferDataFailed.load()) {
        return CheckResult::Refuse(
            "GeneralProgrammingFailure: TransferData failed before, so not processing further TransferData requests "
            "but answering with the negative response code.");
    }
    return CheckResult::Pass();
}

CheckResult TransferData::CheckSize(const Request& request, std::vector<uint8_t>&) {
    const size_t size = request.GetFrame().size();
    // Without a download a short request is a sequence error (next check).
    if (size < Request::kMinimumLength && !m_sessionData->IsRequestDownloadFinished()) {
        return CheckResult::Refuse("IncorrectMessageLengthOrInvalidFormat: wrong message length! Request size is " +
                                   std::to_string(size));
    }
    return CheckResult::Pass();
}

CheckResult TransferData::CheckActiveDownload(const Request&, std::vector<uint8_t>&) {
    if (m_sessionData->IsRequestDownloadFinished()) {
        return CheckResult::Refuse("RequestSequenceError: No Download session active!");
    }
    return CheckResult::Pass();
}

CheckResult TransferData::CheckRepeatedPiece(const Request& request, std::vector<uint8_t>& response) {
    const uint8_t counter = request.GetBlockSequenceCounter();
    if (!IsRepetition(counter)) {
        return CheckResult::Pass();
    }
    LogWarn() << "- TransferData::ExecuteTransferData: blockSequenceCounter: " << static_cast<uint32_t>(counter)
              << " and  counterToRequest: " << m_sessionData->GetLastBlockSequenceCounter() % kCounterModulo
              << " are same and skip it" << VLMR_FILE_LINE;
    response = UDS::TransferDataResponse(counter).GetFrame();
    return CheckResult::Pass(" repeated piece answered again");
}

CheckResult TransferData::CheckIfDataTransferComplete(const Request&, std::vector<uint8_t>& response) {
    if (AlreadyAnswered(response)) {
        return CheckResult::Pass();
    }
    if (m_sessionData->GetRemainingSize(true) == 0) {
        return CheckResult::Refuse("RequestSequenceError: Data transfer already complete!");
    }
    return CheckResult::Pass();
}

CheckResult TransferData::CheckIfDataSizeIsCorrect(const Request& request, std::vector<uint8_t>& response) {
    if (AlreadyAnswered(response)) {
        return CheckResult::Pass();
    }
    const uint32_t remaining = m_sessionData->GetRemainingSize(true);
    const size_t length = DataLength(request);
    if (length <= remaining) {
        LogDebug() << "TransferData: Remaining data transfer size: " << remaining << VLMR_FILE_LINE;
        return CheckResult::Pass();
    }
    const std::shared_ptr<RFS> rfs = m_sessionData->GetRFS();
    if (rfs && rfs->IsTransferActive()) {
        // UCM never had the dpt; its transfer stays with this process, so no
        // later piece of it can slip through to UCM.
        LogInfo() << "TransferData: dpt piece too large; the dpt transfer stays open" << VLMR_FILE_LINE;
    } else if (m_ucmAdaptor->TransferExit(m_sessionData->GetUcmSessionId())) {
        LogInfo() << "RequestTransferExit: TransferExit for TransferDataSuspended!" << VLMR_FILE_LINE;
        m_sessionData->SetDownloadActive(false);
    } else {
        LogError() << "RequestTransferExit: UCM TransferExit failed" << VLMR_FILE_LINE;
    }
    return CheckResult::Refuse("TransferDataSuspended: Transferred data is bigger than expected, extra data bytes: " +
                               std::to_string(length - remaining));
}

CheckResult TransferData::CheckBlockSequenceCounter(const Request& request, std::vector<uint8_t>& response) {
    if (AlreadyAnswered(response)) {
        return CheckResult::Pass();
    }
    const uint8_t counter = request.GetBlockSequenceCounter();
    const uint32_t last = m_sessionData->GetLastBlockSequenceCounter();
    // Right after RequestDownload the last counter is 0: the first piece
    // carries 1, and a 0 there is no repetition of anything.
    if (counter != (last + 1) % kCounterModulo) {
        return CheckResult::Refuse(
            "WrongBlockSequenceCounter: - TransferData::CheckBlockSequenceCounter: "
            "WrongBlockSequenceCounter=" +
            std::to_string(counter) + " while last one was " + std::to_string(last % kCounterModulo));
    }
    return CheckResult::Pass();
}

CheckResult TransferData::CheckBlockSize(const Request& request, std::vector<uint8_t>& response) {
    if (AlreadyAnswered(response)) {
        return CheckResult::Pass();
    }
    const int32_t transferSize = m_sessionData->GetConfiguration()->transfer_size;
    const size_t length = DataLength(request);
    if (transferSize < 0 || length > static_cast<size_t>(transferSize)) {
        return CheckResult::Refuse("RequestOutOfRange: - TransferData: CheckBlockSize: expected block size is " +
                                   std::to_string(transferSize) + " but got " + std::to_string(length) + " instead");
    }
    return CheckResult::Pass();
}

CheckResult TransferData::ExecuteTransferData(const Request& request, std::vector<uint8_t>& response) {
    if (AlreadyAnswered(response)) {
        return CheckResult::Pass();
    }
    const uint8_t counter = request.GetBlockSequenceCounter();
    LogInfo() << "+ TransferData: ExecuteTransferData" << VLMR_FILE_LINE;
    LogInfo() << "blockSequenceCounter is " << static_cast<uint32_t>(counter) << VLMR_FILE_LINE;
    const std::shared_ptr<FlashingThread> flashingThread = m_sessionData->GetFlashingThread();
    if (!flashingThread) {
        return CheckResult::Refuse(
            "ConditionsNotCorrect: - TransferData::ExecuteTransferData: Flashingthread is "
            "null. Did we receive a RequestDownload? => return false");
    }
    LogInfo() << "TransferData::ExecuteTransferData: RequestDownloadFinished=false" << VLMR_FILE_LINE;

    const uint32_t ucmCounter = m_sessionData->GetLastBlockSequenceCounter() + 1;
    LogDebug() << "TransferData::ExecuteTransferData: Increased UCM counter to " << ucmCounter << VLMR_FILE_LINE;
    std::vector<uint8_t> data = request.GetTransferRequestParameterRecord();
    const uint32_t length = static_cast<uint32_t>(data.size());
    m_sessionData->SetLastBlockSequenceCounter(ucmCounter);
    m_sessionData->DecreaseRemainingSize(true, length);
    if (!flashingThread->waitForAvailableBuffer(std::move(data), ucmCounter)) {
        m_sessionData->m_transferDataFailed.store(true);
        return CheckResult::Refuse(UDS::Nrc::generalProgrammingFailure,
                                   "GeneralProgrammingFailure: - TransferData::ExecuteTransferData: Adding to buffer "
                                   "failed, due to flashing being stopped or timeout!");
    }

    if (!m_sessionData->IsFirstDataTransfered()) {
        LogInfo() << "TransferData::ExecuteTransferData: SetFirstDataTransfered(true)" << VLMR_FILE_LINE;
        m_sessionData->SetFirstDataTransfered(true);
    } else {
        std::vector<uint8_t> stored;
        if (!flashingThread->checkTransferResult(stored)) {
            LogInfo() << "- TransferData::ExecuteTransferData: ! flashingThread->checkTransferResult() => "
                         "JoinAndDestroyFlashingThread() & return false"
                      << VLMR_FILE_LINE;
            m_sessionData->m_transferDataFailed.store(true);
            // Ended under the transfer lock like every worker: a download
            // opened meanwhile must not run beside this one's last call.
            const SessionData::TransferLock transfer = m_sessionData->WaitForTransfer("TransferData");
            if (transfer.owns_lock()) {
                // A RequestDownload that came first has put its own worker there.
                if (m_sessionData->GetFlashingThread() == flashingThread) {
                    m_sessionData->ResetFlashingThread();
                }
                flashingThread->stopAndJoin();
            } else {
                LogError() << "TransferData: the failed worker is left to the next RequestDownload or the end of "
                              "the session"
                           << VLMR_FILE_LINE;
            }
            return CheckResult::Refuse(UDS::Nrc::generalProgrammingFailure,
                                       "GeneralProgrammingFailure: an earlier piece was refused by UCM");
        }
    }
    response = UDS::TransferDataResponse(counter).GetFrame();
    return CheckResult::PassWithLine("- TransferData::ExecuteTransferData: processed! => return true");
}
