#include "KivLibrary/GlobalLibrary/KivDMConversation.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Logger/Logging.h"

std::mutex DiagStatusMutex;
std::condition_variable DiagStatusConditionVariable;
uint64_t DiagStatusChangesPending = 0;
bool DiagStatusChangesInHand = false;

namespace {

// Guarded by DiagStatusMutex.
bool DiagStatusHandlerRunning = false;

// Status changes a manager may make between two requests (session, security
// level, end and begin of a conversation), with room to spare.
constexpr std::size_t kStatusSamples = 16;

// How soon a wait for the manager's answer notices a termination request.
constexpr std::chrono::milliseconds kTerminationPoll{20};

constexpr const char* kStatusHandler = "KivDMConversation::status_changed";
constexpr const char* kIdentifierHandler = "KivDMConversation::identifier_changed";

const char* BoolText(bool value) { return value ? "true" : "false"; }

// Under DiagStatusMutex.
bool DiagStatusSettledLocked() {
    return !DiagStatusHandlerRunning || (DiagStatusChangesPending == 0 && !DiagStatusChangesInHand);
}

}  // namespace

bool DiagStatusChangesHandled() {
    std::lock_guard<std::mutex> lock(DiagStatusMutex);
    return DiagStatusSettledLocked();
}

DiagStatusHandlerScope::DiagStatusHandlerScope() {
    std::lock_guard<std::mutex> lock(DiagStatusMutex);
    DiagStatusHandlerRunning = true;
}

DiagStatusHandlerScope::~DiagStatusHandlerScope() {
    {
        std::lock_guard<std::mutex> lock(DiagStatusMutex);
        DiagStatusHandlerRunning = false;
        DiagStatusChangesInHand = false;
    }
    DiagStatusConditionVariable.notify_all();
}

void DiagStatusHandlerScope::TakeChangesLocked() {
    DiagStatusChangesPending = 0;
    DiagStatusChangesInHand = true;
}

void DiagStatusHandlerScope::ChangesHandled() {
    {
        std::lock_guard<std::mutex> lock(DiagStatusMutex);
        DiagStatusChangesInHand = false;
    }
    DiagStatusConditionVariable.notify_all();
}

KivDMConversation::~KivDMConversation() {
    // A handler that still runs holds a reference to this object, so none is
    // running now; unsetting them keeps later notifications away.
    if (auto proxy = ExchangeProxy(nullptr)) {
        proxy->Status.UnsetReceiveHandler();
        proxy->Identifier.UnsetReceiveHandler();
    }
}

void KivDMConversation::SetAndSubscribeReceiveHandler() {
    LogInfo() << "KivDMConversation::SetAndSubscribeReceiveHandler" << VLMR_FILE_LINE;
    auto proxy = GetProxy();
    if (!IsValid(proxy)) {
        LogError() << "KivDMConversation::SetAndSubscribeReceiveHandler: proxy invalid!" << VLMR_FILE_LINE;
        return;
    }
    std::weak_ptr<KivDMConversation> weak = weak_from_this();
    proxy->Status.SetReceiveHandler([weak] {
        if (auto self = weak.lock()) {
            self->status_changed();
        }
    });
    proxy->Status.Subscribe(kStatusSamples);
    proxy->Identifier.SetReceiveHandler([weak] {
        if (auto self = weak.lock()) {
            self->identifier_changed();
        }
    });
    proxy->Identifier.Subscribe(1);
}

void KivDMConversation::registerConversation(const zov::dm::types::MetaInfoType& metaInfo) {
    // Read once: a request that found no registration must not pass on
    // because another one registered meanwhile, before that one's status
    // read is in (Register waits for it).
    const bool registered = m_registered.load();
    if (registered) {
        LogInfo() << "Already registered diagnosticconversation with DM" << VLMR_FILE_LINE;
        // The notification of what the manager changed before it forwarded
        // this request may still be on its way.
        status_changed();
    }
    // Also when the flag reads set now: the catching up may have ended the
    // conversation and another request registered the next one, whose
    // status read may not be in yet. Register waits for that.
    Register(metaInfo, registered);
    AwaitDiagStatusHandled();
}

void KivDMConversation::Register(const zov::dm::types::MetaInfoType& metaInfo, bool foundBefore) {
    // Concurrent first requests: one registers, the others find it done.
    std::lock_guard<std::mutex> registration(m_registrationMutex);
    if (m_registered.load()) {
        if (!foundBefore) {
            LogInfo() << "Already registered diagnosticconversation with DM" << VLMR_FILE_LINE;
        }
        return;
    }
    LogInfo() << "registering diagnosticconversation with DM" << VLMR_FILE_LINE;
    const auto entry = metaInfo.find("ProtocolId");
    const std::string id = entry == metaInfo.end() ? std::string("invalid") : entry->second;
    bool processed = false;
    try {
        processed = ProcessServiceHandle(Subscribe(id));
    } catch (...) {
        LogError() << "KivDMConversation::registerConversation: " << ExceptionText(std::current_exception())
                   << VLMR_FILE_LINE;
    }
    if (!processed) {
        LogError() << " error while processing the service handle forinstance ID [" << id << "]" << VLMR_FILE_LINE;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_instanceId = id;
    }
    m_registered.store(true);
    status_changed();
}

ConversationState KivDMConversation::GetConversationState() const {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    return m_state;
}

bool KivDMConversation::checkSecurityLevel(int32_t requiredLevel) {
    const std::string level = GetConversationState().diagnosticSecurityLevel;
    LogInfo() << "KivDMConversation::checkSecurityLevel, current security level: " << level << VLMR_FILE_LINE;
    int32_t current = 0;
    try {
        current = std::stoi(level);
    } catch (const std::exception&) {
        LogError() << "KivDMConversation::checkSecurityLevel could be determined" << VLMR_FILE_LINE;
        return false;
    }
    return requiredLevel == current;
}

void KivDMConversation::cancel() {
    // Declared before the lock so that it is released after it: when a new
    // registration replaced this proxy meanwhile, this is its last reference,
    // and its destruction waits for its other handler, which needs m_mutex.
    std::shared_ptr<Proxy> proxy;
    LogInfo() << "KivDMConversation::cancel" << VLMR_FILE_LINE;
    proxy = GetProxy();
    if (!IsValid(proxy)) {
        LogError() << "KivDMConversation::cancel: proxy invalid!" << VLMR_FILE_LINE;
        return;
    }
    // Runs on the diagnostic-status thread too, where an escaping error
    // would end the process.
    try {
        Await(proxy->Cancel());
    } catch (...) {
        LogError() << "KivDMConversation::cancel: Cancel failed: " << ExceptionText(std::current_exception())
                   << VLMR_FILE_LINE;
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    // The manager ends the conversation before it answers: take that now
    // rather than when its notification comes.
    if (m_registered.load() && GetProxy() == proxy) {
        ApplyQueuedStatuses(proxy);
    }
    OnStatusUpdate();
}

void KivDMConversation::NotifyDiagStatusChanged() {
    std::lock_guard<std::mutex> lock(DiagStatusMutex);
    ++DiagStatusChangesPending;
    DiagStatusConditionVariable.notify_all();
}

bool KivDMConversation::IsValid(const std::shared_ptr<Proxy>& proxy) const { return proxy != nullptr; }

void KivDMConversation::OnStatusUpdate() {
    ConversationState state;
    std::string instanceId;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        state = m_state;
        instanceId = m_instanceId;
    }
    const bool wasActive = m_wasActive;
    const std::string previousSession = m_previousSession;
    const bool active = state.activityStatus == 0;
    m_wasActive = active;

    const bool ended = wasActive && !active;
    if (ended) {
        // Withdrawn while still registered: once the flag is clear, a request
        // may register the next conversation with a new proxy, whose
        // subscriptions must stay.
        if (auto proxy = GetProxy()) {
            proxy->Status.Unsubscribe();
            proxy->Identifier.Unsubscribe();
        }
        m_registered.store(false);
        LogInfo() << "unregister diagnosticconversation with DM" << VLMR_FILE_LINE;
    }
    if (ended || state.diagnosticSession != previousSession) {
        ++m_sessionChanges;
    }
    m_previousSession = state.diagnosticSession;
    if ((previousSession == "2" && state.diagnosticSession != "2") || ended) {
        NotifyDiagStatusChanged();
    }
    LogInfo() << "KivDMConversation " << instanceId << " updated: "
              << "activityStatus(" << BoolText(wasActive) << "," << BoolText(active) << ") "
              << "diagnosticSession(" << previousSession << "," << state.diagnosticSession << ") "
              << "diagnosticSecurityLevel(" << m_previousSecurityLevel << "," << state.diagnosticSecurityLevel << ") "
              << VLMR_FILE_LINE;
    m_previousSecurityLevel = state.diagnosticSecurityLevel;
}

void KivDMConversation::ApplyQueuedStatuses(const std::shared_ptr<Proxy>& proxy) {
    proxy->Status.GetNewSamples([this, &proxy](const auto& sample) {
        // Numbered like a read: an older read still under way is dropped.
        if (!sample || !MayApply(kStatusHandler, proxy, ++m_statusRequests, m_statusApplied)) {
            return;
        }
        {
            std::lock_guard<std::mutex> stateLock(m_stateMutex);
            m_state.activityStatus = sample->activityStatus;
            m_state.diagnosticSession = sample->diagnosticSession;
            m_state.diagnosticSecurityLevel = sample->diagnosticSecurityLevel;
        }
        OnStatusUpdate();
    });
}

void KivDMConversation::AwaitDiagStatusHandled() const {
    const auto settled = [] { return DiagStatusSettledLocked(); };
    std::unique_lock<std::mutex> lock(DiagStatusMutex);
    if (settled()) {
        return;
    }
    const auto timeout = m_answerTimeout.load();
    LogInfo() << "KivDMConversation: waiting until the diagnostic status change is handled" << VLMR_FILE_LINE;
    if (!DiagStatusConditionVariable.wait_for(lock, timeout, settled)) {
        // The services that would act on the ending session refuse the
        // request (DiagStatusChangesHandled); the others go on.
        LogWarn() << "KivDMConversation: the diagnostic status change was not handled within " << timeout.count()
                  << " ms" << VLMR_FILE_LINE;
    }
}

template <typename T>
T KivDMConversation::Await(jux::com::Future<T> answer) const {
    const auto timeout = m_answerTimeout.load();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Termination is looked at every slice, as the update manager's waits
    // do: a manager that hangs must not hold the process's stop up.
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (answer.wait_for(std::max(std::chrono::milliseconds::zero(), std::min(left, kTerminationPoll))) ==
            jux::com::future_status::ready) {
            return answer.get();
        }
        if (IsTerminationRequested()) {
            throw std::runtime_error("waiting for the diagnostic manager given up, termination requested");
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw std::runtime_error("no answer from the diagnostic manager within " + std::to_string(timeout.count()) +
                                     " ms");
        }
    }
}

bool KivDMConversation::ProxyForUpdate(const char* handler, std::shared_ptr<Proxy>& proxy) {
    LogInfo() << handler << VLMR_FILE_LINE;
    proxy = GetProxy();
    if (!IsValid(proxy)) {
        LogError() << handler << ": proxy invalid!" << VLMR_FILE_LINE;
        return false;
    }
    if (!m_registered.load()) {
        LogInfo() << handler << ": Velmora unsubscribed!" << VLMR_FILE_LINE;
        return false;
    }
    return true;
}

bool KivDMConversation::MayApply(const char* handler, const std::shared_ptr<Proxy>& proxy, uint64_t request,
                                 uint64_t& applied) {
    if (!m_registered.load()) {
        LogInfo() << handler << ": Velmora unsubscribed!" << VLMR_FILE_LINE;
        return false;
    }
    if (GetProxy() != proxy || request < applied) {
        return false;  // a newer proxy or a newer answer is already in place
    }
    applied = request;
    return true;
}

void KivDMConversation::status_changed() {
    // Released after the lock, as in cancel.
    std::shared_ptr<Proxy> proxy;
    const char* const handler = kStatusHandler;
    if (!ProxyForUpdate(handler, proxy)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ApplyQueuedStatuses(proxy);
    }
    if (!m_registered.load()) {
        return;  // the samples ended the conversation
    }
    // The samples may lag behind the manager: the current value comes last.
    const uint64_t request = ++m_statusRequests;
    zov::dm::types::DiagnosticConversationStatusType status;
    try {
        status = Await(proxy->Status.Get());
    } catch (...) {
        LogError() << handler << ": " << ExceptionText(std::current_exception()) << VLMR_FILE_LINE;
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!MayApply(handler, proxy, request, m_statusApplied)) {
        return;
    }
    {
        std::lock_guard<std::mutex> stateLock(m_stateMutex);
        m_state.activityStatus = status.activityStatus;
        m_state.diagnosticSession = status.diagnosticSession;
        m_state.diagnosticSecurityLevel = status.diagnosticSecurityLevel;
    }
    OnStatusUpdate();
}

void KivDMConversation::identifier_changed() {
    // Released after the lock, as in cancel.
    std::shared_ptr<Proxy> proxy;
    const char* const handler = kIdentifierHandler;
    if (!ProxyForUpdate(handler, proxy)) {
        return;
    }
    proxy->Identifier.GetNewSamples([](const auto&) {});
    const uint64_t request = ++m_identifierRequests;
    zov::dm::types::DiagnosticConversationIdentifierType identifier;
    try {
        identifier = Await(proxy->Identifier.Get());
    } catch (...) {
        LogError() << handler << ": " << ExceptionText(std::current_exception()) << VLMR_FILE_LINE;
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!MayApply(handler, proxy, request, m_identifierApplied)) {
        return;
    }
    {
        std::lock_guard<std::mutex> stateLock(m_stateMutex);
        m_identifier.sourceAddress = identifier.sourceAddress;
        m_identifier.targetAddress = identifier.targetAddress;
        m_identifier.connectionId = identifier.connectionId;
    }
    OnStatusUpdate();
}
