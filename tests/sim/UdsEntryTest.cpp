// Velmora's UDS entry end to end: frames through the simulated diagnostic
// manager, the real binding, the generic UDS service, its dispatch and the
// handlers, and SecurityAccess level 9 with the shipped key calculation.
#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/KivLibrary/GenericUdsServiceImpl.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/SecurityAccess/SecurityAccess_Level9_Impl.h"
#include "platform/com/Runtime.h"
#include "sim/DiagnosticManager.h"
#include "sim/KeyCalculator.h"
#include "sim/UdsServiceStack.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using sim::Bytes;
using testsupport::Level;

using testsupport::WaitUntil;

Bytes Cat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes Frame(std::initializer_list<uint8_t> head, size_t fill = 0) {
    Bytes frame(head);
    frame.resize(frame.size() + fill, 0x11);
    return frame;
}

class UdsEntryTest : public ::testing::Test {
protected:
    ~UdsEntryTest() override { zov::com::testing::ResetRegistry(); }

    // The "<service>: <check> started!" lines in the order they were logged.
    std::vector<std::string> ChecksRun(const std::string& service) const {
        std::vector<std::string> checks;
        const std::string prefix = service + ": ";
        for (const std::string& text : capture.Texts()) {
            const auto end = text.find(" started!");
            if (text.rfind(prefix, 0) == 0 && end != std::string::npos && text.find("Process") == std::string::npos &&
                text.find("CheckRequest") == std::string::npos) {
                checks.push_back(text.substr(prefix.size(), end - prefix.size()));
            }
        }
        return checks;
    }

    Bytes Unlock() {
        EXPECT_EQ(dm.Uds({0x10, 0x02}), (Bytes{0x50, 0x02, 0x00, 0x32, 0x01, 0xF4}));
        const Bytes seed = dm.Uds({0x27, 0x11});
        EXPECT_EQ(seed.size(), 6u);
        EXPECT_EQ(Bytes(seed.begin(), seed.begin() + 2), (Bytes{0x67, 0x11}));
        return Bytes(seed.begin() + 2, seed.end());
    }

    Bytes KeyFor(const Bytes& seed) const { return sim::TesterKeyBytes(seed, stack.Configuration()->KeyCalculation); }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    sim::UdsServiceStack stack{box.Root()};
    sim::DiagnosticManager dm;
};

TEST_F(UdsEntryTest, EveryCheckOfEachHandlerInItsOrderWithItsNrc) {
    const std::vector<std::string> wdbi = {"CheckPrerequisites", "MinLengthCheck", "CheckDataIdentifierSupport",
                                           "TotalLengthCheck", "DataIdentifierTrigger"};
    const std::vector<std::string> cc = {"MinLengthCheck", "CheckSupportedSubfunctions", "CheckMessageLengthOrFormat",
                                         "CheckMissingParameter"};
    const Bytes fingerprint = {0x2E, 0xF1, 0x5A, 0x24, 0x03, 0x15, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56};
    const auto session = stack.Session();
    struct Case {
        const char* name;
        std::function<void()> before;
        Bytes request;
        Bytes expected;
        const std::vector<std::string>* checks;
        size_t checksRun;
        const char* refusal;  // start of the error line, or nullptr
    };
    const Case cases[] = {
        {"write while a download is open",
         [&] { session->SetRequestDownloadFinished(false); },
         fingerprint,
         {0x7F, 0x2E, 0x22},
         &wdbi,
         1,
         "ConditionsNotCorrect: one of the services is down!"},
        {"write without data",
         [&] { session->SetRequestDownloadFinished(true); },
         {0x2E, 0xF1, 0x5A},
         {0x7F, 0x2E, 0x13},
         &wdbi,
         2,
         "IncorrectMessageLengthOrInvalidFormat: the length of the request message is"},
        {"write of an unknown identifier",
         nullptr,
         {0x2E, 0xF1, 0x90, 0x01},
         {0x7F, 0x2E, 0x31},
         &wdbi,
         3,
         "RequestOutOfRange: the requested dataIdentifiers are not supported! the requested dataIdentifier is 61840"},
        {"fingerprint one byte short",
         nullptr,
         Frame({0x2E, 0xF1, 0x5A}, 8),
         {0x7F, 0x2E, 0x13},
         &wdbi,
         4,
         "IncorrectMessageLengthOrInvalidFormat: the length of the request message for DataIdentifier "
         "tester_fingerprint is invalid! request size is 11"},
        {"fingerprint one byte long", nullptr, Frame({0x2E, 0xF1, 0x5A}, 10), {0x7F, 0x2E, 0x13}, &wdbi, 4, nullptr},
        {"fingerprint", nullptr, fingerprint, {0x6E, 0xF1, 0x5A}, &wdbi, 5, nullptr},
        {"control without communication type",
         nullptr,
         {0x28, 0x00},
         {0x7F, 0x28, 0x13},
         &cc,
         1,
         "IncorrectMessageLengthOrInvalidFormat: acceptable length is less than 3 bytes! request size is 2"},
        {"unknown control type",
         nullptr,
         {0x28, 0x06, 0x01},
         {0x7F, 0x28, 0x12},
         &cc,
         2,
         "SubfunctionNotSupported: the sub-function parameter is not supported! subfunction is Unknown CcLev: 6"},
        {"node id where none is allowed",
         nullptr,
         {0x28, 0x01, 0x01, 0x00},
         {0x7F, 0x28, 0x13},
         &cc,
         3,
         "IncorrectMessageLengthOrInvalidFormat: message has incorrect length or has an invalid Format! "
         "subfunction is enableRxAndDisableTx"},
        {"node id missing", nullptr, {0x28, 0x04, 0x01}, {0x7F, 0x28, 0x13}, &cc, 3, nullptr},
        {"node id starting with 0",
         nullptr,
         {0x28, 0x04, 0x01, 0x00, 0x05},
         {0x7F, 0x28, 0x31},
         &cc,
         4,
         "RequestOutOfRange: there is an error in the communicationType or the nodeIdentificationNumber"},
        {"unknown communication type", nullptr, {0x28, 0x03, 0x02}, {0x7F, 0x28, 0x31}, &cc, 4, nullptr},
        {"manufacturer type on all networks",
         nullptr,
         {0x28, 0x40, 0xF1},
         {0x7F, 0x28, 0x22},
         &cc,
         4,
         "ConditionsNotCorrect: there is an error in the communicationType !"},
        {"suppress bit dropped", nullptr, {0x28, 0x83, 0x01}, {0x68, 0x03}, &cc, 4, nullptr},
        {"manufacturer type", nullptr, {0x28, 0x40, 0x01}, {0x68, 0x40}, &cc, 4, nullptr},
        {"with node id", nullptr, {0x28, 0x04, 0xF1, 0x12, 0x34}, {0x68, 0x04}, &cc, 4, nullptr},
        {"enhanced address without node id", nullptr, {0x28, 0x05, 0x01}, {0x7F, 0x28, 0x13}, &cc, 3, nullptr},
        {"enhanced address", nullptr, {0x28, 0x05, 0x01, 0x12, 0x34}, {0x68, 0x05}, &cc, 4, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture.Clear();
        if (c.before) {
            c.before();
        }
        EXPECT_EQ(dm.Uds(c.request), c.expected);
        const std::string service = c.checks == &wdbi ? "WriteDataByIdentifier" : "CommunicationControl";
        EXPECT_EQ(ChecksRun(service), std::vector<std::string>(c.checks->begin(), c.checks->begin() + c.checksRun));
        if (c.refusal != nullptr) {
            EXPECT_TRUE(capture.Contains(Level::kError, c.refusal)) << capture.Dump();
        }
        if (c.expected.front() == 0x7F) {
            EXPECT_TRUE(capture.Contains(Level::kWarn, "GenericUdsServiceImpl: Negative response for request!"));
        }
    }

    Bytes date;
    Bytes serial;
    session->GetFingerprint(date, serial);
    EXPECT_EQ(date, (Bytes{0x24, 0x03, 0x15}));
    EXPECT_EQ(serial, (Bytes{0x00, 0x00, 0x00, 0x12, 0x34, 0x56}));
    EXPECT_TRUE(session->GetFingerprintFlag());
    // The request named the DM's conversation: Velmora follows it.
    EXPECT_TRUE(WaitUntil([&] { return stack.Conversation()->GetConversationState().activityStatus == 0; }));
}

TEST_F(UdsEntryTest, EverySidAnswersNegativelyWithoutDataAndUnknownSidsAreNotSupported) {
    for (int sid = 0; sid < 256; ++sid) {
        SCOPED_TRACE(sid);
        const Bytes response = dm.Uds({static_cast<uint8_t>(sid)});
        ASSERT_EQ(response.size(), 3u);
        EXPECT_EQ(response[0], 0x7F);
        EXPECT_EQ(response[1], sid);
    }
    // Handlers still to come are answered as unknown SIDs.
    for (uint8_t sid : {0x19, 0x3D}) {
        EXPECT_EQ(dm.Uds({sid, 0x01}), (Bytes{0x7F, sid, 0x11}));
    }
    EXPECT_TRUE(capture.Contains(Level::kError, "service not supported: 25"));
    EXPECT_EQ(dm.Uds({}), (Bytes{0x7F, 0x00, 0x13}));
}

TEST_F(UdsEntryTest, UnlockWithTheShippedKeyCalculation) {
    const Bytes seed = Unlock();
    EXPECT_EQ(dm.Uds(Cat({0x27, 0x12}, KeyFor(seed))), (Bytes{0x67, 0x12}));
    EXPECT_EQ(dm.Status().diagnosticSecurityLevel, "9");
    EXPECT_TRUE(capture.Contains(Level::kInfo, "SecurityAccess:: key valid!"));
    // GetSeed registered the conversation: the level reaches Velmora.
    EXPECT_TRUE(WaitUntil([&] { return stack.Conversation()->checkSecurityLevel(9); }));

    // Leaving the programming session ends the conversation and locks.
    EXPECT_EQ(dm.Uds({0x10, 0x01}).front(), 0x50);
    EXPECT_EQ(dm.Status().diagnosticSecurityLevel, "0");
    EXPECT_TRUE(WaitUntil([&] { return !stack.Conversation()->checkSecurityLevel(9); }));
}

// The DM's part of SecurityAccess: a seed answers one key, wrong keys are
// counted and the allowed number of them delays every 27. The delay that
// must be seen running outlasts any round trip; only the one that must be
// seen ending is short.
TEST_F(UdsEntryTest, TheDmTakesOneKeyPerSeedAndDelaysAfterTooManyWrongOnes) {
    sim::DiagnosticManager::Options options;
    options.conversationInstance = "DM_Conversation_2";
    options.securityDelay = std::chrono::minutes(10);
    auto guarded = std::make_unique<sim::DiagnosticManager>(options);
    ASSERT_EQ(guarded->Uds({0x10, 0x02}).front(), 0x50);
    Bytes seed;
    const auto keyOf = [&] { return KeyFor(seed); };
    const auto wrongKey = [&] {
        Bytes key = KeyFor(seed);
        key[3] ^= 0x01;
        return key;
    };
    struct Step {
        const char* name;
        std::function<Bytes()> key;  // empty: 27 11, which keeps the seed
        uint8_t nrc;                 // 0: positive
    };
    const std::function<Bytes()> kSeed;
    const Step steps[] = {
        {"a key before any seed",
         [] {
             return Bytes{0, 0, 0, 0};
         },
         0x24},
        {"seed", kSeed, 0},
        {"wrong key 1", wrongKey, 0x35},
        {"the right key for a seed a wrong key used up", keyOf, 0x24},
        {"seed", kSeed, 0},
        {"wrong key 2, one byte short", [&] { return Bytes(seed.begin(), seed.end() - 1); }, 0x35},
        {"seed", kSeed, 0},
        {"wrong key 3", wrongKey, 0x36},
        {"seed within the delay", kSeed, 0x37},
        {"key within the delay", keyOf, 0x37},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const Bytes response = guarded->Uds(step.key ? Cat({0x27, 0x12}, step.key()) : Bytes{0x27, 0x11});
        if (step.nrc != 0) {
            EXPECT_EQ(response, (Bytes{0x7F, 0x27, step.nrc}));
        } else if (!step.key) {
            ASSERT_EQ(response.size(), 6u);
            seed.assign(response.begin() + 2, response.end());
        }
    }
    // Keys the DM refused itself never reached Velmora.
    EXPECT_EQ(capture.Count("Compare Key for level 9"), 3u);
    EXPECT_EQ(guarded->Status().diagnosticSecurityLevel, "0");

    // After the delay the counting starts afresh: two wrong keys are not yet too many.
    guarded.reset();
    options.securityDelay = std::chrono::milliseconds(50);
    guarded = std::make_unique<sim::DiagnosticManager>(options);
    ASSERT_EQ(guarded->Uds({0x10, 0x02}).front(), 0x50);
    Bytes response;
    for (const uint8_t nrc : {0x35, 0x35, 0x36}) {
        response = guarded->Uds({0x27, 0x11});
        ASSERT_EQ(response.size(), 6u);
        seed.assign(response.begin() + 2, response.end());
        ASSERT_EQ(guarded->Uds(Cat({0x27, 0x12}, wrongKey())), (Bytes{0x7F, 0x27, nrc}));
    }
    ASSERT_TRUE(WaitUntil([&] {
        response = guarded->Uds({0x27, 0x11});
        return response.front() == 0x67;
    }));
    for (int wrong = 0; wrong < 2; ++wrong) {
        seed.assign(response.begin() + 2, response.end());
        EXPECT_EQ(guarded->Uds(Cat({0x27, 0x12}, wrongKey())), (Bytes{0x7F, 0x27, 0x35}));
        response = guarded->Uds({0x27, 0x11});
    }
    seed.assign(response.begin() + 2, response.end());
    EXPECT_EQ(guarded->Uds(Cat({0x27, 0x12}, keyOf())), (Bytes{0x67, 0x12}));
    EXPECT_EQ(guarded->Status().diagnosticSecurityLevel, "9");
    EXPECT_EQ(guarded->Uds(Cat({0x27, 0x12}, keyOf())), (Bytes{0x7F, 0x27, 0x24}));

    // A session change takes the seed back.
    response = guarded->Uds({0x27, 0x11});
    seed.assign(response.begin() + 2, response.end());
    ASSERT_EQ(guarded->Uds({0x10, 0x02}).front(), 0x50);
    EXPECT_EQ(guarded->Uds(Cat({0x27, 0x12}, keyOf())), (Bytes{0x7F, 0x27, 0x24}));
    EXPECT_EQ(guarded->Uds({0x27, 0x01}), (Bytes{0x7F, 0x27, 0x12}));
}

// Velmora's part: its seed answers one key, whatever the DM enforces.
TEST_F(UdsEntryTest, VelmoraTakesOneKeyPerSeed) {
    using zov::dm::securityaccess::SecurityAccess::CompareKey;
    SecurityAccess_Level9_Impl level9("unoffered", ara::com::MethodCallProcessingMode::kEvent, stack.Session(), nullptr,
                                      stack.Configuration(), stack.Conversation());
    const zov::dm::types::MetaInfoType meta{{"ProtocolId", dm.GetOptions().conversationInstance}};
    ASSERT_EQ(dm.Uds({0x10, 0x02}).front(), 0x50);
    const auto seed = [&] { return level9.GetSeed({}, meta).get().seed; };
    const auto compare = [&](const Bytes& key) { return level9.CompareKey(key, meta).get().result; };
    struct Case {
        const char* name;
        std::function<Bytes()> between;  // after the seed, before its key; answers the key to send
        const char* reason;
    };
    Bytes first;
    bool sameKey = false;  // two seeds with one key: nothing to tell apart
    const Case cases[] = {
        {"the same key twice",
         [&] {
             const Bytes key = KeyFor(first);
             EXPECT_EQ(compare(key), CompareKey::kKeyValid);
             return key;
         },
         "CompareKey failed. Haven't requested a seed yet!"},
        {"a key for the seed before",
         [&] {
             sameKey = KeyFor(seed()) == KeyFor(first);
             return KeyFor(first);
         },
         nullptr},
        {"a session left and entered again",
         [&] {
             EXPECT_EQ(dm.Uds({0x10, 0x01}).front(), 0x50);
             EXPECT_EQ(dm.Uds({0x10, 0x02}).front(), 0x50);
             return KeyFor(first);
         },
         "CompareKey failed. The seed was requested in another diagnostic session!"},
        {"another session",
         [&] {
             EXPECT_EQ(dm.Uds({0x10, 0x03}).front(), 0x50);
             return KeyFor(first);
         },
         "CompareKey failed. The seed was requested in another diagnostic session!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture.Clear();
        first = seed();
        sameKey = false;
        const Bytes key = c.between();
        if (sameKey) {
            continue;
        }
        EXPECT_EQ(compare(key), CompareKey::kKeyInvalid);
        if (c.reason != nullptr) {
            EXPECT_TRUE(capture.Contains(Level::kWarn, c.reason)) << capture.Dump();
        }
    }
}

TEST_F(UdsEntryTest, DmAnswersItsOwnServicesAndBoundsSilence) {
    EXPECT_EQ(dm.Uds({0x3E, 0x00}), (Bytes{0x7E, 0x00}));
    EXPECT_EQ(dm.Uds({0x3E, 0x80}), Bytes{});
    EXPECT_EQ(dm.Uds({0x85, 0x02}), (Bytes{0xC5, 0x02}));
    EXPECT_EQ(dm.Uds({0x10, 0x04}), (Bytes{0x7F, 0x10, 0x12}));
    // This stack offers no routine service: a mapped routine is not reachable.
    EXPECT_EQ(dm.Uds({0x31, 0x01, 0x02, 0x02}), (Bytes{0x7F, 0x31, 0x10}));

    // A DM whose application is not there answers general reject at once.
    sim::DiagnosticManager::Options options;
    options.conversationInstance = "DM_Conversation_2";
    options.genericUdsInstance = "absent";
    options.securityAccessInstance = "absent";
    sim::DiagnosticManager lonely(options);
    EXPECT_EQ(lonely.Uds({0x2E, 0xF1, 0x5A}), (Bytes{0x7F, 0x2E, 0x10}));
    EXPECT_EQ(lonely.Uds({0x27, 0x11}), (Bytes{0x7F, 0x27, 0x10}));
}

// A collaborator that throws must not leave the call unanswered.
class ThrowingConversation : public KivDMConversation {
public:
    void registerConversation(const zov::dm::types::MetaInfoType&) override {
        throw std::runtime_error("conversation broken");
    }
};

TEST_F(UdsEntryTest, AThrowingCollaboratorIsAGeneralReject) {
    std::shared_ptr<AutonomousCheck> slot;
    GenericUdsServiceImpl service(ara::com::MethodCallProcessingMode::kEvent, stack.Session(), nullptr, nullptr,
                                  nullptr, nullptr, std::make_shared<ThrowingConversation>(), slot);
    auto future = service.HandleMessage(0x28, {0x03, 0x01}, {});
    ASSERT_TRUE(future.is_ready());
    try {
        future.get();
        FAIL() << "no error";
    } catch (const zov::dm::genericuds::GenericUDSService::UDSServiceFailed& failure) {
        EXPECT_EQ(failure.GetCode(), 0x10);
    }
    EXPECT_TRUE(capture.Contains(Level::kError, "conversation broken"));

    // Without a conversation the request still runs.
    GenericUdsServiceImpl bare(ara::com::MethodCallProcessingMode::kEvent, stack.Session(), nullptr, nullptr, nullptr,
                               nullptr, nullptr, slot);
    EXPECT_EQ(bare.HandleMessage(0x28, {0x03, 0x01}, {}).get().responseData, Bytes{0x03});
    EXPECT_TRUE(capture.Contains(Level::kInfo, "GenericUdsServiceImpl:: kivDMConversation NOT FOUND"));
}

TEST(LogBytesTest, LongFramesAreCutAndSplit) {
    testsupport::LogCapture capture;
    LogBytes(Bytes(300, 0xAB), "request");
    std::string joined;
    size_t pieces = 0;
    for (const std::string& text : capture.Texts()) {
        const std::string piece = text.substr(0, text.rfind('['));
        EXPECT_LE(piece.size(), 180u);
        joined += piece;
        ++pieces;
    }
    EXPECT_EQ(joined.size(), std::string("request: ").size() + 241 * 3 + 3);
    EXPECT_EQ(pieces, (joined.size() + 179) / 180);
    EXPECT_EQ(joined.substr(joined.size() - 6), "ab ...");
    capture.Clear();
    LogBytes({0x51, 0x01}, "response");
    EXPECT_TRUE(capture.Contains(Level::kInfo, "response: 51 01 ["));
}

}  // namespace
