// Cost of building and parsing the frames on the download road.
#include "uds/ReadDataByIdentifier.h"
#include "uds/TransferData.h"

#include <benchmark/benchmark.h>

#include <map>
#include <vector>

namespace {

constexpr size_t kTransferPayload = 4093;

std::vector<uint8_t> Payload() {
    std::vector<uint8_t> payload(kTransferPayload);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i);
    }
    return payload;
}

std::map<uint16_t, std::vector<uint8_t>> Records() {
    return {{0xF187, std::vector<uint8_t>(11, 0x31)},
            {0xF189, std::vector<uint8_t>(8, 0x32)},
            {0xF18C, std::vector<uint8_t>(16, 0x33)}};
}

void BM_TransferDataRequestBuild(benchmark::State& state) {
    const std::vector<uint8_t> payload = Payload();
    uint8_t counter = 0;
    for (auto _ : state) {
        UDS::TransferDataRequest request(++counter, payload);
        benchmark::DoNotOptimize(request.GetFrame().data());
    }
}
BENCHMARK(BM_TransferDataRequestBuild);

// Parsing as the handler does it: wrap the received bytes, read counter and block.
void BM_TransferDataRequestParse(benchmark::State& state) {
    const std::vector<uint8_t> frame = UDS::TransferDataRequest(1, Payload()).GetFrame();
    for (auto _ : state) {
        std::vector<uint8_t> received(frame);
        const UDS::TransferDataRequest request(UDS::Message(std::move(received)));
        benchmark::DoNotOptimize(request.GetBlockSequenceCounter());
        std::vector<uint8_t> block = request.GetTransferRequestParameterRecord();
        benchmark::DoNotOptimize(block.data());
    }
}
BENCHMARK(BM_TransferDataRequestParse);

void BM_ReadDataByIdentifierResponseBuild(benchmark::State& state) {
    const auto records = Records();
    for (auto _ : state) {
        UDS::ReadDataByIdentifierResponse response(records);
        benchmark::DoNotOptimize(response.GetFrame().data());
    }
}
BENCHMARK(BM_ReadDataByIdentifierResponseBuild);

void BM_ReadDataByIdentifierResponseParse(benchmark::State& state) {
    const std::vector<uint8_t> frame = UDS::ReadDataByIdentifierResponse(Records()).GetFrame();
    for (auto _ : state) {
        std::vector<uint8_t> received(frame);
        const UDS::ReadDataByIdentifierResponse response(UDS::Message(std::move(received)));
        benchmark::DoNotOptimize(response.GetSid());
        std::vector<uint8_t> data = response.GetResponseData();
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(BM_ReadDataByIdentifierResponseParse);

}  // namespace

BENCHMARK_MAIN();
