// The one state object of a programming session, shared by the UDS services,
// the routines, the runtime and the download worker.
//
// The download bookkeeping, the signature feed, the RFS forwarding and the
// small session lists are reached from the method threads, the download
// worker and the diagnostic-status thread at once; they are guarded by one
// internal mutex that is never held across a call into UCM, the database,
// the conversation, a DTC or the flashing thread.
//
// The two logistics caches are published as snapshots: a re-read builds a new
// cache object and swaps it in under the logistics mutex, so a reader keeps a
// consistent object for as long as it holds the pointer. The integrity
// bookkeeping updates the fields of the current records in place under the
// same mutex; it never adds or removes records of a published cache.
#ifndef KIVLIBRARY_GLOBALLIBRARY_SESSIONDATA_H
#define KIVLIBRARY_GLOBALLIBRARY_SESSIONDATA_H

#include "KivLibrary/GlobalLibrary/SessionDataAccess.h"
#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KivConfiguration;
class SignatureVerifierInterface;

class SessionData : public SessionDataAccess {
public:
    static constexpr uint32_t kNoUcmSession = 0xFFFFFFFF;
    static constexpr CurrentStatusType kProgrammingStateReady = 0;
    static constexpr CurrentStatusType kProgrammingStateBusy = 1;

    // Reads the public key named by the configuration; without it the object
    // works, but no signature can be checked.
    SessionData(std::shared_ptr<KivConfiguration> configuration, std::shared_ptr<PersistentDataStorage> database,
                std::shared_ptr<SignatureVerifierInterface> signatureVerifier);
    ~SessionData() override;
    SessionData(const SessionData&) = delete;
    SessionData& operator=(const SessionData&) = delete;

    void GetFingerprint(std::vector<uint8_t>& date, std::vector<uint8_t>& testerSerial) override;
    std::vector<LogicalBlockTransferEntry> GetDownloadedLogicalBlocks() override;
    std::shared_ptr<LogicalBlockCacheData> GetUpdatedLogistics() override;
    std::shared_ptr<LogicalBlockCacheData> GetInstalledLogistics() override;
    uint32_t GetUcmSessionId() override;
    void SetUcmSessionId(uint32_t sessionId) override;
    void ResetTransferProgress() override;
    void AddTransferredData(const std::vector<uint8_t>& data) override;
    void StartBlockTransfer(uint32_t memorySize, const std::vector<uint8_t>& logicalBlockId, uint8_t format) override;
    void AddDatablock(const std::vector<uint8_t>& size, const std::vector<uint8_t>& id,
                      const std::vector<uint8_t>& data, int value) override;
    void AddDatablockEntry(const DatablockEntry& entry) override;
    void SetFlashingThread(std::shared_ptr<FlashingThread> flashingThread) override;
    std::shared_ptr<FlashingThread> GetFlashingThread() override;
    std::shared_ptr<FlashingThread>& FlashingThreadSlot() override;
    void ResetFlashingThread() override;
    std::shared_ptr<FlashingThread> TakeFlashingThread() override;
    void AbortLocalTransfer() override;
    uint32_t GetRemainingSize(bool logicalBlock) override;
    void DiscardUnfinishedDatablocks() override;
    std::vector<uint8_t> GetCurrentBlockId(bool logicalBlock) override;
    DatablockEntry GetCurrentDatablock() override;
    void GetCurrentDatablockChunk(uint32_t chunkSize, uint32_t chunkIndex, std::vector<uint8_t>& out) override;
    bool EraseBlockEntry(bool logicalBlock, size_t index) override;
    void FinishBlockTransfer(bool logicalBlock) override;
    void SetDatablockInfo(const std::vector<uint8_t>& id, const std::vector<uint8_t>& info, int value) override;
    void DecreaseRemainingSize(bool logicalBlock, uint32_t size) override;
    std::vector<DatablockEntry> GetDatablocks() override;
    LogicalBlockTransferEntry GetCurrentLogicalBlockEntry() override;
    void SetSignatureResult(uint8_t result) override;
    uint8_t GetSignatureResult() override;
    bool ClearLogicalBlockEntries() override;
    void ClearDatablocks() override;
    void SetLastBlockSequenceCounter(uint32_t counter) override;
    uint32_t GetLastBlockSequenceCounter() override;
    void SetRequestDownloadFinished(bool finished) override;
    bool IsRequestDownloadFinished() override;
    bool IsFirstDataTransfered() override;
    void SetFirstDataTransfered(bool transferred) override;
    std::string LogIdToName(const std::vector<uint8_t>& id) override;
    std::string GetLogCounter(const std::vector<uint8_t>& id) override;
    std::vector<uint8_t> LogNameToId(const std::string& name) override;
    void IncrementLogCounter(const std::vector<uint8_t>& id) override;
    void SetFingerprint(const std::vector<uint8_t>& date, const std::vector<uint8_t>& testerSerial) override;
    void SetFingerprintFlag(bool flag) override;
    bool GetFingerprintFlag() override;
    std::shared_ptr<RFS> GetRFS() override;
    std::vector<uint16_t> GetActiveRoutines() override;
    void AddActiveRoutine(uint16_t routineId) override;
    void RemoveActiveRoutine(uint16_t routineId) override;
    void SetMemoryFailureFlag(bool flag) override;
    bool GetMemoryFailureFlag() override;
    void SetDependencyCheckResult(bool result) override;
    bool GetDependencyCheckResult() override;
    bool IsSignatureValid(const std::vector<uint8_t>& signature) override;
    std::shared_ptr<SWupdateStatus> GetSWupdateStatus() override;
    SWupdateState GetSWupdateState() override;
    void SetSWupdateStatus(std::shared_ptr<SWupdateStatus> status) override;
    void ResetProgramming(const std::shared_ptr<UCM::UCMAdaptorInterface>& ucm,
                          const std::shared_ptr<PersistentDataStorage>& database,
                          const std::shared_ptr<KivDMConversation>& conversation,
                          const std::shared_ptr<DTCService>& cleanupDtc) override;
    void SetUcmCopyInProgress(bool inProgress) override;
    bool IsUcmCopyInProgress() override;
    bool CheckRollbackInProgress() override;
    bool IsSWDownloadFinished() override;
    bool IsStatusAllowingIVDCheck() override;
    void SetProgrammingState(CurrentStatusType state) override;
    CurrentStatusType GetProgrammingState() override;
    std::string GetProgrammingStateText() override;
    void FeedRfsToSignature() override;
    std::string GetIvdRequestCluster() override;
    void SetIvdRequestCluster(const std::string& cluster) override;
    std::string GetIvdCancelCluster() override;
    void SetIvdCancelCluster(const std::string& cluster) override;

    // The abort of a download (its worker stopped and joined, the programming
    // reset) and the start of a new one exclude each other: a new transfer
    // opened while the old worker still runs would get its pieces, and the
    // reset would then overwrite the state and UCM session the new transfer
    // wrote. AbortLocalTransfer and ResetProgramming take the lock
    // themselves; a caller that needs several steps in one piece holds it
    // across them. The lock is recursive and outermost: it is held across
    // calls into UCM, the database, the conversation and the flashing thread.
    // Not owned after `timeout`.
    class TransferLock {
    public:
        TransferLock() = default;
        TransferLock(TransferLock&& other) noexcept : m_session(other.m_session), m_overtaken(other.m_overtaken) {
            other.m_session = nullptr;
        }
        TransferLock& operator=(TransferLock&& other) noexcept;
        TransferLock(const TransferLock&) = delete;
        TransferLock& operator=(const TransferLock&) = delete;
        ~TransferLock() { unlock(); }
        bool owns_lock() const { return m_session != nullptr; }
        // Not owned because the request's turn was taken (see WaitForTurn).
        bool Overtaken() const { return m_overtaken; }
        void unlock();

    private:
        friend class SessionData;
        explicit TransferLock(SessionData* session, bool overtaken = false)
            : m_session(session), m_overtaken(overtaken) {}
        SessionData* m_session = nullptr;
        bool m_overtaken = false;
    };
    // A wait for the lock also ends, without it, once termination is requested.
    TransferLock LockTransfer(std::chrono::milliseconds timeout);
    // The lock at once, or after a wait of TransferLockTimeout (logged as
    // `caller`'s); not owned when the holder did not end in time or
    // termination was requested meanwhile.
    TransferLock WaitForTransfer(const char* caller);
    // As WaitForTransfer, for a request of the tester that acts on the
    // current download; not owned (Overtaken) when another holder had the
    // lock between the request's arrival and its turn (a later request, the
    // end of the session) or the conversation's session changed meanwhile.
    // The lock is not handed out in arrival order, and the diagnostic
    // manager may have given up on a request that still waits: what it was
    // sent for is then gone, and acting on what is there now would corrupt
    // the state of the next download.
    TransferLock WaitForTurn(const char* caller, const std::shared_ptr<KivDMConversation>& conversation);
    // Bound of every wait for the lock: longer than its longest holder. The
    // runtime sets it from the configured UCM response time-out, with the
    // first logical block's wait for running integrity requests on top.
    void SetTransferLockTimeout(std::chrono::milliseconds timeout) { m_transferLockTimeout.store(timeout); }
    std::chrono::milliseconds TransferLockTimeout() const { return m_transferLockTimeout.load(); }
    // The holders' UCM calls, each bounded by the adaptor's response time-out
    // (the wait for the adaptor included), decide the bound. The longest
    // holder is a dpt RequestDownload whose hanging check repairs UCM:
    // GetCurrentStatus, Start and Close, then a walk of the older sessions
    // bounded by two time-outs that overruns them by one call: six. The end
    // of a session takes five (the worker's drain of two buffered pieces and
    // the join of the one in UCM, TransferExit, DOClose), RequestTransferExit
    // four, a logical-block RequestDownload four. A tenth more covers the
    // work between the calls. Saturates instead of wrapping.
    static std::chrono::milliseconds TransferLockTimeoutFor(std::chrono::milliseconds ucmResponseTimeout);

    // The configuration the session was built with; read-only after start-up.
    const std::shared_ptr<KivConfiguration>& GetConfiguration() const { return m_configuration; }

    // The programming hash of the ACTIVE partition's cache, computed under the
    // logistics lock so that no integrity update changes a record meanwhile,
    // on a copy that is then published (readers keep the object they hold).
    bool CalculateLogicalBlockProgrammingHash(const std::shared_ptr<KivConfiguration>& configuration);

    // Copies the programming-attempt counters of the UPDATED logical blocks
    // into the INSTALLED ones; nothing is written when a list cannot be read.
    void UpdateProgrammingAttemptsCounter();

    // ---- logistics caches -------------------------------------------------
    using CacheChange = std::function<void(LogicalBlockCacheData& cache)>;
    // Runs change on a copy of the partition's cache (true: ACTIVE, false:
    // MIRROR) and publishes the copy. change runs under the logistics mutex and
    // must not call back into this object.
    void ReplaceLogistics(bool active, const CacheChange& change);

    // ---- cluster-integrity bookkeeping ------------------------------------
    using ClusterPredicate = std::function<bool(const LogicalBlockCache& record)>;
    // The predicate runs under the logistics mutex and must not call back into
    // this object.
    bool FindCluster(const ClusterPredicate& predicate, bool active);
    bool FindCluster(const ClusterPredicate& predicate, bool active, uint32_t& total, uint32_t& count);
    // Updates the first record named like the answer's cluster in list; a
    // record whose IVD was already retrieved only with force. Takes no lock:
    // to update a partition's own cache use FindClusterAndUpdateInPartition.
    bool FindClusterAndUpdate(const SwClusterIntegrity& answer, const std::string& label,
                              std::vector<LogicalBlockCache>& list, bool force);
    // Updates the partition's cache as a copy that replaces it under the lock:
    // an object a reader holds never changes.
    bool FindClusterAndUpdateInPartition(const SwClusterIntegrity& answer, bool active, bool force);
    // The partition form the autonomous check and the routines call (true:
    // ACTIVE, false: MIRROR); a record already retrieved is left alone.
    bool FindClusterAndUpdate(const SwClusterIntegrity& answer, bool active) {
        return FindClusterAndUpdateInPartition(answer, active, false);
    }
    void AddPendingCluster(const SwClusterIntegrity& answer);
    void ClearPendingClusters();
    // Applies the pending answers to the MIRROR cache, then copies the IVD of
    // every record of cacheList into the persisted block with the same id.
    void storePartitionIVDOnPersistentDb(LogicalBlocks& persisted, const std::vector<LogicalBlockCache>& cacheList);
    // Brings the ACTIVE integrity results into the MIRROR cache, once until
    // the mirror update flag is reset.
    void UpdateMirrorIVDInfo();
    void SetMirrorUpdateFlag(bool flag);
    void SetAutonomousCheckFlag(bool flag);
    void ResetMirrorUpdateFlag(bool flag) { SetMirrorUpdateFlag(flag); }
    void ResetAutonomousCheckFlag(bool flag) { SetAutonomousCheckFlag(flag); }

    // Set by a TransferData that failed, cleared by every accepted
    // RequestDownload; while set, TransferData is answered negatively.
    std::atomic<bool> m_transferDataFailed{false};
    // The autonomous check has completed; the runtime reads it after a reset
    // of the programming to decide whether to restart the check.
    std::atomic<bool> AutonomousCheckDone{false};
    // The ACTIVE integrity results have been brought into the MIRROR cache.
    std::atomic<bool> MirrorUpdateComplete{false};
    // Shared by the autonomous check, the routines 0x0253 and 0x029A and the
    // fast-shutdown callback; each is written and read on different threads.
    std::atomic<bool> Rid0253Running{false};
    std::atomic<bool> Rid029ARunning{false};
    std::atomic<bool> Rid029AResultsReady{false};
    std::atomic<bool> AutonomousCheckCancelRequested{false};
    std::atomic<bool> Rid029AStopRequested{false};
    std::atomic<bool> Rid029ACancelInProgress{false};

private:
    void UpdateSwStatus(SWupdateState state, const std::string& caller);
    // Replaces the UPDATED logical blocks and ECU information by the INSTALLED ones.
    void RemoveUpdatedData();
    bool ReadKeyFile(const std::string& path);
    // The *Locked helpers expect m_mutex to be held.
    void FeedBlockHeaderToSignatureLocked(uint32_t memorySize, const std::vector<uint8_t>& logicalBlockId);
    void ResetTransferProgressLocked();
    void DiscardUnfinishedDatablocksLocked();
    DatablockEntry* CurrentDatablockLocked();
    bool QueryStatus(const char* label, std::initializer_list<SWupdateState> states);

    std::shared_ptr<KivConfiguration> m_configuration;
    std::vector<uint8_t> m_fingerprintDate;
    std::vector<uint8_t> m_fingerprintTesterSerial;
    std::atomic<uint32_t> m_ucmSessionId{kNoUcmSession};
    std::shared_ptr<FlashingThread> m_flashingThread;
    std::vector<uint8_t> m_currentDatablockId;
    std::vector<uint8_t> m_currentDatablockInfo;
    int32_t m_currentDatablockValue = 0;
    std::vector<DatablockEntry> m_datablockEntries;
    bool m_requestDownloadFinished = true;
    bool m_firstDataTransferred = false;
    std::vector<LogicalBlockTransferEntry> m_logicalBlockEntries;
    uint32_t m_lastBlockSequenceCounter = 0;
    uint8_t m_signatureResult = 0;
    std::shared_ptr<RFS> m_rfs;
    std::vector<uint16_t> m_activeRoutines;
    bool m_memoryFailureFlag = false;
    bool m_dependencyCheckResult = false;
    bool m_fingerprintFlag = false;
    std::vector<uint8_t> m_publicKey;
    std::shared_ptr<SignatureVerifierInterface> m_signatureVerifier;
    std::map<std::string, std::vector<uint8_t>> m_logNames;
    std::map<std::vector<uint8_t>, std::string> m_logCounters;
    std::shared_ptr<SWupdateStatus> m_swUpdateStatus;
    std::atomic<bool> m_ucmCopyInProgress{false};
    std::string m_ivdRequestCluster;
    std::string m_ivdCancelCluster;
    std::atomic<CurrentStatusType> m_programmingState{2};
    std::shared_ptr<LogicalBlockCacheData> m_installedLogistics;
    std::shared_ptr<LogicalBlockCacheData> m_updatedLogistics;
    std::shared_ptr<std::vector<SwClusterIntegrity>> m_pendingClusters;
    std::shared_ptr<PersistentDataStorage> m_database;

    mutable std::mutex m_mutex;
    // Guards only the worker slot; a worker is released outside it, since its
    // destructor joins a thread that calls back into this object.
    mutable std::mutex m_flashingThreadMutex;
    // Guards the two cache pointers, the records of the current caches and the
    // pending answers.
    mutable std::mutex m_logisticsMutex;
    // `turn`: the holders counted when the request arrived; null for none.
    TransferLock AcquireTransfer(std::chrono::milliseconds timeout, const uint64_t* turn);
    TransferLock WaitForTransfer(const char* caller, const uint64_t* turn);
    // The transfer lock, built on a plain mutex so that its bounded wait is
    // a condition wait on the steady clock: holder and depth of the thread
    // that owns it.
    std::mutex m_transferMutex;
    std::condition_variable m_transferReleased;
    std::thread::id m_transferHolder;
    uint32_t m_transferDepth = 0;
    uint64_t m_transferHolders = 0;  // outermost acquisitions so far
    // Until the runtime sets it: the bound for UCM's default response time-out.
    std::atomic<std::chrono::milliseconds> m_transferLockTimeout{TransferLockTimeoutFor(std::chrono::seconds(30))};
};

// The integrity bookkeeping is a part of the session object.
using IvdDatabase = SessionData;

#endif
