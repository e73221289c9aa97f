// One row of a state's transition table.
#ifndef STATEMACHINE_TRANSITION_H
#define STATEMACHINE_TRANSITION_H

#include <cstdint>
#include <functional>

namespace stelvo::small_sm {

constexpr uint16_t kNoState = 0xFFFF;
constexpr uint32_t kCompletionTrigger = 0xFFFFFFFF;

// Transition kinds as the generated tables number them.
constexpr int32_t kKindExternal = 0;
constexpr int32_t kKindInitial = 1;  // executed like kKindExternal
constexpr int32_t kKindInternal = 2;
constexpr int32_t kKindJunction = 3;
constexpr int32_t kKindDeepHistory = 4;
constexpr int32_t kKindShallowHistory = 5;

class Transition {
public:
    virtual ~Transition() = default;
    virtual int32_t GetKind() const = 0;
    virtual uint32_t GetTrigger() const = 0;
    virtual uint16_t GetTarget() const = 0;
    virtual uint16_t GetHistoryState() const = 0;
    virtual bool EvaluateGuard() const = 0;
    virtual void ExecuteAction() const = 0;
};

class TransitionImpl : public Transition {
public:
    TransitionImpl(int32_t kind, uint32_t trigger, uint16_t target, uint16_t historyState, std::function<bool()> guard,
                   std::function<void()> action);

    int32_t GetKind() const override { return kind_; }
    uint32_t GetTrigger() const override { return trigger_; }
    uint16_t GetTarget() const override { return target_; }
    uint16_t GetHistoryState() const override { return historyState_; }
    bool EvaluateGuard() const override;
    void ExecuteAction() const override;

private:
    int32_t kind_;
    uint32_t trigger_;
    uint16_t target_;
    uint16_t historyState_;
    std::function<bool()> guard_;
    std::function<void()> action_;
};

}  // namespace stelvo::small_sm

#endif  // STATEMACHINE_TRANSITION_H
