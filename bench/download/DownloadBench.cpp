// One logical block downloaded as a tester does it: RequestDownload, pieces
// of "transfer_size" bytes of TransferData and RequestTransferExit through
// the simulated diagnostic manager's front end, the binding, HandleMessage,
// the dispatch and checks, the FlashingThread, the product's UCM adaptor and
// the simulated update manager, with every byte fed to the signature hash.
// Beside it, in the same run: a plain SHA-256 of the same bytes, the front
// end alone (a piece refused by the first checks) and the worker's buffer
// hand-over alone. The UCM call is timed inside the download by a decorator
// around the adaptor. Peak RSS is reported after each block size; the
// simulator keeps no transferred bytes, so what grows is the product's.
#include <benchmark/benchmark.h>
#include <botan/hash.h>

#include "KivLibrary/Functional/FlashingThread.h"
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "platform/HostPath.h"
#include "sim/DiagnosticManager.h"
#include "sim/KeyCalculator.h"
#include "sim/UdsServiceStack.h"
#include "sim/UpdateManager.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr size_t kPiece = 4093;
constexpr uint16_t kBlock = 1;

// Times TransferData; forwards everything.
class TimedUcm : public UCM::UCMAdaptorInterface {
public:
    explicit TimedUcm(std::shared_ptr<UCM::UCMAdaptorInterface> inner) : m_inner(std::move(inner)) {}
    bool TransferData(const uint32_t& id, const std::vector<uint8_t>& block, const uint32_t& counter) override {
        const auto start = Clock::now();
        const bool result = m_inner->TransferData(id, block, counter);
        nanos += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        ++calls;
        return result;
    }
    bool Start(UCM::StartOutput& o) override { return m_inner->Start(o); }
    bool TransferStart(const uint32_t& id, const uint32_t& size) override { return m_inner->TransferStart(id, size); }
    bool TransferExit(const uint32_t& id) override { return m_inner->TransferExit(id); }
    bool InstallUpdateAsync(const uint32_t& id) override { return m_inner->InstallUpdateAsync(id); }
    uint8_t GetInstallUpdateState() override { return m_inner->GetInstallUpdateState(); }
    bool Close(const uint32_t& id, bool i) override { return m_inner->Close(id, i); }
    bool DOClose(const uint32_t& id, bool i) override { return m_inner->DOClose(id, i); }
    bool GetProgress(uint32_t id, UCM::GetProgressOutput& o) override { return m_inner->GetProgress(id, o); }
    bool GetLog(uint32_t id, UCM::GetLogOutput& o) override { return m_inner->GetLog(id, o); }
    bool CommitUpdate(uint32_t id, bool i) override { return m_inner->CommitUpdate(id, i); }
    bool GetInstallationResult(uint32_t id, UCM::GetInstallationResultOutput& o) override {
        return m_inner->GetInstallationResult(id, o);
    }
    bool GetInstallationStatus(uint32_t id, UCM::GetInstallationStatusOutput& o) override {
        return m_inner->GetInstallationStatus(id, o);
    }
    bool GetSwClusterIntegrity(std::string c, bool b, std::function<void(SwClusterIntegrity)> f) override {
        return m_inner->GetSwClusterIntegrity(std::move(c), b, std::move(f));
    }
    bool CancelSwClusterIntegrity(std::string c, std::function<void(CancelStatusType)> f) override {
        return m_inner->CancelSwClusterIntegrity(std::move(c), std::move(f));
    }
    bool CancelUpdate(uint32_t id) override { return m_inner->CancelUpdate(id); }
    bool commitUpdate(const uint32_t& id, bool i) override { return m_inner->commitUpdate(id, i); }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType& s) override { return m_inner->GetCurrentStatus(s); }

    std::atomic<int64_t> nanos{0};
    std::atomic<int64_t> calls{0};

private:
    std::shared_ptr<UCM::UCMAdaptorInterface> m_inner;
};

class AcceptingUcm : public TimedUcm {
public:
    AcceptingUcm() : TimedUcm(nullptr) {}
    bool TransferData(const uint32_t&, const std::vector<uint8_t>&, const uint32_t&) override { return true; }
};

struct World {
    World() {
        char pattern[] = "/tmp/velmora-bench-XXXXXX";
        const char* root = mkdtemp(pattern);
        if (root == nullptr) {
            std::abort();
        }
        platform::testhook::SetHostRoot(root);
        sim::UpdateManager::Options options;
        options.keepReceivedData = false;
        ucm = std::make_unique<sim::UpdateManager>(options);
        timed = std::make_shared<TimedUcm>(sim::UdsServiceStack::ConnectUcm("1"));
        stack = std::make_unique<sim::UdsServiceStack>(root, timed);
        dm = std::make_unique<sim::DiagnosticManager>();
        dm->Uds({0x10, 0x02});
        const Bytes seed = dm->Uds({0x27, 0x11});
        Bytes key = {0x27, 0x12};
        const Bytes computed =
            sim::TesterKeyBytes(Bytes(seed.begin() + 2, seed.end()), stack->Configuration()->KeyCalculation);
        key.insert(key.end(), computed.begin(), computed.end());
        dm->Uds(key);
        while (!stack->Conversation()->checkSecurityLevel(9)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        dm->Uds({0x2E, 0xF1, 0x5A, 0x24, 0x03, 0x15, 0, 0, 0, 0x12, 0x34, 0x56});
        stack->Session()->GetRFS()->SetDowngradeTable({{kBlock, {{'0', '0', '0', '1'}}}});
    }
    std::unique_ptr<sim::UpdateManager> ucm;
    std::shared_ptr<TimedUcm> timed;
    std::unique_ptr<sim::UdsServiceStack> stack;
    std::unique_ptr<sim::DiagnosticManager> dm;
};

// Set up once for the whole run and never torn down.
World& TheWorld() {
    static World* world = new World();
    return *world;
}

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

Bytes PieceFrame(uint8_t counter) {
    Bytes frame(2 + kPiece);
    frame[0] = 0x36;
    frame[1] = counter;
    for (size_t i = 2; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i * 13 + counter);
    }
    return frame;
}

void BM_DownloadLogicalBlock(benchmark::State& state) {
    World& world = TheWorld();
    const uint32_t size = static_cast<uint32_t>(state.range(0)) * 1024U * 1024U;
    const Bytes download = {0x34,
                            0x00,
                            0x42,
                            0x00,
                            kBlock,
                            static_cast<uint8_t>(size >> 24),
                            static_cast<uint8_t>(size >> 16),
                            static_cast<uint8_t>(size >> 8),
                            static_cast<uint8_t>(size)};
    std::vector<Bytes> frames;
    for (int counter = 0; counter < 256; ++counter) {
        frames.push_back(PieceFrame(static_cast<uint8_t>(counter)));
    }
    int64_t pieces = 0;
    world.timed->nanos = 0;
    world.timed->calls = 0;
    for (auto _ : state) {
        if (world.dm->Uds(download).at(0) != 0x74) {
            state.SkipWithError("RequestDownload refused");
            return;
        }
        uint32_t counter = 1;
        for (uint32_t sent = 0; sent < size; ++counter) {
            const uint32_t length = std::min<uint32_t>(kPiece, size - sent);
            Bytes& frame = frames[counter % 256];
            if (length != kPiece) {
                frame.resize(2 + length);
            }
            if (world.dm->Uds(frame).at(0) != 0x76) {
                state.SkipWithError("TransferData refused");
                return;
            }
            sent += length;
            ++pieces;
        }
        frames[counter % 256] = PieceFrame(static_cast<uint8_t>(counter));
        for (auto& f : frames) {
            f.resize(2 + kPiece);
        }
        if (world.dm->Uds({0x37}) != Bytes{0x77}) {
            state.SkipWithError("RequestTransferExit refused");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["us_per_piece"] =
        benchmark::Counter(static_cast<double>(pieces), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["ucm_call_us_per_piece"] =
        static_cast<double>(world.timed->nanos.load()) / 1000.0 / static_cast<double>(std::max<int64_t>(pieces, 1));
    state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_DownloadLogicalBlock)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The baseline: SHA-256 of the same 64 MiB in pieces, as the signature feed hashes them.
void BM_PlainSha256(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) * 1024U * 1024U;
    const Bytes data = PieceFrame(1);
    for (auto _ : state) {
        std::unique_ptr<Botan::HashFunction> hash = Botan::HashFunction::create_or_throw("SHA-256");
        for (size_t done = 0; done < size; done += kPiece) {
            hash->update(data.data() + 2, std::min(kPiece, size - done));
        }
        benchmark::DoNotOptimize(hash->final());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["us_per_piece"] = benchmark::Counter(static_cast<double>(state.iterations() * (size / kPiece)),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlainSha256)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

// The front end alone: a piece of the same size through the DM, the binding
// and HandleMessage, refused by the fourth check (no download open).
void BM_FrontEndPiece(benchmark::State& state) {
    World& world = TheWorld();
    const Bytes frame = PieceFrame(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(world.dm->Uds(frame));
    }
    state.counters["us_per_piece"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FrontEndPiece)->UseRealTime();

// The hand-over alone: waitForAvailableBuffer into a worker whose UCM side
// takes every piece at once.
void BM_BufferHandOver(benchmark::State& state) {
    World& world = TheWorld();
    // A session without signature check and a UCM that takes every piece at
    // once: what remains is the hand-over between the two threads.
    const auto session = std::make_shared<SessionData>(world.stack->Configuration(), nullptr, nullptr);
    const auto ucm = std::make_shared<AcceptingUcm>();
    const Bytes piece(kPiece, 0x5A);
    auto worker = std::make_shared<FlashingThread>(session, ucm);
    uint32_t counter = 0;
    for (auto _ : state) {
        Bytes copy = piece;
        benchmark::DoNotOptimize(worker->waitForAvailableBuffer(std::move(copy), ++counter));
    }
    worker->stopAndJoin();
    state.counters["us_per_piece"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BufferHandOver)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
