// Reader of the logistics json files of the two A/B partitions (one file per
// installed logical block, names containing "ZenqLogistics_"): fills the ACTIVE
// and MIRROR logistics caches of the session and derives the persisted logical
// blocks and ECU information from them.
//
// The files are untrusted input: a file that cannot be read or parsed, holds a
// value of the wrong type, an over-long name, is not a regular file (a FIFO
// never blocks the reader) or is larger than
// kMaxLogisticFileSize contributes nothing and marks its partition not
// consistent.
#ifndef KIVLIBRARY_PERSISTENCY_LOGISTICFILEHANDLER_H
#define KIVLIBRARY_PERSISTENCY_LOGISTICFILEHANDLER_H

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/LogicalBlockTransferEntry.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class IJsonParser;
class KivConfiguration;
class PersistentDataStorage;
class SessionData;

class LogisticFileHandlerInterface {
public:
    virtual ~LogisticFileHandlerInterface() = default;

    // Merges one default record per cache block into list (by block id) and
    // sorts it.
    virtual void PopulateCaches(const LogicalBlockCacheData& cache, LogicalBlocks& list) = 0;
    // Writes the ACTIVE logistics as INSTALLED and UPDATED blocks and ECU info.
    virtual void WriteActiveLogisticsToDatabase(const std::vector<uint8_t>& serial,
                                                const std::vector<uint8_t>& date) = 0;
    virtual bool ScanDownloadedDataBlocks(const LogicalBlockCacheData& mirrorCache, LogicalBlocks& list,
                                          const std::vector<LogicalBlockTransferEntry>& downloaded,
                                          const std::vector<uint8_t>& date, const std::vector<uint8_t>& serial) = 0;
    // False when the MIRROR partition's logistics are not consistent.
    virtual bool ReadMirrorLogisticsIntoUpdated() = 0;
    virtual void PrintActiveLogistics() = 0;
    virtual void PrintInactiveLogistics() = 0;
    virtual void ReadActiveLogistics() = 0;
    virtual void ReadInactiveLogistics() = 0;

    void StoreInstalledLogistics(const std::vector<uint8_t>& serial, const std::vector<uint8_t>& date) {
        WriteActiveLogisticsToDatabase(serial, date);
    }
};

class LogisticFileHandler : public LogisticFileHandlerInterface {
public:
    static constexpr const char* kFileNeedle = "ZenqLogistics_";
    // Real logistics files are a few kilobytes.
    static constexpr size_t kMaxLogisticFileSize = 256 * 1024;
    // Cluster names are short identifiers; anything longer is not a logistics file.
    static constexpr size_t kMaxNameLength = 255;

    LogisticFileHandler(std::shared_ptr<KivConfiguration> configuration,
                        std::shared_ptr<PersistentDataStorage> database, std::shared_ptr<SessionData> session);
    ~LogisticFileHandler() override;

    void PopulateCaches(const LogicalBlockCacheData& cache, LogicalBlocks& list) override;
    void WriteActiveLogisticsToDatabase(const std::vector<uint8_t>& serial, const std::vector<uint8_t>& date) override;
    bool ScanDownloadedDataBlocks(const LogicalBlockCacheData& mirrorCache, LogicalBlocks& list,
                                  const std::vector<LogicalBlockTransferEntry>& downloaded,
                                  const std::vector<uint8_t>& date, const std::vector<uint8_t>& serial) override;
    bool ReadMirrorLogisticsIntoUpdated() override;
    void PrintActiveLogistics() override;
    void PrintInactiveLogistics() override;
    void ReadActiveLogistics() override;
    void ReadInactiveLogistics() override;

    // Reads every logistics file of the directory; blocks come out sorted by id.
    void ReadLogisticFiles(const std::string& directory, std::vector<LogicalBlockCache>& blocks, ecuInfoCache& ecuInfo);
    void ParseLogisticFiles(const std::vector<std::string>& files, bool& inconsistent,
                            std::vector<LogicalBlockCache>& blocks, ecuInfoCache& ecuInfo);
    // Both leave the record untouched on failure.
    bool ParseLogicalBlockIntoCache(const std::string& path, LogicalBlockCache& block);
    bool ParseEcuInfoIntoCache(const std::string& path, ecuInfoCache& ecuInfo);
    // True when tmp is the higher application software version.
    static bool CompareVersions(const std::array<uint8_t, 4>& max, const std::array<uint8_t, 4>& tmp);

private:
    void PrintLogistics(const std::string& directory, const std::string& label);

    std::shared_ptr<SessionData> m_session;
    std::shared_ptr<KivConfiguration> m_configuration;
    std::shared_ptr<PersistentDataStorage> m_database;
    std::shared_ptr<IJsonParser> m_parser;
};

// Paths (directory + "/" + name) of the directory's entries whose name contains
// needle, in listing order; empty when the directory cannot be opened.
std::vector<std::string> ParseDirectory(const std::string& directory, const std::string& needle);

void RemoveLogicalBlock(LogicalBlocks& list, uint8_t id);
// Replaces the block with b's id (keeping its attempts and integrity data) or
// appends b as a first attempt.
void AddOrUpdateLogicalBlock(LogicalBlocks& list, LogicalBlock b, const std::array<uint8_t, 4>& rfs);
void SortLogicalBlocks(LogicalBlocks& list);

#endif
