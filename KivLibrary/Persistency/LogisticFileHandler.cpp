#include "KivLibrary/Persistency/LogisticFileHandler.h"

#include "KivLibrary/GlobalLibrary/LogicalBlockProgrammingHash.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/DisplayFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/ObjectLogger.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "json/JsonParser.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace {

constexpr uint8_t kEcuNotConsistent = 0x44;
constexpr size_t kPrintChunkLimit = 180;

std::string Decimal(uint32_t value) { return std::to_string(value); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// At most limit bytes of a regular file; throws with the reason otherwise.
// A FIFO, device or directory named like a logistics file must not block the
// reader: the open does not wait for a writer, and the type is checked on the
// opened file itself, so a swap after a directory listing changes nothing.
std::string ReadRegularFile(const std::string& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        throw std::runtime_error("Couldn't open file " + Quoted(path));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throw std::runtime_error("Couldn't read file " + Quoted(path));
    }
    if (!S_ISREG(status.st_mode)) {
        throw std::runtime_error("file " + Quoted(path) + " is not a regular file");
    }
    std::string content;
    char buffer[4096];
    while (content.size() < limit) {
        const ssize_t got = ::read(fd, buffer, std::min(sizeof(buffer), limit - content.size()));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw std::runtime_error("Couldn't read file " + Quoted(path));
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

// Reads at most maxSize bytes; throws with the reason when the file cannot be
// read or is larger.
std::string ReadBoundedFile(const std::string& path, size_t maxSize) {
    // One byte more than allowed tells an over-long file from one of exactly maxSize.
    std::string content = ReadRegularFile(path, maxSize + 1);
    if (content.size() > maxSize) {
        throw std::runtime_error("file " + Quoted(path) + " is larger than " + std::to_string(maxSize) + " bytes");
    }
    return content;
}

// Copies the first min(text length, size) characters over the field.
void CopyText(uint8_t* field, size_t size, const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), size));
}

template <size_t N>
void CopyText(std::array<uint8_t, N>& field, const std::string& text) {
    CopyText(field.data(), N, text);
}

bool IsHexDigit(char c) { return std::strchr("0123456789abcdefABCDEF", c) != nullptr && c != '\0'; }

uint8_t HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint8_t>(c - 'a' + 10);
    }
    return static_cast<uint8_t>(c - 'A' + 10);
}

// Empty unless the text is an even number of hex digits.
std::vector<uint8_t> DecodeHex(const std::string& text) {
    std::vector<uint8_t> bytes;
    if (text.size() % 2 != 0 || !std::all_of(text.begin(), text.end(), IsHexDigit)) {
        return bytes;
    }
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>((HexValue(text[i]) << 4) | HexValue(text[i + 1])));
    }
    return bytes;
}

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Digits rank above upper-case letters; -1 for any other character.
int Rank(uint8_t c) {
    if (IsDigit(c)) {
        return 100 + (c - '0');
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    return -1;
}

// One position of rules 1 and 2: 1 tmp higher, -1 tmp lower, 0 equal.
int ComparePosition(uint8_t max, uint8_t tmp, const char* wrongTmp, const char* wrongMax) {
    if (!IsDigit(tmp)) {
        LogError() << wrongTmp << VLMR_FILE_LINE;
        return -1;
    }
    if (!IsDigit(max)) {
        LogError() << wrongMax << VLMR_FILE_LINE;
        return 1;
    }
    if (tmp > max) {
        return 1;
    }
    return tmp < max ? -1 : 0;
}

std::array<uint8_t, 4> EcuVersion(const ecuInfoCache& record) {
    std::array<uint8_t, 4> version{};
    std::copy_n(record.begin() + EcuInfoLayout::kVersionOffset, version.size(), version.begin());
    return version;
}

template <size_t N>
void CopyAvailable(std::array<uint8_t, N>& target, const std::vector<uint8_t>& source) {
    std::copy_n(source.begin(), std::min(N, source.size()), target.begin());
}

LogicalBlocks::iterator FindBlock(LogicalBlocks& list, uint8_t id) {
    return std::find_if(list.begin(), list.end(), [id](const LogicalBlock& block) { return block.m_id == id; });
}

uint8_t BlockIdOf(const LogicalBlockTransferEntry& entry) {
    return static_cast<uint8_t>(FromBigEndian(entry.logicalBlockId) & 0xFFU);
}

}  // namespace

// ---- list operations --------------------------------------------------------

void RemoveLogicalBlock(LogicalBlocks& list, uint8_t id) {
    LogInfo() << "Deleting block with id " << Decimal(id) << VLMR_FILE_LINE;
    const auto it = FindBlock(list, id);
    if (it != list.end()) {
        LogDebug() << "Block to be removed has been found" << VLMR_FILE_LINE;
        list.erase(it);
    }
}

void AddOrUpdateLogicalBlock(LogicalBlocks& list, LogicalBlock b, const std::array<uint8_t, 4>& rfs) {
    LogInfo() << "Adding or updating existing logical block with id: " << Decimal(b.m_id) << VLMR_FILE_LINE;
    const auto it = FindBlock(list, b.m_id);
    if (it != list.end()) {
        LogInfo() << "Block already existing in database" << VLMR_FILE_LINE;
        b.m_fingerPrint.m_status = 0;
        b.m_rfsMinVersion = rfs;
        b.m_IVD = it->m_IVD;
        b.m_programmingAttempts = it->m_programmingAttempts;
        *it = b;
        return;
    }
    LogInfo() << "Block added in database" << VLMR_FILE_LINE;
    b.m_programmingAttempts = 1;
    b.m_fingerPrint.m_status = 0;
    list.push_back(b);
}

void SortLogicalBlocks(LogicalBlocks& list) {
    LogInfo() << "Sorting blocks" << VLMR_FILE_LINE;
    std::stable_sort(list.begin(), list.end(),
                     [](const LogicalBlock& a, const LogicalBlock& b) { return a.m_id < b.m_id; });
}

std::vector<std::string> ParseDirectory(const std::string& directory, const std::string& needle) {
    LogInfo() << "Parsing Directory" << VLMR_FILE_LINE;
    std::vector<std::string> paths;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        LogError() << "ParseDirectory: Could not open directory" << VLMR_FILE_LINE;
        return paths;
    }
    LogDebug() << "ParseDirectory: Parsing filenames inside directory:" << directory
               << ", Searching for file: " << needle << VLMR_FILE_LINE;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.find(needle) != std::string::npos) {
            paths.push_back(directory + "/" + name);
        }
    }
    closedir(dir);
    return paths;
}

// ---- handler ------------------------------------------------------------------

LogisticFileHandler::LogisticFileHandler(std::shared_ptr<KivConfiguration> configuration,
                                         std::shared_ptr<PersistentDataStorage> database,
                                         std::shared_ptr<SessionData> session)
    : m_session(std::move(session)),
      m_configuration(std::move(configuration)),
      m_database(std::move(database)),
      m_parser(CreateJsonParser()) {}

LogisticFileHandler::~LogisticFileHandler() = default;

bool LogisticFileHandler::ParseLogicalBlockIntoCache(const std::string& path, LogicalBlockCache& block) {
    LogInfo() << "Parsing Cache Data of logical block for file : " << path << VLMR_FILE_LINE;
    std::string name;
    int64_t id = 0;
    int64_t major = 0;
    std::string rfs;
    std::string logicalBlock;
    const bool ok = TryExecute("Parse logical block", [&]() {
        std::istringstream input(ReadBoundedFile(path, kMaxLogisticFileSize));
        const std::shared_ptr<IJsonObject> root = m_parser->Parse(input);
        const std::shared_ptr<IJsonObject> zenq = root->GetObject("ZenqLogistics");
        const std::shared_ptr<IJsonObject> versionInfo = zenq->GetObject("VersionInfo");
        name = zenq->GetString("Name");
        id = zenq->GetInt("ID");
        major = versionInfo->GetInt("Major");
        rfs = versionInfo->GetString("RFS");
        logicalBlock = versionInfo->GetString("LogicalBlock");
        if (name.size() > kMaxNameLength) {
            throw std::runtime_error("\"Name\" is longer than " + std::to_string(kMaxNameLength) + " characters");
        }
    });
    if (!ok) {
        return false;
    }
    block.name = name;
    block.id = static_cast<uint16_t>(static_cast<uint64_t>(id) & 0xFFU);
    block.MajorVersion = static_cast<uint16_t>(static_cast<uint64_t>(major) & 0xFFFFU);
    if (rfs.empty()) {
        block.rfsCurrentVersion.fill(0);
    } else {
        CopyText(block.rfsCurrentVersion, rfs);
    }
    CopyText(block.version, logicalBlock);
    LogInfo() << "Parsing logical block completed " << VLMR_FILE_LINE;
    return true;
}

bool LogisticFileHandler::ParseEcuInfoIntoCache(const std::string& path, ecuInfoCache& ecuInfo) {
    using namespace EcuInfoLayout;
    LogInfo() << "Parsing the ecu info for file : " << path << VLMR_FILE_LINE;
    std::string odxIdentifier;
    std::string odxFileVersion;
    std::string projectData;
    std::string sparePartNumber;
    std::string revision;
    std::string appSw;
    const bool ok = TryExecute("Parse EcuInfo", [&]() {
        std::istringstream input(ReadBoundedFile(path, kMaxLogisticFileSize));
        const std::shared_ptr<IJsonObject> root = m_parser->Parse(input);
        const std::shared_ptr<IJsonObject> zenq = root->GetObject("ZenqLogistics");
        const std::shared_ptr<IJsonObject> additional = root->GetObject("AdditionalInformation");
        const std::shared_ptr<IJsonObject> versionInfo = zenq->GetObject("VersionInfo");
        odxIdentifier = zenq->GetString("ASAM_ODX_Identifier");
        odxFileVersion = zenq->GetString("ASAM_ODX_FileVersion");
        projectData = zenq->GetString("KSVProjectData");
        sparePartNumber = zenq->GetString("SparePartNumber");
        revision = additional->GetString("RevisionString");
        appSw = versionInfo->GetString("AppSW");
    });
    if (!ok) {
        return false;
    }
    CopyText(ecuInfo.data() + kVersionOffset, kVersionSize, appSw);
    const std::vector<uint8_t> project = DecodeHex(projectData);
    std::copy_n(project.begin(), std::min(project.size(), kProjectDataSize), ecuInfo.begin() + kProjectDataOffset);
    std::fill_n(ecuInfo.begin() + kOdxIdentifierOffset, kOdxIdentifierSize, 0);
    CopyText(ecuInfo.data() + kOdxIdentifierOffset, kOdxIdentifierSize, odxIdentifier);
    CopyText(ecuInfo.data() + kOdxFileVersionOffset, kOdxFileVersionSize, odxFileVersion);
    std::fill_n(ecuInfo.begin() + kRevisionOffset, kRevisionSize, 0);
    CopyText(ecuInfo.data() + kRevisionOffset, kRevisionSize, revision);
    std::fill_n(ecuInfo.begin() + kSparePartNumberOffset, kSparePartNumberSize, 0);
    CopyText(ecuInfo.data() + kSparePartNumberOffset, kSparePartNumberSize, sparePartNumber);
    LogInfo() << "Parsing ecu Info completed " << VLMR_FILE_LINE;
    return true;
}

bool LogisticFileHandler::CompareVersions(const std::array<uint8_t, 4>& max, const std::array<uint8_t, 4>& tmp) {
    LogInfo() << "Compare Versions: " << FormatCharField4(max.data()) << " and " << FormatCharField4(tmp.data())
              << VLMR_FILE_LINE;
    if (IsDigit(max[0]) && IsDigit(tmp[0])) {
        for (size_t i = 0; i < 4; ++i) {
            const int order =
                ComparePosition(max[i], tmp[i], "ecuInfo version - rule 1 - wrong tmp EcuInfo AppSW version",
                                "ecuInfo version - rule 1 - wrong max EcuInfo AppSW version");
            if (order != 0) {
                return order > 0;
            }
        }
        return false;
    }
    for (size_t i = 1; i < 4; ++i) {
        const int order = ComparePosition(max[i], tmp[i], "ecuInfo version - rule 2 - wrong tmp EcuInfo AppSW version",
                                          "ecuInfo version - rule 2 - wrong max EcuInfo AppSW version");
        if (order != 0) {
            return order > 0;
        }
    }
    const int tmpRank = Rank(tmp[0]);
    if (tmpRank < 0) {
        LogError() << "ecuInfo version - rule 3 - wrong tmp EcuInfo AppSW0 version" << VLMR_FILE_LINE;
        return false;
    }
    const int maxRank = Rank(max[0]);
    if (maxRank < 0) {
        LogError() << "ecuInfo version - rule 3 - wrong max EcuInfo AppSW0 version" << VLMR_FILE_LINE;
        return true;
    }
    return tmpRank > maxRank;
}

void LogisticFileHandler::ParseLogisticFiles(const std::vector<std::string>& files, bool& inconsistent,
                                             std::vector<LogicalBlockCache>& blocks, ecuInfoCache& ecuInfo) {
    ecuInfoCache max = InitEcuProgrammingInfo();
    CopyText(max.data() + EcuInfoLayout::kVersionOffset, EcuInfoLayout::kVersionSize, "A000");
    bool found = false;

    for (const std::string& path : files) {
        LogInfo() << "reading logistic file: " << path << VLMR_FILE_LINE;
        LogicalBlockCache block;
        if (!ParseLogicalBlockIntoCache(path, block)) {
            LogError() << "Couldn't parse logistic file " << Quoted(path)
                       << " for logical block, skip it and set programmable and inconsistent." << VLMR_FILE_LINE;
            inconsistent = true;
            continue;
        }
        const bool duplicate = std::any_of(blocks.begin(), blocks.end(),
                                           [&block](const LogicalBlockCache& other) { return other.id == block.id; });
        if (duplicate) {
            LogWarn() << "Found duplicated logical block ID: " << Decimal(block.id) << VLMR_FILE_LINE;
            continue;
        }
        LogInfo() << "Found logical block ID " << Decimal(block.id) << VLMR_FILE_LINE;
        blocks.push_back(block);

        ecuInfoCache tmp = InitEcuProgrammingInfo();
        if (!ParseEcuInfoIntoCache(path, tmp)) {
            LogError() << "Couldn't parse logistic file " << Quoted(path)
                       << " for ecuinfo, skip it and set programmable and inconsistent." << VLMR_FILE_LINE;
            inconsistent = true;
            continue;
        }
        if (!found || CompareVersions(EcuVersion(max), EcuVersion(tmp))) {
            max = tmp;
        }
        found = true;
        LogInfo() << ">>>>>>>>>>>>> MAX APP SW VERSION = "
                  << FormatCharField4(max.data() + EcuInfoLayout::kVersionOffset)
                  << " tmp = " << FormatCharField4(tmp.data() + EcuInfoLayout::kVersionOffset) << VLMR_FILE_LINE;
    }

    LogInfo() << ">>>>>>>>>>>>> FINAL MAX APP SW VERSION = "
              << FormatCharField4(max.data() + EcuInfoLayout::kVersionOffset)
              << " revision= " << FormatBytes48(max.data() + EcuInfoLayout::kRevisionOffset) << VLMR_FILE_LINE;
    if (found) {
        ecuInfo = max;
    } else {
        LogError() << "Ecuinfo wasn't read successfully from a logistic file even once. It won't be set!"
                   << VLMR_FILE_LINE;
    }
}

void LogisticFileHandler::ReadLogisticFiles(const std::string& directory, std::vector<LogicalBlockCache>& blocks,
                                            ecuInfoCache& ecuInfo) {
    const std::vector<std::string> files = ParseDirectory(directory, kFileNeedle);
    LogInfo() << "=== Read logistic files from: " << directory << " with prefix= " << Quoted(kFileNeedle)
              << VLMR_FILE_LINE;
    if (!files.empty()) {
        LogInfo() << "=== Found " << static_cast<uint64_t>(files.size()) << " logistic files in the partition"
                  << directory << VLMR_FILE_LINE;
    }
    bool inconsistent = false;
    ParseLogisticFiles(files, inconsistent, blocks, ecuInfo);
    if (inconsistent) {
        ecuInfo[EcuInfoLayout::kProgrammingInfoOffset] = kEcuNotConsistent;
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const LogicalBlockCache& a, const LogicalBlockCache& b) { return a.id < b.id; });
    LogInfo() << "=== Read Zenq Logistics Json files completed " << VLMR_FILE_LINE;
}

void LogisticFileHandler::ReadActiveLogistics() {
    LogInfo() << "=== Read ACTIVE Zenq Logistics Json files" << VLMR_FILE_LINE;
    if (!m_session) {
        LogError() << "LogisticFileHandler: no session data; ACTIVE logistics not read" << VLMR_FILE_LINE;
        return;
    }
    PrintActiveLogistics();
    std::vector<LogicalBlockCache> blocks;
    ecuInfoCache ecuInfo = InitEcuProgrammingInfo();
    ReadLogisticFiles(m_configuration ? m_configuration->activeLogisticsPath : std::string(), blocks, ecuInfo);
    m_session->ReplaceLogistics(true, [&blocks, &ecuInfo](LogicalBlockCacheData& cache) {
        cache.blocks = blocks;
        cache.ecuInfo = ecuInfo;
    });
    DumpEcuCacheInfo("ACTIVE ECUInfo Cache", ecuInfo);
    ForEachLogicalBlockProgrammingHash("ACTIVE LogicalBlock Cache", blocks);
}

void LogisticFileHandler::ReadInactiveLogistics() {
    LogInfo() << "=== Read INACTIVE Zenq Logistics Json files" << VLMR_FILE_LINE;
    if (!m_session) {
        LogError() << "LogisticFileHandler: no session data; INACTIVE logistics not read" << VLMR_FILE_LINE;
        return;
    }
    PrintInactiveLogistics();
    std::vector<LogicalBlockCache> blocks;
    ecuInfoCache ecuInfo = InitEcuProgrammingInfo();
    ReadLogisticFiles(m_configuration ? m_configuration->inactiveLogisticsPath : std::string(), blocks, ecuInfo);
    // The integrity state of the old records is carried over under the same
    // lock as the swap, so that no integrity answer lands in between and is lost.
    m_session->ReplaceLogistics(false, [&blocks, &ecuInfo](LogicalBlockCacheData& cache) {
        for (const LogicalBlockCache& old : cache.blocks) {
            const auto twin = std::find_if(blocks.begin(), blocks.end(),
                                           [&old](const LogicalBlockCache& block) { return block.id == old.id; });
            if (twin == blocks.end()) {
                continue;
            }
            twin->IVD = old.IVD;
            if (!old.IVD_IsValid) {
                twin->IVD.fill(0);
            }
            twin->IVD_Retrieved = true;
            twin->IVD_IsValid = old.IVD_IsValid;
            twin->IVD_ACIsValid = old.IVD_IsValid;
            twin->IVD_IsCorrupt = old.IVD_IsCorrupt;
            twin->IVD_ACIsCorrupt = old.IVD_IsCorrupt;
        }
        cache.blocks = blocks;
        cache.ecuInfo = ecuInfo;
    });
    DumpEcuCacheInfo("MIRROR ECUInfo Cache", ecuInfo);
    ForEachLogicalBlockProgrammingHash("MIRROR LogicalBlock Cache", blocks);
}

void LogisticFileHandler::PrintActiveLogistics() {
    PrintLogistics(m_configuration ? m_configuration->activeLogisticsPath : std::string(), "ACTIVE LOGISTICS");
}

void LogisticFileHandler::PrintInactiveLogistics() {
    PrintLogistics(m_configuration ? m_configuration->inactiveLogisticsPath : std::string(), "INACTIVE LOGISTICS");
}

void LogisticFileHandler::PrintLogistics(const std::string& directory, const std::string& label) {
    const std::vector<std::string> files = ParseDirectory(directory, kFileNeedle);
    LogInfo() << "PRINTING " << label << " found " << static_cast<uint64_t>(files.size())
              << " logistic files in: " << directory << " with prefix= " << Quoted(kFileNeedle) << VLMR_FILE_LINE;
    for (const std::string& path : files) {
        LogInfo() << "PRINTING " << label << " logistics file: " << path << VLMR_FILE_LINE;
        // The log gets at most as much of a file as the reader would accept.
        std::string content;
        try {
            content = ReadRegularFile(path, kMaxLogisticFileSize + 1);
        } catch (const std::exception& e) {
            LogWarn() << "PRINTING " << label << " logistics file skipped: " << e.what() << VLMR_FILE_LINE;
            continue;
        }
        const bool truncated = content.size() > kMaxLogisticFileSize;
        if (truncated) {
            content.resize(kMaxLogisticFileSize);
        }

        std::string chunk = label + " " + path + ": ";
        size_t count = path.size() + 3 + label.size();
        std::istringstream lines(content);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (count > kPrintChunkLimit) {
                LogInfo() << chunk << VLMR_FILE_LINE;
                chunk = label + " continue :";
                count = 10;
            }
            count += line.size();
            chunk += line;
        }
        LogInfo() << chunk << VLMR_FILE_LINE;
        if (truncated) {
            LogWarn() << "PRINTING " << label << " logistics file: " << path << " is larger than "
                      << static_cast<uint64_t>(kMaxLogisticFileSize) << " bytes; the rest is not printed"
                      << VLMR_FILE_LINE;
        }
    }
}

// ---- into the database --------------------------------------------------------

void LogisticFileHandler::PopulateCaches(const LogicalBlockCacheData& cache, LogicalBlocks& list) {
    for (const LogicalBlockCache& entry : cache.blocks) {
        LogInfo() << "Init block: " << Decimal(entry.id) << VLMR_FILE_LINE;
        LogicalBlock block;
        block.m_id = static_cast<uint8_t>(entry.id & 0xFFU);
        block.m_fingerPrint.m_status = 0;
        block.m_rfsMinVersion = entry.rfsCurrentVersion;
        block.m_IVD = LogicalBlock::IVD{};
        // A list that already holds the id gets the record replaced: a second
        // record with the same id would be purged by the consistency repair.
        const auto existing = FindBlock(list, block.m_id);
        if (existing != list.end()) {
            LogDebug() << "Init block: replacing the listed record of id " << Decimal(block.m_id) << VLMR_FILE_LINE;
            *existing = block;
        } else {
            list.push_back(block);
        }
    }
    SortLogicalBlocks(list);
    LogInfo() << "Populating with Jsons completed " << VLMR_FILE_LINE;
}

void LogisticFileHandler::WriteActiveLogisticsToDatabase(const std::vector<uint8_t>& serial,
                                                         const std::vector<uint8_t>& date) {
    if (!m_database || !m_session) {
        LogError() << "WriteActiveLogisticsToDatabase: no database or session data; nothing written" << VLMR_FILE_LINE;
        return;
    }
    LogicalBlocks list;
    if (!m_database->ReadInstalledLogicalBlocks(list)) {
        list.clear();
        if (m_database->HasInstalledLogicalBlocks()) {
            LogWarn() << "WriteActiveLogisticsToDatabase: stored INSTALLED logical blocks unreadable; "
                         "starting from the logistics files only"
                      << VLMR_FILE_LINE;
        }
    }
    const std::shared_ptr<LogicalBlockCacheData> cache = m_session->GetInstalledLogistics();
    const EcuInfo ecu = static_cast<EcuInfo>(cache->ecuInfo[EcuInfoLayout::kProgrammingInfoOffset]);
    PopulateCaches(*cache, list);
    for (LogicalBlock& block : list) {
        CopyAvailable(block.m_fingerPrint.m_date, date);
        CopyAvailable(block.m_fingerPrint.m_serial, serial);
        block.m_programmingAttempts = 0;
    }
    (void)m_database->WriteInstalledLogicalBlocks(list);
    (void)m_database->WriteUpdatedLogicalBlocks(list);
    (void)m_database->WriteInstalledEcuInfo(ecu);
    (void)m_database->WriteUpdatedEcuInfo(ecu);
    LogInfo() << "INSTALLED logical blocks: " << list << VLMR_FILE_LINE;
    LogInfo() << "INSTALLED ecu info: " << ecu << VLMR_FILE_LINE;
}

bool LogisticFileHandler::ScanDownloadedDataBlocks(const LogicalBlockCacheData& mirrorCache, LogicalBlocks& list,
                                                   const std::vector<LogicalBlockTransferEntry>& downloaded,
                                                   const std::vector<uint8_t>& date,
                                                   const std::vector<uint8_t>& serial) {
    LogInfo() << "ScanDownloadedDataBlocks... " << VLMR_FILE_LINE;
    for (const LogicalBlockTransferEntry& entry : downloaded) {
        const uint8_t id = BlockIdOf(entry);
        const auto cached = std::find_if(mirrorCache.blocks.begin(), mirrorCache.blocks.end(),
                                         [id](const LogicalBlockCache& block) { return block.id == id; });
        if (cached == mirrorCache.blocks.end()) {
            LogInfo() << "Removing logical block: " << Decimal(id) << ", because no matching logistic file was found."
                      << VLMR_FILE_LINE;
            RemoveLogicalBlock(list, id);
            continue;
        }
        LogInfo() << "update DB for blockId: " << Decimal(id) << VLMR_FILE_LINE;
        LogicalBlock block;
        block.m_id = id;
        CopyAvailable(block.m_fingerPrint.m_date, date);
        CopyAvailable(block.m_fingerPrint.m_serial, serial);
        AddOrUpdateLogicalBlock(list, block, cached->rfsCurrentVersion);
    }
    SortLogicalBlocks(list);
    LogInfo() << "Scanning for the affected files completed" << VLMR_FILE_LINE;
    return true;
}

bool LogisticFileHandler::ReadMirrorLogisticsIntoUpdated() {
    if (!m_database || !m_session) {
        LogError() << "ReadMirrorLogisticsIntoUpdated: no database or session data; nothing written" << VLMR_FILE_LINE;
        return false;
    }
    LogicalBlocks list;
    if (!m_database->ReadUpdatedLogicalBlocks(list)) {
        list.clear();
        if (m_database->HasUpdatedLogicalBlocks()) {
            LogWarn() << "ReadMirrorLogisticsIntoUpdated: stored UPDATED logical blocks unreadable; "
                         "starting from an empty list"
                      << VLMR_FILE_LINE;
        }
    }
    LogInfo() << "Read data of Zenq logistics json files from MIRROR partition" << VLMR_FILE_LINE;
    ReadInactiveLogistics();
    const std::shared_ptr<LogicalBlockCacheData> mirror = m_session->GetUpdatedLogistics();
    const uint8_t ecuByte = mirror->ecuInfo[EcuInfoLayout::kProgrammingInfoOffset];
    const EcuInfo ecu = static_cast<EcuInfo>(ecuByte);
    std::vector<uint8_t> date;
    std::vector<uint8_t> serial;
    m_session->GetFingerprint(date, serial);
    const bool ok = ScanDownloadedDataBlocks(*mirror, list, m_session->GetDownloadedLogicalBlocks(), date, serial);
    (void)m_database->WriteUpdatedEcuInfo(ecu);
    (void)m_database->WriteUpdatedLogicalBlocks(list);
    LogInfo() << "UPDATED logical blocks: " << list << VLMR_FILE_LINE;
    LogInfo() << "UPDATED ecu info: " << ecu << VLMR_FILE_LINE;
    return ok && ecuByte != kEcuNotConsistent;
}
