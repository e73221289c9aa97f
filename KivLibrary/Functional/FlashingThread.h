// The download worker of one RequestDownload: TransferData chunks go into one
// of two buffers and are answered at once; a thread of its own hands them to
// UCM TransferData in turn and feeds them to the session's signature check.
// A UCM failure is kept as a ready negative response for the next request.
#ifndef KIVLIBRARY_FUNCTIONAL_FLASHINGTHREAD_H
#define KIVLIBRARY_FUNCTIONAL_FLASHINGTHREAD_H

#include "KivLibrary/GlobalLibrary/DownloadWorker.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class SessionData;
namespace UCM {
class UCMAdaptorInterface;
}

struct FlashingBuffer {
    std::vector<uint8_t> data;             // one TransferData chunk; empty = buffer free
    uint32_t ucmBlockSequenceCounter = 0;  // 1 for the first chunk after RequestDownload, no wrap
};

// Threading: the producer side (TransferData, RequestTransferExit, the abort
// paths) and the thread share one mutex that guards the buffers, the indices,
// the flags and the stored error. The thread releases it during the UCM call,
// so a producer waits for a UCM call only through the buffer condition. Every
// wait is bounded by the time one UCM TransferData may take through the
// adaptor: a producer waits that long for its buffer, the drain that long per
// piece, the join that long for the last call. A piece that misses its bound
// is an error kept for the next request. A thread that does not end in time is
// cut off from the session before it is detached, so nothing it still does
// reaches this or a later transfer.
//
// Ownership: the session holds the worker; the worker holds the session only
// weakly, so releasing the session ends the worker. Whoever drops the last
// reference, the worker's own thread included, stops it without waiting on
// itself.
class FlashingThread : public DownloadWorker {
public:
    struct Timeouts {
        // Zero: derived from the UCM response time-out of the session's
        // configuration (ForUcmResponseTimeout).
        std::chrono::milliseconds freeBuffer{0};
        // The longest a single UCM TransferData may take through the adaptor.
        std::chrono::milliseconds ucmCall{0};

        // The adaptor waits at most `responseTimeout` for an answer, and a
        // call may first wait for one other blocking call to end.
        static Timeouts ForUcmResponseTimeout(std::chrono::milliseconds responseTimeout);
    };

    // Starts the thread as its last step.
    FlashingThread(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor);
    FlashingThread(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                   Timeouts timeouts);
    // Stops and joins the thread.
    ~FlashingThread() override;
    FlashingThread(const FlashingThread&) = delete;
    FlashingThread& operator=(const FlashingThread&) = delete;

    // Refuses further chunks, lets the buffered ones reach UCM, ends the loop.
    virtual void stop();
    void stopAndJoin() override;
    // True = chunk buffered (or empty data ignored); false = stopped or no
    // buffer freed within the free-buffer time-out, which fails the download.
    virtual bool waitForAvailableBuffer(std::vector<uint8_t>&& data, uint32_t ucmBlockSequenceCounter);
    // False hands the stored negative response out once.
    virtual bool checkTransferResult(std::vector<uint8_t>& response);
    virtual void waitForAllBuffersToBeEmpty();
    virtual void SetErrorResponse(std::vector<uint8_t>&& response);
    // `lock` must hold the object's mutex (the one waitForAvailableBuffer takes).
    virtual bool waitForEmptyingFillBuffer(size_t bufferIndex, std::unique_lock<std::mutex>& lock);

private:
    struct Shared;

    bool waitForAllBuffersToBeEmpty(std::unique_lock<std::mutex>& lock);
    void writeDataToBuffer(std::vector<uint8_t>&& data, uint32_t ucmBlockSequenceCounter, size_t bufferIndex);
    static bool flashDataToUcm(Shared& shared, FlashingBuffer& block);
    static void flashMainLoop(const std::shared_ptr<Shared>& shared);
    static void invalidateAllBuffers(Shared& shared);
    // Expects the mutex held: keeps [7F 36 72] unless an error is kept already,
    // refuses every further piece and cuts the thread off from the session.
    static void failLocked(Shared& shared);

    // Outlives this object while a detached thread still runs.
    std::shared_ptr<Shared> m_shared;
    std::mutex m_joinMutex;
    std::shared_ptr<std::thread> m_flashingThread;
};

#endif
