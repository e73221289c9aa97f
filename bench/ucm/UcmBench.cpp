// A 64 MiB block through the adaptor's TransferData over the binding into the
// simulated update manager, in pieces of 4093 bytes as the UDS download sends
// them; beside it the binding's bare round trip of one such piece, measured
// in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "KivLibrary/Ucm/UCMAdaptorImpl.h"
#include "platform/com/Runtime.h"
#include "platform/services/ara/ucm/PackageManagement_proxy.h"
#include "sim/UpdateManager.h"

namespace {

constexpr const char* kInstance = "bench-ucm";
constexpr std::size_t kPiece = 4093;
constexpr std::size_t kBlock = 64u << 20;

void BM_AdaptorTransferData64MiB(benchmark::State& state) {
    sim::UpdateManager::Options options;
    options.instance = kInstance;
    sim::UpdateManager ucm(options);
    UCM::UCMAdaptorImpl adaptor(kInstance, [](CurrentStatusType) {});
    const std::vector<uint8_t> piece(kPiece, 0x5A);
    const uint32_t pieces = static_cast<uint32_t>((kBlock + kPiece - 1) / kPiece);
    UCM::StartOutput start;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!adaptor.Start(start) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto _ : state) {
        state.PauseTiming();
        ucm.ClearCalls();
        if (!adaptor.TransferStart(start.id, pieces * static_cast<uint32_t>(kPiece))) {
            state.SkipWithError("TransferStart failed");
            break;
        }
        state.ResumeTiming();
        for (uint32_t counter = 1; counter <= pieces; ++counter) {
            if (!adaptor.TransferData(start.id, piece, counter)) {
                state.SkipWithError("TransferData failed");
                break;
            }
        }
        state.PauseTiming();
        adaptor.TransferExit(start.id);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pieces) * static_cast<int64_t>(kPiece));
    state.SetItemsProcessed(state.iterations() *
                            static_cast<int64_t>(pieces));  // items/s = TransferData calls per second
}

// The binding alone: one proxy call with a piece, answered at once by a skeleton of the same interface.
class EchoSkeleton : public ara::ucm::skeleton::PackageManagementSkeleton {
public:
    EchoSkeleton() : PackageManagementSkeleton("bench-echo") { CurrentStatus.Update(0); }
    ~EchoSkeleton() override {
        StopOfferService();
        StopMethodDispatcher();
    }
    using Out = ara::ucm::PackageManagement::TransferData::Output;
    jux::com::Future<ara::ucm::PackageManagement::Start::Output> Start() override { return Never<decltype(Start())>(); }
    jux::com::Future<ara::ucm::PackageManagement::TransferStart::Output> TransferStart(uint32_t, uint32_t) override {
        return Never<decltype(TransferStart(0, 0))>();
    }
    jux::com::Future<Out> TransferData(uint32_t, const std::vector<uint8_t>&, uint32_t) override {
        return jux::com::MakeReadyFuture(Out{0});
    }
    jux::com::Future<ara::ucm::PackageManagement::TransferExit::Output> TransferExit(uint32_t) override {
        return Never<decltype(TransferExit(0))>();
    }
    jux::com::Future<void> InstallUpdate(uint32_t) override { return jux::com::MakeReadyFuture(); }
    jux::com::Future<void> CommitUpdate(uint32_t) override { return jux::com::MakeReadyFuture(); }
    jux::com::Future<void> CancelUpdate(uint32_t) override { return jux::com::MakeReadyFuture(); }
    jux::com::Future<void> Close(uint32_t) override { return jux::com::MakeReadyFuture(); }
    jux::com::Future<ara::ucm::PackageManagement::GetProgress::Output> GetProgress(uint32_t) override {
        return Never<decltype(GetProgress(0))>();
    }
    jux::com::Future<ara::ucm::PackageManagement::GetLog::Output> GetLog(uint32_t) override {
        return Never<decltype(GetLog(0))>();
    }
    jux::com::Future<ara::ucm::PackageManagement::GetInstallationResult::Output> GetInstallationResult(
        uint32_t) override {
        return Never<decltype(GetInstallationResult(0))>();
    }

private:
    template <typename F>
    static F Never() {
        return F();
    }
};

void BM_BindingRoundTrip4093(benchmark::State& state) {
    EchoSkeleton skeleton;
    skeleton.OfferService();
    ara::ucm::proxy::PackageManagementProxy proxy(
        ara::ucm::proxy::PackageManagementProxy::FindService("bench-echo").front());
    const std::vector<uint8_t> piece(kPiece, 0x5A);
    uint32_t counter = 0;
    for (auto _ : state) {
        auto answer = proxy.TransferData(1, piece, ++counter).get();
        benchmark::DoNotOptimize(answer);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kPiece));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_BindingRoundTrip4093)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AdaptorTransferData64MiB)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    zov::com::testing::ResetRegistry();
    return 0;
}
