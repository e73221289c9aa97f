// Streaming signature verification of a 64 MiB download fed in TransferData
// sized pieces, against plain SHA-256 over the same pieces. The verification
// should cost little more than hashing: the ratio of the two throughputs is
// printed at the end.
#include "signature/SignatureVerifier.h"

#include <botan/auto_rng.h>
#include <botan/hash.h>
#include <botan/pubkey.h>
#include <botan/rsa.h>
#include <botan/x509_key.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kStreamSize = 64u * 1024u * 1024u;
constexpr size_t kPieceSize = 4093;

struct Fixture {
    std::vector<std::vector<uint8_t>> pieces;
    std::vector<uint8_t> publicKey;
    std::vector<uint8_t> signature;

    Fixture() {
        Botan::AutoSeeded_RNG rng;
        std::vector<uint8_t> stream(kStreamSize);
        rng.randomize(stream.data(), stream.size());
        for (size_t offset = 0; offset < stream.size(); offset += kPieceSize) {
            const size_t length = std::min(kPieceSize, stream.size() - offset);
            pieces.emplace_back(stream.begin() + offset, stream.begin() + offset + length);
        }
        Botan::RSA_PrivateKey key(rng, 3072);
        publicKey = Botan::X509::BER_encode(key);
        Botan::PK_Signer signer(key, rng, "PSSR(SHA-256,MGF1,32)", Botan::IEEE_1363);
        signature = signer.sign_message(stream, rng);
    }
};

const Fixture& Data() {
    static const Fixture fixture;
    return fixture;
}

void BM_PlainSha256(benchmark::State& state) {
    const Fixture& data = Data();
    std::vector<uint8_t> digest(32);
    for (auto _ : state) {
        std::unique_ptr<Botan::HashFunction> hash = Botan::HashFunction::create_or_throw("SHA-256");
        for (const auto& piece : data.pieces) {
            hash->update(piece.data(), piece.size());
        }
        hash->final(digest.data());
        benchmark::DoNotOptimize(digest.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kStreamSize));
}

void BM_StreamingVerify(benchmark::State& state) {
    const Fixture& data = Data();
    SignatureVerifier verifier;
    for (auto _ : state) {
        verifier.Initialize(data.publicKey);
        for (const auto& piece : data.pieces) {
            verifier.Update(piece);
        }
        if (!verifier.Verify(data.signature)) {
            state.SkipWithError("signature did not verify");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kStreamSize));
}

BENCHMARK(BM_PlainSha256)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_StreamingVerify)->Unit(benchmark::kMillisecond)->Repetitions(5);

// Keeps the fastest repetition of each benchmark for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) {
                continue;
            }
            const double seconds = run.GetAdjustedRealTime() / 1000.0;  // reported in milliseconds
            const std::string name = run.run_name.function_name;
            auto found = best_.find(name);
            if (found == best_.end() || seconds < found->second) {
                best_[name] = seconds;
            }
        }
    }

    void PrintRatio() const {
        const auto plain = best_.find("BM_PlainSha256");
        const auto verify = best_.find("BM_StreamingVerify");
        if (plain == best_.end() || verify == best_.end()) {
            std::printf("ratio not available (both benchmarks must run)\n");
            return;
        }
        const double mib = static_cast<double>(kStreamSize) / (1024.0 * 1024.0);
        std::printf("plain SHA-256:      %8.1f MiB/s\n", mib / plain->second);
        std::printf("streaming verify:   %8.1f MiB/s\n", mib / verify->second);
        std::printf("throughput ratio verify/plain: %.3f (target >= 0.9)\n", plain->second / verify->second);
    }

private:
    std::map<std::string, double> best_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio();
    benchmark::Shutdown();
    return 0;
}
