// The download worker of one RequestDownload: TransferData chunks go into one
// of two buffers and are answered at once; a thread of its own hands them to
// UCM TransferData in turn and feeds them to the session's signature check.
// A UCM failure is kept as a ready negative response for the next request.
#ifndef KIVLIBRARY_FUNCTIONAL_FLASHINGTHREAD_H
#define KIVLIBRARY_FUNCTIONAL_FLASHINGTHREAD_H

#include <array>
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

class FlashingThread {
public:
    // Starts the thread as its last step.
    FlashingThread(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor);
    // Stops and joins the thread.
    virtual ~FlashingThread();
    FlashingThread(const FlashingThread&) = delete;
    FlashingThread& operator=(const FlashingThread&) = delete;

    // Refuses further chunks, lets the buffered ones reach UCM, ends the loop.
    virtual void stop();
    virtual void stopAndJoin();
    // True = chunk buffered (or empty data ignored); false = stopped or no
    // buffer freed within 30 seconds.
    virtual bool waitForAvailableBuffer(std::vector<uint8_t>&& data, uint32_t ucmBlockSequenceCounter);
    // False hands the stored negative response out once.
    virtual bool checkTransferResult(std::vector<uint8_t>& response);
    virtual void waitForAllBuffersToBeEmpty();
    virtual void SetErrorResponse(std::vector<uint8_t>&& response);
    virtual bool waitForEmptyingFillBuffer(size_t bufferIndex, std::unique_lock<std::mutex>& lock);

private:
    void writeDataToBuffer(std::vector<uint8_t>&& data, uint32_t ucmBlockSequenceCounter, size_t bufferIndex);
    void flashDataToUcm(FlashingBuffer& block);
    void flashMainLoop();
    void invalidateAllBuffers();

    std::shared_ptr<std::thread> m_flashingThread;
    bool m_taskFinished = false;
    bool m_flashingStop = false;
    std::mutex m_mutexFlashingMutex;
    std::condition_variable m_cvFlashingFinished;
    std::mutex m_mutexDataReady;
    std::condition_variable m_cvDataReady;
    size_t m_fillBufferIndex = 0;
    size_t m_flashBufferIndex = 0;
    std::array<FlashingBuffer, 2> m_buffer;
    std::mutex m_errorResponseMutex;
    std::vector<uint8_t> m_errorResponse;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
};

#endif
