// The continuation every UCM client attaches to a proxy call: one exception
// boundary that turns the answer into a value for the result callback, or
// hands whatever went wrong to the error callback. It captures only the
// callbacks, so an answer that arrives after the client is gone is harmless.
// Runs on a binding thread.
#ifndef KIVLIBRARY_UCM_UCMCONTINUATION_H
#define KIVLIBRARY_UCM_UCMCONTINUATION_H

#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Ucm/UcmClientInterfaces.h"
#include "platform/com/Future.h"

namespace UCM {
namespace detail {

inline void DeliverError(const UcmErrorCallback& error, const std::exception& e) {
    try {
        if (error) {
            error(e);
        }
    } catch (const std::exception& inner) {
        LogError() << "UCM error callback threw: " << inner.what();
    } catch (...) {
        LogError() << "UCM error callback threw an unknown exception";
    }
}

// `convert` turns the answer (or nothing, for a method without output) into
// the argument(s) of `result` by calling it.
template <typename T, typename Deliver>
auto MakeContinuation(Deliver deliver, UcmErrorCallback error) {
    return [deliver = std::move(deliver), error = std::move(error)](jux::com::Future<T> answer) {
        try {
            if constexpr (std::is_void<T>::value) {
                answer.get();
                deliver();
            } else {
                deliver(answer.get());
            }
        } catch (const std::exception& e) {
            DeliverError(error, e);
        } catch (...) {
            DeliverError(error, UnknownException());
        }
    };
}

}  // namespace detail
}  // namespace UCM

#endif
