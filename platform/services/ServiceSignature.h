// Compile-time link between a service interface's method description (its
// Signature, used by the proxy) and the pure virtual method of the skeleton:
// a mismatch would otherwise only show as a failed call at run time.
#ifndef PLATFORM_SERVICES_SERVICESIGNATURE_H
#define PLATFORM_SERVICES_SERVICESIGNATURE_H

#include <type_traits>

#include "platform/com/Future.h"

namespace platform {
namespace services {

// True when `method` takes the arguments and answers the result of `Signature`
// (arguments compared without reference and const, as the binding copies them).
template <typename Signature, typename C, typename R, typename... A>
constexpr bool HasSignature(jux::com::Future<R> (C::*)(A...)) {
    return std::is_same<Signature, R(std::decay_t<A>...)>::value;
}

}  // namespace services
}  // namespace platform

#endif
