// Builds state tables for the engine tests. Entry, exit and actions append to one
// trace ("+S", "-S", "/label") so a test can assert the exact order of effects.
#ifndef TESTS_STATEMACHINE_MODELBUILDER_H
#define TESTS_STATEMACHINE_MODELBUILDER_H

#include "statemachine/StateMachine.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace smtest {

namespace sm = stelvo::small_sm;

class RecordingLogger : public sm::Logger {
public:
    void log(int level, const std::string& text) override { lines.emplace_back(level, text); }

    std::vector<std::string> AtLevel(int level) const {
        std::vector<std::string> texts;
        for (const auto& line : lines) {
            if (line.first == level) {
                texts.push_back(line.second);
            }
        }
        return texts;
    }

    std::vector<std::pair<int, std::string>> lines;
};

class Model {
public:
    uint16_t Add(const std::string& name, uint16_t parent, bool shallow = false, bool deep = false) {
        rows_.push_back(Row{name, parent, shallow, deep, nullptr, {}, nullptr});
        return static_cast<uint16_t>(rows_.size() - 1);
    }

    std::function<void()> Act(const std::string& label) {
        return [this, label] { trace_.push_back("/" + label); };
    }

    void Initial(uint16_t state, uint16_t target, std::function<void()> action = {}) {
        rows_[state].initial =
            std::make_shared<sm::TransitionImpl>(sm::kKindInitial, 0, target, state, nullptr, std::move(action));
    }

    // The history state of a row is its source state, as the generated models fill it.
    void On(uint16_t state, int32_t kind, uint32_t trigger, uint16_t target, std::function<void()> action = {},
            std::function<bool()> guard = {}) {
        AddRow(state,
               std::make_shared<sm::TransitionImpl>(kind, trigger, target, state, std::move(guard), std::move(action)));
    }

    void AddRow(uint16_t state, std::shared_ptr<sm::Transition> transition) {
        rows_[state].transitions.push_back(std::move(transition));
    }

    // Runs after the state's entry has been traced.
    void OnEntry(uint16_t state, std::function<void()> hook) { rows_[state].onEntry = std::move(hook); }

    std::vector<std::shared_ptr<sm::State>> States() {
        std::vector<std::shared_ptr<sm::State>> states;
        for (const auto& row : rows_) {
            const std::string name = row.name;
            auto entry = [this, name, hook = row.onEntry] {
                trace_.push_back("+" + name);
                if (hook) {
                    hook();
                }
            };
            states.push_back(std::make_shared<sm::StateImpl>(name, row.parent, row.shallow, row.deep, row.initial,
                                                             row.transitions, entry,
                                                             [this, name] { trace_.push_back("-" + name); }));
        }
        return states;
    }

    std::unique_ptr<sm::StateMachineImpl> Build(sm::Logger* logger) {
        return std::make_unique<sm::StateMachineImpl>(logger, States());
    }

    // The trace since the last call, blank-separated.
    std::string Take() {
        std::string joined;
        for (const auto& item : trace_) {
            joined += (joined.empty() ? "" : " ") + item;
        }
        trace_.clear();
        return joined;
    }

private:
    struct Row {
        std::string name;
        uint16_t parent;
        bool shallow;
        bool deep;
        std::shared_ptr<sm::Transition> initial;
        std::vector<std::shared_ptr<sm::Transition>> transitions;
        std::function<void()> onEntry;
    };

    std::vector<Row> rows_;
    std::vector<std::string> trace_;
};

}  // namespace smtest

#endif  // TESTS_STATEMACHINE_MODELBUILDER_H
