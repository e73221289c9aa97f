// One node of the state hierarchy with its transition table and history slots.
#ifndef STATEMACHINE_STATE_H
#define STATEMACHINE_STATE_H

#include "statemachine/Logger.h"
#include "statemachine/Transition.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace stelvo::small_sm {

class State {
public:
    virtual ~State() = default;
    virtual uint16_t GetParent() const = 0;
    virtual bool HasShallowHistory() const = 0;
    virtual bool HasDeepHistory() const = 0;
    virtual uint16_t GetShallowHistory() const = 0;
    virtual uint16_t GetDeepHistory() const = 0;
    virtual void SetShallowHistory(uint16_t index) = 0;
    virtual void SetDeepHistory(uint16_t index) = 0;
    virtual std::shared_ptr<Transition> GetInitialTransition() const = 0;
    // First enabled non-internal transition for the trigger, empty when none.
    virtual std::shared_ptr<Transition> FindTransition(uint32_t trigger) const = 0;
    virtual std::shared_ptr<Transition> FindInternalTransition(uint32_t trigger) const = 0;
    virtual const std::string& GetName() const = 0;
    virtual void Enter(Logger* logger) = 0;
    virtual void Exit(Logger* logger) = 0;
};

class StateImpl : public State {
public:
    StateImpl(std::string name, uint16_t parent, uint8_t hasShallowHistory, uint8_t hasDeepHistory,
              std::shared_ptr<Transition> initialTransition, std::vector<std::shared_ptr<Transition>> transitions,
              std::function<void()> entry, std::function<void()> exit);

    uint16_t GetParent() const override { return parent_; }
    bool HasShallowHistory() const override { return hasShallowHistory_ != 0; }
    bool HasDeepHistory() const override { return hasDeepHistory_ != 0; }
    uint16_t GetShallowHistory() const override { return shallowHistory_; }
    uint16_t GetDeepHistory() const override { return deepHistory_; }
    void SetShallowHistory(uint16_t index) override { shallowHistory_ = index; }
    void SetDeepHistory(uint16_t index) override { deepHistory_ = index; }
    std::shared_ptr<Transition> GetInitialTransition() const override { return initialTransition_; }
    std::shared_ptr<Transition> FindTransition(uint32_t trigger) const override;
    std::shared_ptr<Transition> FindInternalTransition(uint32_t trigger) const override;
    const std::string& GetName() const override { return name_; }
    void Enter(Logger* logger) override;
    void Exit(Logger* logger) override;

private:
    std::string name_;
    uint16_t parent_;
    uint8_t hasShallowHistory_;
    uint8_t hasDeepHistory_;
    uint16_t shallowHistory_ = kNoState;
    uint16_t deepHistory_ = kNoState;
    std::shared_ptr<Transition> initialTransition_;
    std::vector<std::shared_ptr<Transition>> transitions_;
    std::function<void()> entry_;
    std::function<void()> exit_;
};

}  // namespace stelvo::small_sm

#endif  // STATEMACHINE_STATE_H
