#include "uds/WriteDataByIdentifier.h"

#include "uds/ServiceNames.h"

#include <cstring>

namespace UDS {

namespace {
constexpr uint8_t kRequestSid = 0x2E;
constexpr uint8_t kResponseSid = 0x6E;
constexpr size_t kResponseSize = 3;
}  // namespace

WriteDataByIdentifierRequest::WriteDataByIdentifierRequest(uint16_t identifier, const std::vector<uint8_t>& record) {
    SetFrame(std::vector<uint8_t>(3 + record.size(), 0));
    SetSid(kRequestSid);
    WriteUint16At(1, identifier);
    if (!record.empty()) {
        std::memcpy(GetData() + 3, record.data(), record.size());
    }
}

uint16_t WriteDataByIdentifierRequest::GetDataIdentifier() const {
    RequireSize(kIdentifierLength);
    return ReadUint16At(1);
}

std::vector<uint8_t> WriteDataByIdentifierRequest::GetDataRecord() const {
    RequireSize(kMinimumLength);
    return BytesFrom(3);
}

std::string WriteDataByIdentifierRequest::toString() const {
    return Message::toString() + "; DataIdentifier=" + std::to_string(GetDataIdentifier());
}

WriteDataByIdentifierResponse::WriteDataByIdentifierResponse(uint16_t identifier) {
    SetFrame(std::vector<uint8_t>(kResponseSize, 0));
    SetSid(kResponseSid);
    WriteUint16At(1, identifier);
}

uint16_t WriteDataByIdentifierResponse::GetDataIdentifier() const {
    if (GetFrame().size() != kResponseSize) {
        throw FrameSizeMismatchException();
    }
    return ReadUint16At(1);
}

std::string WriteDataByIdentifierResponse::toString() const {
    return Message::toString() + "; DataIdentifier=" + std::to_string(GetDataIdentifier());
}

std::ostream& operator<<(std::ostream& stream, const WriteDataByIdentifierRequest& message) {
    return stream << message.toString();
}

std::ostream& operator<<(std::ostream& stream, const WriteDataByIdentifierResponse& message) {
    return stream << message.toString();
}

}  // namespace UDS
