// The RFS record of a software package with its downgrade-protection table
// (DPT): received as the data of the DPT logical block, validated and turned
// into per-block version tables and the list of permitted hardware ids.
// Every byte of the record comes from the tester and is treated as untrusted.
//
// The record is reached from the method threads (download handlers, routines)
// and from the diagnostic-status thread (reset of an interrupted download) at
// once, so every operation takes the object's own lock. The two reference
// getters are read by their callers without it; their fields are written only
// through StartTransfer/DecreaseRemainingSize and ConvertToDpt.
#ifndef KIVLIBRARY_GLOBALLIBRARY_RFS_H
#define KIVLIBRARY_GLOBALLIBRARY_RFS_H

#include "KivLibrary/GlobalLibrary/LogicalBlockTransferEntry.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class RFS {
public:
    using VersionTable = std::map<uint16_t, std::array<uint8_t, 4>>;
    using HwId = std::array<uint8_t, 3>;
    using HwIdList = std::vector<HwId>;

    // Result codes of ConvertToDpt.
    static constexpr uint8_t kResultInvalidRecord = 0x80;
    static constexpr uint8_t kResultDowngrade = 0x81;

    static constexpr uint16_t kPtil = 7;
    static constexpr const char* kPtid = "RFSV2.1";
    static constexpr size_t kHeaderSize = 11;  // ptil, ptid, bvta
    static constexpr size_t kEntrySize = 9;    // id, RFS version, F1AB version
    static constexpr size_t kHwIdSize = 3;
    static constexpr size_t kHwIdCountSize = 2;
    static constexpr size_t kMinRecordSize = 25;  // one entry, one hardware id
    // bvta and the hardware-id count are 16-bit, so no valid record is longer:
    // 65535 entries and 65535 hardware ids, 786433 bytes.
    static constexpr size_t kMaxCount = 0xFFFF;
    static constexpr size_t kMaxRecordSize =
        kHeaderSize + kEntrySize * kMaxCount + kHwIdCountSize + kHwIdSize * kMaxCount;

    RFS() = default;
    virtual ~RFS() = default;
    RFS(const RFS&) = delete;
    RFS& operator=(const RFS&) = delete;

    virtual void SetDowngradeTable(const VersionTable& table);
    virtual VersionTable GetDowngradeTable() const;
    virtual std::vector<uint8_t> GetData() const;
    // Empties the record and gives its memory back.
    virtual void ClearData();
    // Overwrites the record bytes with zeros before they are released.
    virtual void WipeData();
    virtual void AppendData(const std::vector<uint8_t>& data);
    // Validates the record and fills the downgrade table, the F1AB table and the
    // hardware-id list. On failure resultCode is 0x80 (malformed record, version
    // out of range, duplicate or unconfigured block) or 0x81 (downgrade);
    // on success it is left as the caller set it.
    virtual bool ConvertToDpt(const LogicalBlocks& storedBlocks, uint8_t& resultCode,
                              const std::vector<uint32_t>& configuredBlockIds);
    virtual void ClearDowngradeTable();
    virtual bool IsTransferActive() const;
    virtual void SetTransferActive(bool active);
    // Sets the sizes, id bytes and format; finished flag and record bytes stay.
    virtual void StartTransfer(uint32_t memorySize, const std::vector<uint8_t>& id, uint8_t format);
    // Never goes below 0.
    virtual void DecreaseRemainingSize(uint32_t size);
    virtual LogicalBlockTransferEntry& GetTransferInfo();
    virtual VersionTable GetF1abTable() const;
    virtual HwIdList& GetVersionInfo();
    // True when this ECU's hardware id (or the dummy-values setting) permits the package.
    virtual bool ValidateHwVersion();
    // The hardware-id count behind bvta entries; 0 when the record does not hold it.
    virtual uint16_t GetHwIdCount(uint16_t bvta);
    virtual bool IsPtilValid(uint16_t ptil);
    virtual bool IsPtidValid(const std::array<uint8_t, 7>& ptid);
    virtual bool IsBvtaValid(uint16_t bvta);
    // The memory the record bytes occupy, received or not.
    size_t HeldBytes() const;

private:
    // The helpers below expect m_mutex to be held.
    bool ValidateRecord(uint16_t& bvta, uint16_t& hwIdCount);
    bool ConvertEntry(size_t offset, const LogicalBlocks& storedBlocks, uint8_t& resultCode,
                      const std::vector<uint32_t>& configuredBlockIds);
    void DumpRecord(const std::string& tag) const;
    void DumpTables(const std::string& tag) const;
    uint16_t ReadUint16(size_t offset) const;
    uint16_t HwIdCountLocked(uint16_t bvta) const;

    VersionTable m_downgradeTable;
    VersionTable m_f1abTable;
    HwIdList m_hwIds;
    bool m_transferActive = false;
    LogicalBlockTransferEntry m_transferEntry;
    std::vector<uint8_t> m_data;
    mutable std::mutex m_mutex;
};

#endif
