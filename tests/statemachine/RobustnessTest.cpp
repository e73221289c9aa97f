#include "tests/statemachine/ModelBuilder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace smtest {
namespace {

using sm::kCompletionTrigger;
using sm::kKindExternal;
using sm::kKindJunction;
using sm::kKindShallowHistory;
using sm::kNoState;

// root { S, T, U, J1, J2 }
class RunToCompletionTest : public ::testing::Test {
protected:
    enum : uint32_t { kGo = 1, kNext, kPlain };

    RunToCompletionTest() {
        model.Add("root", kNoState);
        model.Add("S", 0);
        model.Add("T", 0);
        model.Add("U", 0);
        model.Add("J1", 0);
        model.Add("J2", 0);
        model.Initial(0, kS);
        model.On(kT, kKindExternal, kNext, kU, model.Act("next"));
        model.On(kS, kKindExternal, kPlain, kT, model.Act("plain"));
    }

    void StartMachine() {
        machine = model.Build(&logger);
        machine->Start();
        model.Take();
    }

    static constexpr uint16_t kS = 1, kT = 2, kU = 3, kJ1 = 4, kJ2 = 5;
    Model model;
    RecordingLogger logger;
    std::unique_ptr<sm::StateMachineImpl> machine;
};

TEST_F(RunToCompletionTest, TriggerFromAnActionIsQueuedUntilTheStepCompletes) {
    model.On(kS, kKindExternal, kGo, kT, [this] {
        model.Act("go")();
        machine->Trigger(kNext);
    });
    StartMachine();
    machine->Trigger(kGo);
    EXPECT_EQ(model.Take(), "/go -S +T /next -T +U");
    EXPECT_EQ(machine->GetCurrentState(), kU);
}

TEST_F(RunToCompletionTest, TriggerFromAnEntryDuringStartIsHandledAfterStart) {
    model.OnEntry(kS, [this] { machine->Trigger(kPlain); });
    model.OnEntry(kT, [this] { machine->Trigger(kNext); });
    machine = model.Build(&logger);
    machine->Start();
    EXPECT_EQ(model.Take(), "+S /plain -S +T /next -T +U");
}

TEST_F(RunToCompletionTest, StopFromAnActionEndsTheStepAndDropsQueuedTriggers) {
    model.On(kS, kKindExternal, kGo, kT, [this] {
        machine->Trigger(kNext);
        machine->Stop();
    });
    model.On(kT, kKindExternal, kCompletionTrigger, kU, model.Act("completion"));
    StartMachine();
    machine->Trigger(kGo);
    EXPECT_EQ(model.Take(), "-S +T");
    EXPECT_EQ(machine->GetCurrentState(), kT);
    EXPECT_FALSE(machine->IsRunning());
}

TEST_F(RunToCompletionTest, TriggersPostedBackAndForthAreBounded) {
    int actions = 0;
    constexpr uint32_t kPing = 10, kPong = 11;
    model.On(kS, kKindExternal, kPing, kT, [&] {
        ++actions;
        machine->Trigger(kPong);
    });
    model.On(kT, kKindExternal, kPong, kS, [&] {
        ++actions;
        machine->Trigger(kPing);
    });
    StartMachine();
    machine->Trigger(kPing);
    EXPECT_EQ(actions, 101);
    EXPECT_EQ(logger.AtLevel(0),
              std::vector<std::string>{"[SM] - maximum queued triggers handled for a single trigger. Possible endless "
                                       "loop detected. Dropping 1 queued triggers, resting in state 2"});
    EXPECT_TRUE(machine->IsRunning());
}

TEST_F(RunToCompletionTest, StartFromAnActionIsRefused) {
    model.On(kS, kKindExternal, kGo, kT, [this] { machine->Start(); });
    StartMachine();
    machine->Trigger(kGo);
    EXPECT_EQ(model.Take(), "-S +T");
    EXPECT_EQ(logger.AtLevel(0),
              std::vector<std::string>{"[SM] - Start ignored: called from within a running transition"});
}

TEST_F(RunToCompletionTest, ExceptionFromAnActionReachesTheCallerAndLeavesTheMachineUsable) {
    model.On(kS, kKindExternal, kGo, kT, [this] {
        machine->Trigger(kNext);
        throw std::runtime_error("boom");
    });
    StartMachine();
    EXPECT_THROW(machine->Trigger(kGo), std::runtime_error);
    EXPECT_EQ(machine->GetCurrentState(), kS);

    machine->Trigger(kPlain);
    EXPECT_EQ(model.Take(), "/plain -S +T");  // the trigger queued by the failed step is gone
}

TEST_F(RunToCompletionTest, BrokenRowsAreLoggedAndChangeNothing) {
    struct Case {
        const char* name;
        std::function<void(Model&)> row;
        std::string error;
    };
    const std::vector<Case> cases{
        {"target out of range", [](Model& m) { m.On(kS, kKindExternal, kGo, 42, m.Act("t")); },
         "[SM] - invalid target state 42 of a transition. Resting in state 1"},
        {"history state out of range",
         [](Model& m) {
             m.AddRow(kS, std::make_shared<sm::TransitionImpl>(kKindShallowHistory, kGo, kT, 42, nullptr, m.Act("t")));
         },
         "[SM] - invalid history state 42 of a transition. Resting in state 1"},
        {"junction out of range", [](Model& m) { m.On(kS, kKindJunction, kGo, 42, m.Act("t")); },
         "[SM] - invalid junction state 42 of a transition. Resting in state 1"},
        {"junction cycle",
         [](Model& m) {
             m.On(kS, kKindJunction, kGo, kJ1, m.Act("t"));
             m.On(kJ1, kKindJunction, kCompletionTrigger, kJ2, m.Act("j1"));
             m.On(kJ2, kKindJunction, kCompletionTrigger, kJ1, m.Act("j2"));
         },
         "[SM] - maximum junction transitions executed. Possible endless loop detected. Resting in state 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Model m;
        for (const char* name : {"root", "S", "T", "U", "J1", "J2"}) {
            m.Add(name, name == std::string("root") ? kNoState : 0);
        }
        m.Initial(0, kS);
        c.row(m);
        RecordingLogger log;
        auto broken = m.Build(&log);
        broken->Start();
        m.Take();
        broken->Trigger(kGo);
        EXPECT_EQ(m.Take(), "");
        EXPECT_EQ(log.AtLevel(0), std::vector<std::string>{c.error});
        EXPECT_EQ(broken->GetCurrentState(), kS);
        EXPECT_TRUE(broken->IsRunning());
    }
}

TEST(StateTableTest, BrokenHierarchyIsRefusedAtStart) {
    struct Case {
        std::vector<uint16_t> parents;  // index 0 is the root
        bool missingState;
        std::string error;
    };
    const std::vector<Case> cases{
        {{kNoState, 7}, false, "[SM] - State machine not started due to: invalid parent 7 of state 1"},
        {{kNoState, 1}, false, "[SM] - State machine not started due to: cyclic parent chain at state 1"},
        {{kNoState, 2, 1}, false, "[SM] - State machine not started due to: cyclic parent chain at state 1"},
        {{kNoState, 0}, true, "[SM] - State machine not started due to: missing state 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Model model;
        for (std::size_t i = 0; i < c.parents.size(); ++i) {
            model.Add("S" + std::to_string(i), c.parents[i]);
        }
        model.Initial(0, 1);
        model.On(1, kKindExternal, 1, 0);
        auto states = model.States();
        if (c.missingState) {
            states[1] = nullptr;
        }
        RecordingLogger logger;
        sm::StateMachineImpl machine(&logger, states);
        machine.Start();
        machine.Trigger(1);
        EXPECT_FALSE(machine.IsRunning());
        EXPECT_EQ(machine.GetCurrentState(), kNoState);
        EXPECT_EQ(model.Take(), "");
        EXPECT_EQ(logger.lines, (std::vector<std::pair<int, std::string>>{{0, c.error}}));
    }
}

TEST(StateTableTest, EmptyTableStopsAtTheFirstTrigger) {
    RecordingLogger logger;
    sm::StateMachineImpl machine(&logger, {});
    machine.Start();
    EXPECT_TRUE(machine.IsRunning());
    machine.Trigger(1);
    EXPECT_FALSE(machine.IsRunning());
    EXPECT_EQ(logger.AtLevel(0),
              std::vector<std::string>{"[SM] - State machine is stopped due to: invalid current state 0"});
}

TEST(StateTableTest, RunsWithoutLogger) {
    Model model;
    model.Add("root", kNoState);
    model.Add("S", 0);
    model.Initial(0, 1);
    model.On(1, kKindExternal, 1, 42);
    model.On(1, kKindExternal, 2, kNoState);  // leaves every state
    sm::StateMachineImpl machine(nullptr, model.States());
    machine.Start();
    machine.Trigger(1);
    machine.Trigger(2);
    machine.Trigger(1);
    EXPECT_EQ(model.Take(), "+S -S -root");
    EXPECT_FALSE(machine.IsRunning());
}

}  // namespace
}  // namespace smtest
