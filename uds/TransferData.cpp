#include "uds/TransferData.h"

#include "uds/ServiceNames.h"

#include <cstring>

namespace UDS {

namespace {
constexpr uint8_t kRequestSid = 0x36;
constexpr uint8_t kResponseSid = 0x76;
constexpr size_t kRecordOffset = 2;

// [sid, counter, record...]
std::vector<uint8_t> BuildFrame(uint8_t sid, uint8_t counter, const std::vector<uint8_t>* record) {
    const size_t recordSize = record == nullptr ? 0 : record->size();
    std::vector<uint8_t> frame(kRecordOffset + recordSize, 0);
    frame[0] = sid;
    frame[1] = counter;
    if (recordSize != 0) {
        std::memcpy(frame.data() + kRecordOffset, record->data(), recordSize);
    }
    return frame;
}
}  // namespace

TransferDataRequest::TransferDataRequest(uint8_t blockSequenceCounter)
    : Message(BuildFrame(kRequestSid, blockSequenceCounter, nullptr)) {}

TransferDataRequest::TransferDataRequest(uint8_t blockSequenceCounter, const std::vector<uint8_t>& record)
    : Message(BuildFrame(kRequestSid, blockSequenceCounter, &record)) {}

uint8_t TransferDataRequest::GetBlockSequenceCounter() const { return GetByte(1); }

bool TransferDataRequest::HasTransferRequestParameterRecord() const { return GetFrame().size() > kRecordOffset; }

std::vector<uint8_t> TransferDataRequest::GetTransferRequestParameterRecord() const {
    RequireSize(kMinimumLength);
    return BytesFrom(kRecordOffset);
}

std::string TransferDataRequest::toString() const {
    return Message::toString() + "; BlockSequenceCounter=" + std::to_string(GetBlockSequenceCounter());
}

TransferDataResponse::TransferDataResponse(uint8_t blockSequenceCounter)
    : Message(BuildFrame(kResponseSid, blockSequenceCounter, nullptr)) {}

TransferDataResponse::TransferDataResponse(uint8_t blockSequenceCounter, const std::vector<uint8_t>& record)
    : Message(BuildFrame(kResponseSid, blockSequenceCounter, &record)) {}

uint8_t TransferDataResponse::GetBlockSequenceCounter() const { return GetByte(1); }

bool TransferDataResponse::HasTransferResponseParameterRecord() const { return GetFrame().size() > kRecordOffset; }

std::vector<uint8_t> TransferDataResponse::GetTransferResponseParameterRecord() const {
    RequireSize(kRecordOffset + 1);
    return BytesFrom(kRecordOffset);
}

std::string TransferDataResponse::toString() const {
    return Message::toString() + "; BlockSequenceCounter=" + std::to_string(GetBlockSequenceCounter());
}

std::ostream& operator<<(std::ostream& stream, const TransferDataRequest& message) {
    return stream << message.toString();
}

std::ostream& operator<<(std::ostream& stream, const TransferDataResponse& message) {
    return stream << message.toString();
}

}  // namespace UDS
