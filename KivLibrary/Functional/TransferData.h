// UDS TransferData (0x36): one numbered piece of the open download is
// counted, taken off the announced size and handed to the download's
// FlashingThread; the answer comes as soon as it is buffered, and a UCM
// failure of an earlier piece is answered on a later request. Runs on the
// binding's method threads; requests of one conversation arrive one after
// the other. No state of its own.
#ifndef KIVLIBRARY_FUNCTIONAL_TRANSFERDATA_H
#define KIVLIBRARY_FUNCTIONAL_TRANSFERDATA_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "KivLibrary/Functional/UdsServiceDependencies.h"
#include "uds/TransferData.h"

class TransferData : public CheckedService<UDS::TransferDataRequest> {
public:
    static constexpr uint8_t kSid = 0x36;

    explicit TransferData(const UdsServiceDependencies& dependencies);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

private:
    using Request = UDS::TransferDataRequest;
    CheckResult IsSessionInterfaceAndUCMAvailable(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckIfPreviousTransferDataSuccess(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckSize(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckActiveDownload(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckRepeatedPiece(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckIfDataTransferComplete(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckIfDataSizeIsCorrect(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckBlockSequenceCounter(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckBlockSize(const Request& request, std::vector<uint8_t>& response);
    CheckResult ExecuteTransferData(const Request& request, std::vector<uint8_t>& response);

    // The piece repeats the last one accepted (a tester's retry).
    bool IsRepetition(uint8_t counter) const;
    static size_t DataLength(const Request& request);
};

#endif
