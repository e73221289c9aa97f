#include "statemachine/Transition.h"

#include <utility>

namespace stelvo::small_sm {

TransitionImpl::TransitionImpl(int32_t kind, uint32_t trigger, uint16_t target, uint16_t historyState,
                               std::function<bool()> guard, std::function<void()> action)
    : kind_(kind),
      trigger_(trigger),
      target_(target),
      historyState_(historyState),
      guard_(std::move(guard)),
      action_(std::move(action)) {}

bool TransitionImpl::EvaluateGuard() const { return !guard_ || guard_(); }

void TransitionImpl::ExecuteAction() const {
    if (action_) {
        action_();
    }
}

}  // namespace stelvo::small_sm
