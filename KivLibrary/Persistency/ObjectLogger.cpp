#include "KivLibrary/Persistency/ObjectLogger.h"

#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

namespace {

constexpr std::size_t kChunkSize = 200;

template <typename T>
LoggingStream& WriteTo(LoggingStream& stream, const T& value) {
    if (stream.Adapter()) {
        *stream.Adapter() << value;
    }
    return stream;
}

void PrintTagged(const char* tag, const LogicalBlocks& blocks) {
    for (const LogicalBlock& block : blocks) {
        LogInfo() << tag << block << VLMR_FILE_LINE;
    }
}

}  // namespace

ObjectLogger::~ObjectLogger() {
    if (!m_line.empty()) {
        m_target.Write(m_line);
    }
}

void ObjectLogger::Flush() {
    // An empty line is not emitted: an item longer than a chunk goes out
    // whole in the next chunk without a blank chunk before it.
    if (m_line.size() + m_item.size() > kChunkSize && !m_line.empty()) {
        m_target.Write(m_line);
        m_target.Write("\n");
        m_line.clear();
    }
    m_line += m_item;
    m_item.clear();
}

void ObjectLogger::BeginItem(const std::string& name) {
    m_item += m_separator;
    if (!name.empty()) {
        m_item += name;
        m_item += "=";
    }
}

void ObjectLogger::AddPlain(const std::string& name, const std::string& text) {
    BeginItem(name);
    m_item += text;
    m_separator = ",";
    Flush();
}

template <typename Fields>
void ObjectLogger::AddRecordItem(const std::string& name, Fields fields) {
    BeginItem(name);
    m_separator.clear();
    m_item += "{";
    fields();
    m_item += "}";
    m_separator = ",";
    Flush();
}

void ObjectLogger::Add(const std::string& name, uint8_t value) { AddPlain(name, ByteToDecHexString(value)); }
void ObjectLogger::Add(const std::string& name, uint16_t value) { AddPlain(name, std::to_string(value)); }
void ObjectLogger::Add(const std::string& name, const std::array<uint8_t, 3>& value) {
    AddPlain(name, FormatCharField3(value.data()));
}
void ObjectLogger::Add(const std::string& name, const std::array<uint8_t, 4>& value) {
    AddPlain(name, FormatCharField4(value.data()));
}
void ObjectLogger::Add(const std::string& name, const std::array<uint8_t, 6>& value) {
    AddPlain(name, FormatBytes6(value.data()));
}
void ObjectLogger::Add(const std::string& name, const std::array<uint8_t, 32>& value) {
    AddPlain(name, HashToDisplayString(value.data()));
}
void ObjectLogger::Add(const std::string& name, EcuInfo value) { AddPlain(name, EcuInfoToString(value)); }

void ObjectLogger::Add(const std::string& name, const LogicalBlock& block) {
    AddRecordItem(name, [this, &block]() {
        Add("m_id", block.m_id);
        Add("m_programmingAttempts", block.m_programmingAttempts);
        Add("m_lockValue", block.m_lockValue);
        Add("m_fingerPrint", block.m_fingerPrint);
        Add("m_rfsMinVersion", block.m_rfsMinVersion);
        Add("m_IVD", block.m_IVD);
    });
}

void ObjectLogger::Add(const std::string& name, const LogicalBlock::FingerPrint& fingerPrint) {
    AddRecordItem(name, [this, &fingerPrint]() {
        Add("m_serial", fingerPrint.m_serial);
        Add("m_date", fingerPrint.m_date);
        Add("m_status", fingerPrint.m_status);
    });
}

void ObjectLogger::Add(const std::string& name, const LogicalBlock::IVD& ivd) {
    AddRecordItem(name, [this, &ivd]() {
        // The state is a plain number, not a byte in "{dec, 0xHH}" form.
        Add("m_state", static_cast<uint16_t>(ivd.m_state));
        Add("m_data", ivd.m_data);
    });
}

void ObjectLogger::AddRecord(const std::string& name, EcuInfo value) {
    AddRecordItem(name, [this, value]() { Add("info", value); });
}

std::string EcuInfoToString(EcuInfo value) {
    return value == EcuInfo::ReprogrammableAndConsistent ? "ReprogrammableAndConsistent" : "ProgrammingNotConsistent";
}

LoggingAdapter& operator<<(LoggingAdapter& target, const LogicalBlock& block) {
    ObjectLogger logger(target);
    logger.Add("", block);
    return target;
}

LoggingAdapter& operator<<(LoggingAdapter& target, const LogicalBlocks& blocks) {
    target.Write("Count: ");
    target.Write(static_cast<uint64_t>(blocks.size()));
    for (const LogicalBlock& block : blocks) {
        target.Write("\n");
        target << block;
    }
    return target;
}

LoggingAdapter& operator<<(LoggingAdapter& target, EcuInfo value) {
    ObjectLogger logger(target);
    logger.AddRecord("", value);
    return target;
}

LoggingAdapter& operator<<(LoggingAdapter& target, SWupdateState value) { return target.Write(toString(value)); }

LoggingAdapter& operator<<(LoggingAdapter& target, PartitionEnum value) { return target.Write(toString(value)); }

std::ostream& operator<<(std::ostream& stream, EcuInfo value) { return stream << EcuInfoToString(value); }

LoggingStream& operator<<(LoggingStream& stream, const LogicalBlock& block) { return WriteTo(stream, block); }
LoggingStream& operator<<(LoggingStream& stream, const LogicalBlocks& blocks) { return WriteTo(stream, blocks); }
LoggingStream& operator<<(LoggingStream& stream, EcuInfo value) { return WriteTo(stream, value); }
LoggingStream& operator<<(LoggingStream& stream, SWupdateState value) { return WriteTo(stream, value); }
LoggingStream& operator<<(LoggingStream& stream, PartitionEnum value) { return WriteTo(stream, value); }
LoggingStream& operator<<(LoggingStream&& stream, const LogicalBlock& block) { return WriteTo(stream, block); }
LoggingStream& operator<<(LoggingStream&& stream, const LogicalBlocks& blocks) { return WriteTo(stream, blocks); }
LoggingStream& operator<<(LoggingStream&& stream, EcuInfo value) { return WriteTo(stream, value); }
LoggingStream& operator<<(LoggingStream&& stream, SWupdateState value) { return WriteTo(stream, value); }
LoggingStream& operator<<(LoggingStream&& stream, PartitionEnum value) { return WriteTo(stream, value); }

void PrintPersistedLogicalBlocks(const std::shared_ptr<PersistentDataStorage>& storage) {
    if (!storage) {
        return;
    }
    LogicalBlocks installed;
    if (storage->ReadInstalledLogicalBlocks(installed)) {
        PrintTagged("[INSTALLED]", installed);
    }
    LogicalBlocks updated;
    if (storage->ReadUpdatedLogicalBlocks(updated)) {
        PrintTagged("[UPDATED]", updated);
    }
}
