#include "platform/testhook/UnexpectedException.h"

#include <atomic>

namespace platform {
namespace testhook {

namespace {
std::atomic<UnexpectedExceptionHook> g_hook{nullptr};
}  // namespace

void SetUnexpectedExceptionHook(UnexpectedExceptionHook hook) { g_hook.store(hook); }

void ReportUnexpectedException(const char* where, std::exception_ptr error) noexcept {
    const UnexpectedExceptionHook hook = g_hook.load();
    if (hook != nullptr) {
        hook(where, std::move(error));
    }
}

}  // namespace testhook
}  // namespace platform
