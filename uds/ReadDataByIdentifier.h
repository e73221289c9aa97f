// ReadDataByIdentifier (0x22) request and response.
#ifndef UDS_READDATABYIDENTIFIER_H
#define UDS_READDATABYIDENTIFIER_H

#include "uds/Message.h"

#include <map>

namespace UDS {

class ReadDataByIdentifierRequest : public Message {
public:
    // SID and one identifier; at most seven identifiers are read at a time.
    static constexpr size_t kMinimumLength = 3;
    static constexpr size_t kMaximumLength = 15;

    // At most 255 identifiers; more throw InvalidArgumentException.
    explicit ReadDataByIdentifierRequest(const std::vector<uint16_t>& identifiers);
    explicit ReadDataByIdentifierRequest(const Message& message) : Message(message) {}
    explicit ReadDataByIdentifierRequest(Message&& message) : Message(std::move(message)) {}

    // Whole pairs from offset 1; a trailing odd byte is ignored.
    std::vector<uint16_t> GetDataIdentifiers() const;
    std::string toString() const override;
};

class ReadDataByIdentifierResponse : public Message {
public:
    // Records in ascending identifier order, each identifier followed by its data.
    explicit ReadDataByIdentifierResponse(const std::map<uint16_t, std::vector<uint8_t>>& records);
    explicit ReadDataByIdentifierResponse(const Message& message) : Message(message) {}
    explicit ReadDataByIdentifierResponse(Message&& message) : Message(std::move(message)) {}

    // Identifiers and data after the SID as one sequence.
    std::vector<uint8_t> GetResponseData() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const ReadDataByIdentifierRequest& message);
std::ostream& operator<<(std::ostream& stream, const ReadDataByIdentifierResponse& message);

}  // namespace UDS

#endif
