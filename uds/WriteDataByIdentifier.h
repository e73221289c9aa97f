// WriteDataByIdentifier (0x2E) request and response.
#ifndef UDS_WRITEDATABYIDENTIFIER_H
#define UDS_WRITEDATABYIDENTIFIER_H

#include "uds/Message.h"

namespace UDS {

class WriteDataByIdentifierRequest : public Message {
public:
    // SID, identifier and at least one data byte: the shortest frame whose
    // data record can be read.
    static constexpr size_t kMinimumLength = 4;
    // The identifier alone needs SID and two bytes.
    static constexpr size_t kIdentifierLength = 3;

    WriteDataByIdentifierRequest(uint16_t identifier, const std::vector<uint8_t>& record);
    explicit WriteDataByIdentifierRequest(const Message& message) : Message(message) {}
    explicit WriteDataByIdentifierRequest(Message&& message) : Message(std::move(message)) {}

    uint16_t GetDataIdentifier() const;
    // Throws for a request without data record.
    std::vector<uint8_t> GetDataRecord() const;
    std::string toString() const override;
};

class WriteDataByIdentifierResponse : public Message {
public:
    explicit WriteDataByIdentifierResponse(uint16_t identifier);
    explicit WriteDataByIdentifierResponse(const Message& message) : Message(message) {}
    explicit WriteDataByIdentifierResponse(Message&& message) : Message(std::move(message)) {}

    // The response is exactly 3 bytes long; any other length throws.
    uint16_t GetDataIdentifier() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const WriteDataByIdentifierRequest& message);
std::ostream& operator<<(std::ostream& stream, const WriteDataByIdentifierResponse& message);

}  // namespace UDS

#endif
