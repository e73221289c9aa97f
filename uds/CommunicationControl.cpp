#include "uds/CommunicationControl.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "uds/ServiceNames.h"

namespace UDS {

namespace {
constexpr uint8_t kRequestSid = 0x28;
constexpr uint8_t kResponseSid = 0x68;
constexpr uint8_t kSubFunctionMask = 0x7F;
constexpr size_t kNodeIdentificationNumberSize = 2;

// The suppress-positive-response bit changes nothing in the frame's layout.
bool NeedsNodeIdentificationNumber(uint8_t controlType) {
    const uint8_t type = static_cast<uint8_t>(controlType & kSubFunctionMask);
    return type == 4 || type == 5;
}
}  // namespace

CommunicationControlRequest::CommunicationControlRequest(uint8_t controlType, uint8_t communicationType) {
    Build(controlType, communicationType, nullptr);
}

CommunicationControlRequest::CommunicationControlRequest(uint8_t controlType, uint8_t communicationType,
                                                         const std::vector<uint8_t>& nodeIdentificationNumber) {
    Build(controlType, communicationType, &nodeIdentificationNumber);
}

void CommunicationControlRequest::Build(uint8_t controlType, uint8_t communicationType,
                                        const std::vector<uint8_t>* nodeIdentificationNumber) {
    const bool withNode = NeedsNodeIdentificationNumber(controlType);
    if (withNode &&
        (nodeIdentificationNumber == nullptr || nodeIdentificationNumber->size() != kNodeIdentificationNumberSize)) {
        throw InvalidArgumentException(
            "The size of nodeIdentificationNumber is not as expected. Expect is a count of 2");
    }
    SetFrame(std::vector<uint8_t>(withNode ? 5 : 3, 0));
    SetSid(kRequestSid);
    SetByte(1, controlType);
    SetByte(2, communicationType);
    if (withNode) {
        SetByte(3, (*nodeIdentificationNumber)[0]);
        SetByte(4, (*nodeIdentificationNumber)[1]);
    }
}

uint8_t CommunicationControlRequest::GetSubFunction() const {
    return static_cast<uint8_t>(GetByte(1) & kSubFunctionMask);
}

uint8_t CommunicationControlRequest::GetCommunicationType() const {
    RequireSize(kMinimumLength);
    return GetByte(2);
}

std::vector<uint8_t> CommunicationControlRequest::GetNodeIdentificationNumber() const {
    if (GetFrame().size() <= kMinimumLength) {
        return {};
    }
    return BytesFrom(3);
}

std::string CommunicationControlRequest::toString() const {
    return Message::toString() + "; Subfunction=" + CommunicationControlTypeToString(GetSubFunction()) +
           "; CommunicationType=" + std::to_string(GetCommunicationType()) +
           "; NodeIdentificationNumber=" + BytesToPrefixedHexString(GetNodeIdentificationNumber());
}

CommunicationControlResponse::CommunicationControlResponse(uint8_t controlType) {
    SetFrame(std::vector<uint8_t>(2, 0));
    SetSid(kResponseSid);
    SetByte(1, controlType);
}

uint8_t CommunicationControlResponse::GetSubFunction() const { return GetByte(1); }

std::string CommunicationControlResponse::toString() const {
    return Message::toString() + "; Subfunction=" + CommunicationControlTypeToString(GetSubFunction());
}

std::ostream& operator<<(std::ostream& stream, const CommunicationControlRequest& message) {
    return stream << message.toString();
}

std::ostream& operator<<(std::ostream& stream, const CommunicationControlResponse& message) {
    return stream << message.toString();
}

}  // namespace UDS
