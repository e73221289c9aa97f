#include "platform/testhook/Sequence.h"

#include <atomic>

namespace platform {
namespace testhook {

Stamp NextStamp() {
    static std::atomic<uint64_t> counter{0};
    Stamp stamp;
    stamp.sequence = counter.fetch_add(1) + 1;
    stamp.time = std::chrono::steady_clock::now();
    return stamp;
}

}  // namespace testhook
}  // namespace platform
