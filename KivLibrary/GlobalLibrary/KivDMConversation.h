// Client of the diagnostic manager's DiagnosticConversation service: follows
// the conversation of the tester that drives the programming session, wakes
// the diagnostic-status thread when the tester leaves the programming session
// or the conversation ends, compares the security level and cancels the
// conversation.
#ifndef KIVLIBRARY_GLOBALLIBRARY_KIVDMCONVERSATION_H
#define KIVLIBRARY_GLOBALLIBRARY_KIVDMCONVERSATION_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "communication/ServiceDiscovery.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_proxy.h"
#include "platform/services/zov/dm/types/MetaInfoType.h"

// The diagnostic-status thread of the runtime waits on the condition variable
// with the mutex; it releases the mutex before it acts on a wake-up, because
// the conversation's handlers take the mutex while holding their own.
extern std::mutex DiagStatusMutex;
extern std::condition_variable DiagStatusConditionVariable;
// Counts the notifications the diagnostic-status thread has not taken yet;
// guarded by DiagStatusMutex. It is what the thread waits for, so that a
// notification sent while the thread is busy is not lost and a spurious
// wake-up acts on nothing.
extern uint64_t DiagStatusChangesPending;

struct ConversationState {
    uint8_t activityStatus = 1;  // inactive until the first Status answer
    std::string diagnosticSession;
    std::string diagnosticSecurityLevel;
};

class KivDMConversation
    : public kiv::Service_discovery<zov::dm::diagnosticconversation::proxy::DiagnosticConversationProxy>,
      public std::enable_shared_from_this<KivDMConversation> {
public:
    using Proxy = zov::dm::diagnosticconversation::proxy::DiagnosticConversationProxy;

    // Create with make_shared: the field handlers reach the object through
    // a weak reference.
    KivDMConversation() = default;
    ~KivDMConversation() override;

    void SetAndSubscribeReceiveHandler() override;

    // Called by every request with its meta-information; registers the
    // conversation named by "ProtocolId" when none is registered.
    virtual void registerConversation(const zov::dm::types::MetaInfoType& metaInfo);
    virtual ConversationState GetConversationState() const;
    virtual bool checkSecurityLevel(int32_t requiredLevel);
    virtual void cancel();
    virtual void NotifyDiagStatusChanged();
    virtual bool IsValid(const std::shared_ptr<Proxy>& proxy) const;
    // Runs under m_mutex (from the field handlers and cancel).
    virtual void OnStatusUpdate();

    void status_changed();
    void identifier_changed();

private:
    struct ConversationIdentifier {
        uint16_t sourceAddress = 0;
        uint16_t targetAddress = 0;
        uint16_t connectionId = 0;
    };

    // Runs under m_mutex. The caller owns proxy so that the last reference is
    // released only after m_mutex (see cancel).
    bool ProxyForUpdate(const std::string& handler, std::shared_ptr<Proxy>& proxy);

    // Lock order: m_registrationMutex, m_mutex, DiagStatusMutex; m_stateMutex
    // is innermost and only held to copy the state, never across a wait.
    std::mutex m_mutex;
    std::mutex m_registrationMutex;
    mutable std::mutex m_stateMutex;

    std::string m_instanceId;             // m_stateMutex
    ConversationState m_state;            // m_stateMutex
    ConversationIdentifier m_identifier;  // m_stateMutex
    std::atomic<bool> m_registered{false};
    bool m_wasActive = false;                   // m_mutex
    std::string m_previousSession = "-";        // m_mutex
    std::string m_previousSecurityLevel = "-";  // m_mutex
};

#endif
