#include "uds/EcuReset.h"

#include "uds/ServiceNames.h"

namespace UDS {

namespace {
constexpr uint8_t kRequestSid = 0x11;
constexpr uint8_t kResponseSid = 0x51;
constexpr uint8_t kSubFunctionMask = 0x7F;
}  // namespace

EcuResetRequest::EcuResetRequest(uint8_t resetType) {
    SetFrame(std::vector<uint8_t>(2, 0));
    SetSid(kRequestSid);
    SetByte(1, resetType);
}

uint8_t EcuResetRequest::GetResetType() const { return static_cast<uint8_t>(GetByte(1) & kSubFunctionMask); }

std::string EcuResetRequest::toString() const {
    return Message::toString() + "; Subfunction=" + EcuResetTypeToString(GetResetType());
}

EcuResetResponse::EcuResetResponse(uint8_t resetType) {
    SetFrame(std::vector<uint8_t>(2, 0));
    SetSid(kResponseSid);
    SetByte(1, resetType);
}

EcuResetResponse::EcuResetResponse(uint8_t resetType, uint8_t powerDownTime) {
    SetFrame(std::vector<uint8_t>(3, 0));
    SetSid(kResponseSid);
    SetByte(1, resetType);
    SetByte(2, powerDownTime);
}

uint8_t EcuResetResponse::GetResetType() const { return GetByte(1); }

bool EcuResetResponse::HasPowerDownTime() const { return GetFrame().size() > 2; }

uint8_t EcuResetResponse::GetPowerDownTime() const { return GetByte(2); }

std::string EcuResetResponse::toString() const {
    return Message::toString() + "; Subfunction=" + EcuResetTypeToString(GetResetType());
}

std::ostream& operator<<(std::ostream& stream, const EcuResetRequest& message) { return stream << message.toString(); }

std::ostream& operator<<(std::ostream& stream, const EcuResetResponse& message) { return stream << message.toString(); }

}  // namespace UDS
