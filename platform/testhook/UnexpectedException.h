// An exception that reaches a service's outermost boundary is a fault of our
// own code: a handler answers with a negative response or an application
// error, it never throws. The boundaries log and answer as they must in a
// vehicle; a harness that wants such an exception to be a finding (the fuzz
// targets) sets a hook here. Empty in the product. Thread-safe.
#ifndef PLATFORM_TESTHOOK_UNEXPECTEDEXCEPTION_H
#define PLATFORM_TESTHOOK_UNEXPECTEDEXCEPTION_H

#include <exception>

namespace platform {
namespace testhook {

// `where` names the boundary; `error` is the exception it caught.
using UnexpectedExceptionHook = void (*)(const char* where, std::exception_ptr error);

// Replaces the hook; nullptr removes it.
void SetUnexpectedExceptionHook(UnexpectedExceptionHook hook);

// Called by a boundary after it has logged the exception; does nothing
// without a hook.
void ReportUnexpectedException(const char* where, std::exception_ptr error) noexcept;

}  // namespace testhook
}  // namespace platform

#endif
