// The simulated diagnostic manager: the tester's side of Velmora. It offers
// the DiagnosticConversation of one tester, consumes Velmora's generic UDS
// service, SecurityAccess level 9 and the routine services, maps UDS frames
// onto them as a DM does (Uds), and records the DTC monitors' actions.
// Uds may be called from several threads; no lock is held while a call to
// Velmora is pending, so Velmora's calls back (Cancel, status reads) are
// answered meanwhile. Every call is bounded by the call time-out.
// Not part of the product.
#ifndef SIM_DIAGNOSTICMANAGER_H
#define SIM_DIAGNOSTICMANAGER_H

#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_common.h"
#include "platform/services/zov/dm/dem/DiagnosticMonitor_common.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_common.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class KivConfiguration;

namespace sim {

using Bytes = std::vector<uint8_t>;

class DiagnosticManager {
public:
    using ConversationStatus = zov::dm::types::DiagnosticConversationStatusType;

    static constexpr const char* kDefaultSession = "1";
    static constexpr const char* kProgrammingSession = "2";
    static constexpr const char* kLocked = "0";
    // Wrong keys in a row that SecurityAccess takes; the last of them is
    // answered exceededNumberOfAttempts, and for the delay after it every
    // 27 is answered requiredTimeDelayNotExpired.
    static constexpr int kAllowedKeyAttempts = 3;
    static constexpr std::chrono::milliseconds kSecurityDelay{10000};

    struct Options {
        // Passed to Velmora as "ProtocolId" with every request.
        std::string conversationInstance = "DM_Conversation_1";
        // "general_settings" / "service_instance_id" of the configuration.
        std::string genericUdsInstance = "1";
        // The level-9 entry of "SecurityAccessMapping".
        std::string securityAccessInstance = "1";
        // "DiagnosticInfo_settings" / "instance_id" of the configuration.
        std::string diagnosticInfoInstance = "1";
        // "RoutineServiceMapping": routine-id text ("0xC010") -> service instance.
        std::map<std::string, std::string> routineInstances = ShippedRoutineInstances();
        // The DiagnosticMonitor instances whose actions are recorded.
        std::vector<std::string> dtcInstances = {"1472", "1473", "1456"};
        std::chrono::milliseconds callTimeout{5000};
        int allowedKeyAttempts = kAllowedKeyAttempts;
        std::chrono::milliseconds securityDelay = kSecurityDelay;

        // The instances of a parsed configuration.
        static Options FromConfiguration(const KivConfiguration& configuration);
        // Every known routine on instance "1", as the shipped sample configures them.
        static std::map<std::string, std::string> ShippedRoutineInstances();
    };

    // Offers the conversation at once: active, default session, locked.
    explicit DiagnosticManager(Options options);
    DiagnosticManager();
    ~DiagnosticManager();
    DiagnosticManager(const DiagnosticManager&) = delete;
    DiagnosticManager& operator=(const DiagnosticManager&) = delete;

    // One request frame, its response frame. An empty response means that the
    // positive response was suppressed (sub-function bit 7 of 10, 3E, 85).
    //  - 10 (session), 3E, 85: answered here; leaving the programming session
    //    ends the conversation, every session change locks security access;
    //  - 27 11 / 27 12: GetSeed / CompareKey of level 9; a valid key sets
    //    security level "9". A seed answers one key: a key without one (or
    //    after a session change) gets 24; wrong keys are counted, the
    //    allowed number-th gets 36 and starts the delay, during which 27
    //    gets 37;
    //  - 31: RoutineControl of the configured routines (sim/RoutineControl.h);
    //  - anything else: HandleMessage; UDSServiceFailed gives 7F SID code;
    //  - no answer within the call time-out, an absent service or another
    //    failure: 7F SID 10, logged.
    Bytes Uds(const Bytes& request);

    // The "identificationData" field of Velmora's DiagnosticInfo service;
    // empty when the service is not offered (a VM that publishes none) or
    // does not answer within the call time-out.
    std::optional<zenqo::services::diagnosticinfo::datatypes::DT_identificationData> IdentificationData();

    ConversationStatus Status() const;
    // Calls of the conversation's Cancel made by Velmora.
    int CancelCount() const;
    // A manager that hangs: Velmora's Cancel calls and reads of the
    // conversation's Status get no answer any more (until Reconnect).
    void StopAnswering();
    const Options& GetOptions() const;

    // The last action of a DTC monitor of Options::dtcInstances; empty before
    // the first one (or for an instance not recorded).
    std::optional<zov::dm::dem::MonitorActionType> LastDtcAction(const std::string& instance) const;

    // After Velmora ended and the binding's registry was reset (a restart
    // within the process), which retired the DM's skeleton and searches:
    // offers a new conversation (active, default session, locked), finds the
    // services anew and records the DTC monitors afresh. Not while a Uds call
    // is running.
    void Reconnect();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim

#endif
