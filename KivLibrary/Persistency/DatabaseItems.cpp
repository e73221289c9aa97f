#include "KivLibrary/Persistency/DatabaseItems.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/Serialization.h"

#include <string>

namespace {

constexpr uint64_t kMarker = 1;
// Marker and length fields of this layout's own records fit one value byte.
constexpr std::size_t kShortField = 2;
constexpr std::size_t kEncodedBlockSize = 66;
// The smallest element a reader can accept: element marker, id, attempts,
// lock value, fingerprint marker, RFS length (of an empty field), IVD marker.
constexpr std::size_t kMinimalBlockSize = kShortField + 1 + 2 + 2 + kShortField + kShortField + kShortField;

template <std::size_t N>
void WriteField(Serializer& writer, const std::array<uint8_t, N>& field) {
    writer.WriteLength(N).WriteRaw(field.data(), N);
}

// A length and that many bytes; taken only when the length is the field's.
template <std::size_t N>
bool ReadField(Deserializer& reader, std::array<uint8_t, N>& field) {
    uint64_t length = 0;
    if (!reader.ReadLength(length)) {
        return false;
    }
    if (length != N) {
        return reader.Skip(length);
    }
    return reader.ReadRaw(field.data(), N);
}

void WriteBlock(Serializer& writer, const LogicalBlock& block) {
    writer.WriteLength(kMarker).Write(block.m_id).Write(block.m_programmingAttempts).Write(block.m_lockValue);
    writer.WriteLength(kMarker);
    WriteField(writer, block.m_fingerPrint.m_serial);
    WriteField(writer, block.m_fingerPrint.m_date);
    writer.Write(block.m_fingerPrint.m_status);
    WriteField(writer, block.m_rfsMinVersion);
    writer.WriteLength(kMarker).Write(block.m_IVD.m_state);
    WriteField(writer, block.m_IVD.m_data);
}

// On a failure `reason` says why, for the log.
bool ReadBlock(Deserializer& reader, LogicalBlock& block, std::string& reason) {
    uint64_t marker = 0;
    // An element of another layout has an unknown size, so nothing after it
    // could be located: the whole value is refused.
    if (!reader.ReadLength(marker)) {
        reason = "its marker is truncated";
        return false;
    }
    if (marker != kMarker) {
        reason = "its marker is " + std::to_string(marker) + ", not 1";
        return false;
    }
    LogicalBlock decoded;
    reader.Read(decoded.m_id);
    reader.Read(decoded.m_programmingAttempts);
    reader.Read(decoded.m_lockValue);
    if (reader.ReadLength(marker) && marker == kMarker) {
        ReadField(reader, decoded.m_fingerPrint.m_serial);
        ReadField(reader, decoded.m_fingerPrint.m_date);
        reader.Read(decoded.m_fingerPrint.m_status);
    }
    ReadField(reader, decoded.m_rfsMinVersion);
    if (reader.ReadLength(marker) && marker == kMarker) {
        reader.Read(decoded.m_IVD.m_state);
        ReadField(reader, decoded.m_IVD.m_data);
    }
    if (reader.Failed()) {
        reason = "it is truncated";
        return false;
    }
    block = decoded;
    return true;
}

// An enum stored as its number of the given width.
template <typename Number, typename Enum>
bool DecodeEnum(const std::vector<uint8_t>& bytes, Enum& value) {
    Number number = 0;
    if (!DecodeValue(bytes, number)) {
        return false;
    }
    value = static_cast<Enum>(number);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeUcmSessionId(uint32_t value) { return EncodeValue(value); }

std::vector<uint8_t> EncodeSWupdateState(SWupdateState value) { return EncodeValue(static_cast<uint32_t>(value)); }

std::vector<uint8_t> EncodeUpdateForPartition(PartitionEnum value) { return EncodeValue(static_cast<uint8_t>(value)); }

std::vector<uint8_t> EncodeEcuInfo(EcuInfo value) {
    std::vector<uint8_t> bytes;
    bytes.reserve(kShortField + 1);
    Serializer(bytes).WriteLength(kMarker).Write(static_cast<uint8_t>(value));
    return bytes;
}

std::vector<uint8_t> EncodeLogicalBlocks(const LogicalBlocks& value) {
    std::vector<uint8_t> bytes;
    bytes.reserve(kShortField + 1 + LengthFieldWidth(value.size()) + value.size() * kEncodedBlockSize);
    Serializer writer(bytes);
    writer.WriteLength(kMarker).WriteLength(value.size());
    for (const LogicalBlock& block : value) {
        WriteBlock(writer, block);
    }
    return bytes;
}

std::vector<uint8_t> EncodeDatabaseFormat(const std::string& value) { return EncodeValue(value); }

bool DecodeUcmSessionId(const std::vector<uint8_t>& bytes, uint32_t& value) { return DecodeValue(bytes, value); }

bool DecodeSWupdateState(const std::vector<uint8_t>& bytes, SWupdateState& value) {
    return DecodeEnum<uint32_t>(bytes, value);
}

bool DecodeUpdateForPartition(const std::vector<uint8_t>& bytes, PartitionEnum& value) {
    return DecodeEnum<uint8_t>(bytes, value);
}

bool DecodeEcuInfo(const std::vector<uint8_t>& bytes, EcuInfo& value) {
    Deserializer reader(bytes);
    uint64_t marker = 0;
    if (!reader.ReadLength(marker)) {
        return false;
    }
    if (marker != kMarker) {
        return true;
    }
    uint8_t number = 0;
    if (!reader.Read(number)) {
        return false;
    }
    value = static_cast<EcuInfo>(number);
    return true;
}

bool DecodeLogicalBlocks(const std::vector<uint8_t>& bytes, LogicalBlocks& value) {
    Deserializer reader(bytes);
    uint64_t marker = 0;
    if (!reader.ReadLength(marker)) {
        return false;
    }
    if (marker != kMarker) {
        return true;
    }
    uint64_t count = 0;
    if (!reader.ReadLength(count) || count > reader.Remaining() / kMinimalBlockSize) {
        return false;
    }
    LogicalBlocks decoded;
    decoded.reserve(static_cast<std::size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        LogicalBlock block;
        std::string reason;
        if (!ReadBlock(reader, block, reason)) {
            // The whole list is refused (and dropped at open): name the
            // element so that the loss can be traced.
            LogError() << "Logical block list refused: element " + std::to_string(i + 1) + " of " +
                              std::to_string(count) + " cannot be decoded, " + reason
                       << VLMR_FILE_LINE;
            return false;
        }
        decoded.push_back(block);
    }
    value = std::move(decoded);
    return true;
}

bool DecodeDatabaseFormat(const std::vector<uint8_t>& bytes, std::string& value) { return DecodeValue(bytes, value); }
