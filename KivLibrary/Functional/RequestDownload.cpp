#include "KivLibrary/Functional/RequestDownload.h"

#include "KivLibrary/Functional/DTCService.h"
#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"
#include "KivLibrary/KivLibrary/UCMSessionSelfRepairInterface.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

namespace {
constexpr size_t kMemorySizeBytes = 4;
constexpr size_t kFormatOffset = 3;  // SID and the two format bytes
constexpr uint16_t kMaxProgrammingAttempts = 0xFFFF;
constexpr uint32_t kStoredIdMask = 0xFF;
constexpr int32_t kSwUpdateAllowed = 2;

size_t AddressLength(const UDS::RequestDownloadRequest& request) {
    return request.GetAddressAndLengthFormatIdentifier() & 0x0FU;
}

size_t SizeLength(const UDS::RequestDownloadRequest& request) {
    return request.GetAddressAndLengthFormatIdentifier() >> 4U;
}

// Stored entries keep the low 8 bits of the id; matching on the same value
// keeps an id above 0xFF on one entry and under its lock.
uint8_t StoredId(uint32_t blockId) { return static_cast<uint8_t>(blockId & kStoredIdMask); }
}  // namespace

RequestDownload::RequestDownload(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck)
    : CheckedService("RequestDownload", kSid, dependencies.sessionData, dependencies.ucmAdaptor, dependencies.storage),
      m_conversation(dependencies.conversation),
      m_selfRepair(dependencies.selfRepair),
      m_cleanupErrorDtc(dependencies.cleanupErrorDtc),
      m_autonomousCheck(autonomousCheck),
      m_settings(dependencies.settings) {
    using Nrc = UDS::Nrc;
    AddCheck("SessionUCMCheck", Nrc::conditionsNotCorrect, &RequestDownload::SessionUCMCheck);
    AddCheck("MinLengthCheck", Nrc::incorrectMessageLengthOrInvalidFormat, &RequestDownload::MinLengthCheck);
    AddCheck("DataFormatIdentifierCheck", Nrc::requestOutOfRange, &RequestDownload::DataFormatIdentifierCheck);
    AddCheck("AddressAndLengthFormatCheck", Nrc::requestOutOfRange, &RequestDownload::AddressAndLengthFormatCheck);
    AddCheck("FullLengthCheck", Nrc::incorrectMessageLengthOrInvalidFormat, &RequestDownload::FullLengthCheck);
    AddCheck("MemoryAddressCheck", Nrc::requestOutOfRange, &RequestDownload::MemoryAddressCheck);
    AddCheck("MemorySizeCheck", Nrc::requestOutOfRange, &RequestDownload::MemorySizeCheck);
    AddCheck("MemorySizeRangeCheck", Nrc::requestOutOfRange, &RequestDownload::MemorySizeRangeCheck);
    AddCheck("SecurityCheck", Nrc::securityAccessDenied, &RequestDownload::SecurityCheck);
    AddCheck("ConditionCheck", Nrc::conditionsNotCorrect, &RequestDownload::ConditionCheck);
}

std::vector<uint8_t> RequestDownload::Process(const UDS::Message& message) {
    LogInfo() << "RequestDownload: Process started!" << VLMR_FILE_LINE;
    LogCurrentStatus();
    const Request request(message);
    std::vector<uint8_t> response;
    // Held until the new transfer is set up: an abort of the previous one
    // still joining its worker or resetting the programming ends first, and
    // the checks see what it left.
    SessionData::TransferLock transfer;
    if (m_sessionData) {
        transfer = m_sessionData->WaitForTurn("RequestDownload", m_conversation);
        if (!transfer.owns_lock()) {
            return MakeNegativeResponse(
                transfer.Overtaken() ? "ConditionsNotCorrect: the session ended while the request waited"
                                     : "ConditionsNotCorrect: the abort of the previous download did not end in time",
                UDS::Nrc::conditionsNotCorrect);
        }
    }
    if (!RunChecks(request, response)) {
        return response;
    }
    const Parameters parameters = ParseMemoryParameters(request);
    LogInfo() << "RequestDownload:: Started the download!" << VLMR_FILE_LINE;
    if (m_sessionData->GetMemoryFailureFlag()) {
        return MakeNegativeResponse("Check Memory has failed! Please do a hard reset",
                                    UDS::Nrc::uploadDownloadNotAccepted);
    }
    const std::shared_ptr<KivConfiguration>& configuration = m_sessionData->GetConfiguration();
    const bool dpt = IsDpt(parameters.blockId);
    LogicalBlocks blocks;
    if (!dpt && !CheckLogicalBlock(parameters.blockId, blocks, response)) {
        return response;
    }
    // Accepted, so no download is open: what is reset here is only what an
    // ended one left behind. A refused request leaves the open transfer as
    // it was, which is why this is not done before the checks.
    m_sessionData->ResetTransferProgress();
    m_sessionData->AbortLocalTransfer();
    m_sessionData->SetSignatureResult(0);
    if (dpt) {
        if (m_selfRepair && !m_selfRepair->UCMSessionHangingCheck() && m_cleanupErrorDtc) {
            (void)m_cleanupErrorDtc->SetDTCState(DTC_FAILED, 1U);
            LogInfo() << "RequestDownload:: UCM Session self repair failed : Raise Cleanup Error : DTC CLEANUP ERROR "
                         "FAILED"
                      << VLMR_FILE_LINE;
        }
        StartDptTransfer();
        if (const AutonomousCheckSlot check = std::atomic_load(&m_autonomousCheck)) {
            LogInfo() << "RequestDownload:: Check to Cancel AutonomousCheck" << VLMR_FILE_LINE;
            check->CancelAC();
        }
    } else if (!StartLogicalBlockTransfer(parameters, blocks, response)) {
        return response;
    }
    PrepareDownload(parameters, request.GetAddressAndLengthFormatIdentifier());
    LogInfo() << "RequestDownload:: processed!" << VLMR_FILE_LINE;
    return UDS::RequestDownloadResponse(static_cast<uint64_t>(std::max<int32_t>(configuration->transfer_size, 0)))
        .GetFrame();
}

bool RequestDownload::IsDpt(uint32_t blockId) const {
    return static_cast<int64_t>(blockId) == m_sessionData->GetConfiguration()->logicalBlockId_dpt;
}

// ---- checks ---------------------------------------------------------------

CheckResult RequestDownload::SessionUCMCheck(const Request&, std::vector<uint8_t>&) {
    if (!m_sessionData || !m_ucmAdaptor || !m_storage || !m_sessionData->GetConfiguration()) {
        return CheckResult::Refuse("ConditionsNotCorrect: session or ucm nullptr!");
    }
    const SWupdateState state = m_sessionData->GetSWupdateState();
    if (state != SWupdateState::IDLE && state != SWupdateState::TRANSFER_IN_PROGRESS) {
        return CheckResult::Refuse("ConditionsNotCorrect: SWupdateStatus wrong : " + toString(state));
    }
    if (!DiagStatusChangesHandled()) {
        return CheckResult::Refuse("ConditionsNotCorrect: the end of the previous diagnostic session is still handled");
    }
    if (m_sessionData->Rid029ARunning.load()) {
        return CheckResult::Refuse("ConditionsNotCorrect:: CalcModuleHash_029A is running ");
    }
    // A forwarded integrity request reads the blocks a download would replace.
    if (m_sessionData->Rid0253Running.load()) {
        return CheckResult::Refuse("ConditionsNotCorrect: CalcIntegrityValidationData_0253 is running");
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::MinLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t size = request.GetFrame().size();
    if (size < Request::kMinimumLength) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: the length of the request message is invalid or the client "
            "exceeded the maximum number of dataIdentifiers allowed to be requested at a time!! request size is " +
            std::to_string(size));
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::DataFormatIdentifierCheck(const Request& request, std::vector<uint8_t>&) {
    if (request.GetDataFormatIdentifier() != 0x00) {
        return CheckResult::Refuse("RequestOutOfRange: compressionMethod or encryptingMethod not supported !");
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::AddressAndLengthFormatCheck(const Request& request, std::vector<uint8_t>&) {
    if (request.GetAddressAndLengthFormatIdentifier() == 0x00) {
        return CheckResult::Refuse("RequestOutOfRange: AddressAndLengthFormatCheck not valid");
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::FullLengthCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t size = request.GetFrame().size();
    if (size != kFormatOffset + AddressLength(request) + SizeLength(request)) {
        return CheckResult::Refuse(
            "IncorrectMessageLengthOrInvalidFormat: Wrong request size! request message length is " +
            std::to_string(size));
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::MemoryAddressCheck(const Request& request, std::vector<uint8_t>&) {
    const int32_t configured = m_sessionData->GetConfiguration()->length_of_logicalBlockId;
    const size_t given = AddressLength(request);
    if (configured < 0 || given != static_cast<size_t>(configured)) {
        return CheckResult::Refuse("RequestOutOfRange: numMemoryAddressBytes != " + std::to_string(configured) +
                                   " is not handled! memory address size is " + std::to_string(given));
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::MemorySizeCheck(const Request& request, std::vector<uint8_t>&) {
    const size_t given = SizeLength(request);
    if (given != kMemorySizeBytes) {
        return CheckResult::Refuse("RequestOutOfRange: numMemorySizeBytes != 4 is not handled! memory size is " +
                                   std::to_string(given));
    }
    return CheckResult::Pass();
}

// A block of no bytes has nothing to download, and the dpt record is kept in
// memory here: no announced size may exceed the longest record there can be.
CheckResult RequestDownload::MemorySizeRangeCheck(const Request& request, std::vector<uint8_t>&) {
    const Parameters parameters = ParseMemoryParameters(request);
    if (parameters.memorySize == 0) {
        return CheckResult::Refuse("RequestOutOfRange: memorySize 0 of block " + std::to_string(parameters.blockId));
    }
    if (IsDpt(parameters.blockId) && parameters.memorySize > RFS::kMaxRecordSize) {
        return CheckResult::Refuse("RequestOutOfRange: memorySize " + std::to_string(parameters.memorySize) +
                                   " of the dpt exceeds the longest record of " + std::to_string(RFS::kMaxRecordSize) +
                                   " bytes");
    }
    return CheckResult::Pass(" memory size is " + std::to_string(parameters.memorySize));
}

CheckResult RequestDownload::SecurityCheck(const Request&, std::vector<uint8_t>&) {
    if (!m_conversation) {
        LogInfo() << "RequestDownload: Kiv DM Conversation NOT FOUND, cant read security access!!!" << VLMR_FILE_LINE;
        return CheckResult::Refuse("SecurityAccessDenied: no diagnostic conversation");
    }
    const auto& mapping = m_sessionData->GetConfiguration()->securityAccessMapping;
    if (mapping.empty()) {
        return CheckResult::Refuse("SecurityAccessDenied: no security level configured");
    }
    const int32_t level = mapping.begin()->first;
    LogInfo() << "RequestDownload: Security level " << level << VLMR_FILE_LINE;
    if (!m_conversation->checkSecurityLevel(level)) {
        return CheckResult::Refuse("ConditionsNotCorrect: wrong security access!");
    }
    return CheckResult::Pass();
}

CheckResult RequestDownload::ConditionCheck(const Request&, std::vector<uint8_t>&) {
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    if (status && status->GetSwUpdateFlag() == kSwUpdateAllowed) {
        LogInfo() << "SWupdateAllowedFlag is Allowed" << VLMR_FILE_LINE;
    } else {
        LogInfo() << "SWupdateAllowedFlag is NotAllowed" << VLMR_FILE_LINE;
    }
    // One download at a time: UCM keeps the open transfer until its
    // TransferExit, and a second one would count another attempt.
    if (!m_sessionData->IsRequestDownloadFinished() || !m_sessionData->GetFingerprintFlag()) {
        return CheckResult::Refuse(
            "ConditionsNotCorrect: Download or Upload session already active or SW Update NOT Allowed!");
    }
    return CheckResult::Pass();
}

// ---- the download ---------------------------------------------------------

RequestDownload::Parameters RequestDownload::ParseMemoryParameters(const Request& request) {
    const std::vector<uint8_t>& frame = request.GetFrame();
    const size_t addressLength = AddressLength(request);
    const auto addressBegin = frame.begin() + static_cast<std::ptrdiff_t>(kFormatOffset);
    const auto sizeBegin = addressBegin + static_cast<std::ptrdiff_t>(addressLength);
    Parameters parameters;
    parameters.address.assign(addressBegin, sizeBegin);
    parameters.blockId = static_cast<uint32_t>(FromBigEndian(parameters.address));
    parameters.memorySize = static_cast<uint32_t>(
        FromBigEndian(std::vector<uint8_t>(sizeBegin, sizeBegin + static_cast<std::ptrdiff_t>(kMemorySizeBytes))));
    return parameters;
}

void RequestDownload::StartDptTransfer() {
    LogInfo() << "-> RequestDownload: Started the transfer of the dpt!" << VLMR_FILE_LINE;
    const std::shared_ptr<RFS> rfs = m_sessionData->GetRFS();
    rfs->SetTransferActive(true);
    rfs->ClearData();
    LogisticFileHandler(m_sessionData->GetConfiguration(), m_storage, m_sessionData).PrintActiveLogistics();
}

bool RequestDownload::StartLogicalBlockTransfer(const Parameters& parameters, LogicalBlocks& blocks,
                                                std::vector<uint8_t>& response) {
    IncrementProgrammingAttemptsCounter(parameters.blockId, blocks);
    if (m_sessionData->GetUcmSessionId() == SessionData::kNoUcmSession && !ProcessFirstDataBlock(response)) {
        return false;
    }
    LogInfo() << "RequestDownload memorySize: " << parameters.memorySize << VLMR_FILE_LINE;
    if (!m_ucmAdaptor->TransferStart(m_sessionData->GetUcmSessionId(), parameters.memorySize)) {
        response = MakeNegativeResponse("-> RequestDownload: TransferStart failed!", UDS::Nrc::conditionsNotCorrect);
        return false;
    }
    return true;
}

bool RequestDownload::CheckLogicalBlock(uint32_t blockId, LogicalBlocks& blocks, std::vector<uint8_t>& response) {
    LogInfo() << "Started the transfer of datablock with id: " << blockId << VLMR_FILE_LINE;
    const RFS::VersionTable table = m_sessionData->GetRFS()->GetDowngradeTable();
    if (table.find(static_cast<uint16_t>(blockId)) == table.end()) {
        response = MakeNegativeResponse("-> RequestDownload: Logical block not announced / not listed in RFS table!",
                                        UDS::Nrc::uploadDownloadNotAccepted);
        return false;
    }
    LogInfo() << "RequestDownload: Logical block is announced / listed in RFS table!" << VLMR_FILE_LINE;

    if (blockId > kStoredIdMask) {
        LogWarn() << "RequestDownload: block id " << blockId << " is stored as " << (blockId & kStoredIdMask)
                  << VLMR_FILE_LINE;
    }
    const uint8_t storedId = StoredId(blockId);
    // An unreadable list is not an empty one: writing back only this block
    // would lose every other block's counters.
    if (m_storage->HasUpdatedLogicalBlocks() && !m_storage->ReadUpdatedLogicalBlocks(blocks)) {
        response = MakeNegativeResponse("ConditionsNotCorrect: the stored logical blocks cannot be read",
                                        UDS::Nrc::conditionsNotCorrect);
        return false;
    }
    const auto entry = std::find_if(blocks.begin(), blocks.end(),
                                    [storedId](const LogicalBlock& block) { return block.m_id == storedId; });
    if (entry == blocks.end()) {
        LogInfo() << "CheckProgrammingattemptsCounterWithLockvalue ignored for new blocks" << VLMR_FILE_LINE;
    } else if (entry->m_lockValue != 0 && entry->m_programmingAttempts >= entry->m_lockValue) {
        LogError() << "programming counter reaches the lock value: " << entry->m_lockValue << VLMR_FILE_LINE;
        response = MakeNegativeResponse("CheckProgrammingattemptsCounterWithLockvalue failed",
                                        UDS::Nrc::uploadDownloadNotAccepted);
        return false;
    } else {
        LogInfo() << "programming counter value: " << entry->m_programmingAttempts << VLMR_FILE_LINE;
    }
    return true;
}

void RequestDownload::IncrementProgrammingAttemptsCounter(uint32_t blockId, LogicalBlocks& blocks) {
    const uint8_t storedId = StoredId(blockId);
    const auto entry = std::find_if(blocks.begin(), blocks.end(),
                                    [storedId](const LogicalBlock& block) { return block.m_id == storedId; });
    if (entry == blocks.end()) {
        LogicalBlock added;
        added.m_id = storedId;
        added.m_programmingAttempts = 1;
        blocks.push_back(added);
        LogInfo() << "New block added with programming counter: " << 1 << VLMR_FILE_LINE;
    } else if (entry->m_programmingAttempts == kMaxProgrammingAttempts) {
        LogInfo() << "programming attempts counter already reached maximum value and programming is allowed"
                  << VLMR_FILE_LINE;
    } else {
        ++entry->m_programmingAttempts;
        LogInfo() << "Incremented the programming counter to: " << entry->m_programmingAttempts << VLMR_FILE_LINE;
    }
    if (!m_storage->WriteUpdatedLogicalBlocks(blocks)) {
        LogWarn() << "RequestDownload: the programming counter could not be written" << VLMR_FILE_LINE;
    }
}

bool RequestDownload::ProcessFirstDataBlock(std::vector<uint8_t>& response) {
    const std::string cancelCluster = m_sessionData->GetIvdCancelCluster();
    if (cancelCluster.empty()) {
        LogInfo() << "+++++ RequestDownload: Process first data block; No Cancel IVD ongoing" << VLMR_FILE_LINE;
    } else {
        LogError() << "-XXX- RequestDownload: Process first data block; Cancel IVD ongoing: " << cancelCluster
                   << VLMR_FILE_LINE;
    }
    const std::string requestCluster = m_sessionData->GetIvdRequestCluster();
    if (requestCluster.empty()) {
        LogInfo() << "+++++ RequestDownload: Process first data block; No IVD request ongoing" << VLMR_FILE_LINE;
    } else {
        LogError() << "-XXX- RequestDownload: Process first data block; Request IVD ongoing: " << requestCluster
                   << VLMR_FILE_LINE;
    }
    const uint32_t waited = WaitForIvdRequestsToEnd(*m_sessionData, m_settings.ivdWait);
    LogInfo() << "+++++ RequestDownload: Process first data block; Check UCM IVD Requests and Cancels sec= " << waited
              << VLMR_FILE_LINE;

    UCM::StartOutput started{};
    if (!m_ucmAdaptor->Start(started)) {
        response = MakeNegativeResponse("-> RequestDownload: TransferStart failed!", UDS::Nrc::conditionsNotCorrect);
        return false;
    }
    const uint32_t id = started.id;
    m_sessionData->SetUcmSessionId(id);
    const std::shared_ptr<SWupdateStatus> status = m_sessionData->GetSWupdateStatus();
    const SWupdateState previous = status ? status->GetStatus() : SWupdateState::INVALID;
    std::string failure;
    if (!m_storage->WriteUcmSessionId(id)) {
        failure = "-> RequestDownload: Writing UcmSessionId to persistence failed!";
    } else if (!status || !status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS)) {
        failure = "-> RequestDownload: Updating SW status failed!";
    } else if (!m_storage->SyncToStorage()) {
        // Without the id on the medium a restart would take UCM's open
        // session for an update of ours and finish it.
        failure = "-> RequestDownload: Syncing UcmSessionId to persistence failed!";
    }
    if (!failure.empty()) {
        // No session may stay open at UCM that nothing on this side knows of.
        LogError() << "RequestDownload: closing UCM session " << id << VLMR_FILE_LINE;
        if (!m_ucmAdaptor->DOClose(id, true)) {
            LogError() << "RequestDownload: UCM session " << id << " could not be closed" << VLMR_FILE_LINE;
        }
        (void)m_storage->RemoveUcmSessionId();
        m_sessionData->SetUcmSessionId(SessionData::kNoUcmSession);
        // A transfer state without a session would send the end of the
        // session to UCM with no id to close.
        if (status && status->GetStatus() != previous) {
            (void)UpdateSwStatus(status, previous, "RequestDownload");
        }
        (void)m_storage->SyncToStorage();
        response = MakeNegativeResponse(failure, UDS::Nrc::conditionsNotCorrect);
        return false;
    }
    m_sessionData->Rid029AResultsReady.store(false);
    return true;
}

void RequestDownload::PrepareDownload(const Parameters& parameters, uint8_t format) {
    m_sessionData->m_transferDataFailed.store(false);
    m_sessionData->SetFlashingThread(
        std::make_shared<FlashingThread>(m_sessionData, m_ucmAdaptor, m_settings.flashing));
    m_sessionData->StartBlockTransfer(parameters.memorySize, parameters.address, format);
    m_sessionData->SetRequestDownloadFinished(false);
    m_sessionData->SetLastBlockSequenceCounter(0);
    m_sessionData->SetFirstDataTransfered(false);
}

std::vector<uint8_t> RequestDownload::MakeNegativeResponse(const std::string& reason, UDS::Nrc nrc) const {
    LogError() << reason << VLMR_FILE_LINE;
    return MakeNegativeFrame(Sid(), nrc);
}
