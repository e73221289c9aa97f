#include "sim/AlienKiv.h"

#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_skeleton.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

namespace r0253 = zenqo::services::diag::r_0253;
using Failed = r0253::RoutineService_CalculateIntegrityValidationData::UDSServiceFailed;

class AlienKiv::Service : public r0253::skeleton::RoutineService_CalculateIntegrityValidationDataSkeleton {
public:
    explicit Service(std::string instance)
        : RoutineService_CalculateIntegrityValidationDataSkeleton(
              std::move(instance), ara::com::MethodCallProcessingMode::kEventSingleThread) {
        m_output.IVD_Result = 0;
        m_output.IVD_Flag = 1;
        m_output.ProgHashValue.assign(32, 0xA5);
    }

    ~Service() override { Shutdown(); }

    void Shutdown() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            threads.swap(m_threads);
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }

    jux::com::Future<StartOutput> Start(const zov::dm::types::MetaInfoType&, uint8_t, uint8_t) override {
        Behaviour behaviour;
        StartOutput output;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            behaviour = m_start;
            output = m_output;
        }
        auto future =
            Reply<StartOutput>(behaviour, [output](jux::com::Promise<StartOutput>& p) { p.set_value(output); });
        Count(m_startCalls);  // after the call is held: a waiter may release it at once
        return future;
    }

    jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType&) override {
        Behaviour behaviour;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            behaviour = m_cancel;
        }
        auto future = Reply<void>(behaviour, [](jux::com::Promise<void>& p) { p.set_value(); });
        Count(m_cancelCalls);
        return future;
    }

    void Count(std::size_t& calls) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++calls;
        }
        m_calls.notify_all();
    }

    template <typename T>
    jux::com::Future<T> Reply(const Behaviour& behaviour, std::function<void(jux::com::Promise<T>&)> value) {
        auto promise = std::make_shared<jux::com::Promise<T>>();
        jux::com::Future<T> future = promise->get_future();
        auto answer = [this, promise, behaviour, value] {
            if (behaviour.kind == Behaviour::Kind::kError) {
                promise->set_exception(std::make_exception_ptr(Failed(behaviour.nrc)));
            } else {
                value(*promise);
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_answered;
        };
        if (behaviour.kind == Behaviour::Kind::kSilent) {
            // Held until released; broken when the service goes.
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_unanswered;
            m_held.push_back([promise, value] { value(*promise); });
            return future;
        }
        if (behaviour.delay.count() == 0) {
            answer();
            return future;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.emplace_back([this, answer, delay = behaviour.delay] {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (m_wake.wait_for(lock, delay, [this] { return m_stopping; })) {
                    return;  // shutting down: the promise breaks
                }
            }
            answer();
        });
        return future;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    mutable std::condition_variable m_calls;
    bool m_stopping = false;
    Behaviour m_start;
    Behaviour m_cancel;
    StartOutput m_output;
    std::size_t m_startCalls = 0;
    std::size_t m_cancelCalls = 0;
    std::size_t m_answered = 0;
    std::size_t m_unanswered = 0;
    std::vector<std::thread> m_threads;
    std::vector<std::function<void()>> m_held;
};

AlienKiv::AlienKiv(std::string instance, bool offer) : m_service(std::make_shared<Service>(std::move(instance))) {
    if (offer) {
        Offer();
    }
}

AlienKiv::~AlienKiv() {
    Withdraw();
    m_service->Shutdown();
}

void AlienKiv::Offer() { m_service->OfferService(); }

void AlienKiv::Withdraw() {
    m_service->StopOfferService();
    m_service->StopMethodDispatcher();
}

void AlienKiv::SetStartBehaviour(Behaviour behaviour) {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    m_service->m_start = behaviour;
}

void AlienKiv::SetCancelBehaviour(Behaviour behaviour) {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    m_service->m_cancel = behaviour;
}

void AlienKiv::SetStartOutput(StartOutput output) {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    m_service->m_output = std::move(output);
}

std::size_t AlienKiv::ReleaseHeld(std::size_t count) {
    std::vector<std::function<void()>> released;
    {
        std::lock_guard<std::mutex> lock(m_service->m_mutex);
        const std::size_t n = std::min(count, m_service->m_held.size());
        released.assign(m_service->m_held.begin(), m_service->m_held.begin() + static_cast<std::ptrdiff_t>(n));
        m_service->m_held.erase(m_service->m_held.begin(), m_service->m_held.begin() + static_cast<std::ptrdiff_t>(n));
        m_service->m_unanswered -= n;
        m_service->m_answered += n;
    }
    for (const auto& answer : released) {
        answer();
    }
    return released.size();
}

std::size_t AlienKiv::StartCalls() const {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    return m_service->m_startCalls;
}

std::size_t AlienKiv::CancelCalls() const {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    return m_service->m_cancelCalls;
}

std::size_t AlienKiv::Answered() const {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    return m_service->m_answered;
}

std::size_t AlienKiv::Unanswered() const {
    std::lock_guard<std::mutex> lock(m_service->m_mutex);
    return m_service->m_unanswered;
}

bool AlienKiv::WaitForStartCalls(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_service->m_mutex);
    return m_service->m_calls.wait_for(lock, timeout, [&] { return m_service->m_startCalls >= count; });
}

bool AlienKiv::WaitForCancelCalls(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_service->m_mutex);
    return m_service->m_calls.wait_for(lock, timeout, [&] { return m_service->m_cancelCalls >= count; });
}

}  // namespace sim
