// Arbitrary tester frames through the simulated diagnostic manager into the
// generic UDS service and SecurityAccess, over the real binding. An input is
// a sequence of frames, each a length byte followed by that many bytes (the
// last one cut short where the input ends). The services stay up for the
// whole run, so state built by one input (session, seed, fingerprint) meets
// the frames of the next.
#include "platform/HostPath.h"
#include "sim/DiagnosticManager.h"
#include "sim/UdsServiceStack.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxFramesPerInput = 64;

sim::DiagnosticManager& Dm() {
    // Never destroyed: the binding's threads outlive the fuzzing loop.
    static sim::DiagnosticManager* dm = [] {
        char pattern[] = "/tmp/velmora-fuzz-XXXXXX";
        const char* root = mkdtemp(pattern);
        if (root == nullptr) {
            std::abort();
        }
        platform::testhook::SetHostRoot(root);
        static sim::UdsServiceStack* stack = new sim::UdsServiceStack(root);
        (void)stack;
        return new sim::DiagnosticManager();
    }();
    return *dm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::DiagnosticManager& dm = Dm();
    size_t offset = 0;
    for (size_t frames = 0; offset < size && frames < kMaxFramesPerInput; ++frames) {
        const size_t length = data[offset++];
        const size_t available = size - offset < length ? size - offset : length;
        const std::vector<uint8_t> frame(data + offset, data + offset + available);
        offset += available;
        const std::vector<uint8_t> response = dm.Uds(frame);
        // A negative answer always names the request's SID and a code.
        if (!response.empty() && response.front() == 0x7F &&
            (response.size() != 3 || (!frame.empty() && response[1] != frame.front()))) {
            std::abort();
        }
    }
    return 0;
}
