#include "statemachine/State.h"

#include <utility>

namespace stelvo::small_sm {

StateImpl::StateImpl(std::string name, uint16_t parent, uint8_t hasShallowHistory, uint8_t hasDeepHistory,
                     std::shared_ptr<Transition> initialTransition,
                     std::vector<std::shared_ptr<Transition>> transitions, std::function<void()> entry,
                     std::function<void()> exit)
    : name_(std::move(name)),
      parent_(parent),
      hasShallowHistory_(hasShallowHistory),
      hasDeepHistory_(hasDeepHistory),
      initialTransition_(std::move(initialTransition)),
      transitions_(std::move(transitions)),
      entry_(std::move(entry)),
      exit_(std::move(exit)) {}

std::shared_ptr<Transition> StateImpl::FindTransition(uint32_t trigger) const {
    for (const auto& transition : transitions_) {
        // Guards may have side effects: evaluate them only for rows that match trigger and kind.
        if (!transition || transition->GetTrigger() != trigger || transition->GetKind() == kKindInternal) {
            continue;
        }
        if (!transition->EvaluateGuard()) {
            continue;
        }
        // A history transition without a default target waits until there is a history to return to.
        const bool hasTarget = transition->GetTarget() != kNoState;
        if (transition->GetKind() == kKindShallowHistory && !hasTarget && shallowHistory_ == kNoState) {
            continue;
        }
        if (transition->GetKind() == kKindDeepHistory && !hasTarget && deepHistory_ == kNoState) {
            continue;
        }
        return transition;
    }
    return nullptr;
}

std::shared_ptr<Transition> StateImpl::FindInternalTransition(uint32_t trigger) const {
    for (const auto& transition : transitions_) {
        if (transition && transition->GetTrigger() == trigger && transition->GetKind() == kKindInternal &&
            transition->EvaluateGuard()) {
            return transition;
        }
    }
    return nullptr;
}

void StateImpl::Enter(Logger* logger) {
    if (entry_) {
        entry_();
    }
    if (logger != nullptr) {
        logger->log(1, "[SM] State " + name_ + " has been entered.");
    }
}

void StateImpl::Exit(Logger* logger) {
    if (exit_) {
        exit_();
    }
    if (logger != nullptr) {
        logger->log(1, "[SM] State " + name_ + " has been exited.");
    }
}

}  // namespace stelvo::small_sm
