// RequestTransferExit (0x37) request and response.
#ifndef UDS_REQUESTTRANSFEREXIT_H
#define UDS_REQUESTTRANSFEREXIT_H

#include "uds/Message.h"

namespace UDS {

class RequestTransferExitRequest : public Message {
public:
    // The SID alone; this system takes no transferRequestParameterRecord.
    static constexpr size_t kMinimumLength = 1;

    RequestTransferExitRequest();
    explicit RequestTransferExitRequest(const std::vector<uint8_t>& record);
    explicit RequestTransferExitRequest(const Message& message) : Message(message) {}
    explicit RequestTransferExitRequest(Message&& message) : Message(std::move(message)) {}

    bool HasTransferRequestParameterRecord() const;
    std::vector<uint8_t> GetTransferRequestParameterRecord() const;
    std::string toString() const override;
};

class RequestTransferExitResponse : public Message {
public:
    RequestTransferExitResponse();
    explicit RequestTransferExitResponse(const std::vector<uint8_t>& record);
    explicit RequestTransferExitResponse(const Message& message) : Message(message) {}
    explicit RequestTransferExitResponse(Message&& message) : Message(std::move(message)) {}

    bool HasTransferResponseParameterRecord() const;
    std::vector<uint8_t> GetTransferResponseParameterRecord() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const RequestTransferExitRequest& message);
std::ostream& operator<<(std::ostream& stream, const RequestTransferExitResponse& message);

}  // namespace UDS

#endif
