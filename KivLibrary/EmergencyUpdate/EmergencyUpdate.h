// Takes the software of an emergency installation (made by the platform
// outside a programming session) into the database at the next start: the
// ACTIVE logistics become the INSTALLED and UPDATED records, stamped with the
// fingerprint of the installation's marker file.
//
// Power-cut safety: the marker files are removed only after the new records
// and the IDLE state are synced. The same sync stores the marker's bytes as
// "applied"; a start that finds the marker and those bytes on the medium
// knows that the records are stored and only removes the files, so nothing
// is counted twice. Once marker A is gone the applied bytes are removed, so a
// later installation with the same marker bytes counts again.
//
// Without logical blocks in the ACTIVE logistics nothing is applied: the
// records and the marker files stay as they are, and the start goes on as
// one without a marker.
//
// Threading: runs once on the runtime thread during start-up; no lock.
#ifndef KIVLIBRARY_EMERGENCYUPDATE_EMERGENCYUPDATE_H
#define KIVLIBRARY_EMERGENCYUPDATE_EMERGENCYUPDATE_H

#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class KivConfiguration;
class PersistentDataStorage;
class SessionData;

class EmergencyUpdateImpl {
public:
    static constexpr const char* kMarkerPathA = "/var/run/A/kiv/emergencyInstallInfo.bin";
    static constexpr const char* kMarkerPathB = "/var/run/B/kiv/emergencyInstallInfo.bin";
    // A journal file an earlier version kept beside marker A; only removed.
    static constexpr const char* kJournalSuffix = ".applied";

    // The file operations on the marker and journal files; a test replaces
    // them to stop every effect at the instant of a simulated power cut.
    struct FileOperations {
        // True when the file is gone (also when it was never there).
        std::function<bool(const std::string& path)> remove;
    };
    static FileOperations RealFileOperations();

    // The marker paths are system paths; they are taken through HostPath.
    EmergencyUpdateImpl(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<SessionData> sessionData,
                        std::shared_ptr<PersistentDataStorage> storage, const std::string& markerPathA = kMarkerPathA,
                        const std::string& markerPathB = kMarkerPathB);
    virtual ~EmergencyUpdateImpl() = default;
    EmergencyUpdateImpl(const EmergencyUpdateImpl&) = delete;
    EmergencyUpdateImpl& operator=(const EmergencyUpdateImpl&) = delete;

    // Only marker A is tested.
    virtual bool HasEmergencyInstallInfo();
    // Result: the persisted partition to update was removed.
    virtual bool Check_Database();
    // The last Check_Database left the records and the marker files as they
    // were (no logical blocks in the ACTIVE logistics).
    bool Refused() const { return m_refused; }

    // Serial from offset 8, date from offset 16; missing bytes keep their
    // defaults. Leaves the marker files in place.
    void ReadFingerprint(std::array<uint8_t, 6>& serial, std::array<uint8_t, 3>& date);
    void UpdateSwStatus(SWupdateState state, const std::string& stepName);

    void SetFileOperations(FileOperations operations) { m_files = std::move(operations); }

private:
    void UpdateLogisticsInfo_DatabaseExist();
    void UpdateLogisticsInfo_DatabaseNotExist();
    std::vector<uint8_t> ReadMarker() const;
    bool AlreadyApplied(const std::vector<uint8_t>& marker);
    void RemoveMarkers();
    void ForgetApplied();
    void RemoveFile(const std::string& path);

    std::shared_ptr<KivConfiguration> m_configuration;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<PersistentDataStorage> m_storage;
    LogicalBlock::FingerPrint m_fingerPrint;
    const std::string m_markerPathA;
    const std::string m_markerPathB;
    const std::string m_journalPath;
    FileOperations m_files;
    bool m_refused = false;
};

std::shared_ptr<EmergencyUpdateImpl> CreateEmergencyUpdate(std::shared_ptr<KivConfiguration> configuration,
                                                           std::shared_ptr<SessionData> sessionData,
                                                           std::shared_ptr<PersistentDataStorage> storage);

#endif
