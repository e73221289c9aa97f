// Client of the diagnostic manager's DiagnosticConversation service: follows
// the conversation of the tester that drives the programming session, wakes
// the diagnostic-status thread when the tester leaves the programming session
// or the conversation ends, compares the security level and cancels the
// conversation.
//
// Threading: the field handlers run on the proxy's receive threads, cancel on
// the diagnostic-status thread or a request thread. The manager updates the
// status before it forwards a request, while its notification may come
// later: every request catches up with the status when it enters (the queued
// notification samples in order, then the current value), so that it sees
// the session and security level it was sent in. Every answer of the
// diagnostic manager (Status/Identifier Get, Cancel) is waited for at most
// SetAnswerTimeout (3 s by default); a missing answer counts as an error
// answer. No answer is waited for while m_mutex is held: the handlers fetch
// first and apply under m_mutex, dropping an answer older than one already
// applied.
#ifndef KIVLIBRARY_GLOBALLIBRARY_KIVDMCONVERSATION_H
#define KIVLIBRARY_GLOBALLIBRARY_KIVDMCONVERSATION_H

#include <atomic>
#include <chrono>
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
// Guarded by DiagStatusMutex: set by the diagnostic-status thread when it
// takes the pending notifications, cleared (with a notify_all) once it has
// acted on them. A request waits for it, so that it does not run against a
// download of a session that has already ended.
extern bool DiagStatusChangesInHand;

// Marks the calling thread as the one that acts on the notifications, for
// its lifetime. Requests wait for the changes only while such a thread runs.
class DiagStatusHandlerScope {
public:
    DiagStatusHandlerScope();
    ~DiagStatusHandlerScope();
    DiagStatusHandlerScope(const DiagStatusHandlerScope&) = delete;
    DiagStatusHandlerScope& operator=(const DiagStatusHandlerScope&) = delete;

    // Under DiagStatusMutex: takes the pending notifications.
    static void TakeChangesLocked();
    // After acting on the taken notifications; wakes the waiting requests.
    static void ChangesHandled();
};

// False while the diagnostic-status thread has changes it has not acted on
// yet, e.g. still cancels the download of a session that ended. A request
// that would act on that download or session is refused meanwhile rather
// than running against it.
bool DiagStatusChangesHandled();

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
    // conversation named by "ProtocolId" when none is registered, else
    // catches up with its status. Returns once the diagnostic-status thread
    // has acted on what that showed (bounded by the answer time-out).
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

    // Counts the changes of the diagnostic session and the ends of the
    // conversation seen so far: equal counts mean the same session.
    uint64_t SessionChanges() const { return m_sessionChanges.load(); }

    // Bound of each wait for an answer of the diagnostic manager.
    void SetAnswerTimeout(std::chrono::milliseconds timeout) { m_answerTimeout.store(timeout); }

private:
    struct ConversationIdentifier {
        uint16_t sourceAddress = 0;
        uint16_t targetAddress = 0;
        uint16_t connectionId = 0;
    };

    // Registers unless registered, after a registration under way has read
    // its status (it holds m_registrationMutex meanwhile). foundBefore: the
    // caller found one registered before and has logged that.
    void Register(const zov::dm::types::MetaInfoType& metaInfo, bool foundBefore);
    // Under m_mutex: applies the status samples queued since the last time,
    // oldest first, so that no step between two reads is missed (a session
    // left and entered again, a conversation ended and begun again).
    void ApplyQueuedStatuses(const std::shared_ptr<Proxy>& proxy);
    void AwaitDiagStatusHandled() const;

    // The caller owns proxy so that the last reference is released only
    // after m_mutex (see cancel).
    bool ProxyForUpdate(const char* handler, std::shared_ptr<Proxy>& proxy);
    // Under m_mutex, after the answer to the request numbered `request`
    // arrived: whether it may still be applied (same proxy, still
    // registered, nothing newer applied); records it as applied.
    bool MayApply(const char* handler, const std::shared_ptr<Proxy>& proxy, uint64_t request, uint64_t& applied);
    // The answer, or an exception when the manager did not answer in time.
    template <typename T>
    T Await(jux::com::Future<T> answer) const;

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
    std::atomic<uint64_t> m_sessionChanges{0};
    std::atomic<uint64_t> m_statusRequests{0};
    std::atomic<uint64_t> m_identifierRequests{0};
    uint64_t m_statusApplied = 0;      // m_mutex
    uint64_t m_identifierApplied = 0;  // m_mutex
    std::atomic<std::chrono::milliseconds> m_answerTimeout{std::chrono::seconds(3)};
};

#endif
