#include "statemachine/StateMachine.h"

#include <algorithm>
#include <utility>

namespace stelvo::small_sm {

namespace {

// 100 transitions per trigger; the counter starts one higher because it is decremented first.
constexpr int kTransitionBudget = 101;
// Bounds a chain of junctions whose guards keep pointing at each other.
constexpr std::size_t kMaxJunctionHops = 100;
// Bounds events that actions keep posting to each other.
constexpr std::size_t kMaxQueuedTriggers = 100;

}  // namespace

// Marks a step in progress so that nested triggers are queued; a throwing guard or
// action must not leave the machine believing it is still busy.
class StateMachineImpl::BusyScope {
public:
    explicit BusyScope(StateMachineImpl& machine) : machine_(machine) { machine_.busy_ = true; }
    ~BusyScope() {
        machine_.busy_ = false;
        machine_.pending_.clear();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    StateMachineImpl& machine_;
};

StateMachineImpl::StateMachineImpl(Logger* logger, std::vector<std::shared_ptr<State>> states)
    : logger_(logger), states_(std::move(states)) {}

void StateMachineImpl::Log(int level, const std::string& text) const {
    if (logger_ != nullptr) {
        logger_->log(level, text);
    }
}

bool StateMachineImpl::ValidateTable() const {
    const std::size_t count = states_.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!states_[i]) {
            Log(0, "[SM] - State machine not started due to: missing state " + std::to_string(i));
            return false;
        }
        const uint16_t parent = states_[i]->GetParent();
        if (parent != kNoState && parent >= count) {
            Log(0, "[SM] - State machine not started due to: invalid parent " + std::to_string(parent) + " of state " +
                       std::to_string(i));
            return false;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        // An acyclic chain reaches the top within count steps.
        uint16_t s = static_cast<uint16_t>(i);
        std::size_t steps = 0;
        while (s != kNoState && steps <= count) {
            s = states_[s]->GetParent();
            ++steps;
        }
        if (s != kNoState) {
            Log(0, "[SM] - State machine not started due to: cyclic parent chain at state " + std::to_string(i));
            return false;
        }
    }
    return true;
}

State* StateMachineImpl::StateAt(uint16_t index) const {
    return index < states_.size() ? states_[index].get() : nullptr;
}

uint16_t StateMachineImpl::ParentOf(uint16_t index) const {
    const State* state = StateAt(index);
    if (state == nullptr) {
        return kNoState;
    }
    const uint16_t parent = state->GetParent();
    return StateAt(parent) != nullptr ? parent : kNoState;
}

// Every walk up the hierarchy is capped at the table size; a validated table never needs more.
bool StateMachineImpl::IsSelfOrAncestor(uint16_t candidate, uint16_t state) const {
    for (std::size_t steps = 0; state != kNoState && steps <= states_.size(); ++steps) {
        if (state == candidate) {
            return true;
        }
        state = ParentOf(state);
    }
    return candidate == kNoState;
}

uint16_t StateMachineImpl::CommonAncestor(uint16_t a, uint16_t b) const {
    for (std::size_t steps = 0; a != kNoState && steps <= states_.size(); ++steps) {
        if (IsSelfOrAncestor(a, b)) {
            return a;
        }
        a = ParentOf(a);
    }
    return kNoState;
}

void StateMachineImpl::ExitUpTo(uint16_t limit) {
    const uint16_t innermost = current_;
    uint16_t s = current_;
    uint16_t p = current_;
    for (std::size_t steps = 0; s != limit && steps <= states_.size(); ++steps) {
        State* state = StateAt(s);
        if (state == nullptr) {
            break;
        }
        state->Exit(logger_);
        if (state->HasDeepHistory()) {
            state->SetDeepHistory(innermost);
        }
        if (state->HasShallowHistory()) {
            state->SetShallowHistory(p);
        }
        p = s;
        s = ParentOf(s);
    }
}

void StateMachineImpl::EnterDownFrom(uint16_t limit) {
    std::vector<uint16_t> path;
    uint16_t s = current_;
    for (std::size_t steps = 0; s != limit && s != kNoState && steps <= states_.size(); ++steps) {
        path.push_back(s);
        s = ParentOf(s);
    }
    std::reverse(path.begin(), path.end());
    for (uint16_t index : path) {
        StateAt(index)->Enter(logger_);
    }
}

bool StateMachineImpl::Execute(std::shared_ptr<Transition> transition) {
    // Follow junctions iteratively: a table whose junctions point at each other must not exhaust the stack.
    for (std::size_t hops = 0; transition->GetKind() == kKindJunction; ++hops) {
        if (hops >= kMaxJunctionHops) {
            Log(0, "[SM] - maximum junction transitions executed. Possible endless loop detected. Resting in state " +
                       std::to_string(current_));
            return false;
        }
        const uint16_t junction = transition->GetTarget();
        State* junctionState = StateAt(junction);
        if (junctionState == nullptr) {
            Log(0, "[SM] - invalid junction state " + std::to_string(junction) + " of a transition. Resting in state " +
                       std::to_string(current_));
            return false;
        }
        std::shared_ptr<Transition> next = junctionState->FindTransition(kCompletionTrigger);
        if (next) {
            transition = std::move(next);
            continue;
        }
        if (junctionState->GetParent() == kNoState) {
            // A top-level junction without continuation is the end of the machine.
            ExitUpTo(kNoState);
            current_ = kNoState;
            return true;
        }
        break;  // no continuation: the junction is entered like an ordinary state
    }

    uint16_t target = transition->GetTarget();
    const int32_t kind = transition->GetKind();
    if (kind == kKindShallowHistory || kind == kKindDeepHistory) {
        const uint16_t historyIndex = transition->GetHistoryState();
        if (historyIndex != kNoState) {
            const State* history = StateAt(historyIndex);
            if (history == nullptr) {
                Log(0, "[SM] - invalid history state " + std::to_string(historyIndex) +
                           " of a transition. Resting in state " + std::to_string(current_));
                return false;
            }
            const uint16_t slot =
                kind == kKindShallowHistory ? history->GetShallowHistory() : history->GetDeepHistory();
            if (slot != kNoState) {
                target = slot;
            }
        }
    }
    // Checked before the action runs so that a broken row has no effect at all.
    if (target != kNoState && StateAt(target) == nullptr) {
        Log(0, "[SM] - invalid target state " + std::to_string(target) + " of a transition. Resting in state " +
                   std::to_string(current_));
        return false;
    }

    transition->ExecuteAction();

    if (target != current_) {
        const uint16_t ancestor = CommonAncestor(current_, target);
        ExitUpTo(ancestor);
        current_ = target;
        EnterDownFrom(ancestor);
    }
    return true;
}

void StateMachineImpl::RunToCompletion(std::shared_ptr<Transition> transition) {
    const uint16_t start = current_;
    int budget = kTransitionBudget;
    while (transition) {
        if (--budget == 0) {
            Log(0,
                "[SM] - maximum transitions executed for a single trigger. Possible endless loop detected. Resting in "
                "state " +
                    std::to_string(current_));
            return;
        }
        if (!Execute(std::move(transition)) || current_ == kNoState || !running_) {
            return;
        }
        State* state = StateAt(current_);
        transition = nullptr;
        if (current_ != start) {
            transition = state->GetInitialTransition();
        }
        if (!transition) {
            transition = state->FindTransition(kCompletionTrigger);
        }
    }
}

void StateMachineImpl::Start() {
    if (busy_) {
        Log(0, "[SM] - Start ignored: called from within a running transition");
        return;
    }
    if (!ValidateTable()) {
        running_ = false;
        return;
    }
    BusyScope busy(*this);
    current_ = 0;
    running_ = true;
    if (!states_.empty()) {
        RunToCompletion(states_[0]->GetInitialTransition());
    }
    DrainPending();
}

void StateMachineImpl::Stop() {
    running_ = false;
    pending_.clear();
}

void StateMachineImpl::Trigger(uint32_t event) {
    if (!running_) {
        return;
    }
    if (busy_) {
        pending_.push_back(event);
        return;
    }
    BusyScope busy(*this);
    Dispatch(event);
    DrainPending();
}

void StateMachineImpl::Dispatch(uint32_t event) {
    if (!running_) {
        return;
    }
    if (StateAt(current_) == nullptr) {
        Log(0, "[SM] - State machine is stopped due to: invalid current state " + std::to_string(current_));
        Stop();
        return;
    }
    uint16_t s = current_;
    for (std::size_t steps = 0; s != kNoState && steps <= states_.size(); ++steps) {
        State* state = StateAt(s);
        // An internal transition only runs its action: no state is left or entered, nothing completes.
        if (std::shared_ptr<Transition> internal = state->FindInternalTransition(event)) {
            internal->ExecuteAction();
            return;
        }
        if (std::shared_ptr<Transition> transition = state->FindTransition(event)) {
            RunToCompletion(std::move(transition));
            return;
        }
        s = ParentOf(s);
    }
}

void StateMachineImpl::DrainPending() {
    std::size_t handled = 0;
    while (!pending_.empty() && running_) {
        if (handled == kMaxQueuedTriggers) {
            Log(0,
                "[SM] - maximum queued triggers handled for a single trigger. Possible endless loop detected. "
                "Dropping " +
                    std::to_string(pending_.size()) + " queued triggers, resting in state " + std::to_string(current_));
            pending_.clear();
            return;
        }
        const uint32_t event = pending_.front();
        pending_.pop_front();
        ++handled;
        Dispatch(event);
    }
    pending_.clear();
}

}  // namespace stelvo::small_sm
