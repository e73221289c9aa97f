#include "KivLibrary/Helper/TerminationFlag.h"

#include <atomic>

namespace {

// Constant-initialised with a trivial destructor: usable before main and
// during static destruction alike.
std::atomic<bool> terminationRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "termination flag must be lock-free");

}  // namespace

void RequestTermination() { terminationRequested.store(true, std::memory_order_release); }

bool IsTerminationRequested() { return terminationRequested.load(std::memory_order_acquire); }

void ResetTerminationRequest() { terminationRequested.store(false, std::memory_order_release); }
