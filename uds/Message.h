// Value type of one UDS frame; byte 0 is the service identifier.
// Frames are taken unchanged: only the accessors check the length they need.
#ifndef UDS_MESSAGE_H
#define UDS_MESSAGE_H

#include "uds/UdsExceptions.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace UDS {

class Message {
public:
    Message() = default;
    explicit Message(std::vector<uint8_t>&& frame);
    Message(const Message& other) = default;
    Message(Message&& other) noexcept;
    Message& operator=(const Message& other) = default;
    Message& operator=(Message&& other) noexcept;
    virtual ~Message() = default;

    uint8_t GetSid() const;
    void SetSid(uint8_t sid);

    // Both throw FrameSizeMismatchException for an index outside the frame.
    uint8_t GetByte(uint8_t index) const;
    void SetByte(uint32_t index, uint8_t value);

    uint8_t* GetData() { return m_frame.data(); }
    const uint8_t* GetData() const { return m_frame.data(); }
    std::vector<uint8_t>& GetFrame() { return m_frame; }
    const std::vector<uint8_t>& GetFrame() const { return m_frame; }
    void SetFrame(const std::vector<uint8_t>& frame) { m_frame = frame; }
    void SetFrame(std::vector<uint8_t>&& frame) { m_frame = std::move(frame); }

    bool operator==(const Message& other) const { return m_frame == other.m_frame; }
    bool operator!=(const Message& other) const { return m_frame != other.m_frame; }
    // Shorter frames order first; equal lengths compare bytewise.
    bool operator<(const Message& other) const;

    virtual std::string toString() const;

protected:
    // Throws FrameSizeMismatchException unless the frame holds at least `size` bytes.
    void RequireSize(size_t size) const;
    // Every byte from `offset` on; the caller has checked the length.
    std::vector<uint8_t> BytesFrom(size_t offset) const;
    // Big-endian 16-bit value at `offset`; the caller has checked the length.
    uint16_t ReadUint16At(size_t offset) const;
    void WriteUint16At(size_t offset, uint16_t value);

private:
    std::vector<uint8_t> m_frame;
};

std::ostream& operator<<(std::ostream& stream, const Message& message);

// The frame [0x7F, request SID, NRC].
class NegativeResponse : public Message {
public:
    NegativeResponse(uint8_t requestSid, uint8_t nrc);
    explicit NegativeResponse(const Message& message) : Message(message) {}
    explicit NegativeResponse(Message&& message) : Message(std::move(message)) {}

    uint8_t GetRequestSid() const;
    uint8_t GetNrc() const;
};

std::ostream& operator<<(std::ostream& stream, const NegativeResponse& message);

}  // namespace UDS

#endif
