// Table-driven hierarchical state machine with run-to-completion semantics.
// Not thread-safe: the owner serialises Start, Stop and Trigger.
//
// A Trigger issued from inside a guard, action, entry or exit function is
// queued until the running step completes: the nested call returns at once,
// the code that issued it still sees the old state (GetCurrentState), and the
// queued triggers are handled in order by the outermost Trigger (or Start)
// before it returns. At most 100 queued triggers are handled per outer call;
// the rest are dropped with an error log. A guard or action that throws
// discards the queue.
#ifndef STATEMACHINE_STATEMACHINE_H
#define STATEMACHINE_STATEMACHINE_H

#include "statemachine/Logger.h"
#include "statemachine/State.h"
#include "statemachine/Transition.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace stelvo::small_sm {

class StateMachine {
public:
    virtual ~StateMachine() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
    virtual uint16_t GetCurrentState() const = 0;
    virtual void Trigger(uint32_t event) = 0;
};

class StateMachineImpl : public StateMachine {
public:
    // The logger is not owned and may be null; state 0 is the root.
    StateMachineImpl(Logger* logger, std::vector<std::shared_ptr<State>> states);

    void Start() override;
    void Stop() override;
    bool IsRunning() const override { return running_; }
    uint16_t GetCurrentState() const override { return current_; }
    void Trigger(uint32_t event) override;

private:
    class BusyScope;

    void Log(int level, const std::string& text) const;
    bool ValidateTable() const;
    State* StateAt(uint16_t index) const;
    uint16_t ParentOf(uint16_t index) const;
    bool IsSelfOrAncestor(uint16_t candidate, uint16_t state) const;
    uint16_t CommonAncestor(uint16_t a, uint16_t b) const;
    void ExitUpTo(uint16_t limit);
    void EnterDownFrom(uint16_t limit);
    bool Execute(std::shared_ptr<Transition> transition);
    void RunToCompletion(std::shared_ptr<Transition> transition);
    void Dispatch(uint32_t event);
    void DrainPending();

    Logger* logger_;
    std::vector<std::shared_ptr<State>> states_;
    bool running_ = false;
    uint16_t current_ = kNoState;
    bool busy_ = false;
    std::deque<uint32_t> pending_;
};

}  // namespace stelvo::small_sm

#endif  // STATEMACHINE_STATEMACHINE_H
