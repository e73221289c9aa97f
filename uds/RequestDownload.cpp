#include "uds/RequestDownload.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "uds/ServiceNames.h"

namespace UDS {

namespace {
constexpr uint8_t kResponseSid = 0x74;
constexpr size_t kMaxFieldLength = sizeof(uint64_t);

// A length-format field of `length` bytes at `offset`. The frame must hold every announced byte,
// and a field wider than the result cannot be represented: both throw rather than guess.
uint64_t ReadLengthFormatField(const std::vector<uint8_t>& frame, size_t offset, size_t length) {
    if (length > kMaxFieldLength || frame.size() < offset + length) {
        throw FrameSizeMismatchException();
    }
    const auto begin = frame.begin() + static_cast<std::ptrdiff_t>(offset);
    return FromBigEndian(std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(length)));
}

uint8_t FieldWidth(uint64_t value) {
    if (value <= 0xFFFF) {
        return value <= 0xFF ? 1 : 2;
    }
    return value <= 0xFFFFFFFF ? 4 : 8;
}
}  // namespace

uint8_t RequestDownloadRequest::GetDataFormatIdentifier() const { return GetByte(1); }

uint8_t RequestDownloadRequest::GetAddressAndLengthFormatIdentifier() const { return GetByte(2); }

std::pair<uint64_t, uint64_t> RequestDownloadRequest::GetMemoryAddressAndSize() const {
    RequireSize(4);
    const uint8_t format = GetAddressAndLengthFormatIdentifier();
    const size_t addressLength = LowNibble(format);
    const size_t sizeLength = HighNibble(format);
    const uint64_t address = ReadLengthFormatField(GetFrame(), 3, addressLength);
    const uint64_t size = ReadLengthFormatField(GetFrame(), 3 + addressLength, sizeLength);
    return {address, size};
}

std::string RequestDownloadRequest::toString() const {
    return Message::toString() + "; DataFormatIdentifier=0x" + ByteToHexString(GetDataFormatIdentifier()) +
           "; AddressAndLengthFormatIdentifier=0x" + ByteToHexString(GetAddressAndLengthFormatIdentifier());
}

RequestDownloadResponse::RequestDownloadResponse(uint64_t maxNumberOfBlockLength) {
    const uint8_t width = FieldWidth(maxNumberOfBlockLength);
    SetFrame(std::vector<uint8_t>(2 + static_cast<size_t>(width), 0));
    SetSid(kResponseSid);
    SetByte(1, static_cast<uint8_t>(width << 4));
    for (uint8_t i = 0; i < width; ++i) {
        const unsigned shift = 8U * static_cast<unsigned>(width - 1 - i);
        SetByte(2U + i, static_cast<uint8_t>(maxNumberOfBlockLength >> shift));
    }
}

uint8_t RequestDownloadResponse::GetLengthFormatIdentifier() const { return GetByte(1); }

uint64_t RequestDownloadResponse::GetMaxNumberOfBlockLength() const {
    RequireSize(3);
    return ReadLengthFormatField(GetFrame(), 2, HighNibble(GetLengthFormatIdentifier()));
}

std::string RequestDownloadResponse::toString() const {
    return Message::toString() + "; LengthFormatIdentifier=0x" + ByteToHexString(GetLengthFormatIdentifier()) +
           "; MaxNumberOfBlockLength=" + std::to_string(GetMaxNumberOfBlockLength());
}

std::ostream& operator<<(std::ostream& stream, const RequestDownloadRequest& message) {
    return stream << message.toString();
}

std::ostream& operator<<(std::ostream& stream, const RequestDownloadResponse& message) {
    return stream << message.toString();
}

}  // namespace UDS
