#include "KivLibrary/EmergencyUpdate/EmergencyUpdate.h"

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/LogisticFileHandler.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "platform/HostPath.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace {

constexpr std::size_t kSerialOffset = 8;
constexpr std::size_t kDateOffset = 16;
// The marker is a few dozen bytes; more is not a marker the platform wrote.
constexpr std::size_t kMaxMarkerSize = 64 * 1024;

template <std::size_t N>
std::string FingerprintText(const std::array<uint8_t, N>& bytes) {
    static const char* const kHex = "0123456789abcdef";
    std::string text = "{";
    for (std::size_t i = 0; i < N; ++i) {
        text += "[";
        text += static_cast<char>('0' + (i / 10) % 10);
        text += static_cast<char>('0' + i % 10);
        text += "]= 0x";
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
        text += "; ";
    }
    return text + "}";
}

}  // namespace

EmergencyUpdateImpl::EmergencyUpdateImpl(std::shared_ptr<KivConfiguration> configuration,
                                         std::shared_ptr<SessionData> sessionData,
                                         std::shared_ptr<PersistentDataStorage> storage, const std::string& markerPathA,
                                         const std::string& markerPathB)
    : m_configuration(std::move(configuration)),
      m_sessionData(std::move(sessionData)),
      m_storage(std::move(storage)),
      m_markerPathA(platform::HostPath(markerPathA)),
      m_markerPathB(platform::HostPath(markerPathB)),
      m_journalPath(m_markerPathA + kJournalSuffix),
      m_files(RealFileOperations()) {}

std::shared_ptr<EmergencyUpdateImpl> CreateEmergencyUpdate(std::shared_ptr<KivConfiguration> configuration,
                                                           std::shared_ptr<SessionData> sessionData,
                                                           std::shared_ptr<PersistentDataStorage> storage) {
    return std::make_shared<EmergencyUpdateImpl>(std::move(configuration), std::move(sessionData), std::move(storage));
}

bool EmergencyUpdateImpl::HasEmergencyInstallInfo() {
    const bool exists = std::ifstream(m_markerPathA, std::ios::binary).is_open();
    if (exists) {
        LogInfo() << "EmergencyUpdate: The emergencyInstallInfo.bin file exists" << VLMR_FILE_LINE;
    } else {
        LogInfo() << "EmergencyUpdate: The emergencyInstallInfo.bin file not exists" << VLMR_FILE_LINE;
        // What a cut during the removal of the files leaves behind must not
        // meet the next installation's marker.
        if (std::ifstream(m_journalPath).is_open()) {
            RemoveFile(m_journalPath);
        }
        std::vector<uint8_t> applied;
        if (m_storage->ReadEmergencyApplied(applied)) {
            ForgetApplied();
        }
    }
    return exists;
}

bool EmergencyUpdateImpl::Check_Database() {
    m_refused = false;
    const std::vector<uint8_t> marker = ReadMarker();
    // A journal file of an earlier version proves nothing: the database says
    // what was applied.
    RemoveFile(m_journalPath);
    if (AlreadyApplied(marker)) {
        LogInfo() << "EmergencyUpdate: the records of this emergency installation are already stored; removing "
                     "the marker files"
                  << VLMR_FILE_LINE;
        RemoveMarkers();
        return true;
    }
    const std::shared_ptr<LogicalBlockCacheData> active = m_sessionData->GetInstalledLogistics();
    if (!active || active->blocks.empty()) {
        // Empty records would wipe every block and its attempt counter; the
        // marker stays so that a later start with readable logistics applies it.
        LogError() << "EmergencyUpdate: no logical blocks in the ACTIVE logistics files; the emergency installation "
                      "is not applied, the records and the marker files are kept"
                   << VLMR_FILE_LINE;
        m_refused = true;
        return false;
    }

    UpdateSwStatus(SWupdateState::INVALID, "Check_Database");
    (void)m_storage->SyncToStorage();

    if (m_storage->HasInstalledLogicalBlocks()) {
        LogInfo() << "EmergencyUpdate: The the persistent database exists" << VLMR_FILE_LINE;
        UpdateLogisticsInfo_DatabaseExist();
    } else {
        LogInfo() << "EmergencyUpdate: The the persistent database not exist" << VLMR_FILE_LINE;
        UpdateLogisticsInfo_DatabaseNotExist();
    }
    (void)m_storage->RemoveUcmSessionId();
    const bool removed = m_storage->RemoveUpdateForPartition();

    // Synced with the records it describes: a start that still finds the
    // marker knows from the medium whether its records are stored.
    if (!m_storage->WriteEmergencyApplied(marker) || !m_storage->SyncToStorage()) {
        LogError() << "EmergencyUpdate: records not synced; the marker files stay and the next start repeats the "
                      "update"
                   << VLMR_FILE_LINE;
        return removed;
    }
    RemoveMarkers();
    return removed;
}

void EmergencyUpdateImpl::RemoveMarkers() {
    // B first: only A is looked for, so a cut between the two removals must
    // leave A, which the next start recognises as applied.
    RemoveFile(m_markerPathB);
    RemoveFile(m_markerPathA);
    if (std::ifstream(m_markerPathA).is_open()) {
        return;  // still recognised by the next start
    }
    ForgetApplied();
}

void EmergencyUpdateImpl::ForgetApplied() {
    // Once the marker is gone the next marker is a new installation, even
    // with the same bytes.
    if (!m_storage->RemoveEmergencyApplied() || !m_storage->SyncToStorage()) {
        LogError() << "EmergencyUpdate: cannot forget the applied emergency installation; the next start retries"
                   << VLMR_FILE_LINE;
    }
}

void EmergencyUpdateImpl::UpdateLogisticsInfo_DatabaseNotExist() {
    LogInfo() << "EmergencyUpdate: UpdateLogisticsInfo_DatabaseNotExist" << VLMR_FILE_LINE;
    LogisticFileHandler handler(m_configuration, m_storage, m_sessionData);
    std::array<uint8_t, 6> serial{};
    std::array<uint8_t, 3> date{{0x00, 0x01, 0x01}};
    ReadFingerprint(serial, date);
    handler.StoreInstalledLogistics(std::vector<uint8_t>(serial.begin(), serial.end()),
                                    std::vector<uint8_t>(date.begin(), date.end()));
    LogInfo() << "EmergencyUpdate: Saving logical blocks and ecuInfo " << VLMR_FILE_LINE;
    UpdateSwStatus(SWupdateState::IDLE, "UpdateLogisticsInfo_DatabaseNotExist");
}

void EmergencyUpdateImpl::UpdateLogisticsInfo_DatabaseExist() {
    LogInfo() << "EmergencyUpdate: UpdateLogisticsInfo_DatabaseExist" << VLMR_FILE_LINE;
    LogicalBlocks oldList;
    if (m_storage->HasInstalledLogicalBlocks() && !m_storage->ReadInstalledLogicalBlocks(oldList)) {
        // The attempt counters must survive: the UPDATED copy holds them too.
        oldList.clear();
        if (!m_storage->ReadUpdatedLogicalBlocks(oldList)) {
            oldList.clear();
        }
        LogError() << "EmergencyUpdate: INSTALLED logical blocks unreadable; counting attempts from the "
                   << (oldList.empty() ? "logistics files only" : "UPDATED logical blocks") << VLMR_FILE_LINE;
    }
    EcuInfo updatedEcu = EcuInfo::ReprogrammableAndConsistent;
    const bool hasUpdatedEcu = m_storage->HasUpdatedEcuInfo() && m_storage->ReadUpdatedEcuInfo(updatedEcu);

    std::array<uint8_t, 6> serial{};
    std::array<uint8_t, 3> date{{0x00, 0x01, 0x01}};
    ReadFingerprint(serial, date);

    LogisticFileHandler handler(m_configuration, m_storage, m_sessionData);
    const std::shared_ptr<LogicalBlockCacheData> active = m_sessionData->GetInstalledLogistics();
    const EcuInfo recordEcu = static_cast<EcuInfo>(active->ecuInfo[EcuInfoLayout::kProgrammingInfoOffset]);
    (void)m_storage->RemoveUpdatedLogicalBlocks();
    LogicalBlocks list;
    handler.PopulateCaches(*active, list);
    (void)m_storage->WriteUpdatedEcuInfo(recordEcu);

    for (LogicalBlock& block : list) {
        const auto old = std::find_if(oldList.begin(), oldList.end(),
                                      [&block](const LogicalBlock& b) { return b.m_id == block.m_id; });
        if (old != oldList.end()) {
            LogDebug() << "Block already existing in database, do update" << VLMR_FILE_LINE;
            block.m_programmingAttempts = static_cast<uint16_t>(old->m_programmingAttempts + 1);
        } else {
            LogDebug() << "Block not existing in database" << VLMR_FILE_LINE;
            block.m_programmingAttempts = 1;
        }
        block.m_IVD = LogicalBlock::IVD{};
        block.m_fingerPrint.m_serial = serial;
        block.m_fingerPrint.m_date = date;
    }
    (void)m_storage->WriteUpdatedLogicalBlocks(list);
    (void)m_storage->WriteInstalledLogicalBlocks(list);
    // The ECU information the database held wins; without one the record's
    // byte stands, as in the other import paths.
    const EcuInfo ecu = hasUpdatedEcu ? updatedEcu : recordEcu;
    (void)m_storage->WriteUpdatedEcuInfo(ecu);
    (void)m_storage->WriteInstalledEcuInfo(ecu);
    LogInfo() << "EmergencyUpdate: Saving logical blocks and ecuInfo " << VLMR_FILE_LINE;
    UpdateSwStatus(SWupdateState::IDLE, "UpdateLogisticsInfo_DatabaseExist");
}

void EmergencyUpdateImpl::ReadFingerprint(std::array<uint8_t, 6>& serial, std::array<uint8_t, 3>& date) {
    const std::vector<uint8_t> marker = ReadMarker();
    for (std::size_t i = 0; i < serial.size() && kSerialOffset + i < marker.size(); ++i) {
        serial[i] = marker[kSerialOffset + i];
    }
    for (std::size_t i = 0; i < date.size() && kDateOffset + i < marker.size(); ++i) {
        date[i] = marker[kDateOffset + i];
    }
    m_fingerPrint.m_serial = serial;
    m_fingerPrint.m_date = date;
    LogInfo() << "****************** FINGERPRINT_SERIAL " << FingerprintText(serial) << VLMR_FILE_LINE;
    LogInfo() << "****************** FINGERPRINT_DATE " << FingerprintText(date) << VLMR_FILE_LINE;
}

void EmergencyUpdateImpl::UpdateSwStatus(SWupdateState state, const std::string& stepName) {
    (void)::UpdateSwStatus(m_sessionData->GetSWupdateStatus(), state, stepName);
}

std::vector<uint8_t> EmergencyUpdateImpl::ReadMarker() const {
    std::ifstream file(m_markerPathA, std::ios::binary);
    std::vector<uint8_t> bytes;
    char c = 0;
    while (bytes.size() < kMaxMarkerSize && file.get(c)) {
        bytes.push_back(static_cast<uint8_t>(c));
    }
    return bytes;
}

bool EmergencyUpdateImpl::AlreadyApplied(const std::vector<uint8_t>& marker) {
    std::vector<uint8_t> applied;
    return m_storage->ReadEmergencyApplied(applied) && applied == marker;
}

void EmergencyUpdateImpl::RemoveFile(const std::string& path) {
    if (!m_files.remove(path)) {
        LogError() << "EmergencyUpdate: cannot remove " << path << VLMR_FILE_LINE;
    }
}

EmergencyUpdateImpl::FileOperations EmergencyUpdateImpl::RealFileOperations() {
    FileOperations operations;
    operations.remove = [](const std::string& path) {
        if (std::remove(path.c_str()) == 0 || errno == ENOENT) {
            return true;
        }
        LogError() << "EmergencyUpdate: remove " << path << ": " << std::strerror(errno) << VLMR_FILE_LINE;
        return false;
    };
    return operations;
}
