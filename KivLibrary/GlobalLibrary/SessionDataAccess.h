// The state of one programming session as the UDS services, the routines, the
// runtime and the download worker see it.
#ifndef KIVLIBRARY_GLOBALLIBRARY_SESSIONDATAACCESS_H
#define KIVLIBRARY_GLOBALLIBRARY_SESSIONDATAACCESS_H

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/LogicalBlockTransferEntry.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "KivLibrary/Ucm/UcmTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DTCService;
class FlashingThread;
class KivDMConversation;
class PersistentDataStorage;
class SWupdateStatus;
namespace UCM {
class UCMAdaptorInterface;
}

// Download bookkeeping of one datablock.
struct DatablockEntry {
    std::vector<uint8_t> id;
    std::vector<uint8_t> size;   // the size bytes of the request, unchanged
    uint32_t remainingSize = 0;  // size read big-endian (1, 2, 3, 4, 6 or 8 bytes; else 0)
    std::vector<uint8_t> data;
    uint8_t value = 0;
    bool finished = false;
};

class SessionDataAccess {
public:
    virtual ~SessionDataAccess() = default;

    virtual void GetFingerprint(std::vector<uint8_t>& date, std::vector<uint8_t>& testerSerial) = 0;
    virtual std::vector<LogicalBlockTransferEntry> GetDownloadedLogicalBlocks() = 0;
    // Cache of the MIRROR partition.
    virtual std::shared_ptr<LogicalBlockCacheData> GetUpdatedLogistics() = 0;
    // Cache of the ACTIVE partition.
    virtual std::shared_ptr<LogicalBlockCacheData> GetInstalledLogistics() = 0;
    // 0xFFFFFFFF = no UCM session.
    virtual uint32_t GetUcmSessionId() = 0;
    virtual void SetUcmSessionId(uint32_t sessionId) = 0;
    // Drops the progress of a transfer that has to be abandoned.
    virtual void ResetTransferProgress() = 0;
    // Bytes handed to UCM (or to the RFS record); they are fed to the signature check.
    virtual void AddTransferredData(const std::vector<uint8_t>& data) = 0;
    virtual void StartBlockTransfer(uint32_t memorySize, const std::vector<uint8_t>& logicalBlockId,
                                    uint8_t format) = 0;
    virtual void AddDatablock(const std::vector<uint8_t>& size, const std::vector<uint8_t>& id,
                              const std::vector<uint8_t>& data, int value) = 0;
    virtual void AddDatablockEntry(const DatablockEntry& entry) = 0;
    virtual void SetFlashingThread(std::shared_ptr<FlashingThread> flashingThread) = 0;
    // Empty = no download worker.
    virtual std::shared_ptr<FlashingThread> GetFlashingThread() = 0;
    virtual std::shared_ptr<FlashingThread>& FlashingThreadSlot() = 0;
    virtual void ResetFlashingThread() = 0;
    // Moves the download worker out of the session; empty when none is held.
    virtual std::shared_ptr<FlashingThread> TakeFlashingThread() = 0;
    // Ends a download of either kind on this side: the worker is stopped and
    // joined, the RFS transfer ends, the download is finished, the counter is
    // 0 and unfinished block entries are dropped. Makes no UCM call. Every
    // abort path (EcuReset, the cancel of a download, the end of the
    // diagnostic session) and a RequestDownload that abandons an open
    // transfer call it. Harmless without an open download.
    virtual void AbortLocalTransfer() = 0;
    virtual uint32_t GetRemainingSize(bool logicalBlock) = 0;
    virtual void DiscardUnfinishedDatablocks() = 0;
    virtual std::vector<uint8_t> GetCurrentBlockId(bool logicalBlock) = 0;
    virtual DatablockEntry GetCurrentDatablock() = 0;
    // Leaves out unchanged when the chunk starts behind the data.
    virtual void GetCurrentDatablockChunk(uint32_t chunkSize, uint32_t chunkIndex, std::vector<uint8_t>& out) = 0;
    virtual bool EraseBlockEntry(bool logicalBlock, size_t index) = 0;
    virtual void FinishBlockTransfer(bool logicalBlock) = 0;
    virtual void SetDatablockInfo(const std::vector<uint8_t>& id, const std::vector<uint8_t>& info, int value) = 0;
    virtual void DecreaseRemainingSize(bool logicalBlock, uint32_t size) = 0;
    virtual std::vector<DatablockEntry> GetDatablocks() = 0;
    virtual LogicalBlockTransferEntry GetCurrentLogicalBlockEntry() = 0;
    // Names under which the download handlers reach the two above.
    void SetDownloadActive(bool logicalBlock) { FinishBlockTransfer(logicalBlock); }
    LogicalBlockTransferEntry GetLastLogicalBlockEntry() { return GetCurrentLogicalBlockEntry(); }
    // 0 unknown, 1 valid, 2 invalid.
    virtual void SetSignatureResult(uint8_t result) = 0;
    virtual uint8_t GetSignatureResult() = 0;
    virtual bool ClearLogicalBlockEntries() = 0;
    virtual void ClearDatablocks() = 0;
    virtual void SetLastBlockSequenceCounter(uint32_t counter) = 0;
    virtual uint32_t GetLastBlockSequenceCounter() = 0;
    virtual void SetRequestDownloadFinished(bool finished) = 0;
    // True = no RequestDownload is open.
    virtual bool IsRequestDownloadFinished() = 0;
    virtual bool IsFirstDataTransfered() = 0;
    virtual void SetFirstDataTransfered(bool transferred) = 0;
    virtual std::string LogIdToName(const std::vector<uint8_t>& id) = 0;
    virtual std::string GetLogCounter(const std::vector<uint8_t>& id) = 0;
    virtual std::vector<uint8_t> LogNameToId(const std::string& name) = 0;
    virtual void IncrementLogCounter(const std::vector<uint8_t>& id) = 0;
    virtual void SetFingerprint(const std::vector<uint8_t>& date, const std::vector<uint8_t>& testerSerial) = 0;
    virtual void SetFingerprintFlag(bool flag) = 0;
    virtual bool GetFingerprintFlag() = 0;
    virtual std::shared_ptr<RFS> GetRFS() = 0;
    virtual std::vector<uint16_t> GetActiveRoutines() = 0;
    virtual void AddActiveRoutine(uint16_t routineId) = 0;
    virtual void RemoveActiveRoutine(uint16_t routineId) = 0;
    virtual void SetMemoryFailureFlag(bool flag) = 0;
    virtual bool GetMemoryFailureFlag() = 0;
    virtual void SetDependencyCheckResult(bool result) = 0;
    virtual bool GetDependencyCheckResult() = 0;
    // Verifies once per block; later calls answer the kept result.
    virtual bool IsSignatureValid(const std::vector<uint8_t>& signature) = 0;
    // May be empty.
    virtual std::shared_ptr<SWupdateStatus> GetSWupdateStatus() = 0;
    // INVALID without a status object.
    virtual SWupdateState GetSWupdateState() = 0;
    virtual void SetSWupdateStatus(std::shared_ptr<SWupdateStatus> status) = 0;
    // Clean-up of a download interrupted in state TRANSFER_IN_PROGRESS or INSTALL_IN_PROGRESS.
    virtual void ResetProgramming(const std::shared_ptr<UCM::UCMAdaptorInterface>& ucm,
                                  const std::shared_ptr<PersistentDataStorage>& database,
                                  const std::shared_ptr<KivDMConversation>& conversation,
                                  const std::shared_ptr<DTCService>& cleanupDtc) = 0;
    virtual void SetUcmCopyInProgress(bool inProgress) = 0;
    virtual bool IsUcmCopyInProgress() = 0;
    virtual bool CheckRollbackInProgress() = 0;
    virtual bool IsSWDownloadFinished() = 0;
    virtual bool IsStatusAllowingIVDCheck() = 0;
    virtual void SetProgrammingState(CurrentStatusType state) = 0;
    virtual CurrentStatusType GetProgrammingState() = 0;
    virtual std::string GetProgrammingStateText() = 0;
    // Feeds the downloaded RFS record as one signed block when no logical block was downloaded.
    virtual void FeedRfsToSignature() = 0;
    virtual std::string GetIvdRequestCluster() = 0;
    virtual void SetIvdRequestCluster(const std::string& cluster) = 0;
    virtual std::string GetIvdCancelCluster() = 0;
    virtual void SetIvdCancelCluster(const std::string& cluster) = 0;
};

#endif
