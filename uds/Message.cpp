#include "uds/Message.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "uds/ServiceNames.h"

#include <algorithm>

namespace UDS {

namespace {
constexpr uint8_t kNegativeResponseSid = 0x7F;
}  // namespace

Message::Message(std::vector<uint8_t>&& frame) : m_frame(std::move(frame)) {}

Message::Message(Message&& other) noexcept : m_frame(std::move(other.m_frame)) { other.m_frame.clear(); }

Message& Message::operator=(Message&& other) noexcept {
    if (this != &other) {
        m_frame = std::move(other.m_frame);
        other.m_frame.clear();
    }
    return *this;
}

uint8_t Message::GetSid() const {
    RequireSize(1);
    return m_frame[0];
}

void Message::SetSid(uint8_t sid) {
    RequireSize(1);
    m_frame[0] = sid;
}

uint8_t Message::GetByte(uint8_t index) const {
    RequireSize(static_cast<size_t>(index) + 1);
    return m_frame[index];
}

void Message::SetByte(uint32_t index, uint8_t value) {
    RequireSize(static_cast<size_t>(index) + 1);
    m_frame[index] = value;
}

bool Message::operator<(const Message& other) const {
    if (m_frame.size() != other.m_frame.size()) {
        return m_frame.size() < other.m_frame.size();
    }
    return std::lexicographical_compare(m_frame.begin(), m_frame.end(), other.m_frame.begin(), other.m_frame.end());
}

std::string Message::toString() const { return "SID=" + ServiceIdToString(GetSid()); }

void Message::RequireSize(size_t size) const {
    if (m_frame.size() < size) {
        throw FrameSizeMismatchException();
    }
}

std::vector<uint8_t> Message::BytesFrom(size_t offset) const {
    return std::vector<uint8_t>(m_frame.begin() + static_cast<std::ptrdiff_t>(offset), m_frame.end());
}

uint16_t Message::ReadUint16At(size_t offset) const { return BytesToUint16(m_frame[offset], m_frame[offset + 1]); }

void Message::WriteUint16At(size_t offset, uint16_t value) {
    uint8_t* data = GetData();
    data[offset] = static_cast<uint8_t>(value >> 8);
    data[offset + 1] = static_cast<uint8_t>(value);
}

std::ostream& operator<<(std::ostream& stream, const Message& message) { return stream << message.toString(); }

NegativeResponse::NegativeResponse(uint8_t requestSid, uint8_t nrc) : Message(std::vector<uint8_t>(3, 0)) {
    SetSid(kNegativeResponseSid);
    SetByte(1, requestSid);
    SetByte(2, nrc);
}

uint8_t NegativeResponse::GetRequestSid() const { return GetByte(1); }

uint8_t NegativeResponse::GetNrc() const { return GetByte(2); }

std::ostream& operator<<(std::ostream& stream, const NegativeResponse& message) { return stream << message.toString(); }

}  // namespace UDS
