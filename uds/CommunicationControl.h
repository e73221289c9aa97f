// CommunicationControl (0x28) request and response.
#ifndef UDS_COMMUNICATIONCONTROL_H
#define UDS_COMMUNICATIONCONTROL_H

#include "uds/Message.h"

namespace UDS {

class CommunicationControlRequest : public Message {
public:
    // SID, sub-function and communication type.
    static constexpr size_t kMinimumLength = 3;

    // Control types 4 and 5 (with or without the suppress-positive-response bit)
    // need the two-byte node identification number and throw
    // InvalidArgumentException without it.
    CommunicationControlRequest(uint8_t controlType, uint8_t communicationType);
    // The node identification number is used only by control types 4 and 5, which need exactly two bytes.
    CommunicationControlRequest(uint8_t controlType, uint8_t communicationType,
                                const std::vector<uint8_t>& nodeIdentificationNumber);
    explicit CommunicationControlRequest(const Message& message) : Message(message) {}
    explicit CommunicationControlRequest(Message&& message) : Message(std::move(message)) {}

    // Control type without the suppress-positive-response bit.
    uint8_t GetSubFunction() const;
    uint8_t GetCommunicationType() const;
    // Every byte from offset 3; empty when the frame has none.
    std::vector<uint8_t> GetNodeIdentificationNumber() const;
    std::string toString() const override;

private:
    void Build(uint8_t controlType, uint8_t communicationType, const std::vector<uint8_t>* nodeIdentificationNumber);
};

class CommunicationControlResponse : public Message {
public:
    explicit CommunicationControlResponse(uint8_t controlType);
    explicit CommunicationControlResponse(const Message& message) : Message(message) {}
    explicit CommunicationControlResponse(Message&& message) : Message(std::move(message)) {}

    uint8_t GetSubFunction() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const CommunicationControlRequest& message);
std::ostream& operator<<(std::ostream& stream, const CommunicationControlResponse& message);

}  // namespace UDS

#endif
