// Futures and promises of the communication binding: one shared state per
// promise/future pair carrying a value or an exception, one continuation.
#ifndef PLATFORM_COM_FUTURE_H
#define PLATFORM_COM_FUTURE_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace jux {
namespace com {

// Reaches a future whose promise was destroyed (or dropped by the binding)
// without a value or an exception.
class Broken_promise_exception : public std::runtime_error {
public:
    Broken_promise_exception() : std::runtime_error("Broken promise") {}
};

// Misuse of a future or promise: no shared state, a second get_future, a
// second value, a second continuation.
class Future_error : public std::logic_error {
public:
    explicit Future_error(const char* what) : std::logic_error(what) {}
};

enum class future_status : uint8_t { ready = 0, timeout = 1 };

template <typename T>
class Future;
template <typename T>
class Promise;

namespace detail {

struct Unit {};

template <typename T>
using Stored = std::conditional_t<std::is_void<T>::value, Unit, T>;

// Set by a bounded thread pool on its threads: a thread of it that waits for a
// future lets the pool start another one meanwhile, so that the answer it
// waits for (delivered by the same pool) cannot starve.
class WaitHook {
public:
    virtual void BeginWait() noexcept = 0;
    virtual void EndWait() noexcept = 0;

protected:
    ~WaitHook() = default;
};

inline thread_local WaitHook* tls_waitHook = nullptr;

class BlockingWait {
public:
    BlockingWait() : m_hook(tls_waitHook) {
        if (m_hook != nullptr) {
            m_hook->BeginWait();
        }
    }
    ~BlockingWait() {
        if (m_hook != nullptr) {
            m_hook->EndWait();
        }
    }
    BlockingWait(const BlockingWait&) = delete;
    BlockingWait& operator=(const BlockingWait&) = delete;

private:
    WaitHook* const m_hook;
};

// Runs a task somewhere else (a thread pool).
using Executor = std::function<void(std::function<void()>)>;

template <typename T>
class SharedState {
public:
    using Continuation = std::function<void(std::shared_ptr<SharedState>)>;

    // Set before the future is handed out: a continuation that is waiting when
    // the outcome arrives runs through `executor` instead of in the thread
    // that completes the promise.
    void SetExecutor(Executor executor) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_executor = std::move(executor);
    }

    // Stores the outcome once; the continuation runs after the lock is released.
    template <typename... V>
    void SetValue(std::shared_ptr<SharedState> self, V&&... v) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_ready) {
            throw Future_error("Promise already satisfied");
        }
        m_value.emplace(std::forward<V>(v)...);
        Finish(std::move(self), lock);
    }

    void SetException(std::shared_ptr<SharedState> self, std::exception_ptr error) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_ready) {
            throw Future_error("Promise already satisfied");
        }
        m_error = std::move(error);
        Finish(std::move(self), lock);
    }

    bool IsReady() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ready;
    }

    void Wait() const {
        if (IsReady()) {
            return;
        }
        BlockingWait blocking;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_ready; });
    }

    template <typename Clock, typename Duration>
    bool WaitUntil(const std::chrono::time_point<Clock, Duration>& deadline) const {
        if (IsReady()) {
            return true;
        }
        BlockingWait blocking;
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_until(lock, deadline, [this] { return m_ready; });
    }

    // Waits, then hands the value out (or rethrows the stored exception).
    Stored<T> Take() {
        Wait();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_error) {
            // Handed over, not shared: the exception object then belongs to
            // the thread that handles it.
            std::exception_ptr error = std::move(m_error);
            m_error = nullptr;
            lock.unlock();
            std::rethrow_exception(error);
        }
        return std::move(*m_value);
    }

    // Runs the continuation at once (in this thread) when the outcome is known.
    void SetContinuation(std::shared_ptr<SharedState> self, Continuation continuation) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_hasContinuation) {
            throw Future_error("Continuation already set");
        }
        m_hasContinuation = true;
        if (!m_ready) {
            m_continuation = std::move(continuation);
            return;
        }
        lock.unlock();
        continuation(std::move(self));
    }

private:
    void Finish(std::shared_ptr<SharedState> self, std::unique_lock<std::mutex>& lock) {
        m_ready = true;
        Continuation continuation = std::move(m_continuation);
        m_continuation = nullptr;
        Executor executor = m_executor;
        lock.unlock();
        m_cv.notify_all();
        if (!continuation) {
            return;
        }
        if (executor) {
            executor([continuation = std::move(continuation), self = std::move(self)]() mutable {
                continuation(std::move(self));
            });
        } else {
            continuation(std::move(self));
        }
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_ready = false;
    bool m_hasContinuation = false;
    std::optional<Stored<T>> m_value;
    std::exception_ptr m_error;
    Continuation m_continuation;
    Executor m_executor;
};

template <typename F, typename T>
using ThenResult = std::invoke_result_t<std::decay_t<F>, Future<T>>;

}  // namespace detail

template <typename T>
class Future {
public:
    Future() noexcept = default;
    Future(Future&&) noexcept = default;
    Future& operator=(Future&&) noexcept = default;
    Future(const Future&) = delete;
    Future& operator=(const Future&) = delete;
    ~Future() = default;  // never waits

    bool valid() const noexcept { return m_state != nullptr; }

    // Waits for the outcome; returns the value or rethrows the stored exception.
    // The future is empty afterwards.
    T get() {
        auto state = TakeState();
        if constexpr (std::is_void<T>::value) {
            state->Take();
        } else {
            return state->Take();
        }
    }

    bool is_ready() const { return m_state != nullptr && m_state->IsReady(); }

    void wait() const { State().Wait(); }

    template <typename Rep, typename Period>
    future_status wait_for(const std::chrono::duration<Rep, Period>& timeout) const {
        return wait_until(std::chrono::steady_clock::now() + timeout);
    }

    template <typename Clock, typename Duration>
    future_status wait_until(const std::chrono::time_point<Clock, Duration>& deadline) const {
        return State().WaitUntil(deadline) ? future_status::ready : future_status::timeout;
    }

    // Attaches the one continuation: func(Future<T>) runs once when the outcome
    // is known, at once in this thread when it already is, otherwise in the
    // thread that completes the promise. Its result or exception completes the
    // returned future. This future is empty afterwards.
    template <typename F>
    Future<detail::ThenResult<F, T>> then(F&& func);

private:
    template <typename U>
    friend class Promise;
    template <typename U>
    friend class Future;

    explicit Future(std::shared_ptr<detail::SharedState<T>> state) : m_state(std::move(state)) {}

    detail::SharedState<T>& State() const {
        if (!m_state) {
            throw Future_error("Future has no state");
        }
        return *m_state;
    }

    std::shared_ptr<detail::SharedState<T>> TakeState() {
        State();
        return std::move(m_state);
    }

    std::shared_ptr<detail::SharedState<T>> m_state;
};

template <typename T>
class Promise {
public:
    Promise() : m_state(std::make_shared<detail::SharedState<T>>()) {}
    Promise(Promise&& other) noexcept
        : m_state(std::move(other.m_state)), m_retrieved(other.m_retrieved), m_satisfied(other.m_satisfied) {}
    Promise& operator=(Promise&& other) noexcept {
        if (this != &other) {
            Abandon();
            m_state = std::move(other.m_state);
            m_retrieved = other.m_retrieved;
            m_satisfied = other.m_satisfied;
        }
        return *this;
    }
    Promise(const Promise&) = delete;
    Promise& operator=(const Promise&) = delete;

    // An unsatisfied promise leaves Broken_promise_exception in its future.
    ~Promise() { Abandon(); }

    Future<T> get_future() {
        if (!m_state) {
            throw Future_error("Promise has no state");
        }
        if (m_retrieved) {
            throw Future_error("Future already retrieved");
        }
        m_retrieved = true;
        return Future<T>(m_state);
    }

    // The parameter type is not deduced, so these take exactly T.
    template <typename U = T, typename = std::enable_if_t<!std::is_void<U>::value>>
    void set_value(const detail::Stored<U>& value) {
        Satisfy();
        m_state->SetValue(m_state, value);
    }

    template <typename U = T, typename = std::enable_if_t<!std::is_void<U>::value>>
    void set_value(detail::Stored<U>&& value) {
        Satisfy();
        m_state->SetValue(m_state, std::move(value));
    }

    template <typename U = T, typename = std::enable_if_t<std::is_void<U>::value>>
    void set_value() {
        Satisfy();
        m_state->SetValue(m_state);
    }

    void set_exception(std::exception_ptr error) {
        Satisfy();
        m_state->SetException(m_state, std::move(error));
    }

    // Where a continuation attached to this promise's future runs when the
    // outcome arrives after it was attached (by default in the thread that
    // completes the promise). The binding uses it to complete callers' futures
    // in the answering thread while their continuations run on its pool.
    void set_continuation_executor(detail::Executor executor) {
        if (!m_state) {
            throw Future_error("Promise has no state");
        }
        m_state->SetExecutor(std::move(executor));
    }

private:
    void Satisfy() {
        if (!m_state) {
            throw Future_error("Promise has no state");
        }
        if (m_satisfied) {
            throw Future_error("Promise already satisfied");
        }
        m_satisfied = true;
    }

    void Abandon() noexcept {
        if (m_state && !m_satisfied) {
            m_satisfied = true;
            try {
                m_state->SetException(m_state, std::make_exception_ptr(Broken_promise_exception()));
            } catch (...) {
                // a continuation that throws must not escape a destructor
            }
        }
        m_state.reset();
    }

    std::shared_ptr<detail::SharedState<T>> m_state;
    bool m_retrieved = false;
    bool m_satisfied = false;
};

namespace detail {

// Completes `promise` with what `func` produces from `arg`.
template <typename R, typename F, typename A>
void Fulfil(Promise<R>& promise, F& func, A&& arg) {
    std::exception_ptr error;
    try {
        if constexpr (std::is_void<R>::value) {
            func(std::forward<A>(arg));
            promise.set_value();
        } else {
            promise.set_value(func(std::forward<A>(arg)));
        }
        return;
    } catch (const Future_error&) {
        throw;
    } catch (...) {
        error = std::current_exception();
    }
    // Set outside the handler, so that no hold of this thread on the
    // exception object outlives the hand-over to the next continuation.
    promise.set_exception(std::move(error));
}

}  // namespace detail

template <typename T>
template <typename F>
Future<detail::ThenResult<F, T>> Future<T>::then(F&& func) {
    using R = detail::ThenResult<F, T>;
    auto state = TakeState();
    struct Holder {
        Promise<R> promise;
        std::decay_t<F> func;
    };
    auto holder = std::make_shared<Holder>(Holder{Promise<R>(), std::forward<F>(func)});
    Future<R> result = holder->promise.get_future();
    state->SetContinuation(state, [holder](std::shared_ptr<detail::SharedState<T>> ready) {
        detail::Fulfil(holder->promise, holder->func, Future<T>(std::move(ready)));
    });
    return result;
}

// A future that is complete from the start.
template <typename T>
Future<std::decay_t<T>> MakeReadyFuture(T&& value) {
    Promise<std::decay_t<T>> promise;
    auto future = promise.get_future();
    promise.set_value(std::forward<T>(value));
    return future;
}

inline Future<void> MakeReadyFuture() {
    Promise<void> promise;
    auto future = promise.get_future();
    promise.set_value();
    return future;
}

template <typename T>
Future<T> MakeExceptionalFuture(std::exception_ptr error) {
    Promise<T> promise;
    auto future = promise.get_future();
    promise.set_exception(std::move(error));
    return future;
}

}  // namespace com
}  // namespace jux

#endif
