// Arbitrary tester frames through the simulated diagnostic manager into the
// whole process (RunVelmora over a sandbox, with the simulated update manager),
// over the real binding. An input is a sequence of records:
//  - a length byte 1..254 followed by that many bytes: one frame, sent as it
//    is (the last one cut short where the input ends);
//  - a length byte 255: the rest of the input is one frame, so that frames
//    as long as a whole TransferData piece are tried too;
//  - a zero byte followed by an operation byte: one step of a tester that
//    knows the package and the key, so that the fuzzer gets past the security
//    check and into the download and the routines (kOperations below); an
//    operation that names a block takes one more byte to choose it.
// The process stays up for the whole run, so state built by one input
// (session, seed, an open download, the update state) meets the next.
//
// Findings besides the sanitizers' and libFuzzer's own: an exception that
// reaches a service boundary (it would be answered 0x10 in a vehicle), and a
// negative response that does not name the request's SID.
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/testhook/UnexpectedException.h"
#include "sim/KeyCalculator.h"
#include "sim/tester/TesterBench.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxRecordsPerInput = 64;
constexpr size_t kRestOfInput = 255;

enum Operation : uint8_t {
    kUnlock,        // 10 02, 27 11, 27 12 with the key for that seed
    kFingerprint,   // 2E F1 5A with a valid fingerprint
    kRequest,       // 34 for the chosen block, its real size
    kNextPiece,     // 36 with the next piece of the block last requested
    kTransferExit,  // 37
    kWholeBlock,    // 34, every piece, 37 for the chosen block
    kCheckMemory,   // 31 01 02 02 with the chosen block's signature
    kStartUpdate,   // 31 01 C0 10 as the tester starts the installation
    kOperations
};

struct Statistics {
    std::atomic<uint64_t> inputs{0};
    std::atomic<uint64_t> downloadAccepted{0};
    std::atomic<uint64_t> transferAccepted{0};
    std::atomic<size_t> longestInput{0};
    std::atomic<size_t> longestFrame{0};
};

void Longest(std::atomic<size_t>& longest, size_t size) {
    size_t seen = longest.load();
    while (size > seen && !longest.compare_exchange_weak(seen, size)) {
    }
}

Statistics& Stats() {
    static Statistics* stats = new Statistics();
    return *stats;
}

void PrintStatistics() {
    const Statistics& stats = Stats();
    const uint64_t inputs = stats.inputs.load();
    const auto share = [inputs](uint64_t count) { return inputs == 0 ? 0.0 : 100.0 * count / inputs; };
    std::fprintf(stderr,
                 "fuzz_uds: %llu inputs; an accepted RequestDownload in %.1f %%, an accepted TransferData in %.1f %%; "
                 "longest input %zu bytes, longest raw frame %zu bytes\n",
                 static_cast<unsigned long long>(inputs), share(stats.downloadAccepted.load()),
                 share(stats.transferAccepted.load()), stats.longestInput.load(), stats.longestFrame.load());
}

[[noreturn]] void Finding(const std::string& what) {
    std::fprintf(stderr, "fuzz_uds: finding: %s\n", what.c_str());
    std::abort();
}

void OnUnexpectedException(const char* where, std::exception_ptr error) {
    std::string text = "unknown exception";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    Finding(std::string("exception at the boundary ") + where + ": " + text);
}

class Tester;
Tester& TheTester();

// The tester's side: the bench, the package and what a tester remembers
// between its requests. Used from the fuzzing thread only.
class Tester {
public:
    Tester() {
        // The process log would cost most of the time of a run.
        SetLoggingBackend(std::make_shared<MutedLoggingBackend>());
        sim::TesterBench::Options options;
        options.installLogging = false;
        options.installStepTime = std::chrono::milliseconds(1);
        m_bench = new sim::TesterBench(options);
        m_bench->Start();
        m_package = &m_bench->BuildPackage({{0x01, 6000}, {0x02, 3000}}, sim::Defect::kNone);
        m_pieceSize = static_cast<size_t>(m_bench->Configuration().transfer_size);
        m_keyOperations = m_bench->Configuration().KeyCalculation;
        platform::testhook::SetUnexpectedExceptionHook(&OnUnexpectedException);
        std::atexit(&AtExit);
    }

    // libFuzzer ends with exit(): the process is stopped as execution
    // management stops it, before the statics it uses are destroyed.
    static void AtExit() {
        PrintStatistics();
        platform::testhook::SetUnexpectedExceptionHook(nullptr);
        sim::TesterBench& bench = *TheTester().m_bench;
        bench.Stop();
        // The bench is never destroyed, so its sandbox would stay behind.
        std::error_code ignored;
        std::filesystem::remove_all(bench.Sandbox().Root(), ignored);
    }

    Bytes Send(const Bytes& frame) {
        const Bytes response = m_bench->Dm().Uds(frame);
        if (!response.empty() && response.front() == 0x7F &&
            (response.size() != 3 || (!frame.empty() && response[1] != frame.front()))) {
            Finding("a negative response that does not name the request's SID");
        }
        Remember(frame, response);
        return response;
    }

    void BeginInput() {
        m_downloadAccepted = false;
        m_transferAccepted = false;
    }

    void EndInput() {
        Statistics& stats = Stats();
        ++stats.inputs;
        stats.downloadAccepted += m_downloadAccepted ? 1 : 0;
        stats.transferAccepted += m_transferAccepted ? 1 : 0;
    }

    void Operate(uint8_t operation, uint8_t choice) {
        switch (operation % kOperations) {
            case kUnlock:
                Send({0x10, 0x02});
                if (Send({0x27, 0x11}).size() == 6 && !m_seed.empty()) {
                    Bytes key{0x27, 0x12};
                    const Bytes computed = sim::TesterKeyBytes(m_seed, m_keyOperations);
                    key.insert(key.end(), computed.begin(), computed.end());
                    Send(key);
                }
                break;
            case kFingerprint:
                Send({0x2E, 0xF1, 0x5A, 0x24, 0x05, 0x17, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56});
                break;
            case kRequest:
                Request(Block(choice));
                break;
            case kNextPiece:
                NextPiece();
                break;
            case kTransferExit:
                Send({0x37});
                break;
            case kWholeBlock: {
                const sim::SignedBlock& block = Block(choice);
                if (Request(block)) {
                    while (m_block == &block && m_offset < block.payload.size()) {
                        if (!NextPiece()) {
                            break;
                        }
                    }
                    Send({0x37});
                }
                break;
            }
            case kCheckMemory: {
                Bytes frame{0x31, 0x01, 0x02, 0x02};
                const sim::SignedBlock& block = Block(choice);
                frame.insert(frame.end(), block.signature.begin(), block.signature.end());
                Send(frame);
                break;
            }
            case kStartUpdate:
                Send({0x31, 0x01, 0xC0, 0x10, 0x00, 0x44, 0x00, 0x00, 0x00, 0x01});
                break;
            default:
                break;
        }
    }

private:
    // The DPT first, then the logical blocks.
    const sim::SignedBlock& Block(uint8_t choice) const {
        const size_t index = choice % (m_package->blocks.size() + 1);
        return index == 0 ? m_package->dpt : m_package->blocks[index - 1];
    }

    bool Request(const sim::SignedBlock& block) {
        Bytes frame{0x34, 0x00, static_cast<uint8_t>(0x40 | block.memoryAddress.size())};
        frame.insert(frame.end(), block.memoryAddress.begin(), block.memoryAddress.end());
        for (int shift = 24; shift >= 0; shift -= 8) {
            frame.push_back(static_cast<uint8_t>(block.memorySize >> shift));
        }
        const Bytes response = Send(frame);
        if (response.empty() || response.front() != 0x74) {
            return false;
        }
        m_block = &block;
        m_offset = 0;
        m_counter = 1;
        return true;
    }

    bool NextPiece() {
        if (m_block == nullptr || m_pieceSize == 0 || m_offset >= m_block->payload.size()) {
            Send({0x36, m_counter});
            return false;
        }
        const size_t end = std::min(m_block->payload.size(), m_offset + m_pieceSize);
        Bytes frame{0x36, m_counter};
        frame.insert(frame.end(), m_block->payload.begin() + static_cast<std::ptrdiff_t>(m_offset),
                     m_block->payload.begin() + static_cast<std::ptrdiff_t>(end));
        const Bytes response = Send(frame);
        if (response.empty() || response.front() != 0x76) {
            return false;
        }
        m_offset = end;
        ++m_counter;
        return true;
    }

    void Remember(const Bytes& frame, const Bytes& response) {
        if (frame.empty() || response.empty()) {
            return;
        }
        if (frame.front() == 0x27 && response.front() == 0x67 && response.size() == 6 && response[1] == 0x11) {
            m_seed.assign(response.begin() + 2, response.end());
        }
        if (response.front() == 0x74) {
            m_downloadAccepted = true;
        }
        if (response.front() == 0x76) {
            m_transferAccepted = true;
        }
    }

    // Never destroyed: the process and the binding's threads outlive the
    // fuzzing loop, and libFuzzer ends with exit().
    sim::TesterBench* m_bench = nullptr;
    const sim::Package* m_package = nullptr;
    size_t m_pieceSize = 0;
    std::string m_keyOperations;
    Bytes m_seed;
    const sim::SignedBlock* m_block = nullptr;
    size_t m_offset = 0;
    uint8_t m_counter = 1;
    bool m_downloadAccepted = false;
    bool m_transferAccepted = false;
};

Tester& TheTester() {
    static Tester* tester = new Tester();
    return *tester;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Tester& tester = TheTester();
    tester.BeginInput();
    size_t offset = 0;
    for (size_t records = 0; offset < size && records < kMaxRecordsPerInput; ++records) {
        const size_t length = data[offset++];
        if (length == 0) {
            if (offset >= size) {
                break;
            }
            const uint8_t operation = data[offset++];
            const uint8_t choice = offset < size ? data[offset] : 0;
            const uint8_t kind = operation % kOperations;
            if (kind == kRequest || kind == kWholeBlock || kind == kCheckMemory) {
                offset += offset < size ? 1 : 0;
            }
            tester.Operate(operation, choice);
            continue;
        }
        const size_t wanted = length == kRestOfInput ? size - offset : length;
        const size_t available = size - offset < wanted ? size - offset : wanted;
        const Bytes frame(data + offset, data + offset + available);
        offset += available;
        Longest(Stats().longestFrame, frame.size());
        tester.Send(frame);
    }
    tester.EndInput();
    Longest(Stats().longestInput, size);
    return 0;
}
