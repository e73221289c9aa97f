#include "KivLibrary/GlobalLibrary/SessionData.h"

#include "KivLibrary/Functional/DTCService.h"
#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"
#include "KivLibrary/Persistency/ProgrammingAttemptsCounters.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "signature/SignatureVerifierInterface.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <utility>

namespace {

constexpr size_t kBlockHeaderSize = 8;
constexpr size_t kBlockIdFieldSize = 4;

// The remaining size never wraps below 0: a wrapped value would let a block
// take far more data than it announced.
void Decrease(uint32_t& remaining, uint32_t size) { remaining = (size > remaining) ? 0U : remaining - size; }

}  // namespace

SessionData::SessionData(std::shared_ptr<KivConfiguration> configuration,
                         std::shared_ptr<PersistentDataStorage> database,
                         std::shared_ptr<SignatureVerifierInterface> signatureVerifier)
    : m_configuration(std::move(configuration)),
      m_rfs(std::make_shared<RFS>()),
      m_signatureVerifier(std::move(signatureVerifier)),
      m_logNames{{"UCM_LOG", {0x76, 0x00}}, {"KIV_LOG", {0x76, 0x01}}},
      m_logCounters{{{0x76, 0x00}, "0"}, {{0x76, 0x01}, "0"}},
      m_installedLogistics(std::make_shared<LogicalBlockCacheData>()),
      m_updatedLogistics(std::make_shared<LogicalBlockCacheData>()),
      m_pendingClusters(std::make_shared<std::vector<SwClusterIntegrity>>()),
      m_database(std::move(database)) {
    const std::string path = m_configuration ? m_configuration->Public_key_path : std::string();
    if (!ReadKeyFile(path)) {
        LogWarn() << "Key file is not valid " << path << VLMR_FILE_LINE;
    }
}

SessionData::~SessionData() {
    // The worker is ended while the rest of this object still exists; it
    // holds this object only weakly, so it finds the session gone and stops.
    TakeFlashingThread().reset();
}

bool SessionData::ReadKeyFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open()) {
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0) {
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0, std::ios::beg);
    if (!bytes.empty() && !file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        return false;
    }
    file.close();
    m_publicKey.insert(m_publicKey.end(), bytes.begin(), bytes.end());
    LogInfo() << "key loaded from: " << path << VLMR_FILE_LINE;
    return true;
}

void SessionData::GetFingerprint(std::vector<uint8_t>& date, std::vector<uint8_t>& testerSerial) {
    std::lock_guard<std::mutex> lock(m_mutex);
    date = m_fingerprintDate;
    testerSerial = m_fingerprintTesterSerial;
}

void SessionData::SetFingerprint(const std::vector<uint8_t>& date, const std::vector<uint8_t>& testerSerial) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fingerprintDate = date;
    m_fingerprintTesterSerial = testerSerial;
}

std::vector<LogicalBlockTransferEntry> SessionData::GetDownloadedLogicalBlocks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logicalBlockEntries;
}

std::shared_ptr<LogicalBlockCacheData> SessionData::GetUpdatedLogistics() {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    return m_updatedLogistics;
}

std::shared_ptr<LogicalBlockCacheData> SessionData::GetInstalledLogistics() {
    std::lock_guard<std::mutex> lock(m_logisticsMutex);
    return m_installedLogistics;
}

uint32_t SessionData::GetUcmSessionId() { return m_ucmSessionId.load(); }

void SessionData::SetUcmSessionId(uint32_t sessionId) { m_ucmSessionId.store(sessionId); }

// ---- download bookkeeping -------------------------------------------------

void SessionData::StartBlockTransfer(uint32_t memorySize, const std::vector<uint8_t>& logicalBlockId, uint8_t format) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        m_rfs->StartTransfer(memorySize, logicalBlockId, format);
    } else {
        LogicalBlockTransferEntry entry;
        entry.memorySize = memorySize;
        entry.remainingSize = memorySize;
        entry.logicalBlockId = logicalBlockId;
        entry.format = format;
        entry.finished = false;
        m_logicalBlockEntries.push_back(std::move(entry));
    }
    FeedBlockHeaderToSignatureLocked(memorySize, logicalBlockId);
}

void SessionData::AddTransferredData(const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        m_rfs->AppendData(data);
    }
    if (m_signatureVerifier) {
        m_signatureVerifier->Update(data);
    }
}

uint32_t SessionData::GetRemainingSize(bool logicalBlock) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        return m_rfs->GetTransferInfo().remainingSize;
    }
    if (logicalBlock) {
        return m_logicalBlockEntries.empty() ? 0U : m_logicalBlockEntries.back().remainingSize;
    }
    return m_datablockEntries.empty() ? 0U : m_datablockEntries.back().remainingSize;
}

void SessionData::DecreaseRemainingSize(bool logicalBlock, uint32_t size) {
    LogDebug() << "Decrease size to be transferred for currently transferred datablock" << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        m_rfs->DecreaseRemainingSize(size);
    } else if (logicalBlock) {
        if (!m_logicalBlockEntries.empty()) {
            Decrease(m_logicalBlockEntries.back().remainingSize, size);
        }
    } else if (DatablockEntry* current = CurrentDatablockLocked()) {
        Decrease(current->remainingSize, size);
    }
}

void SessionData::FinishBlockTransfer(bool logicalBlock) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        m_rfs->SetTransferActive(logicalBlock);
    } else if (logicalBlock) {
        if (!m_logicalBlockEntries.empty()) {
            m_logicalBlockEntries.back().finished = true;
        }
    } else if (DatablockEntry* current = CurrentDatablockLocked()) {
        current->finished = true;
    }
}

std::vector<uint8_t> SessionData::GetCurrentBlockId(bool logicalBlock) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        return m_rfs->GetTransferInfo().logicalBlockId;
    }
    if (logicalBlock) {
        return m_logicalBlockEntries.empty() ? std::vector<uint8_t>() : m_logicalBlockEntries.back().logicalBlockId;
    }
    const DatablockEntry* current = CurrentDatablockLocked();
    return current != nullptr ? current->id : std::vector<uint8_t>();
}

void SessionData::ResetTransferProgress() {
    LogDebug() << "Resetting unfinished transfer progress " << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lock(m_mutex);
    ResetTransferProgressLocked();
}

void SessionData::ResetTransferProgressLocked() {
    if (m_rfs->IsTransferActive()) {
        m_rfs->ClearData();
    } else {
        if (!m_logicalBlockEntries.empty() && !m_logicalBlockEntries.back().finished) {
            m_requestDownloadFinished = true;
            m_logicalBlockEntries.pop_back();
            m_lastBlockSequenceCounter = 0;
        }
        if (!m_datablockEntries.empty() && !m_datablockEntries.back().finished) {
            m_lastBlockSequenceCounter = 0;
        }
    }
    DiscardUnfinishedDatablocksLocked();
}

void SessionData::DiscardUnfinishedDatablocks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    DiscardUnfinishedDatablocksLocked();
}

void SessionData::DiscardUnfinishedDatablocksLocked() {
    LogDebug() << "Discarding unfinished datablocks" << VLMR_FILE_LINE;
    m_logicalBlockEntries.erase(std::remove_if(m_logicalBlockEntries.begin(), m_logicalBlockEntries.end(),
                                               [](const LogicalBlockTransferEntry& entry) { return !entry.finished; }),
                                m_logicalBlockEntries.end());
    m_datablockEntries.erase(std::remove_if(m_datablockEntries.begin(), m_datablockEntries.end(),
                                            [](const DatablockEntry& entry) { return !entry.finished; }),
                             m_datablockEntries.end());
}

bool SessionData::EraseBlockEntry(bool logicalBlock, size_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (logicalBlock) {
        if (index >= m_logicalBlockEntries.size()) {
            return false;
        }
        m_logicalBlockEntries.erase(m_logicalBlockEntries.begin() + static_cast<std::ptrdiff_t>(index));
        return true;
    }
    if (index >= m_datablockEntries.size()) {
        return false;
    }
    m_datablockEntries.erase(m_datablockEntries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

LogicalBlockTransferEntry SessionData::GetCurrentLogicalBlockEntry() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logicalBlockEntries.empty() ? LogicalBlockTransferEntry() : m_logicalBlockEntries.back();
}

bool SessionData::ClearLogicalBlockEntries() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logicalBlockEntries.clear();
    m_requestDownloadFinished = true;
    m_memoryFailureFlag = false;
    m_dependencyCheckResult = false;
    m_fingerprintFlag = false;
    m_lastBlockSequenceCounter = 0;
    return true;
}

// ---- datablocks -----------------------------------------------------------

DatablockEntry* SessionData::CurrentDatablockLocked() {
    auto it = std::find_if(m_datablockEntries.begin(), m_datablockEntries.end(),
                           [this](const DatablockEntry& entry) { return entry.id == m_currentDatablockId; });
    return it != m_datablockEntries.end() ? &*it : nullptr;
}

void SessionData::AddDatablock(const std::vector<uint8_t>& size, const std::vector<uint8_t>& id,
                               const std::vector<uint8_t>& data, int value) {
    DatablockEntry entry;
    entry.id = id;
    entry.size = size;
    entry.remainingSize = static_cast<uint32_t>(FromBigEndian(size));
    entry.data = data;
    entry.value = static_cast<uint8_t>(value);
    entry.finished = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_datablockEntries.push_back(std::move(entry));
}

void SessionData::AddDatablockEntry(const DatablockEntry& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_datablockEntries.push_back(entry);
}

std::vector<DatablockEntry> SessionData::GetDatablocks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_datablockEntries;
}

void SessionData::SetDatablockInfo(const std::vector<uint8_t>& id, const std::vector<uint8_t>& info, int value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_currentDatablockId = id;
    m_currentDatablockInfo = info;
    m_currentDatablockValue = value;
}

DatablockEntry SessionData::GetCurrentDatablock() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const DatablockEntry* current = CurrentDatablockLocked();
    return current != nullptr ? *current : DatablockEntry();
}

void SessionData::GetCurrentDatablockChunk(uint32_t chunkSize, uint32_t chunkIndex, std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const DatablockEntry* current = CurrentDatablockLocked();
    if (current == nullptr) {
        return;
    }
    // In 64 bits: a large index must find nothing, not a wrapped offset.
    const uint64_t offset = static_cast<uint64_t>(chunkSize) * chunkIndex;
    const size_t length = current->data.size();
    if (offset >= length) {
        return;
    }
    const size_t count = std::min<size_t>(chunkSize, length - offset);
    out.assign(current->data.begin() + static_cast<std::ptrdiff_t>(offset),
               current->data.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

void SessionData::ClearDatablocks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_datablockEntries.clear();
    m_currentDatablockId.clear();
    m_currentDatablockInfo.clear();
    m_currentDatablockValue = 0;
    m_lastBlockSequenceCounter = 0;
}

// ---- signature feeding ----------------------------------------------------

void SessionData::FeedBlockHeaderToSignatureLocked(uint32_t memorySize, const std::vector<uint8_t>& logicalBlockId) {
    if (m_publicKey.empty()) {
        LogWarn() << "KSV public key is not loaded" << VLMR_FILE_LINE;
        return;
    }
    if (!m_signatureVerifier) {
        LogError() << "SessionData: no signature verifier; block header not fed" << VLMR_FILE_LINE;
        return;
    }
    // Every block's signature covers that block alone.
    m_signatureVerifier->Initialize(m_publicKey);
    if (logicalBlockId.empty() || logicalBlockId.size() > kBlockIdFieldSize) {
        LogError() << "Invalid size of 'logicalBlockId' vector: " << static_cast<uint64_t>(logicalBlockId.size())
                   << VLMR_FILE_LINE;
        return;
    }
    std::vector<uint8_t> header(kBlockHeaderSize, 0x00);
    std::copy(logicalBlockId.begin(), logicalBlockId.end(),
              header.begin() + static_cast<std::ptrdiff_t>(kBlockIdFieldSize - logicalBlockId.size()));
    const std::vector<uint8_t> size = Uint32ToBigEndian(memorySize);
    std::copy(size.begin(), size.end(), header.begin() + static_cast<std::ptrdiff_t>(kBlockIdFieldSize));
    m_signatureVerifier->Update(header);
}

void SessionData::FeedRfsToSignature() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_logicalBlockEntries.empty()) {
        return;
    }
    const LogicalBlockTransferEntry transfer = m_rfs->GetTransferInfo();
    FeedBlockHeaderToSignatureLocked(transfer.memorySize, transfer.logicalBlockId);
    if (m_signatureVerifier) {
        m_signatureVerifier->Update(m_rfs->GetData());
    }
}

bool SessionData::IsSignatureValid(const std::vector<uint8_t>& signature) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_signatureResult == 0) {
        bool valid = false;
        if (m_signatureVerifier) {
            valid = m_signatureVerifier->Verify(signature);
        } else {
            LogError() << "SessionData: no signature verifier; signature counts as invalid" << VLMR_FILE_LINE;
        }
        m_signatureResult = valid ? 1 : 2;
    }
    return m_signatureResult == 1;
}

void SessionData::SetSignatureResult(uint8_t result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signatureResult = result;
}

uint8_t SessionData::GetSignatureResult() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signatureResult;
}

// ---- flashing thread ------------------------------------------------------
// The slot is guarded by its own mutex; a replaced or dropped worker is
// released after the lock, as its destructor joins a thread that itself calls
// back into this object. FlashingThreadSlot hands out the unguarded slot.

void SessionData::SetFlashingThread(std::shared_ptr<FlashingThread> flashingThread) {
    {
        std::lock_guard<std::mutex> lock(m_flashingThreadMutex);
        m_flashingThread.swap(flashingThread);
    }
    flashingThread.reset();
}

std::shared_ptr<FlashingThread> SessionData::GetFlashingThread() {
    std::lock_guard<std::mutex> lock(m_flashingThreadMutex);
    return m_flashingThread;
}

std::shared_ptr<FlashingThread>& SessionData::FlashingThreadSlot() { return m_flashingThread; }

void SessionData::ResetFlashingThread() { TakeFlashingThread().reset(); }

std::shared_ptr<FlashingThread> SessionData::TakeFlashingThread() {
    std::lock_guard<std::mutex> lock(m_flashingThreadMutex);
    return std::move(m_flashingThread);
}

namespace {
using SteadyClock = std::chrono::steady_clock;
// How often a wait for the transfer lock looks at the termination flag, which
// signals nothing; as often as the UCM adaptor's waits do.
constexpr std::chrono::milliseconds kTransferLockPoll{20};

// now + timeout, at most the clock's last point: a bound derived from a huge
// configured time-out must not wrap into the past.
SteadyClock::time_point DeadlineAfter(SteadyClock::time_point now, std::chrono::milliseconds timeout) {
    if (timeout <= std::chrono::milliseconds::zero()) {
        return now;
    }
    const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::time_point::max() - now);
    return timeout >= room ? SteadyClock::time_point::max() : now + timeout;
}
}  // namespace

std::chrono::milliseconds SessionData::TransferLockTimeoutFor(std::chrono::milliseconds ucmResponseTimeout) {
    constexpr int64_t kHolderCalls = 6;
    const int64_t timeout = std::max<int64_t>(ucmResponseTimeout.count(), 0);
    const int64_t most = std::numeric_limits<int64_t>::max();
    if (timeout > (most - timeout / 10) / kHolderCalls) {
        return std::chrono::milliseconds(most);
    }
    return std::chrono::milliseconds(kHolderCalls * timeout + timeout / 10);
}

SessionData::TransferLock SessionData::LockTransfer(std::chrono::milliseconds timeout) {
    return AcquireTransfer(timeout, nullptr);
}

SessionData::TransferLock SessionData::AcquireTransfer(std::chrono::milliseconds timeout, const uint64_t* turn) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_transferMutex);
    const SteadyClock::time_point deadline = DeadlineAfter(SteadyClock::now(), timeout);
    while (m_transferDepth != 0 && m_transferHolder != self) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (now >= deadline || IsTerminationRequested()) {
            return TransferLock();
        }
        // Woken by the release, or in time to look at the flag again.
        m_transferReleased.wait_until(lock, std::min(now + kTransferLockPoll, deadline));
    }
    if (m_transferDepth == 0) {
        if (turn != nullptr && m_transferHolders != *turn) {
            return TransferLock(nullptr, true);
        }
        ++m_transferHolders;
    }
    m_transferHolder = self;
    ++m_transferDepth;
    return TransferLock(this);
}

SessionData::TransferLock SessionData::WaitForTransfer(const char* caller) { return WaitForTransfer(caller, nullptr); }

SessionData::TransferLock SessionData::WaitForTurn(const char* caller,
                                                   const std::shared_ptr<KivDMConversation>& conversation) {
    const uint64_t sessionChanges = conversation ? conversation->SessionChanges() : 0;
    uint64_t holders = 0;
    {
        std::lock_guard<std::mutex> lock(m_transferMutex);
        holders = m_transferHolders;
    }
    TransferLock lock = WaitForTransfer(caller, &holders);
    if (lock.owns_lock() && conversation && conversation->SessionChanges() != sessionChanges) {
        lock = TransferLock(nullptr, true);
    }
    if (lock.Overtaken()) {
        LogError() << caller << ": a later request or the end of the diagnostic session came first; acting on nothing"
                   << VLMR_FILE_LINE;
    }
    return lock;
}

SessionData::TransferLock SessionData::WaitForTransfer(const char* caller, const uint64_t* turn) {
    TransferLock lock = AcquireTransfer(std::chrono::milliseconds::zero(), turn);
    if (lock.owns_lock() || lock.Overtaken()) {
        return lock;
    }
    LogInfo() << caller << ": waiting for the previous download step to end" << VLMR_FILE_LINE;
    lock = AcquireTransfer(TransferLockTimeout(), turn);
    if (!lock.owns_lock() && !lock.Overtaken()) {
        LogError() << caller << ": the previous download step did not end within " << TransferLockTimeout().count()
                   << " ms, or termination was requested" << VLMR_FILE_LINE;
    }
    return lock;
}

SessionData::TransferLock& SessionData::TransferLock::operator=(TransferLock&& other) noexcept {
    if (this != &other) {
        unlock();
        m_session = other.m_session;
        m_overtaken = other.m_overtaken;
        other.m_session = nullptr;
    }
    return *this;
}

void SessionData::TransferLock::unlock() {
    SessionData* const session = m_session;
    if (session == nullptr) {
        return;
    }
    m_session = nullptr;
    {
        std::lock_guard<std::mutex> lock(session->m_transferMutex);
        if (--session->m_transferDepth != 0) {
            return;
        }
        session->m_transferHolder = std::thread::id();
    }
    session->m_transferReleased.notify_all();
}

namespace {
// An abort that finds a download step still running after the bound goes
// on without the lock: the end of a session must not be lost.
SessionData::TransferLock LockForAbort(SessionData& session, const char* caller) {
    SessionData::TransferLock lock = session.LockTransfer(session.TransferLockTimeout());
    if (!lock.owns_lock()) {
        LogError() << caller << ": the previous download step did not end within "
                   << session.TransferLockTimeout().count()
                   << " ms, or termination was requested; going on without waiting for it" << VLMR_FILE_LINE;
    }
    return lock;
}
}  // namespace

void SessionData::AbortLocalTransfer() {
    const TransferLock transfer = LockForAbort(*this, "SessionData::AbortLocalTransfer");
    std::shared_ptr<DownloadWorker> worker = TakeFlashingThread();
    if (worker) {
        LogInfo() << "SessionData::AbortLocalTransfer: stopping the download worker" << VLMR_FILE_LINE;
        // Joined before the transfer state is reset: a piece still buffered
        // must not land in the next transfer.
        worker->stopAndJoin();
        worker.reset();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rfs->IsTransferActive()) {
        LogInfo() << "SessionData::AbortLocalTransfer: ending the unfinished dpt transfer" << VLMR_FILE_LINE;
        m_rfs->ClearData();
        m_rfs->SetTransferActive(false);
    }
    if (!m_requestDownloadFinished) {
        LogInfo() << "SessionData::AbortLocalTransfer: abandoning the open download" << VLMR_FILE_LINE;
    }
    m_requestDownloadFinished = true;
    m_lastBlockSequenceCounter = 0;
    m_firstDataTransferred = false;
    DiscardUnfinishedDatablocksLocked();
}

// ---- plain session fields -------------------------------------------------

void SessionData::SetLastBlockSequenceCounter(uint32_t counter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastBlockSequenceCounter = counter;
}

uint32_t SessionData::GetLastBlockSequenceCounter() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastBlockSequenceCounter;
}

void SessionData::SetRequestDownloadFinished(bool finished) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requestDownloadFinished = finished;
}

bool SessionData::IsRequestDownloadFinished() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requestDownloadFinished;
}

bool SessionData::IsFirstDataTransfered() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_firstDataTransferred;
}

void SessionData::SetFirstDataTransfered(bool transferred) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firstDataTransferred = transferred;
}

std::string SessionData::LogIdToName(const std::vector<uint8_t>& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& entry : m_logNames) {
        if (entry.second == id) {
            return entry.first;
        }
    }
    return std::string();
}

std::string SessionData::GetLogCounter(const std::vector<uint8_t>& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_logCounters.find(id);
    return it != m_logCounters.end() ? it->second : std::string();
}

std::vector<uint8_t> SessionData::LogNameToId(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_logNames.find(name);
    return it != m_logNames.end() ? it->second : std::vector<uint8_t>();
}

void SessionData::IncrementLogCounter(const std::vector<uint8_t>& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_logCounters.find(id);
    if (it == m_logCounters.end()) {
        return;
    }
    uint64_t value = 0;
    const std::string& text = it->second;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        LogError() << "SessionData: log counter is not a number: " << text << VLMR_FILE_LINE;
        return;
    }
    it->second = std::to_string(value + 1);
}

void SessionData::SetFingerprintFlag(bool flag) {
    LogInfo() << "SessionData: Set fingerprint flag to: " << (flag ? "1" : "0") << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fingerprintFlag = flag;
}

bool SessionData::GetFingerprintFlag() {
    bool flag = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        flag = m_fingerprintFlag;
    }
    LogInfo() << "SessionData: Fingerprint flag is: " << (flag ? "1" : "0") << VLMR_FILE_LINE;
    return flag;
}

std::shared_ptr<RFS> SessionData::GetRFS() { return m_rfs; }

std::vector<uint16_t> SessionData::GetActiveRoutines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_activeRoutines;
}

void SessionData::AddActiveRoutine(uint16_t routineId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_activeRoutines.push_back(routineId);
}

void SessionData::RemoveActiveRoutine(uint16_t routineId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = std::find(m_activeRoutines.begin(), m_activeRoutines.end(), routineId);
    if (it != m_activeRoutines.end()) {
        m_activeRoutines.erase(it);
    }
}

void SessionData::SetMemoryFailureFlag(bool flag) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_memoryFailureFlag = flag;
}

bool SessionData::GetMemoryFailureFlag() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memoryFailureFlag;
}

void SessionData::SetDependencyCheckResult(bool result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dependencyCheckResult = result;
}

bool SessionData::GetDependencyCheckResult() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dependencyCheckResult;
}

void SessionData::SetUcmCopyInProgress(bool inProgress) {
    LogInfo() << "SessionData: Set UcmCopyInProgress Flag to: " << (inProgress ? "true" : "false") << VLMR_FILE_LINE;
    m_ucmCopyInProgress.store(inProgress);
}

bool SessionData::IsUcmCopyInProgress() { return m_ucmCopyInProgress.load(); }

void SessionData::SetProgrammingState(CurrentStatusType state) { m_programmingState.store(state); }

CurrentStatusType SessionData::GetProgrammingState() { return m_programmingState.load(); }

std::string SessionData::GetProgrammingStateText() {
    switch (m_programmingState.load()) {
        case kProgrammingStateReady:
            return "READY";
        case kProgrammingStateBusy:
            return "BUSY";
        default:
            return "RESERVED";
    }
}

std::string SessionData::GetIvdRequestCluster() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ivdRequestCluster;
}

void SessionData::SetIvdRequestCluster(const std::string& cluster) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ivdRequestCluster = cluster;
}

std::string SessionData::GetIvdCancelCluster() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ivdCancelCluster;
}

void SessionData::SetIvdCancelCluster(const std::string& cluster) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ivdCancelCluster = cluster;
}

// ---- software-update state ------------------------------------------------

std::shared_ptr<SWupdateStatus> SessionData::GetSWupdateStatus() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_swUpdateStatus;
}

void SessionData::SetSWupdateStatus(std::shared_ptr<SWupdateStatus> status) {
    std::shared_ptr<SWupdateStatus> previous;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        previous = std::exchange(m_swUpdateStatus, std::move(status));
    }
}

SWupdateState SessionData::GetSWupdateState() {
    const std::shared_ptr<SWupdateStatus> status = GetSWupdateStatus();
    return status ? status->GetStatus() : SWupdateState::INVALID;
}

bool SessionData::QueryStatus(const char* label, std::initializer_list<SWupdateState> states) {
    const std::shared_ptr<SWupdateStatus> status = GetSWupdateStatus();
    const SWupdateState state = status ? status->GetStatus() : SWupdateState::INVALID;
    LogInfo() << label << toString(state) << VLMR_FILE_LINE;
    return status && std::find(states.begin(), states.end(), state) != states.end();
}

bool SessionData::CheckRollbackInProgress() {
    return QueryStatus("SessionData::CheckRollbackInProgress: SWupdateStatus=", {SWupdateState::ROLLBACK_IN_PROGRESS});
}

bool SessionData::IsSWDownloadFinished() {
    return QueryStatus("SessionData::IsSWDownloadFinished: SWupdateStatus=",
                       {SWupdateState::INSTALL_COMPLETE, SWupdateState::INSTALL_COMPLETE_PREPARED4SD});
}

bool SessionData::IsStatusAllowingIVDCheck() {
    return QueryStatus("SessionData::IsStatusAllowingIVDCheck: SWupdateStatus=",
                       {SWupdateState::IDLE, SWupdateState::UPDATE_IN_PROGRESS_COMMIT,
                        SWupdateState::UPDATE_IN_PROGRESS_CLOSE, SWupdateState::ROLLBACK_IN_PROGRESS});
}

void SessionData::UpdateSwStatus(SWupdateState state, const std::string& caller) {
    (void)::UpdateSwStatus(GetSWupdateStatus(), state, caller);
}

// ---- reset of an interrupted download -------------------------------------

void SessionData::ResetProgramming(const std::shared_ptr<UCM::UCMAdaptorInterface>& ucm,
                                   const std::shared_ptr<PersistentDataStorage>& database,
                                   const std::shared_ptr<KivDMConversation>& conversation,
                                   const std::shared_ptr<DTCService>& cleanupDtc) {
    // The state is read under the lock: a download starting meanwhile changes it.
    const TransferLock transfer = LockForAbort(*this, "SessionData::ResetProgramming");
    const SWupdateState state = GetSWupdateState();
    if (state != SWupdateState::TRANSFER_IN_PROGRESS && state != SWupdateState::INSTALL_IN_PROGRESS) {
        LogInfo() << "ResetProgramming: wrong State for Reset Programming; nothing to do." << VLMR_FILE_LINE;
        return;
    }
    LogInfo() << "+SessionData::ResetProgramming" << VLMR_FILE_LINE;
    SetUcmCopyInProgress(true);

    if (ucm && database && conversation) {
        // The worker must not hand UCM a piece after the transfer ended there.
        AbortLocalTransfer();
        const uint32_t sessionId = GetUcmSessionId();
        if (state == SWupdateState::TRANSFER_IN_PROGRESS) {
            (void)ucm->TransferExit(sessionId);
        } else {
            (void)ucm->CancelUpdate(sessionId);
        }
        UpdateSwStatus(SWupdateState::UNDO_DOWNLOAD, "ResetProgramming");
        (void)database->SyncToStorage();
        const bool closed = ucm->DOClose(sessionId, false);
        conversation->cancel();

        ClearLogicalBlockEntries();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_rfs->ClearData();
            // An interrupted dpt download must not stay open: the next logical
            // block would be taken for record bytes and never reach UCM.
            if (m_rfs->IsTransferActive()) {
                LogInfo() << "ResetProgramming: ending the unfinished dpt transfer" << VLMR_FILE_LINE;
                m_rfs->SetTransferActive(false);
            }
        }
        ResetTransferProgress();

        if (closed) {
            UpdateProgrammingAttemptsCounter();
            RemoveUpdatedData();
            (void)database->RemoveUcmSessionId();
            SetUcmSessionId(kNoUcmSession);
            UpdateSwStatus(SWupdateState::IDLE, "ResetProgramming");
            (void)database->SyncToStorage();
        } else {
            LogError() << "UCM Close session failed" << VLMR_FILE_LINE;
        }
    } else {
        LogError() << "SessionData::ResetProgramming: some of input pointers are null!" << VLMR_FILE_LINE;
    }

    const bool passed = GetSWupdateState() == SWupdateState::IDLE && GetProgrammingState() != kProgrammingStateBusy;
    if (!cleanupDtc) {
        LogError() << "ResetProgramming: no CLEANUP ERROR DTC service; DTC CLEANUP ERROR not set" << VLMR_FILE_LINE;
    } else if (passed) {
        (void)cleanupDtc->SetDTCState(DTC_PASSED, 1U);
        LogInfo() << "ResetProgramming: Raise Cleanup Error : DTC CLEANUP ERROR to PASSED" << VLMR_FILE_LINE;
    } else {
        (void)cleanupDtc->SetDTCState(DTC_FAILED, 1U);
        LogInfo() << "ResetProgramming: Raise Cleanup Error : DTC CLEANUP ERROR to FAILED" << VLMR_FILE_LINE;
    }

    SetUcmCopyInProgress(false);
    LogInfo() << "-SessionData::ResetProgramming" << VLMR_FILE_LINE;
}

void SessionData::UpdateProgrammingAttemptsCounter() {
    LogInfo() << "SessionData: UpdateProgrammingAttemptsCounter" << VLMR_FILE_LINE;
    (void)CopyProgrammingAttemptsCounters(m_database);
}

void SessionData::RemoveUpdatedData() {
    LogInfo() << "SessionData: Removing updated data." << VLMR_FILE_LINE;
    if (!m_database) {
        LogError() << "SessionData: Removing updated data: no database" << VLMR_FILE_LINE;
        return;
    }
    bool ok = true;
    LogicalBlocks installed;
    if (!m_database->ReadInstalledLogicalBlocks(installed)) {
        LogError() << "SessionData: cannot read the installed logical blocks; updated logical blocks left unchanged"
                   << VLMR_FILE_LINE;
        ok = false;
    } else if (!m_database->WriteUpdatedLogicalBlocks(installed)) {
        LogError() << "SessionData: cannot write the updated logical blocks" << VLMR_FILE_LINE;
        ok = false;
    }
    EcuInfo ecuInfo = EcuInfo::ProgrammingNotConsistent;
    if (!m_database->ReadInstalledEcuInfo(ecuInfo)) {
        LogError() << "SessionData: cannot read the installed ECU info; updated ECU info left unchanged"
                   << VLMR_FILE_LINE;
        ok = false;
    } else if (!m_database->WriteUpdatedEcuInfo(ecuInfo)) {
        LogError() << "SessionData: cannot write the updated ECU info" << VLMR_FILE_LINE;
        ok = false;
    }
    if (ok) {
        LogDebug() << "SessionData: remove_updated succeeded!" << VLMR_FILE_LINE;
    }
}
