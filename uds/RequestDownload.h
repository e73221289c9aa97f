// RequestDownload (0x34) request and response.
#ifndef UDS_REQUESTDOWNLOAD_H
#define UDS_REQUESTDOWNLOAD_H

#include "uds/Message.h"

#include <utility>

namespace UDS {

class RequestDownloadRequest : public Message {
public:
    // SID, the two format bytes, at least one address and one size byte.
    static constexpr size_t kMinimumLength = 5;

    explicit RequestDownloadRequest(const Message& message) : Message(message) {}
    explicit RequestDownloadRequest(Message&& message) : Message(std::move(message)) {}

    uint8_t GetDataFormatIdentifier() const;
    // High nibble: length of the memory size field; low nibble: length of the memory address field.
    uint8_t GetAddressAndLengthFormatIdentifier() const;
    // (address, size). Fields of 5 or 7 bytes read as 0. Throws FrameSizeMismatchException when the
    // frame lacks an announced byte or a field is wider than 8 bytes.
    std::pair<uint64_t, uint64_t> GetMemoryAddressAndSize() const;
    std::string toString() const override;
};

class RequestDownloadResponse : public Message {
public:
    // The value is written in the narrowest of 1, 2, 4 or 8 bytes.
    explicit RequestDownloadResponse(uint64_t maxNumberOfBlockLength);
    explicit RequestDownloadResponse(const Message& message) : Message(message) {}
    explicit RequestDownloadResponse(Message&& message) : Message(std::move(message)) {}

    uint8_t GetLengthFormatIdentifier() const;
    // Same field rules as the request's address and size.
    uint64_t GetMaxNumberOfBlockLength() const;
    std::string toString() const override;
};

std::ostream& operator<<(std::ostream& stream, const RequestDownloadRequest& message);
std::ostream& operator<<(std::ostream& stream, const RequestDownloadResponse& message);

}  // namespace UDS

#endif
