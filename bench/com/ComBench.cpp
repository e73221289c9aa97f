// Round trip of an in-process method call with a 4 KiB argument: proxy call,
// method thread of the skeleton, which completes the caller's future; get().
// With one caller and with eight callers at once.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com/Proxy.h"
#include "platform/com/Runtime.h"
#include "platform/com/Skeleton.h"

namespace {

constexpr const char* kServiceName = "bench::Transfer";
constexpr std::size_t kArgumentSize = 4096;

class TransferSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    TransferSkeleton() : SkeletonBase(kServiceName, "bench", ara::com::MethodCallProcessingMode::kEvent) {
        RegisterMethod("TransferData", &TransferSkeleton::TransferData);
    }
    jux::com::Future<uint32_t> TransferData(std::vector<uint8_t> block) {
        return jux::com::MakeReadyFuture(static_cast<uint32_t>(block.size()));
    }
};

class TransferProxy : public ara::com::internal::proxy::ProxyBase<TransferProxy> {
public:
    static constexpr const char* kServiceName = ::kServiceName;
    explicit TransferProxy(const HandleType& handle) : ProxyBase(handle), TransferData(*this, "TransferData") {}
    ara::com::internal::proxy::Method<uint32_t(std::vector<uint8_t>)> TransferData;
};

// Offered once for the whole run; every benchmark thread has its own proxy.
TransferSkeleton& Service() {
    static TransferSkeleton* service = [] {
        auto* s = new TransferSkeleton();
        s->OfferService();
        return s;
    }();
    return *service;
}

void BM_MethodRoundTrip4KiB(benchmark::State& state) {
    Service();
    TransferProxy proxy(TransferProxy::FindService("bench").front());
    const std::vector<uint8_t> block(kArgumentSize, 0x5A);
    for (auto _ : state) {
        uint32_t size = proxy.TransferData(block).get();
        benchmark::DoNotOptimize(size);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kArgumentSize));
}

BENCHMARK(BM_MethodRoundTrip4KiB)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
