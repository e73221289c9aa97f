// EcuReset (0x11) request and response.
#ifndef UDS_ECURESET_H
#define UDS_ECURESET_H

#include "uds/Message.h"

namespace UDS {

class EcuResetRequest : public Message {
public:
    // SID and reset type, nothing more.
    static constexpr size_t kLength = 2;

    explicit EcuResetRequest(uint8_t resetType);
    explicit EcuResetRequest(const Message& message) : Message(message) {}
    explicit EcuResetRequest(Message&& message) : Message(std::move(message)) {}

    // Reset type without the suppress-positive-response bit.
    uint8_t GetResetType() const;
    std::string toString() const override;
};

class EcuResetResponse : public Message {
public:
    explicit EcuResetResponse(uint8_t resetType);
    EcuResetResponse(uint8_t resetType, uint8_t powerDownTime);
    explicit EcuResetResponse(const Message& message) : Message(message) {}
    explicit EcuResetResponse(Message&& message) : Message(std::move(message)) {}

    uint8_t GetResetType() const;
    bool HasPowerDownTime() const;
    uint8_t GetPowerDownTime() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const EcuResetRequest& message);
std::ostream& operator<<(std::ostream& stream, const EcuResetResponse& message);

}  // namespace UDS

#endif
