// TransferData (0x36) request and response.
#ifndef UDS_TRANSFERDATA_H
#define UDS_TRANSFERDATA_H

#include "uds/Message.h"

namespace UDS {

class TransferDataRequest : public Message {
public:
    // SID, blockSequenceCounter and at least one data byte.
    static constexpr size_t kMinimumLength = 3;

    explicit TransferDataRequest(uint8_t blockSequenceCounter);
    TransferDataRequest(uint8_t blockSequenceCounter, const std::vector<uint8_t>& record);
    explicit TransferDataRequest(const Message& message) : Message(message) {}
    explicit TransferDataRequest(Message&& message) : Message(std::move(message)) {}

    uint8_t GetBlockSequenceCounter() const;
    bool HasTransferRequestParameterRecord() const;
    // The block data; throws when the frame carries none.
    std::vector<uint8_t> GetTransferRequestParameterRecord() const;
    std::string toString() const override;
};

class TransferDataResponse : public Message {
public:
    explicit TransferDataResponse(uint8_t blockSequenceCounter);
    TransferDataResponse(uint8_t blockSequenceCounter, const std::vector<uint8_t>& record);
    explicit TransferDataResponse(const Message& message) : Message(message) {}
    explicit TransferDataResponse(Message&& message) : Message(std::move(message)) {}

    uint8_t GetBlockSequenceCounter() const;
    bool HasTransferResponseParameterRecord() const;
    std::vector<uint8_t> GetTransferResponseParameterRecord() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const TransferDataRequest& message);
std::ostream& operator<<(std::ostream& stream, const TransferDataResponse& message);

}  // namespace UDS

#endif
