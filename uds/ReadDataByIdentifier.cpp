#include "uds/ReadDataByIdentifier.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "uds/ServiceNames.h"

#include <cstring>

namespace UDS {

namespace {
constexpr uint8_t kRequestSid = 0x22;
constexpr uint8_t kResponseSid = 0x62;
constexpr size_t kMaxIdentifiers = 255;
}  // namespace

ReadDataByIdentifierRequest::ReadDataByIdentifierRequest(const std::vector<uint16_t>& identifiers) {
    if (identifiers.size() > kMaxIdentifiers) {
        throw InvalidArgumentException("The count of data identifiers exceeds 255");
    }
    SetFrame(std::vector<uint8_t>(1 + 2 * identifiers.size(), 0));
    SetSid(kRequestSid);
    size_t offset = 1;
    for (uint16_t identifier : identifiers) {
        WriteUint16At(offset, identifier);
        offset += 2;
    }
}

std::vector<uint16_t> ReadDataByIdentifierRequest::GetDataIdentifiers() const {
    RequireSize(2);
    const size_t size = GetFrame().size();
    std::vector<uint16_t> identifiers;
    identifiers.reserve((size - 1) / 2);
    for (size_t i = 0; i + 2 < size; i += 2) {
        identifiers.push_back(ReadUint16At(1 + i));
    }
    return identifiers;
}

std::string ReadDataByIdentifierRequest::toString() const {
    std::string text = Message::toString() + "; DataIdentifiers=";
    const std::vector<uint16_t> identifiers = GetDataIdentifiers();
    for (size_t i = 0; i < identifiers.size(); ++i) {
        if (i != 0) {
            text += ", ";
        }
        text += std::to_string(identifiers[i]);
    }
    return text;
}

ReadDataByIdentifierResponse::ReadDataByIdentifierResponse(const std::map<uint16_t, std::vector<uint8_t>>& records) {
    size_t size = 1;
    for (const auto& record : records) {
        size += 2 + record.second.size();
    }
    SetFrame(std::vector<uint8_t>(size, 0));
    SetSid(kResponseSid);
    size_t offset = 1;
    for (const auto& record : records) {
        WriteUint16At(offset, record.first);
        offset += 2;
        if (!record.second.empty()) {
            std::memcpy(GetData() + offset, record.second.data(), record.second.size());
            offset += record.second.size();
        }
    }
}

std::vector<uint8_t> ReadDataByIdentifierResponse::GetResponseData() const {
    RequireSize(2);
    return BytesFrom(1);
}

std::string ReadDataByIdentifierResponse::toString() const {
    return Message::toString() + "; Data=" + BytesToPrefixedHexString(GetResponseData());
}

std::ostream& operator<<(std::ostream& stream, const ReadDataByIdentifierRequest& message) {
    return stream << message.toString();
}

std::ostream& operator<<(std::ostream& stream, const ReadDataByIdentifierResponse& message) {
    return stream << message.toString();
}

}  // namespace UDS
