// The UCM session self-repair over a scripted UCM, the real session state and
// the real database stack in a sandbox.
#include "KivLibrary/KivLibrary/UCMSessionSelfRepair.h"

#include "KivLibrary/GlobalLibrary/SWupdateStatus.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/DatabaseItems.h"
#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/CallLogUcm.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Level;
using Calls = std::vector<std::string>;

constexpr uint8_t kReady = 0;
constexpr uint8_t kBusy = 1;
constexpr uint8_t kNotReported = 2;

struct Case {
    const char* name;
    uint8_t status;                    // UCM CurrentStatus as the process last saw it
    std::optional<uint32_t> storedId;  // persisted UCM session id
    bool corruptStoredId;
    uint32_t newId;                             // what UCM Start hands out
    std::optional<uint32_t> readyAfterClosing;  // UCM turns READY once this id is closed
    std::vector<std::string> failing;
    bool result;
    Calls calls;
    std::vector<std::string> logs;
    SWupdateState finalState;
    std::chrono::milliseconds walkBound = UCMSessionSelfRepairImpl::kDefaultWalkBound;
    uint8_t ucmStatus = kBusy;  // what GetCurrentStatus answers first
    // How many GetCurrentStatus calls UCM answers before it falls silent.
    std::optional<std::size_t> statusAnswers = std::nullopt;
};

Calls Walk(uint32_t from, uint32_t to) {
    Calls calls;
    for (uint32_t id = from; id >= to; --id) {
        const std::string n = std::to_string(id);
        calls.insert(calls.end(), {"CommitUpdate(" + n + ",true)", "Close(" + n + ",false)", "GetCurrentStatus"});
    }
    return calls;
}

Calls Concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(UCMSessionSelfRepairTest, HangingCheckAndRepair) {
    const Case cases[] = {
        {"busy with a session on record",
         kBusy,
         7,
         false,
         5,
         std::nullopt,
         {},
         true,
         {},
         {"UCMSessionHangingCheck: current sessionId 7", "UCMSessionHangingCheck: repair not needed"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"ready without a session",
         kReady,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {},
         true,
         {},
         {"UCMSessionHangingCheck: current sessionId 4294967295", "UCMSessionHangingCheck: repair not needed"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"ucm not reported yet",
         kNotReported,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {},
         true,
         {},
         {"UCMSessionHangingCheck: CurrentStatus event RESERVED",
          "UCMSessionHangingCheck: repair can't be started, ucm might be down"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"busy without a session, ready after id 3",
         kBusy,
         std::nullopt,
         false,
         5,
         3u,
         {},
         true,
         Concat({"GetCurrentStatus", "Start", "Close(5,false)"}, Walk(4, 3)),
         {"SessionAutoRepair: New sessionId 5", "SessionAutoRepair: SessionId 5 closed",
          "SessionAutoRepair: commitUpdate/Close completed for sessionId 4",
          "SessionAutoRepair: CurrentStatus event BUSY", "UpdateCurrentStatus: CurrentStatusREADY",
          "SessionAutoRepair: successfully repaired"},
         SWupdateState::IDLE},
        // The notification still says BUSY after the process's own close;
        // UCM, asked, is READY: nothing to repair.
        {"busy as last notified, ready when asked",
         kBusy,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {},
         true,
         {"GetCurrentStatus"},
         {"UpdateCurrentStatus: CurrentStatusREADY", "UCMSessionHangingCheck: repair not needed"},
         SWupdateState::TRANSFER_IN_PROGRESS,
         UCMSessionSelfRepairImpl::kDefaultWalkBound,
         kReady},
        {"unreadable session id counts as none",
         kBusy,
         std::nullopt,
         true,
         2,
         1u,
         {},
         true,
         Concat({"GetCurrentStatus", "Start", "Close(2,false)"}, Walk(1, 1)),
         {"UCMSessionHangingCheck: failed to read UCM session ID", "SessionAutoRepair: successfully repaired"},
         SWupdateState::IDLE},
        {"a session that cannot be committed is skipped",
         kBusy,
         std::nullopt,
         false,
         4,
         2u,
         {"CommitUpdate(3,true)"},
         true,
         {"GetCurrentStatus", "Start", "Close(4,false)", "CommitUpdate(3,true)", "GetCurrentStatus",
          "CommitUpdate(2,true)", "Close(2,false)", "GetCurrentStatus"},
         {"SessionAutoRepair: commitUpdate/Close failed for sessionId 3", "SessionAutoRepair: successfully repaired"},
         SWupdateState::IDLE},
        // Without older sessions the verdict still asks UCM: the close of
        // the new session may have made it READY before any notification.
        {"new id 1 walks nothing",
         kBusy,
         std::nullopt,
         false,
         1,
         std::nullopt,
         {},
         false,
         {"GetCurrentStatus", "Start", "Close(1,false)", "GetCurrentStatus"},
         {"UpdateCurrentStatus: CurrentStatusBUSY", "SessionAutoRepair: repair failed"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"new id 1, ready once closed",
         kBusy,
         std::nullopt,
         false,
         1,
         1u,
         {},
         true,
         {"GetCurrentStatus", "Start", "Close(1,false)", "GetCurrentStatus"},
         {"UpdateCurrentStatus: CurrentStatusREADY"},
         SWupdateState::IDLE},
        {"new id 0, ready once closed",
         kBusy,
         std::nullopt,
         false,
         0,
         0u,
         {},
         true,
         {"GetCurrentStatus", "Start", "Close(0,false)", "GetCurrentStatus"},
         {"UpdateCurrentStatus: CurrentStatusREADY"},
         SWupdateState::IDLE},
        {"the walk stops after 32 ids",
         kBusy,
         std::nullopt,
         false,
         1000,
         std::nullopt,
         {},
         false,
         Concat({"GetCurrentStatus", "Start", "Close(1000,false)"}, Walk(999, 968)),
         {"SessionAutoRepair: repair failed"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"ucm gives no status: the walk stops",
         kBusy,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {},
         false,
         Concat({"GetCurrentStatus", "Start", "Close(5,false)"}, Walk(4, 4)),
         {"SessionAutoRepair: UCM gives no status, walk stopped at sessionId 4"},
         SWupdateState::TRANSFER_IN_PROGRESS,
         UCMSessionSelfRepairImpl::kDefaultWalkBound,
         kBusy,
         1u},
        // A silent UCM costs one response time-out here, not a Start and
        // a Close more.
        {"ucm silent when asked before a repair",
         kBusy,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {"GetCurrentStatus"},
         true,
         {"GetCurrentStatus"},
         {"UCMSessionHangingCheck: repair can't be started, ucm might be down"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"bound passed during the first call: the walk stops there",
         kBusy,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {},
         false,
         {"GetCurrentStatus", "Start", "Close(5,false)", "CommitUpdate(4,true)"},
         {"SessionAutoRepair: walk stopped after 0 ms at sessionId 4", "SessionAutoRepair: repair failed"},
         SWupdateState::TRANSFER_IN_PROGRESS,
         std::chrono::milliseconds(0)},
        {"start refused",
         kBusy,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {"Start"},
         false,
         {"GetCurrentStatus", "Start"},
         {"SessionAutoRepair: Start session failed"},
         SWupdateState::TRANSFER_IN_PROGRESS},
        {"close of the new session refused",
         kBusy,
         std::nullopt,
         false,
         5,
         std::nullopt,
         {"Close(5,false)"},
         false,
         {"GetCurrentStatus", "Start", "Close(5,false)"},
         {"SessionAutoRepair: Close session failed"},
         SWupdateState::TRANSFER_IN_PROGRESS},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::Sandbox box(true);
        testsupport::LogCapture capture;
        testsupport::DatabaseStack stack(testsupport::kDatabaseName);
        auto session = std::make_shared<SessionData>(nullptr, stack.database, nullptr);
        auto status = std::make_shared<SWupdateStatus>(stack.database);
        session->SetSWupdateStatus(status);
        ASSERT_TRUE(status->SetStatus(SWupdateState::TRANSFER_IN_PROGRESS));
        if (c.storedId) {
            ASSERT_TRUE(stack.database->WriteUcmSessionId(*c.storedId));
        }
        if (c.corruptStoredId) {
            ASSERT_TRUE(stack.raw->Set(DatabaseKeys::kUcmSessionId, std::vector<uint8_t>{0x01}));
        }
        session->SetProgrammingState(c.status);

        auto ucm = std::make_shared<testsupport::CallLogUcm>();
        ucm->startId = c.newId;
        ucm->currentStatus = c.ucmStatus;
        for (const auto& call : c.failing) {
            ucm->Fail(call);
        }
        const std::string closing =
            c.readyAfterClosing ? "Close(" + std::to_string(*c.readyAfterClosing) + ",false)" : "";
        ucm->SetScript([ucm = ucm.get(), closing, answers = c.statusAnswers](const std::string& call) {
            if (call == closing) {
                ucm->currentStatus = kReady;
            }
            if (call == "GetCurrentStatus" && answers) {
                const Calls calls = ucm->Calls();
                return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call)) <= *answers;
            }
            return true;
        });

        auto repair = CreateUCMSessionSelfRepair(ucm, session, stack.database, c.walkBound);
        EXPECT_EQ(repair->UCMSessionHangingCheck(), c.result);
        EXPECT_EQ(ucm->Calls(), c.calls);
        for (const auto& text : c.logs) {
            EXPECT_TRUE(capture.Contains(text)) << text << "\n" << capture.Dump();
        }
        EXPECT_EQ(toString(status->GetStatus()), toString(c.finalState));
        EXPECT_EQ(session->GetUcmSessionId(), c.storedId.value_or(SessionData::kNoUcmSession));
        session->SetSWupdateStatus(nullptr);
    }
}

// A UCM that answers, but slowly: the walk as a whole stays within its bound
// plus one call. Each commit takes at least 10 ms, so the 30 ms bound has
// passed after the third at the latest, however loaded the machine; the
// first id is always tried.
TEST(UCMSessionSelfRepairTest, WalkEndsAtItsBound) {
    testsupport::Sandbox box(true);
    testsupport::LogCapture capture;
    testsupport::DatabaseStack stack(testsupport::kDatabaseName);
    auto session = std::make_shared<SessionData>(nullptr, stack.database, nullptr);
    session->SetProgrammingState(kBusy);
    auto ucm = std::make_shared<testsupport::CallLogUcm>();
    ucm->startId = 1000;
    ucm->currentStatus = kBusy;
    ucm->SetScript([](const std::string& call) {
        if (call.rfind("CommitUpdate", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // UCM's own pace
        }
        return true;
    });

    auto repair = CreateUCMSessionSelfRepair(ucm, session, stack.database, std::chrono::milliseconds(30));
    EXPECT_FALSE(repair->UCMSessionHangingCheck());
    const Calls calls = ucm->Calls();
    const auto commits = std::count_if(calls.begin(), calls.end(),
                                       [](const std::string& call) { return call.rfind("CommitUpdate", 0) == 0; });
    EXPECT_GE(commits, 1);
    EXPECT_LE(commits, 3);
    EXPECT_TRUE(capture.Contains(Level::kError, "SessionAutoRepair: walk stopped after 30 ms at sessionId"))
        << capture.Dump();
}

}  // namespace
