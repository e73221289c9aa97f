// UDS RequestDownload (0x34): opens the download of the DPT block (kept in
// the session's RFS record, no UCM call) or of a logical block (UCM Start on
// the first one, TransferStart on each) and gives it a fresh FlashingThread.
// One download at a time: while one is open (until RequestTransferExit or
// the end of the session) a request is refused and leaves it as it was.
// Runs on the binding's method threads; requests of one conversation arrive
// one after the other, and the handler keeps no state of its own between
// them.
#ifndef KIVLIBRARY_FUNCTIONAL_REQUESTDOWNLOAD_H
#define KIVLIBRARY_FUNCTIONAL_REQUESTDOWNLOAD_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "KivLibrary/Functional/UdsServiceDependencies.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"
#include "uds/RequestDownload.h"

class RequestDownload : public CheckedService<UDS::RequestDownloadRequest> {
public:
    static constexpr uint8_t kSid = 0x34;

    RequestDownload(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

private:
    using Request = UDS::RequestDownloadRequest;
    struct Parameters {
        std::vector<uint8_t> address;
        uint32_t blockId = 0;
        uint32_t memorySize = 0;
    };

    CheckResult SessionUCMCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult MinLengthCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult DataFormatIdentifierCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult AddressAndLengthFormatCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult FullLengthCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult MemoryAddressCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult MemorySizeCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult MemorySizeRangeCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult SecurityCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult ConditionCheck(const Request& request, std::vector<uint8_t>& response);

    static Parameters ParseMemoryParameters(const Request& request);
    bool IsDpt(uint32_t blockId) const;
    void StartDptTransfer();
    // Each false with the negative response in `response`.
    // Announced and not locked; `blocks` is the stored UPDATED list.
    bool CheckLogicalBlock(uint32_t blockId, LogicalBlocks& blocks, std::vector<uint8_t>& response);
    // Counts the attempt in `blocks` and stores them, then opens the transfer at UCM.
    bool StartLogicalBlockTransfer(const Parameters& parameters, LogicalBlocks& blocks, std::vector<uint8_t>& response);
    void IncrementProgrammingAttemptsCounter(uint32_t blockId, LogicalBlocks& blocks);
    bool ProcessFirstDataBlock(std::vector<uint8_t>& response);
    void PrepareDownload(const Parameters& parameters, uint8_t format);
    std::vector<uint8_t> MakeNegativeResponse(const std::string& reason, UDS::Nrc nrc) const;

    std::shared_ptr<KivDMConversation> m_conversation;
    std::shared_ptr<UCMSessionSelfRepairInterface> m_selfRepair;
    std::shared_ptr<DTCService> m_cleanupErrorDtc;
    AutonomousCheckSlot& m_autonomousCheck;
    const UdsServiceSettings m_settings;
};

#endif
