#include "KivLibrary/KivLibrary/AutonomousCheckModel.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sm = stelvo::small_sm;

namespace {

using TransitionPtr = std::shared_ptr<sm::Transition>;

TransitionPtr Row(int32_t kind, uint32_t trigger, uint16_t target, uint16_t source, std::function<bool()> guard = {}) {
    return std::make_shared<sm::TransitionImpl>(kind, trigger, target, source, std::move(guard), nullptr);
}

TransitionPtr Initial(uint16_t source, uint16_t target) {
    return std::make_shared<sm::TransitionImpl>(sm::kKindInitial, sm::kCompletionTrigger, target, source, nullptr,
                                                nullptr);
}

std::shared_ptr<sm::State> MakeState(const std::string& name, uint16_t parent, TransitionPtr initial,
                                     std::vector<TransitionPtr> transitions, std::function<void()> entry = {},
                                     std::function<void()> exit = {}) {
    return std::make_shared<sm::StateImpl>(name, parent, 0, 0, std::move(initial), std::move(transitions),
                                           std::move(entry), std::move(exit));
}

}  // namespace

std::shared_ptr<sm::StateMachine> CreateAutonomousCheckModel(sm::Logger* logger,
                                                             std::shared_ptr<sm::MainConditions> conditions,
                                                             std::shared_ptr<sm::MainActions> actions) {
    const auto allFetched = [conditions] { return conditions && conditions->COND_ALL_IVD_DATA_FETCHED(); };
    const auto act = [actions](void (sm::MainActions::*operation)()) -> std::function<void()> {
        return [actions, operation] {
            if (actions) {
                ((*actions).*operation)();
            }
        };
    };
    constexpr uint32_t kNone = sm::kCompletionTrigger;

    std::vector<std::shared_ptr<sm::State>> states;
    states.push_back(MakeState("Main", sm::kNoState, Initial(ST_MAIN, ST_AUTONOMOUS_CHECK), {}));
    states.push_back(MakeState("AutonomousCheck", ST_MAIN, Initial(ST_AUTONOMOUS_CHECK, ST_AUTO_CHECK_INIT),
                               {Row(sm::kKindJunction, kNone, ST_MAIN, ST_AUTONOMOUS_CHECK)}));
    states.push_back(MakeState("StartingIVDTimer", ST_AUTONOMOUS_CHECK, nullptr,
                               {Row(sm::kKindExternal, kNone, ST_IDLE, ST_STARTING_IVD_TIMER)},
                               act(&sm::MainActions::executeStartingIVDTimerEnter)));
    states.push_back(MakeState("Idle", ST_AUTONOMOUS_CHECK, nullptr,
                               {Row(sm::kKindExternal, EV_START_IVD_FETCHING, ST_FETCHING_IVD_FROM_UCM, ST_IDLE)}));
    states.push_back(MakeState("FetchingIVDFromUCM", ST_AUTONOMOUS_CHECK,
                               Initial(ST_FETCHING_IVD_FROM_UCM, ST_FETCHING_IVD_FOR_LB),
                               {Row(sm::kKindExternal, kNone, ST_IDLE, ST_FETCHING_IVD_FROM_UCM)}, {},
                               act(&sm::MainActions::executeFetchingIVDFromUCMExit)));
    states.push_back(
        MakeState("FetchingIVDForLB", ST_FETCHING_IVD_FROM_UCM,
                  Initial(ST_FETCHING_IVD_FOR_LB, ST_REQUESTING_IVD_FOR_LB_FROM_UCM),
                  {Row(sm::kKindJunction, kNone, ST_FETCHING_IVD_FROM_UCM, ST_FETCHING_IVD_FOR_LB, allFetched),
                   Row(sm::kKindExternal, kNone, ST_PAUSING_IVD, ST_FETCHING_IVD_FOR_LB, allFetched)}));
    states.push_back(MakeState(
        "RequestingIVDForLBFromUCM", ST_FETCHING_IVD_FOR_LB, nullptr,
        {Row(sm::kKindExternal, EV_RETRIEVED_IVD_FOR_LB, ST_HANDLING_IVD_DATA_FOR_LB,
             ST_REQUESTING_IVD_FOR_LB_FROM_UCM),
         Row(sm::kKindExternal, EV_RETRY_IVD_REQUEST, ST_REQUESTING_IVD_FOR_LB_FROM_UCM,
             ST_REQUESTING_IVD_FOR_LB_FROM_UCM),
         Row(sm::kKindJunction, EV_IVD_REQUEST_FINISHED, ST_FETCHING_IVD_FOR_LB, ST_REQUESTING_IVD_FOR_LB_FROM_UCM)},
        act(&sm::MainActions::executeRequestingIVDForLBFromUCMEnter)));
    states.push_back(MakeState("HandlingIVDDataForLB", ST_FETCHING_IVD_FOR_LB, nullptr,
                               {Row(sm::kKindJunction, kNone, ST_FETCHING_IVD_FOR_LB, ST_HANDLING_IVD_DATA_FOR_LB)},
                               act(&sm::MainActions::executeHandlingIVDDataForLBEnter)));
    states.push_back(MakeState("PausingIVD", ST_FETCHING_IVD_FROM_UCM, nullptr,
                               {Row(sm::kKindExternal, EV_IVD_PAUSE_FINISHED, ST_FETCHING_IVD_FOR_LB, ST_PAUSING_IVD)},
                               act(&sm::MainActions::executePausingIVDEnter)));
    states.push_back(
        MakeState("AutoCheckInit", ST_AUTONOMOUS_CHECK, nullptr,
                  {Row(sm::kKindExternal, EV_AUTOCHECK_INIT_DONE, ST_STARTING_IVD_TIMER, ST_AUTO_CHECK_INIT)}));
    return std::make_shared<sm::StateMachineImpl>(logger, std::move(states));
}
