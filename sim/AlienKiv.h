// The other application instance's routine 0x0253, as routine 0x0253 of this
// process sees it over the binding: offered on one instance (the configured
// "IVD_RID_0253_AlienKIVId"), it answers Start and Cancel after a set delay,
// answers an error, never answers, or is absent (not offered). Not part of
// the product.
//
// Threading: the methods run on the binding's method threads; delayed answers
// come from threads of its own, joined by the destructor (which also wakes
// them). Configuration and queries from any thread.
#ifndef SIM_ALIENKIV_H
#define SIM_ALIENKIV_H

#include "platform/services/zenqo/services/diag/r_0253/RoutineService_CalculateIntegrityValidationData_common.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

class AlienKiv {
public:
    using StartOutput = zenqo::services::diag::r_0253::RoutineService_CalculateIntegrityValidationData::Start::Output;

    struct Behaviour {
        enum class Kind { kAnswer, kError, kSilent };
        Kind kind = Kind::kAnswer;
        std::chrono::milliseconds delay{0};  // before an answer or an error
        uint8_t nrc = 0x22;                  // for kError

        static Behaviour Answer(std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
            return {Kind::kAnswer, delay, 0};
        }
        static Behaviour Error(uint8_t nrc, std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
            return {Kind::kError, delay, nrc};
        }
        // Held: never answered unless a test releases it (ReleaseHeld).
        static Behaviour Silent() { return {Kind::kSilent, std::chrono::milliseconds(0), 0}; }
    };

    // Offered at construction unless `offer` is false (absent until Offer()).
    explicit AlienKiv(std::string instance, bool offer = true);
    ~AlienKiv();
    AlienKiv(const AlienKiv&) = delete;
    AlienKiv& operator=(const AlienKiv&) = delete;

    void Offer();
    void Withdraw();

    // Applies to the following calls.
    void SetStartBehaviour(Behaviour behaviour);
    void SetCancelBehaviour(Behaviour behaviour);
    // The value a Start answers (by default: correct, flag 1, 32 bytes 0xA5).
    void SetStartOutput(StartOutput output);

    // Answers the oldest `count` held calls now (with the value of their
    // call time); returns how many.
    std::size_t ReleaseHeld(std::size_t count = static_cast<std::size_t>(-1));

    std::size_t StartCalls() const;
    std::size_t CancelCalls() const;
    // Calls answered so far (values and errors), and calls left unanswered.
    std::size_t Answered() const;
    std::size_t Unanswered() const;
    // Waits until `count` Start (or Cancel) calls arrived; false on time-out.
    bool WaitForStartCalls(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForCancelCalls(std::size_t count, std::chrono::milliseconds timeout) const;

    class Service;

private:
    std::shared_ptr<Service> m_service;
};

}  // namespace sim

#endif
