// The download worker between TransferData and UCM: order and counters,
// back-pressure, failures and exceptions, the DPT path, bounded stops, and
// the ownership between the worker and its session.
#include "KivLibrary/Functional/FlashingThread.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/CallLogUcm.h"
#include "tests/threading/Sync.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using testsupport::Level;
using threadingtest::Eventually;

constexpr uint32_t kSession = 0x2A;

// Runs a hook on the worker's thread while it feeds the signature.
class HookedVerifier : public sessiontest::SpyVerifier {
public:
    void Update(const std::vector<uint8_t>& data) override {
        if (onUpdate) {
            onUpdate();
        }
        SpyVerifier::Update(data);
    }
    std::function<void()> onUpdate;
};

Bytes Chunk(uint8_t seed, size_t size = 7) { return Bytes(size, seed); }

std::string Transfer(uint32_t counter, size_t size = 7) {
    return "TransferData(" + std::to_string(kSession) + "," + std::to_string(size) + "," + std::to_string(counter) +
           ")";
}

class FlashingThreadTest : public ::testing::Test {
protected:
    FlashingThreadTest() { session->SetUcmSessionId(kSession); }

    std::unique_ptr<FlashingThread> Make(FlashingThread::Timeouts timeouts = {5s, 5s}) {
        return std::make_unique<FlashingThread>(session, ucm, timeouts);
    }

    // Holds every TransferData until released.
    void GateTransfers() {
        ucm->SetScript([this](const std::string& call) {
            if (call.rfind("TransferData", 0) == 0) {
                gate.Wait(10s);
            }
            return true;
        });
    }

    size_t CallCount() const { return ucm->Calls().size(); }

    testsupport::LogCapture capture;
    std::shared_ptr<sessiontest::SpyVerifier> verifier = std::make_shared<sessiontest::SpyVerifier>();
    std::shared_ptr<SessionData> session = std::make_shared<SessionData>(nullptr, nullptr, verifier);
    std::shared_ptr<testsupport::CallLogUcm> ucm = std::make_shared<testsupport::CallLogUcm>();
    threadingtest::Event gate;
};

TEST_F(FlashingThreadTest, ChunksReachUcmInOrderWithTheirCountersAndFeedTheSignature) {
    auto worker = Make();
    Bytes all;
    for (uint32_t counter = 1; counter <= 300; ++counter) {
        Bytes chunk = Chunk(static_cast<uint8_t>(counter), 1 + counter % 5);
        all.insert(all.end(), chunk.begin(), chunk.end());
        ASSERT_TRUE(worker->waitForAvailableBuffer(std::move(chunk), counter));
    }
    EXPECT_TRUE(worker->waitForAvailableBuffer(Bytes{}, 301));  // empty data is ignored
    worker->stopAndJoin();
    const auto calls = ucm->Calls();
    ASSERT_EQ(calls.size(), 300u);
    for (uint32_t counter = 1; counter <= 300; ++counter) {
        EXPECT_EQ(calls[counter - 1], Transfer(counter, 1 + counter % 5));
    }
    EXPECT_EQ(ucm->TransferredBytes(), all);
    EXPECT_EQ(verifier->Stream(), all);
    Bytes response;
    EXPECT_TRUE(worker->checkTransferResult(response));
    EXPECT_TRUE(capture.Contains(Level::kWarn, "passed empty data for writing to flash"));
    worker->stopAndJoin();  // harmless twice
}

// One chunk inside UCM and one in each buffer; the next producer waits for
// its buffer and gives up after the free-buffer time-out. UCM needs the
// chunks in order, so that fails the transfer: the buffered ones are dropped
// and the error is kept for RequestTransferExit.
TEST_F(FlashingThreadTest, BackPressureIsBoundedByTheFreeBufferTimeout) {
    GateTransfers();
    auto worker = Make({100ms, 5s});
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(1), 1));
    ASSERT_TRUE(Eventually([&] { return CallCount() == 1; }));  // chunk 1 taken out, buffer 0 free again
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(2), 2));
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(3), 3));
    EXPECT_FALSE(worker->waitForAvailableBuffer(Chunk(4), 4));
    EXPECT_TRUE(capture.Contains(
        Level::kError, "FlashingThread::waitForAvailableBuffer: Timeout on waiting for emptying of m_buffer[1]"));
    EXPECT_FALSE(worker->waitForAvailableBuffer(Chunk(5), 5));
    gate.Set();
    worker->stopAndJoin();
    EXPECT_EQ(ucm->Calls(), (std::vector<std::string>{Transfer(1)}));
    Bytes response;
    EXPECT_FALSE(worker->checkTransferResult(response));
    EXPECT_EQ(response, (Bytes{0x7F, 0x36, 0x72}));
}

// A refused or throwing UCM call: buffered chunks are dropped, the next
// chunk is refused, the stored [7F 36 72] is handed out once, and the failed
// chunk is not fed to the signature.
TEST_F(FlashingThreadTest, UcmFailureOrExceptionIsStoredOnceAndStopsFlashing) {
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "exception" : "false");
        ucm = std::make_shared<testsupport::CallLogUcm>();
        verifier = std::make_shared<sessiontest::SpyVerifier>();
        session = std::make_shared<SessionData>(nullptr, nullptr, verifier);
        session->SetUcmSessionId(kSession);
        threadingtest::Event reachedFailure;
        threadingtest::Event release;
        ucm->SetScript([&](const std::string& call) {
            if (call == Transfer(2)) {
                reachedFailure.Set();
                release.Wait(10s);
                if (throws) {
                    throw std::runtime_error("binding gone");
                }
                return false;
            }
            return true;
        });
        auto worker = Make();
        ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(1), 1));
        ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(2), 2));
        ASSERT_TRUE(reachedFailure.Wait());
        ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(3), 3));  // buffered while chunk 2 fails
        release.Set();
        Bytes response;
        ASSERT_TRUE(Eventually([&] { return !worker->checkTransferResult(response); }));
        EXPECT_EQ(response, (Bytes{0x7F, 0x36, 0x72}));
        EXPECT_TRUE(worker->checkTransferResult(response));
        EXPECT_FALSE(worker->waitForAvailableBuffer(Chunk(4), 4));
        worker->stopAndJoin();
        EXPECT_EQ(ucm->Calls(), (std::vector<std::string>{Transfer(1), Transfer(2)}));
        EXPECT_EQ(verifier->Stream(), Chunk(1));
        if (throws) {
            EXPECT_TRUE(capture.Contains(Level::kError, "exception while flashing: binding gone"));
        }
    }
}

TEST_F(FlashingThreadTest, DptChunksGoToTheRecordWithoutUcm) {
    session->GetRFS()->StartTransfer(14, {0x00}, 0);
    session->GetRFS()->SetTransferActive(true);
    auto worker = Make();
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(0xD1), 1));
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(0xD2), 2));
    worker->stopAndJoin();
    Bytes expected = Chunk(0xD1);
    const Bytes second = Chunk(0xD2);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_TRUE(ucm->Calls().empty());
    EXPECT_EQ(session->GetRFS()->GetData(), expected);
    EXPECT_EQ(verifier->Stream(), expected);
}

// The destructor drains what is buffered before the thread ends.
TEST_F(FlashingThreadTest, DestructionFlashesBufferedChunksAndJoins) {
    GateTransfers();
    auto worker = Make();
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(1), 1));
    ASSERT_TRUE(Eventually([&] { return CallCount() == 1; }));
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(2), 2));
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(3), 3));
    gate.Set();
    worker.reset();
    EXPECT_EQ(ucm->Calls(), (std::vector<std::string>{Transfer(1), Transfer(2), Transfer(3)}));
}

// UCM holds chunk 1 beyond the bounds: the stop gives up within them, whether
// chunks wait in the buffers (the drain sees no progress) or chunk 1 was the
// last (the join runs out), keeps [7F 36 72], which RequestTransferExit
// answers, and the thread, cut off from the session, feeds nothing even once
// UCM has taken chunk 1.
TEST_F(FlashingThreadTest, AStopThatGivesUpFailsTheTransferAndCutsTheThreadOff) {
    for (const uint32_t chunks : {3u, 1u}) {
        SCOPED_TRACE(chunks == 1 ? "the join runs out" : "the drain runs out");
        capture.Clear();
        ucm->ClearCalls();
        const auto held = std::make_shared<threadingtest::Event>();
        ucm->SetScript([held](const std::string& call) {
            if (call.rfind("TransferData", 0) == 0) {
                held->Wait(10s);
            }
            return true;
        });
        auto worker = Make({100ms, 100ms});
        ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(1), 1));
        ASSERT_TRUE(Eventually([&] { return CallCount() == 1; }));
        for (uint32_t counter = 2; counter <= chunks; ++counter) {
            ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(static_cast<uint8_t>(counter)), counter));
        }
        const auto start = std::chrono::steady_clock::now();
        worker->stopAndJoin();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        Bytes response;
        EXPECT_FALSE(worker->checkTransferResult(response));
        EXPECT_EQ(response, (Bytes{0x7F, 0x36, 0x72}));
        held->Set();
        EXPECT_TRUE(capture.WaitFor("- FlashingThread::flashMainLoop"));
        EXPECT_EQ(ucm->Calls(), (std::vector<std::string>{Transfer(1)}));
        EXPECT_TRUE(verifier->Stream().empty());
    }
}

// The stop gave up on chunk 1 and failed the transfer; UCM then takes the
// chunk before the join has given up too. Failing the transfer is what cuts
// the thread off: a chunk fed now would land in a failed transfer, or in the
// next download's signature.
TEST_F(FlashingThreadTest, NothingIsFedOnceTheTransferIsFailed) {
    // Runs between the stop that gave up and the join.
    class StopHook : public FlashingThread {
    public:
        using FlashingThread::FlashingThread;
        void stop() override {
            FlashingThread::stop();
            if (afterStop) {
                afterStop();
            }
        }
        std::function<void()> afterStop;
    };
    GateTransfers();
    auto worker = std::make_unique<StopHook>(session, ucm, FlashingThread::Timeouts{100ms, 100ms});
    worker->afterStop = [&] {
        gate.Set();
        ASSERT_TRUE(Eventually([&] {
            return capture.Contains("- FlashingThread::flashDataToUcm") ||
                   capture.Contains("the transfer gave up on this piece");
        }));
    };
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(1), 1));
    ASSERT_TRUE(Eventually([&] { return CallCount() == 1; }));
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(2), 2));
    worker->stopAndJoin();
    Bytes response;
    EXPECT_FALSE(worker->checkTransferResult(response));
    EXPECT_EQ(response, (Bytes{0x7F, 0x36, 0x72}));
    EXPECT_TRUE(verifier->Stream().empty());
}

// Without bounds of its own the worker takes them from the configured UCM
// response time-out: with 50 ms a hanging UCM fails the transfer at once,
// where a fixed bound of its own would hold the request for a minute.
TEST_F(FlashingThreadTest, BoundsFollowTheConfiguredUcmResponseTimeout) {
    auto configuration = std::make_shared<KivConfiguration>();
    configuration->ucmResponseTimeout_msec = 50;
    session = std::make_shared<SessionData>(configuration, nullptr, verifier);
    session->SetUcmSessionId(kSession);
    GateTransfers();
    auto worker = std::make_unique<FlashingThread>(session, ucm);
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(1), 1));
    ASSERT_TRUE(Eventually([&] { return CallCount() == 1; }));
    ASSERT_TRUE(worker->waitForAvailableBuffer(Chunk(2), 2));
    const auto start = std::chrono::steady_clock::now();
    worker->stopAndJoin();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    Bytes response;
    EXPECT_FALSE(worker->checkTransferResult(response));
    gate.Set();
    EXPECT_TRUE(capture.WaitFor("- FlashingThread::flashMainLoop"));
}

// The session holds its worker and the worker the session only weakly: when
// the last outside reference to the session goes mid-download, both end and
// the thread with them, also when the worker itself held the last reference.
TEST_F(FlashingThreadTest, ReleasingTheSessionMidDownloadEndsItsWorker) {
    for (const bool lastOnWorker : {false, true}) {
        SCOPED_TRACE(lastOnWorker ? "last reference on the worker's thread" : "last reference outside");
        capture.Clear();
        threadingtest::Event feeding;
        threadingtest::Event released;
        auto hooked = std::make_shared<HookedVerifier>();
        if (lastOnWorker) {
            hooked->onUpdate = [&] {
                feeding.Set();
                released.Wait(10s);
            };
        }
        session = std::make_shared<SessionData>(nullptr, nullptr, hooked);
        session->SetUcmSessionId(kSession);
        session->SetFlashingThread(std::make_shared<FlashingThread>(session, ucm, FlashingThread::Timeouts{5s, 5s}));
        const std::weak_ptr<SessionData> weakSession = session;
        const std::weak_ptr<FlashingThread> weakWorker = session->GetFlashingThread();
        ASSERT_TRUE(session->GetFlashingThread()->waitForAvailableBuffer(Chunk(1), 1));
        if (lastOnWorker) {
            ASSERT_TRUE(feeding.Wait());
            session.reset();
            released.Set();
        } else {
            ASSERT_TRUE(Eventually([&] { return hooked->Stream().size() == 7; }));
            session.reset();
        }
        EXPECT_TRUE(Eventually([&] { return weakSession.expired() && weakWorker.expired(); }));
        EXPECT_TRUE(capture.WaitFor("- FlashingThread::flashMainLoop"));
    }
}

// Producer, result polling and stop from different threads, as the method
// threads and the diagnostic-status thread do (run under ThreadSanitizer).
TEST_F(FlashingThreadTest, ConcurrentProducerPollerAndStop) {
    auto worker = Make();
    std::atomic<bool> done{false};
    std::thread poller([&] {
        Bytes response;
        while (!done) {
            worker->checkTransferResult(response);
        }
    });
    std::thread producer([&] {
        for (uint32_t counter = 1; counter <= 500; ++counter) {
            if (!worker->waitForAvailableBuffer(Chunk(static_cast<uint8_t>(counter), 3), counter)) {
                break;
            }
        }
    });
    ASSERT_TRUE(Eventually([&] { return CallCount() >= 50; }));
    worker->stop();  // the producer is refused from now on
    producer.join();
    done = true;
    poller.join();
    worker->stopAndJoin();
    const auto calls = ucm->Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i], Transfer(static_cast<uint32_t>(i + 1), 3));
    }
}

}  // namespace
