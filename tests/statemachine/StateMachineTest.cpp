#include "tests/statemachine/ModelBuilder.h"

#include <gtest/gtest.h>

namespace smtest {
namespace {

using sm::kCompletionTrigger;
using sm::kKindDeepHistory;
using sm::kKindExternal;
using sm::kKindInternal;
using sm::kKindJunction;
using sm::kKindShallowHistory;
using sm::kNoState;

// root { A { A1 { A1a }, A2 }, B { B1 } }, every composite with an initial transition.
class HierarchyTest : public ::testing::Test {
protected:
    HierarchyTest() {
        model.Add("root", kNoState);
        model.Add("A", kRoot);
        model.Add("A1", kA);
        model.Add("A1a", kA1);
        model.Add("A2", kA);
        model.Add("B", kRoot);
        model.Add("B1", kB);
        model.Initial(kRoot, kA);
        model.Initial(kA, kA1);
        model.Initial(kA1, kA1a);
        model.Initial(kB, kB1);
    }

    void StartMachine() {
        machine = model.Build(&logger);
        machine->Start();
        model.Take();
        logger.lines.clear();
    }

    static constexpr uint16_t kRoot = 0, kA = 1, kA1 = 2, kA1a = 3, kA2 = 4, kB = 5, kB1 = 6;
    Model model;
    RecordingLogger logger;
    std::unique_ptr<sm::StateMachineImpl> machine;
};

TEST_F(HierarchyTest, StartEntersOutermostFirstWithoutEnteringTheRoot) {
    machine = model.Build(&logger);
    machine->Trigger(1);
    EXPECT_FALSE(machine->IsRunning());
    EXPECT_EQ(machine->GetCurrentState(), kNoState);

    machine->Start();
    EXPECT_TRUE(machine->IsRunning());
    EXPECT_EQ(machine->GetCurrentState(), kA1a);
    EXPECT_EQ(model.Take(), "+A +A1 +A1a");
    const std::vector<std::pair<int, std::string>> expected{{1, "[SM] State A has been entered."},
                                                            {1, "[SM] State A1 has been entered."},
                                                            {1, "[SM] State A1a has been entered."}};
    EXPECT_EQ(logger.lines, expected);
}

TEST_F(HierarchyTest, ExitsAndEntersAcrossTheCommonAncestor) {
    struct Case {
        uint16_t owner;
        uint16_t target;
        std::string trace;
        uint16_t current;
    };
    const std::vector<Case> cases{
        {kA1a, kB1, "/t -A1a -A1 -A +B +B1", kB1},
        {kA1a, kB, "/t -A1a -A1 -A +B +B1", kB1},  // initial transition of the new composite follows
        {kA1a, kA2, "/t -A1a -A1 +A2", kA2},
        {kA1a, kA1a, "/t", kA1a},                  // self target: action only
        {kA1a, kA, "/t -A1a -A1 +A1 +A1a", kA1a},  // ancestor target: re-descends by initial transitions
        {kA, kB1, "/t -A1a -A1 -A +B +B1", kB1},   // handled by an ancestor of the current state
        {kRoot, kA2, "/t -A1a -A1 +A2", kA2},
    };
    uint32_t event = 10;
    for (const auto& c : cases) {
        model.On(c.owner, kKindExternal, event++, c.target, model.Act("t"));
    }
    event = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE("owner " + std::to_string(c.owner) + " target " + std::to_string(c.target));
        StartMachine();
        machine->Trigger(event++);
        EXPECT_EQ(model.Take(), c.trace);
        EXPECT_EQ(machine->GetCurrentState(), c.current);
    }
}

TEST_F(HierarchyTest, UnknownEventIsIgnoredSilently) {
    model.On(kA1a, kKindExternal, 1, kB1);
    StartMachine();
    machine->Trigger(99);
    EXPECT_EQ(model.Take(), "");
    EXPECT_TRUE(logger.lines.empty());
    EXPECT_EQ(machine->GetCurrentState(), kA1a);
    EXPECT_TRUE(machine->IsRunning());
}

TEST_F(HierarchyTest, GuardsSelectTheFirstEnabledRowAndAreEvaluatedOnlyWhenNeeded) {
    int otherTrigger = 0, internalRow = 0, rejecting = 0, accepting = 0, later = 0;
    model.On(kA1a, kKindExternal, 2, kB1, model.Act("other"), [&] { return ++otherTrigger > 0; });
    model.On(kA1a, kKindInternal, 1, kNoState, model.Act("internal"), [&] { return ++internalRow < 0; });
    model.On(kA1a, kKindExternal, 1, kB1, model.Act("rejected"), [&] { return ++rejecting < 0; });
    model.On(kA1a, kKindExternal, 1, kA2, model.Act("accepted"), [&] { return ++accepting > 0; });
    model.On(kA1a, kKindExternal, 1, kB, model.Act("later"), [&] { return ++later > 0; });
    StartMachine();

    machine->Trigger(1);
    EXPECT_EQ(model.Take(), "/accepted -A1a -A1 +A2");
    EXPECT_EQ(otherTrigger, 0);
    EXPECT_EQ(internalRow, 1);  // asked once as an internal candidate, never as an external one
    EXPECT_EQ(rejecting, 1);
    EXPECT_EQ(accepting, 1);
    EXPECT_EQ(later, 0);
}

TEST_F(HierarchyTest, RejectingGuardOfTheChildLetsTheParentHandleTheEvent) {
    bool allow = false;
    model.On(kA1a, kKindExternal, 1, kA2, model.Act("child"), [&] { return allow; });
    model.On(kA, kKindExternal, 1, kB1, model.Act("parent"));
    StartMachine();
    machine->Trigger(1);
    EXPECT_EQ(model.Take(), "/parent -A1a -A1 -A +B +B1");
}

TEST_F(HierarchyTest, InternalTransitionRunsOnlyItsActionAndTakesNoCompletion) {
    int completionAsked = 0;
    // The internal row names its owner as target, as generated tables do.
    model.On(kA, kKindInternal, 1, kA, model.Act("internal"));
    model.On(kA, kKindExternal, 1, kB1, model.Act("external"));
    model.On(kA1a, kKindExternal, kCompletionTrigger, kA2, model.Act("completion"), [&] {
        ++completionAsked;
        return false;
    });
    StartMachine();
    completionAsked = 0;

    machine->Trigger(1);
    EXPECT_EQ(model.Take(), "/internal");
    EXPECT_EQ(machine->GetCurrentState(), kA1a);
    EXPECT_EQ(completionAsked, 0);
    EXPECT_TRUE(logger.lines.empty());
}

TEST_F(HierarchyTest, InternalTransitionWithRejectingGuardFallsBackToExternal) {
    model.On(kA1a, kKindInternal, 1, kNoState, model.Act("internal"), [] { return false; });
    model.On(kA1a, kKindExternal, 1, kA2, model.Act("external"));
    StartMachine();
    machine->Trigger(1);
    EXPECT_EQ(model.Take(), "/external -A1a -A1 +A2");
}

TEST_F(HierarchyTest, CompletionTransitionsRunInTheSameStep) {
    model.On(kA1a, kKindExternal, 1, kA2, model.Act("t"));
    model.On(kA2, kKindExternal, kCompletionTrigger, kB1, model.Act("c"));
    StartMachine();
    machine->Trigger(1);
    EXPECT_EQ(model.Take(), "/t -A1a -A1 +A2 /c -A2 -A +B +B1");
    EXPECT_EQ(machine->GetCurrentState(), kB1);
}

TEST_F(HierarchyTest, CompletionCycleStopsAfterOneHundredTransitions) {
    int actions = 0;
    auto count = [&] { ++actions; };
    model.On(kA1a, kKindExternal, 1, kA2, count);
    model.On(kA2, kKindExternal, kCompletionTrigger, kB1, count);
    model.On(kB1, kKindExternal, kCompletionTrigger, kA2, count);
    model.On(kB1, kKindExternal, 2, kA1a, model.Act("after"), [&] { return actions > 0; });
    StartMachine();

    machine->Trigger(1);
    EXPECT_EQ(actions, 100);
    // 1 triggered + 99 completions: odd count of completions rests in B1.
    EXPECT_EQ(machine->GetCurrentState(), kB1);
    EXPECT_EQ(logger.AtLevel(0), std::vector<std::string>{"[SM] - maximum transitions executed for a single trigger. "
                                                          "Possible endless loop detected. Resting in state 6"});
    EXPECT_TRUE(machine->IsRunning());

    model.Take();
    machine->Trigger(2);
    EXPECT_EQ(model.Take(), "/after -B1 -B +A +A1 +A1a");
}

TEST_F(HierarchyTest, StopFreezesTheMachineAndStartBeginsAgainAtTheRoot) {
    model.On(kA1a, kKindExternal, 1, kB1);
    StartMachine();
    machine->Trigger(1);
    model.Take();

    machine->Stop();
    EXPECT_FALSE(machine->IsRunning());
    EXPECT_EQ(machine->GetCurrentState(), kB1);
    machine->Trigger(1);
    EXPECT_EQ(model.Take(), "");

    machine->Start();
    EXPECT_EQ(model.Take(), "+A +A1 +A1a");
    EXPECT_EQ(machine->GetCurrentState(), kA1a);
}

// root { S, J (junction), J2 (junction), B, C }, Top (junction without parent).
class JunctionTest : public ::testing::Test {
protected:
    JunctionTest() {
        model.Add("root", kNoState);
        model.Add("S", 0);
        model.Add("J", 0);
        model.Add("J2", 0);
        model.Add("B", 0);
        model.Add("C", 0);
        model.Add("Top", kNoState);
        model.Initial(0, kS);
        model.On(kS, kKindJunction, 1, kJ, model.Act("t"));
        model.On(kS, kKindJunction, 2, kTop, model.Act("t"));
        model.On(kJ, kKindExternal, kCompletionTrigger, kB, model.Act("toB"), [this] { return choice == 1; });
        model.On(kJ, kKindJunction, kCompletionTrigger, kJ2, model.Act("toJ2"), [this] { return choice == 2; });
        model.On(kJ2, kKindExternal, kCompletionTrigger, kC, model.Act("toC"));
        model.On(kTop, kKindExternal, kCompletionTrigger, kB, nullptr, [] { return false; });
        machine = model.Build(&logger);
        machine->Start();
        model.Take();
    }

    static constexpr uint16_t kS = 1, kJ = 2, kJ2 = 3, kB = 4, kC = 5, kTop = 6;
    int choice = 0;
    Model model;
    RecordingLogger logger;
    std::unique_ptr<sm::StateMachineImpl> machine;
};

TEST_F(JunctionTest, ChoiceFollowsTheEnabledBranchWithoutEnteringTheJunction) {
    struct Case {
        int choice;
        std::string trace;
        uint16_t current;
    };
    const std::vector<Case> cases{
        {1, "/toB -S +B", kB},
        {2, "/toC -S +C", kC},  // chained junction
        {0, "/t -S +J", kJ},    // no continuation: the junction is entered like a state
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.choice);
        machine->Start();  // back to S without exits: the root is re-entered only by its initial transition
        model.Take();
        choice = c.choice;
        machine->Trigger(1);
        EXPECT_EQ(model.Take(), c.trace);
        EXPECT_EQ(machine->GetCurrentState(), c.current);
    }
}

TEST_F(JunctionTest, TopLevelJunctionWithoutContinuationEndsTheMachine) {
    machine->Trigger(2);
    EXPECT_EQ(model.Take(), "-S -root");
    EXPECT_EQ(machine->GetCurrentState(), kNoState);
    EXPECT_TRUE(machine->IsRunning());

    machine->Trigger(1);
    EXPECT_FALSE(machine->IsRunning());
    EXPECT_EQ(logger.AtLevel(0),
              std::vector<std::string>{"[SM] - State machine is stopped due to: invalid current state 65535"});
}

// root { P, C { C1, C2 { C2a, C2b } } }; C keeps shallow and deep history.
class HistoryTest : public ::testing::Test {
protected:
    enum : uint32_t { kEnterPlain = 1, kEnterShallow, kEnterDeep, kNext, kLeave, kResume };

    HistoryTest() {
        model.Add("root", kNoState);
        model.Add("P", 0);
        model.Add("C", 0, /*shallow=*/true, /*deep=*/true);
        model.Add("C1", kC);
        model.Add("C2", kC);
        model.Add("C2a", kC2);
        model.Add("C2b", kC2);
        model.Initial(0, kP);
        model.Initial(kC, kC1);
        model.Initial(kC2, kC2a);
        model.On(kP, kKindExternal, kEnterPlain, kC);
        model.AddRow(
            kP, std::make_shared<sm::TransitionImpl>(kKindShallowHistory, kEnterShallow, kC, kC, nullptr, nullptr));
        model.AddRow(kP, std::make_shared<sm::TransitionImpl>(kKindDeepHistory, kEnterDeep, kC, kC, nullptr, nullptr));
        model.On(kC1, kKindExternal, kNext, kC2);
        model.On(kC2a, kKindExternal, kNext, kC2b);
        model.On(kC, kKindExternal, kLeave, kP);
        model.On(kC, kKindShallowHistory, kResume, kNoState, model.Act("resume"));
        machine = model.Build(&logger);
        machine->Start();
    }

    // Leaves C from C2b so that C remembers C2 (shallow) and C2b (deep).
    void VisitC2bAndLeave(uint32_t enter) {
        for (uint32_t event : {enter, uint32_t{kNext}, uint32_t{kNext}, uint32_t{kLeave}}) {
            machine->Trigger(event);
        }
        ASSERT_EQ(machine->GetCurrentState(), kP);
        model.Take();
    }

    static constexpr uint16_t kP = 1, kC = 2, kC1 = 3, kC2 = 4, kC2a = 5, kC2b = 6;
    Model model;
    RecordingLogger logger;
    std::unique_ptr<sm::StateMachineImpl> machine;
};

TEST_F(HistoryTest, HistoryTransitionsUseTheirTargetUntilThereIsHistory) {
    for (uint32_t enter : {uint32_t{kEnterShallow}, uint32_t{kEnterDeep}}) {
        SCOPED_TRACE(enter);
        machine = model.Build(&logger);  // fresh slots
        machine->Start();
        model.Take();
        machine->Trigger(enter);
        EXPECT_EQ(model.Take(), "-P +C +C1");
    }
}

TEST_F(HistoryTest, ShallowHistoryRestoresTheChildAndDescendsByInitialTransitions) {
    VisitC2bAndLeave(kEnterPlain);
    machine->Trigger(kEnterShallow);
    EXPECT_EQ(model.Take(), "-P +C +C2 +C2a");
    EXPECT_EQ(machine->GetCurrentState(), kC2a);
}

TEST_F(HistoryTest, DeepHistoryRestoresTheInnermostStateAndSurvivesRestart) {
    VisitC2bAndLeave(kEnterPlain);
    machine->Trigger(kEnterDeep);
    EXPECT_EQ(model.Take(), "-P +C +C2 +C2b");
    EXPECT_EQ(machine->GetCurrentState(), kC2b);

    machine->Trigger(kLeave);
    machine->Stop();
    machine->Start();
    model.Take();
    machine->Trigger(kEnterDeep);
    EXPECT_EQ(model.Take(), "-P +C +C2 +C2b");
}

TEST_F(HistoryTest, OwnShallowHistoryWithoutTargetIsEnabledOnlyAfterAnExit) {
    machine->Trigger(kEnterPlain);
    model.Take();
    machine->Trigger(kResume);
    EXPECT_EQ(model.Take(), "");
    EXPECT_EQ(machine->GetCurrentState(), kC1);

    machine->Trigger(kLeave);
    VisitC2bAndLeave(kEnterPlain);
    machine->Trigger(kEnterPlain);
    model.Take();
    machine->Trigger(kResume);
    EXPECT_EQ(model.Take(), "/resume -C1 +C2 +C2a");
    EXPECT_EQ(machine->GetCurrentState(), kC2a);
}

}  // namespace
}  // namespace smtest
