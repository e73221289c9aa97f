// UDS RequestTransferExit (0x37): ends the open download once every announced
// byte arrived: the download's FlashingThread is taken out of the session,
// drained and joined, a stored UCM failure is answered, a logical block is
// closed with UCM TransferExit and the DPT transfer ends locally. Runs on the
// binding's method threads; no state of its own.
#ifndef KIVLIBRARY_FUNCTIONAL_REQUESTTRANSFEREXIT_H
#define KIVLIBRARY_FUNCTIONAL_REQUESTTRANSFEREXIT_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "KivLibrary/Functional/UdsServiceDependencies.h"
#include "uds/RequestTransferExit.h"

class RequestTransferExit : public CheckedService<UDS::RequestTransferExitRequest> {
public:
    static constexpr uint8_t kSid = 0x37;

    explicit RequestTransferExit(const UdsServiceDependencies& dependencies);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

private:
    using Request = UDS::RequestTransferExitRequest;
    CheckResult SessionUCMCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult RequestDownloadFinishedCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult GetDataCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult TotalLengthCheck(const Request& request, std::vector<uint8_t>& response);

    std::vector<uint8_t> ExitTransfer();
    bool IsDptTransfer() const;

    // Tells whether the session ended while the exit waited for the transfer lock.
    const std::shared_ptr<KivDMConversation> m_conversation;
};

#endif
