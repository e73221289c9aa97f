// One UDS round trip, a WriteDataByIdentifier of the tester fingerprint,
// through the simulated diagnostic manager's front end, the binding, the
// generic UDS service, the dispatch and the handler; beside it the bare
// binding round trip of a method with the same request size, measured in the
// same run.
#include <benchmark/benchmark.h>

#include "platform/HostPath.h"
#include "platform/com/Proxy.h"
#include "platform/com/Skeleton.h"
#include "sim/DiagnosticManager.h"
#include "sim/UdsServiceStack.h"

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

const std::vector<uint8_t> kFingerprint = {0x2E, 0xF1, 0x5A, 0x24, 0x03, 0x15, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56};

class EchoSkeleton : public ara::com::internal::skeleton::SkeletonBase {
public:
    EchoSkeleton() : SkeletonBase("bench::Echo", "bench", ara::com::MethodCallProcessingMode::kEvent) {
        RegisterMethod("Echo", &EchoSkeleton::Echo);
    }
    jux::com::Future<std::vector<uint8_t>> Echo(std::vector<uint8_t> request) {
        return jux::com::MakeReadyFuture(std::vector<uint8_t>(request.begin(), request.begin() + 3));
    }
};

class EchoProxy : public ara::com::internal::proxy::ProxyBase<EchoProxy> {
public:
    static constexpr const char* kServiceName = "bench::Echo";
    explicit EchoProxy(const HandleType& handle) : ProxyBase(handle), Echo(*this, "Echo") {}
    ara::com::internal::proxy::Method<std::vector<uint8_t>(std::vector<uint8_t>)> Echo;
};

// Set up once for the whole run and never torn down.
sim::DiagnosticManager& Dm() {
    static sim::DiagnosticManager* dm = [] {
        char pattern[] = "/tmp/velmora-bench-XXXXXX";
        const char* root = mkdtemp(pattern);
        if (root == nullptr) {
            std::abort();
        }
        platform::testhook::SetHostRoot(root);
        new sim::UdsServiceStack(root);
        return new sim::DiagnosticManager();
    }();
    return *dm;
}

void BM_BareBindingRoundTrip(benchmark::State& state) {
    static EchoSkeleton* service = [] {
        auto* s = new EchoSkeleton();
        s->OfferService();
        return s;
    }();
    (void)service;
    EchoProxy proxy(EchoProxy::FindService("bench").front());
    for (auto _ : state) {
        benchmark::DoNotOptimize(proxy.Echo(kFingerprint).get());
    }
}

void BM_WriteDataByIdentifierThroughDm(benchmark::State& state) {
    sim::DiagnosticManager& dm = Dm();
    if (dm.Uds(kFingerprint).front() != 0x6E) {
        state.SkipWithError("WriteDataByIdentifier refused");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(dm.Uds(kFingerprint));
    }
}

BENCHMARK(BM_BareBindingRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_WriteDataByIdentifierThroughDm)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
