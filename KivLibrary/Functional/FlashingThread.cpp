#include "KivLibrary/Functional/FlashingThread.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "uds/Message.h"

#include <exception>
#include <utility>

namespace {
constexpr uint8_t kTransferDataSid = 0x36;
constexpr uint8_t kGeneralProgrammingFailure = 0x72;

std::string Seconds(std::chrono::milliseconds duration) {
    return std::to_string(std::chrono::duration<double>(duration).count());
}

FlashingThread::Timeouts Resolved(FlashingThread::Timeouts timeouts, const std::shared_ptr<SessionData>& session) {
    if (timeouts.freeBuffer > std::chrono::milliseconds::zero() &&
        timeouts.ucmCall > std::chrono::milliseconds::zero()) {
        return timeouts;
    }
    const std::shared_ptr<KivConfiguration> configuration = session ? session->GetConfiguration() : nullptr;
    const std::chrono::milliseconds responseTimeout =
        configuration ? UCM::UCMAdaptorSettings::FromConfiguration(*configuration).responseTimeout
                      : UCM::UCMAdaptorSettings::kDefaultResponseTimeout;
    const FlashingThread::Timeouts derived = FlashingThread::Timeouts::ForUcmResponseTimeout(responseTimeout);
    if (timeouts.freeBuffer <= std::chrono::milliseconds::zero()) {
        timeouts.freeBuffer = derived.freeBuffer;
    }
    if (timeouts.ucmCall <= std::chrono::milliseconds::zero()) {
        timeouts.ucmCall = derived.ucmCall;
    }
    return timeouts;
}
}  // namespace

FlashingThread::Timeouts FlashingThread::Timeouts::ForUcmResponseTimeout(std::chrono::milliseconds responseTimeout) {
    // One blocking call ahead in the adaptor's queue, then this one, and a
    // tenth for the hand-overs between them. A producer's buffer is freed
    // once the call in progress has ended, so it waits as long.
    Timeouts timeouts;
    timeouts.ucmCall = 2 * responseTimeout + responseTimeout / 10;
    timeouts.freeBuffer = timeouts.ucmCall;
    return timeouts;
}

struct FlashingThread::Shared {
    Shared(const std::shared_ptr<SessionData>& session, std::shared_ptr<UCM::UCMAdaptorInterface> ucm, Timeouts limits)
        : sessionData(session), ucmAdaptor(std::move(ucm)), timeouts(limits) {}

    // Weak: the session holds the worker.
    const std::weak_ptr<SessionData> sessionData;
    const std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor;
    const Timeouts timeouts;

    std::mutex mutex;
    // A buffer was taken out, flashing ended, or the thread ended.
    std::condition_variable cvFlashingFinished;
    // A buffer was filled or the task finished.
    std::condition_variable cvDataReady;
    bool taskFinished = false;
    bool flashingStop = false;
    bool threadEnded = false;
    size_t fillBufferIndex = 0;
    size_t flashBufferIndex = 0;
    std::array<FlashingBuffer, 2> buffer;
    // Counts the blocks taken out of a buffer: a drain that sees it move is
    // making progress.
    uint64_t blocksTaken = 0;
    // A drain saw no progress within one call's bound: the thread is stuck in UCM.
    bool stalled = false;
    std::vector<uint8_t> errorResponse;

    // Held by the thread while it writes into the session; once `abandoned`
    // is set under it, the thread never touches the session again. Lock
    // order: `mutex`, then `sessionGate`; the thread takes the gate alone.
    std::mutex sessionGate;
    bool abandoned = false;
};

FlashingThread::FlashingThread(std::shared_ptr<SessionData> sessionData,
                               std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor)
    : FlashingThread(std::move(sessionData), std::move(ucmAdaptor), Timeouts{}) {}

FlashingThread::FlashingThread(std::shared_ptr<SessionData> sessionData,
                               std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor, Timeouts timeouts)
    : m_shared(std::make_shared<Shared>(sessionData, std::move(ucmAdaptor), Resolved(timeouts, sessionData))) {
    std::shared_ptr<Shared> shared = m_shared;
    m_flashingThread = std::make_shared<std::thread>([shared] { flashMainLoop(shared); });
}

FlashingThread::~FlashingThread() { stopAndJoin(); }

bool FlashingThread::waitForAvailableBuffer(std::vector<uint8_t>&& data, uint32_t ucmBlockSequenceCounter) {
    LogInfo() << "+ FlashingThread::waitForAvailableBuffer" << VLMR_FILE_LINE;
    if (data.empty()) {
        LogWarn() << "passed empty data for writing to flash" << VLMR_FILE_LINE;
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        const size_t index = m_shared->fillBufferIndex;
        m_shared->fillBufferIndex = (index + 1) % 2;
        if (!waitForEmptyingFillBuffer(index, lock)) {
            LogError() << "FlashingThread::waitForAvailableBuffer: Timeout on waiting for emptying of m_buffer["
                       << static_cast<uint64_t>(index) << "] => return false" << VLMR_FILE_LINE;
            // UCM needs the pieces in order: none after this one can be taken.
            failLocked(*m_shared);
            lock.unlock();
            m_shared->cvFlashingFinished.notify_all();
            return false;
        }
        if (m_shared->flashingStop) {
            LogError() << "FlashingThread::waitForAvailableBuffer: m_flashingStop=true => return false"
                       << VLMR_FILE_LINE;
            return false;
        }
        writeDataToBuffer(std::move(data), ucmBlockSequenceCounter, index);
    }
    LogInfo() << "FlashingThread::waitForAvailableBuffer: m_cvDataReady.notify_all()" << VLMR_FILE_LINE;
    m_shared->cvDataReady.notify_all();
    LogInfo() << "- FlashingThread::waitForAvailableBuffer: return true" << VLMR_FILE_LINE;
    return true;
}

bool FlashingThread::waitForEmptyingFillBuffer(size_t bufferIndex, std::unique_lock<std::mutex>& lock) {
    const std::chrono::milliseconds timeout = m_shared->timeouts.freeBuffer;
    const size_t index = bufferIndex % 2;
    LogInfo() << "+ FlashingThread::waitForEmptyingFillBuffer: waiting " << Seconds(timeout)
              << " sec on LOCK(m_mutexFlashingMutex), with condition m_buffer[" << static_cast<uint64_t>(index)
              << "] IS empty" << VLMR_FILE_LINE;
    const bool finished = m_shared->cvFlashingFinished.wait_for(
        lock, timeout, [this, index] { return m_shared->buffer[index].data.empty() || m_shared->flashingStop; });
    LogInfo() << "- FlashingThread::waitForEmptyingFillBuffer: finishedWaiting (" << Seconds(timeout)
              << " sec) =" << (finished ? 1 : 0) << VLMR_FILE_LINE;
    return finished;
}

void FlashingThread::writeDataToBuffer(std::vector<uint8_t>&& data, uint32_t ucmBlockSequenceCounter,
                                       size_t bufferIndex) {
    LogDebug() << "+ FlashingThread::writeDataToBuffer(lastBlockSequenceCounter=" << ucmBlockSequenceCounter
               << ", m_buffer[" << static_cast<uint64_t>(bufferIndex) << "], size "
               << static_cast<uint64_t>(data.size()) << ")" << VLMR_FILE_LINE;
    FlashingBuffer& buffer = m_shared->buffer[bufferIndex % 2];
    buffer.data = std::move(data);
    buffer.ucmBlockSequenceCounter = ucmBlockSequenceCounter;
}

void FlashingThread::flashMainLoop(const std::shared_ptr<Shared>& shared) {
    LogInfo() << "+ FlashingThread::flashMainLoop" << VLMR_FILE_LINE;
    std::unique_lock<std::mutex> lock(shared->mutex);
    while (true) {
        // The predicate is tested under the same mutex the producer fills the
        // buffer under, so no wake-up is lost.
        shared->cvDataReady.wait(
            lock, [&] { return shared->taskFinished || !shared->buffer[shared->flashBufferIndex].data.empty(); });
        if (shared->taskFinished) {
            LogInfo() << "- FlashingThread::flashMainLoop: m_taskFinished=true" << VLMR_FILE_LINE;
            break;
        }
        const size_t index = shared->flashBufferIndex;
        FlashingBuffer block;
        block.data = std::move(shared->buffer[index].data);
        block.ucmBlockSequenceCounter = shared->buffer[index].ucmBlockSequenceCounter;
        shared->buffer[index].data.clear();
        shared->flashBufferIndex = (index + 1) % 2;
        ++shared->blocksTaken;
        lock.unlock();
        // The buffer is free for the next chunk while UCM takes this one.
        shared->cvFlashingFinished.notify_all();

        bool flashed = false;
        try {
            LogInfo() << "FlashingThread::flashMainLoop: flashing data of m_buffer[" << static_cast<uint64_t>(index)
                      << "] to UCM" << VLMR_FILE_LINE;
            flashed = flashDataToUcm(*shared, block);
        } catch (const std::exception& e) {
            LogError() << "FlashingThread::flashMainLoop: exception while flashing: " << e.what() << VLMR_FILE_LINE;
        } catch (...) {
            LogError() << "FlashingThread::flashMainLoop: unknown exception while flashing" << VLMR_FILE_LINE;
        }
        if (!flashed) {
            LogError() << "FlashingThread::flashDataToUcm: TransferData() failed! : LOCK(m_errorResponseMutex)"
                       << VLMR_FILE_LINE;
        }

        lock.lock();
        if (!flashed) {
            failLocked(*shared);
            LogInfo() << "FlashingThread::flashDataToUcm: m_flashingStop=true && m_cvFlashingFinished.notify_all()"
                      << VLMR_FILE_LINE;
            lock.unlock();
            shared->cvFlashingFinished.notify_all();
            lock.lock();
        }
        LogInfo() << "FlashingThread::flashMainLoop: new m_flashBufferIndex="
                  << static_cast<uint64_t>(shared->flashBufferIndex) << VLMR_FILE_LINE;
    }
    shared->threadEnded = true;
    lock.unlock();
    shared->cvFlashingFinished.notify_all();
    LogInfo() << "- FlashingThread::flashMainLoop" << VLMR_FILE_LINE;
}

bool FlashingThread::flashDataToUcm(Shared& shared, FlashingBuffer& block) {
    LogInfo() << "+ FlashingThread::flashDataToUcm: UcmBlockSequenceCounter=" << block.ucmBlockSequenceCounter
              << VLMR_FILE_LINE;
    bool toUcm = false;
    uint32_t ucmSessionId = SessionData::kNoUcmSession;
    {
        // Released before the UCM call: the session may end meanwhile.
        const std::shared_ptr<SessionData> session = shared.sessionData.lock();
        if (!session) {
            LogError() << "FlashingThread::flashDataToUcm: the session has ended" << VLMR_FILE_LINE;
            return false;
        }
        const std::shared_ptr<RFS> rfs = session->GetRFS();
        toUcm = !rfs || !rfs->IsTransferActive();
        ucmSessionId = session->GetUcmSessionId();
    }
    if (toUcm) {
        LogInfo() << "FlashingThread::flashDataToUcm: ! IsInProgress() : UcmBlockSequenceCounter="
                  << block.ucmBlockSequenceCounter << VLMR_FILE_LINE;
        if (!shared.ucmAdaptor) {
            LogError() << "FlashingThread::flashDataToUcm: no UCM adaptor" << VLMR_FILE_LINE;
            return false;
        }
        {
            std::lock_guard<std::mutex> gate(shared.sessionGate);
            if (shared.abandoned) {
                return false;
            }
        }
        if (!shared.ucmAdaptor->TransferData(ucmSessionId, block.data, block.ucmBlockSequenceCounter)) {
            return false;
        }
    }
    // Declared before the gate, so a last reference is dropped after the
    // gate is released.
    std::shared_ptr<SessionData> session;
    {
        std::lock_guard<std::mutex> gate(shared.sessionGate);
        if (shared.abandoned) {
            LogError() << "FlashingThread::flashDataToUcm: the transfer gave up on this piece; not fed"
                       << VLMR_FILE_LINE;
            return false;
        }
        session = shared.sessionData.lock();
        if (!session) {
            LogError() << "FlashingThread::flashDataToUcm: the session has ended" << VLMR_FILE_LINE;
            return false;
        }
        session->AddTransferredData(block.data);
    }
    LogInfo() << "- FlashingThread::flashDataToUcm" << VLMR_FILE_LINE;
    return true;
}

void FlashingThread::invalidateAllBuffers(Shared& shared) {
    LogInfo() << "+ FlashingThread::invalidateAllBuffers: LOCK(m_mutexFlashingMutex)" << VLMR_FILE_LINE;
    for (FlashingBuffer& buffer : shared.buffer) {
        buffer.data.clear();
    }
    LogInfo() << "- FlashingThread::invalidateAllBuffers" << VLMR_FILE_LINE;
}

void FlashingThread::failLocked(Shared& shared) {
    {
        // Cut off before the mutex is released: a piece UCM takes after this
        // point must not reach a failed transfer's session.
        std::lock_guard<std::mutex> gate(shared.sessionGate);
        shared.abandoned = true;
    }
    if (shared.errorResponse.empty()) {
        shared.errorResponse = UDS::NegativeResponse(kTransferDataSid, kGeneralProgrammingFailure).GetFrame();
    }
    shared.flashingStop = true;
    invalidateAllBuffers(shared);
}

void FlashingThread::waitForAllBuffersToBeEmpty() {
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    waitForAllBuffersToBeEmpty(lock);
}

bool FlashingThread::waitForAllBuffersToBeEmpty(std::unique_lock<std::mutex>& lock) {
    LogInfo() << "+ FlashingThread::waitForAllBuffersToBeEmpty" << VLMR_FILE_LINE;
    LogInfo() << "FlashingThread::waitForAllBuffersToBeEmpty: BEFORE waiting on LOCK(m_mutexFlashingMutex)"
              << VLMR_FILE_LINE;
    Shared& shared = *m_shared;
    const auto empty = [&shared] {
        return (shared.buffer[0].data.empty() && shared.buffer[1].data.empty()) || shared.threadEnded;
    };
    // Each block may take one UCM call: the bound restarts whenever the thread
    // takes a block out.
    while (!empty()) {
        const uint64_t taken = shared.blocksTaken;
        if (!shared.cvFlashingFinished.wait_for(lock, shared.timeouts.ucmCall,
                                                [&] { return empty() || shared.blocksTaken != taken; })) {
            LogError() << "FlashingThread::waitForAllBuffersToBeEmpty: no progress within "
                       << Seconds(shared.timeouts.ucmCall) << " sec; buffered data dropped, transfer failed"
                       << VLMR_FILE_LINE;
            failLocked(shared);
            shared.stalled = true;
            return false;
        }
    }
    LogInfo() << "- FlashingThread::waitForAllBuffersToBeEmpty: AFTER waiting on LOCK(m_mutexFlashingMutex)"
              << VLMR_FILE_LINE;
    return true;
}

bool FlashingThread::checkTransferResult(std::vector<uint8_t>& response) {
    LogInfo() << "+ FlashingThread::checkTransferResult: LOCK(m_errorResponseMutex)" << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_shared->errorResponse.empty()) {
        LogInfo() << "- FlashingThread::checkTransferResult: return true" << VLMR_FILE_LINE;
        return true;
    }
    response = std::move(m_shared->errorResponse);
    m_shared->errorResponse.clear();
    LogInfo() << "- FlashingThread::checkTransferResult: return false" << VLMR_FILE_LINE;
    return false;
}

void FlashingThread::SetErrorResponse(std::vector<uint8_t>&& response) {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->errorResponse = std::move(response);
}

void FlashingThread::stop() {
    LogInfo() << "+ FlashingThread::stop" << VLMR_FILE_LINE;
    {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->flashingStop = true;
        lock.unlock();
        m_shared->cvFlashingFinished.notify_all();
        LogInfo() << "FlashingThread::stop: waitForAllBuffersToBeEmpty()" << VLMR_FILE_LINE;
        lock.lock();
        waitForAllBuffersToBeEmpty(lock);
        m_shared->taskFinished = true;
    }
    LogInfo() << "FlashingThread::stop: m_taskFinished=true & m_cvDataReady.notify_all()" << VLMR_FILE_LINE;
    m_shared->cvDataReady.notify_all();
    LogInfo() << "- FlashingThread::stop" << VLMR_FILE_LINE;
}

void FlashingThread::stopAndJoin() {
    LogInfo() << "+ FlashingThread::stopAndJoin" << VLMR_FILE_LINE;
    {
        std::lock_guard<std::mutex> joinLock(m_joinMutex);
        if (m_flashingThread && m_flashingThread->get_id() == std::this_thread::get_id()) {
            // The thread itself dropped the last reference (it held the
            // session's last one): it cannot wait for itself. It ends its
            // loop as soon as it is back in it.
            {
                std::lock_guard<std::mutex> lock(m_shared->mutex);
                m_shared->flashingStop = true;
                m_shared->taskFinished = true;
                invalidateAllBuffers(*m_shared);
            }
            m_shared->cvFlashingFinished.notify_all();
            m_shared->cvDataReady.notify_all();
            m_flashingThread->detach();
            LogInfo() << "- FlashingThread::stopAndJoin: on the worker's own thread" << VLMR_FILE_LINE;
            return;
        }
    }
    stop();
    std::lock_guard<std::mutex> joinLock(m_joinMutex);
    if (m_flashingThread && m_flashingThread->joinable()) {
        bool ended = false;
        {
            // The thread may be inside its last UCM call; after a stalled
            // drain it is known to be stuck there.
            std::unique_lock<std::mutex> lock(m_shared->mutex);
            const std::chrono::milliseconds bound =
                m_shared->stalled ? std::chrono::milliseconds::zero() : m_shared->timeouts.ucmCall;
            ended = m_shared->cvFlashingFinished.wait_for(lock, bound, [this] { return m_shared->threadEnded; });
            if (!ended) {
                // The piece in that call may never reach UCM.
                failLocked(*m_shared);
            }
        }
        if (ended) {
            LogInfo() << "m_flashingThread->join()" << VLMR_FILE_LINE;
            m_flashingThread->join();
        } else {
            LogError() << "FlashingThread::stopAndJoin: the thread did not end within "
                       << Seconds(m_shared->timeouts.ucmCall)
                       << " sec; transfer failed, thread cut off from the session and detached" << VLMR_FILE_LINE;
            m_flashingThread->detach();
        }
    }
    LogInfo() << "- FlashingThread::stopAndJoin" << VLMR_FILE_LINE;
}
