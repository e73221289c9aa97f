#include "uds/RequestTransferExit.h"

#include "uds/ServiceNames.h"

#include <cstring>

namespace UDS {

namespace {
constexpr uint8_t kRequestSid = 0x37;
constexpr uint8_t kResponseSid = 0x77;
constexpr size_t kRecordOffset = 1;

// [sid, record...]
std::vector<uint8_t> BuildFrame(uint8_t sid, const std::vector<uint8_t>* record) {
    const size_t recordSize = record == nullptr ? 0 : record->size();
    std::vector<uint8_t> frame(kRecordOffset + recordSize, 0);
    frame[0] = sid;
    if (recordSize != 0) {
        std::memcpy(frame.data() + kRecordOffset, record->data(), recordSize);
    }
    return frame;
}
}  // namespace

RequestTransferExitRequest::RequestTransferExitRequest() : Message(BuildFrame(kRequestSid, nullptr)) {}

RequestTransferExitRequest::RequestTransferExitRequest(const std::vector<uint8_t>& record)
    : Message(BuildFrame(kRequestSid, &record)) {}

bool RequestTransferExitRequest::HasTransferRequestParameterRecord() const { return GetFrame().size() > kRecordOffset; }

std::vector<uint8_t> RequestTransferExitRequest::GetTransferRequestParameterRecord() const {
    RequireSize(kRecordOffset + 1);
    return BytesFrom(kRecordOffset);
}

std::string RequestTransferExitRequest::toString() const { return Message::toString(); }

RequestTransferExitResponse::RequestTransferExitResponse() : Message(BuildFrame(kResponseSid, nullptr)) {}

RequestTransferExitResponse::RequestTransferExitResponse(const std::vector<uint8_t>& record)
    : Message(BuildFrame(kResponseSid, &record)) {}

bool RequestTransferExitResponse::HasTransferResponseParameterRecord() const {
    return GetFrame().size() > kRecordOffset;
}

std::vector<uint8_t> RequestTransferExitResponse::GetTransferResponseParameterRecord() const {
    RequireSize(kRecordOffset + 1);
    return BytesFrom(kRecordOffset);
}

std::string RequestTransferExitResponse::toString() const { return Message::toString(); }

std::ostream& operator<<(std::ostream& stream, const RequestTransferExitRequest& message) {
    return stream << message.toString();
}

std::ostream& operator<<(std::ostream& stream, const RequestTransferExitResponse& message) {
    return stream << message.toString();
}

}  // namespace UDS
