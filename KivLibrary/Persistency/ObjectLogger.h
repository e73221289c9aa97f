// Log text of the persisted records: items "name=value" separated by ",",
// nested records in braces, broken into chunks of about 200 characters by line
// breaks inside one log message.
#ifndef KIVLIBRARY_PERSISTENCY_OBJECTLOGGER_H
#define KIVLIBRARY_PERSISTENCY_OBJECTLOGGER_H

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

class PersistentDataStorage;

class ObjectLogger {
public:
    // The target outlives the logger; what is left is handed over on destruction.
    explicit ObjectLogger(LoggingAdapter& target) : m_target(target) {}
    virtual ~ObjectLogger();
    ObjectLogger(const ObjectLogger&) = delete;
    ObjectLogger& operator=(const ObjectLogger&) = delete;

    // An empty name writes the value alone.
    void Add(const std::string& name, uint8_t value);   // "{dec, 0xHH}"
    void Add(const std::string& name, uint16_t value);  // decimal
    void Add(const std::string& name, const std::array<uint8_t, 3>& value);
    void Add(const std::string& name, const std::array<uint8_t, 4>& value);
    void Add(const std::string& name, const std::array<uint8_t, 6>& value);
    void Add(const std::string& name, const std::array<uint8_t, 32>& value);
    void Add(const std::string& name, EcuInfo value);
    void Add(const std::string& name, const LogicalBlock& block);
    void Add(const std::string& name, const LogicalBlock::FingerPrint& fingerPrint);
    void Add(const std::string& name, const LogicalBlock::IVD& ivd);
    void AddRecord(const std::string& name, EcuInfo value);

    // Moves the pending item into the line, emitting the line first when the
    // two together would exceed the chunk size.
    void Flush();

private:
    void BeginItem(const std::string& name);
    void AddPlain(const std::string& name, const std::string& text);
    template <typename Fields>
    void AddRecordItem(const std::string& name, Fields fields);

    LoggingAdapter& m_target;
    std::string m_separator;
    std::string m_line;
    std::string m_item;
};

// The text of an EcuInfo value.
std::string EcuInfoToString(EcuInfo value);

LoggingAdapter& operator<<(LoggingAdapter& target, const LogicalBlock& block);
LoggingAdapter& operator<<(LoggingAdapter& target, const LogicalBlocks& blocks);
LoggingAdapter& operator<<(LoggingAdapter& target, EcuInfo value);
LoggingAdapter& operator<<(LoggingAdapter& target, SWupdateState value);
LoggingAdapter& operator<<(LoggingAdapter& target, PartitionEnum value);
std::ostream& operator<<(std::ostream& stream, EcuInfo value);

LoggingStream& operator<<(LoggingStream& stream, const LogicalBlock& block);
LoggingStream& operator<<(LoggingStream& stream, const LogicalBlocks& blocks);
LoggingStream& operator<<(LoggingStream& stream, EcuInfo value);
LoggingStream& operator<<(LoggingStream& stream, SWupdateState value);
LoggingStream& operator<<(LoggingStream& stream, PartitionEnum value);
LoggingStream& operator<<(LoggingStream&& stream, const LogicalBlock& block);
LoggingStream& operator<<(LoggingStream&& stream, const LogicalBlocks& blocks);
LoggingStream& operator<<(LoggingStream&& stream, EcuInfo value);
LoggingStream& operator<<(LoggingStream&& stream, SWupdateState value);
LoggingStream& operator<<(LoggingStream&& stream, PartitionEnum value);

// Logs every INSTALLED and then every UPDATED block of the database, one
// message per block; a list that cannot be read prints nothing.
void PrintPersistedLogicalBlocks(const std::shared_ptr<PersistentDataStorage>& storage);

#endif
