// Process-wide order of what the platform stand-ins recorded: every record of
// the stm, exec and phm test hooks takes the next number, so a test can compare
// the order of reports made to different stand-ins. Thread-safe.
#ifndef PLATFORM_TESTHOOK_SEQUENCE_H
#define PLATFORM_TESTHOOK_SEQUENCE_H

#include <chrono>
#include <cstdint>

namespace platform {
namespace testhook {

struct Stamp {
    uint64_t sequence = 0;
    std::chrono::steady_clock::time_point time;
};

// The next number (starting at 1) with the current time.
Stamp NextStamp();

}  // namespace testhook
}  // namespace platform

#endif
