#include "sim/DiagnosticManager.h"

#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/com/Types.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_proxy.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_skeleton.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_proxy.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_proxy.h"
#include "sim/DiagnosticMonitorRecorder.h"
#include "sim/RoutineControl.h"
#include "sim/ServiceCall.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

namespace sim {

namespace {

using zenqo::services::diagnosticinfo::proxy::DiagnosticInfoProxy;
using zov::dm::genericuds::GenericUDSService::UDSServiceFailed;
using zov::dm::genericuds::proxy::GenericUDSServiceProxy;
using zov::dm::securityaccess::proxy::SecurityAccessProxy;

// SecurityAccess and DiagnosticInfo declare no application error.
struct NoApplicationError : std::exception {};

constexpr uint8_t kNegative = 0x7F;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kSuppressBit = 0x80;
constexpr uint8_t kGeneralReject = 0x10;
constexpr uint8_t kSubFunctionNotSupported = 0x12;
constexpr uint8_t kIncorrectLength = 0x13;
constexpr uint8_t kRequestSequenceError = 0x24;
constexpr uint8_t kInvalidKey = 0x35;
constexpr uint8_t kExceededNumberOfAttempts = 0x36;
constexpr uint8_t kRequiredTimeDelayNotExpired = 0x37;

constexpr uint8_t kSessionControl = 0x10;
constexpr uint8_t kSecurityAccess = 0x27;
constexpr uint8_t kRoutineControl = 0x31;
constexpr uint8_t kTesterPresent = 0x3E;
constexpr uint8_t kControlDtcSetting = 0x85;
constexpr uint8_t kRequestSeed = 0x11;
constexpr uint8_t kSendKey = 0x12;

const zov::dm::types::DiagnosticConversationIdentifierType kIdentifier{0x0E80, 0x1234, 1};

Bytes Negative(uint8_t sid, uint8_t nrc) { return Bytes{kNegative, sid, nrc}; }

}  // namespace

class DiagnosticManager::Impl {
public:
    class Conversation : public zov::dm::diagnosticconversation::skeleton::DiagnosticConversationSkeleton {
    public:
        Conversation(Impl& owner, const std::string& instance)
            : DiagnosticConversationSkeleton(instance), m_owner(owner) {}
        ~Conversation() override {
            StopOfferService();
            StopMethodDispatcher();
        }
        jux::com::Future<void> Cancel() override {
            {
                std::lock_guard<std::mutex> lock(m_heldMutex);
                if (m_silent) {
                    m_heldCancels.emplace_back();
                    return m_heldCancels.back().get_future();
                }
            }
            m_owner.OnCancel();
            return jux::com::MakeReadyFuture();
        }

        // Cancel and the Status getter are held unanswered from now on; the
        // held calls are answered with an error when the conversation goes.
        void StopAnswering() {
            {
                std::lock_guard<std::mutex> lock(m_heldMutex);
                m_silent = true;
            }
            Status.RegisterGetHandler([this] {
                std::lock_guard<std::mutex> lock(m_heldMutex);
                m_heldStatusReads.emplace_back();
                return m_heldStatusReads.back().get_future();
            });
        }

    private:
        Impl& m_owner;
        std::mutex m_heldMutex;
        bool m_silent = false;                                                 // m_heldMutex
        std::vector<jux::com::Promise<void>> m_heldCancels;                    // m_heldMutex
        std::vector<jux::com::Promise<ConversationStatus>> m_heldStatusReads;  // m_heldMutex
    };

    explicit Impl(Options options)
        : m_options(std::move(options)),
          m_uds(m_options.genericUdsInstance),
          m_securityAccess(m_options.securityAccessInstance),
          m_diagnosticInfo(m_options.diagnosticInfoInstance),
          m_routines(m_options.routineInstances, m_options.callTimeout) {
        m_status = ConversationStatus{0, kDefaultSession, kLocked};
        m_conversation = std::make_unique<Conversation>(*this, m_options.conversationInstance);
        m_conversation->Status.Update(m_status);
        m_conversation->Identifier.Update(kIdentifier);
        m_conversation->OfferService();
        RecordDtcs();
    }

    std::optional<zenqo::services::diagnosticinfo::datatypes::DT_identificationData> IdentificationData() {
        return Invoke<NoApplicationError>(m_diagnosticInfo, 0, "identificationData",
                                          [](DiagnosticInfoProxy& proxy) { return proxy.identificationData.Get(); });
    }

    Bytes Uds(const Bytes& request) {
        if (request.empty()) {
            LogError() << "DM: empty request" << VLMR_FILE_LINE;
            return Negative(0x00, kIncorrectLength);
        }
        BeginConversation();
        const uint8_t sid = request.front();
        switch (sid) {
            case kSessionControl:
                return SessionControl(request);
            case kTesterPresent:
                return Simple(request, {0x00});
            case kControlDtcSetting:
                return Simple(request, {0x01, 0x02});
            case kSecurityAccess:
                return SecurityAccess(request);
            case kRoutineControl:
                return m_routines.Handle(request, MetaInfo());
            default:
                return HandleMessage(request);
        }
    }

    ConversationStatus Status() const {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        return m_status;
    }

    int CancelCount() const { return m_cancelCount.load(); }
    void StopAnswering() { m_conversation->StopAnswering(); }
    const Options& GetOptions() const { return m_options; }

    std::optional<zov::dm::dem::MonitorActionType> LastDtcAction(const std::string& instance) const {
        std::shared_ptr<DiagnosticMonitorRecorder> recorder;
        {
            std::lock_guard<std::mutex> lock(m_recorderMutex);
            recorder = m_recorder;
        }
        if (!recorder) {
            return std::nullopt;
        }
        return recorder->LastAction(instance);
    }

    // The registry reset retired the conversation's skeleton: a new one
    // takes its place, in a new conversation.
    void Reconnect() {
        auto conversation = std::make_unique<Conversation>(*this, m_options.conversationInstance);
        conversation->Identifier.Update(kIdentifier);
        {
            std::lock_guard<std::mutex> lock(m_statusMutex);
            m_status = ConversationStatus{0, kDefaultSession, kLocked};
            conversation->Status.Update(m_status);
            std::swap(m_conversation, conversation);
        }
        conversation.reset();
        m_conversation->OfferService();
        m_uds.DropAll();
        m_securityAccess.DropAll();
        m_diagnosticInfo.DropAll();
        m_routines.DropProxies();
        RecordDtcs();
    }

    void OnCancel() {
        ++m_cancelCount;
        LogInfo() << "DM: conversation cancelled by the application" << VLMR_FILE_LINE;
        SetStatus(ConversationStatus{1, kDefaultSession, kLocked});
    }

private:
    // A recorder whose searches were stopped by a registry reset records
    // nothing more: a new one replaces it.
    void RecordDtcs() {
        std::shared_ptr<DiagnosticMonitorRecorder> fresh;
        if (!m_options.dtcInstances.empty()) {
            fresh = std::make_shared<DiagnosticMonitorRecorder>(m_options.dtcInstances);
        }
        std::shared_ptr<DiagnosticMonitorRecorder> old;
        {
            std::lock_guard<std::mutex> lock(m_recorderMutex);
            old = std::move(m_recorder);
            m_recorder = std::move(fresh);
        }
        // `old` is destroyed here, outside the lock.
    }

    void SetStatus(const ConversationStatus& status) {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        m_status = status;
        // Under the lock, so that subscribers see the changes in order.
        m_conversation->Status.Update(status);
    }

    // A request after the conversation ended opens a new one.
    void BeginConversation() {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        if (m_status.activityStatus != 0) {
            m_status.activityStatus = 0;
            m_conversation->Status.Update(m_status);
        }
    }

    Bytes SessionControl(const Bytes& request) {
        const uint8_t sid = request.front();
        if (request.size() != 2) {
            return Negative(sid, kIncorrectLength);
        }
        const uint8_t session = request[1] & static_cast<uint8_t>(~kSuppressBit);
        if (session < 0x01 || session > 0x03) {
            return Negative(sid, kSubFunctionNotSupported);
        }
        const std::string text = std::to_string(session);
        {
            std::lock_guard<std::mutex> lock(m_statusMutex);
            const bool leavesProgramming =
                m_status.diagnosticSession == kProgrammingSession && text != kProgrammingSession;
            if (leavesProgramming) {
                // The DM ends the conversation; the next request opens a new one.
                m_status = ConversationStatus{1, text, kLocked};
            } else {
                m_status = ConversationStatus{0, text, kLocked};
            }
            m_conversation->Status.Update(m_status);
        }
        {
            std::lock_guard<std::mutex> lock(m_securityMutex);
            m_seedIssued = false;
        }
        if ((request[1] & kSuppressBit) != 0) {
            return {};
        }
        // P2 50 ms, P2* 5000 ms in 10 ms units.
        return Bytes{static_cast<uint8_t>(sid + kPositiveOffset), session, 0x00, 0x32, 0x01, 0xF4};
    }

    Bytes Simple(const Bytes& request, std::initializer_list<uint8_t> subFunctions) {
        const uint8_t sid = request.front();
        if (request.size() != 2) {
            return Negative(sid, kIncorrectLength);
        }
        const uint8_t sub = request[1] & static_cast<uint8_t>(~kSuppressBit);
        for (uint8_t allowed : subFunctions) {
            if (sub == allowed) {
                if ((request[1] & kSuppressBit) != 0) {
                    return {};
                }
                return Bytes{static_cast<uint8_t>(sid + kPositiveOffset), sub};
            }
        }
        return Negative(sid, kSubFunctionNotSupported);
    }

    zov::dm::types::MetaInfoType MetaInfo() const { return {{"ProtocolId", m_options.conversationInstance}}; }

    template <typename Failed, typename Proxy, typename Call>
    auto Invoke(ProxySlot<Proxy>& slot, uint8_t sid, const char* method, Call call)
        -> std::optional<decltype(call(std::declval<Proxy&>()).get())> {
        return CallBounded<Failed>(slot, m_options.callTimeout,
                                   std::string(method) + " (SID " + std::to_string(static_cast<unsigned>(sid)) + ")",
                                   call, [](auto future) { return future.get(); });
    }

    Bytes SecurityAccess(const Bytes& request) {
        const uint8_t sid = request.front();
        if (request.size() < 2) {
            return Negative(sid, kIncorrectLength);
        }
        const uint8_t sub = request[1];
        const Bytes data(request.begin() + 2, request.end());
        if ((sub == kRequestSeed || sub == kSendKey) && DelayRunning()) {
            return Negative(sid, kRequiredTimeDelayNotExpired);
        }
        if (sub == kRequestSeed) {
            const auto seed =
                Invoke<NoApplicationError>(m_securityAccess, sid, "GetSeed",
                                           [&](SecurityAccessProxy& proxy) { return proxy.GetSeed(data, MetaInfo()); });
            if (!seed) {
                return Negative(sid, kGeneralReject);
            }
            {
                std::lock_guard<std::mutex> lock(m_securityMutex);
                m_seedIssued = true;
            }
            Bytes response{static_cast<uint8_t>(sid + kPositiveOffset), sub};
            response.insert(response.end(), seed->seed.begin(), seed->seed.end());
            return response;
        }
        if (sub == kSendKey) {
            {
                // Right or wrong, a key uses the seed up.
                std::lock_guard<std::mutex> lock(m_securityMutex);
                if (!m_seedIssued) {
                    return Negative(sid, kRequestSequenceError);
                }
                m_seedIssued = false;
            }
            const auto result = Invoke<NoApplicationError>(
                m_securityAccess, sid, "CompareKey",
                [&](SecurityAccessProxy& proxy) { return proxy.CompareKey(data, MetaInfo()); });
            if (!result) {
                return Negative(sid, kGeneralReject);
            }
            if (result->result != 0) {
                return Negative(sid, WrongKey());
            }
            {
                std::lock_guard<std::mutex> lock(m_securityMutex);
                m_failedKeys = 0;
            }
            {
                std::lock_guard<std::mutex> lock(m_statusMutex);
                m_status.diagnosticSecurityLevel = "9";
                m_conversation->Status.Update(m_status);
            }
            return Bytes{static_cast<uint8_t>(sid + kPositiveOffset), sub};
        }
        return Negative(sid, kSubFunctionNotSupported);
    }

    bool DelayRunning() const {
        std::lock_guard<std::mutex> lock(m_securityMutex);
        return m_delayEnd && std::chrono::steady_clock::now() < *m_delayEnd;
    }

    // Counts a wrong key; the allowed number-th starts the delay.
    uint8_t WrongKey() {
        std::lock_guard<std::mutex> lock(m_securityMutex);
        if (++m_failedKeys < m_options.allowedKeyAttempts) {
            return kInvalidKey;
        }
        m_failedKeys = 0;
        m_delayEnd = std::chrono::steady_clock::now() + m_options.securityDelay;
        LogInfo() << "DM: " << m_options.allowedKeyAttempts << " wrong keys, SecurityAccess delayed for "
                  << m_options.securityDelay.count() << " ms" << VLMR_FILE_LINE;
        return kExceededNumberOfAttempts;
    }

    Bytes HandleMessage(const Bytes& request) {
        const uint8_t sid = request.front();
        const Bytes data(request.begin() + 1, request.end());
        try {
            const auto output = Invoke<UDSServiceFailed>(
                m_uds, sid, "HandleMessage",
                [&](GenericUDSServiceProxy& proxy) { return proxy.HandleMessage(sid, data, MetaInfo()); });
            if (!output) {
                return Negative(sid, kGeneralReject);
            }
            Bytes response{static_cast<uint8_t>(sid + kPositiveOffset)};
            response.insert(response.end(), output->responseData.begin(), output->responseData.end());
            return response;
        } catch (const UDSServiceFailed& failure) {
            return Negative(sid, failure.GetCode());
        }
    }

    const Options m_options;
    ProxySlot<GenericUDSServiceProxy> m_uds;
    ProxySlot<SecurityAccessProxy> m_securityAccess;
    ProxySlot<DiagnosticInfoProxy> m_diagnosticInfo;
    RoutineControl m_routines;
    mutable std::mutex m_recorderMutex;
    std::shared_ptr<DiagnosticMonitorRecorder> m_recorder;  // m_recorderMutex
    mutable std::mutex m_statusMutex;
    ConversationStatus m_status;  // m_statusMutex
    std::atomic<int> m_cancelCount{0};
    mutable std::mutex m_securityMutex;
    bool m_seedIssued = false;                                        // m_securityMutex
    int m_failedKeys = 0;                                             // m_securityMutex
    std::optional<std::chrono::steady_clock::time_point> m_delayEnd;  // m_securityMutex
    // Last: withdrawn first, so that no Cancel reaches a half-destroyed object.
    std::unique_ptr<Conversation> m_conversation;
};

DiagnosticManager::DiagnosticManager(Options options) : m_impl(std::make_unique<Impl>(std::move(options))) {}
DiagnosticManager::DiagnosticManager() : DiagnosticManager(Options{}) {}
DiagnosticManager::~DiagnosticManager() = default;

Bytes DiagnosticManager::Uds(const Bytes& request) { return m_impl->Uds(request); }
DiagnosticManager::ConversationStatus DiagnosticManager::Status() const { return m_impl->Status(); }
std::optional<zenqo::services::diagnosticinfo::datatypes::DT_identificationData>
DiagnosticManager::IdentificationData() {
    return m_impl->IdentificationData();
}
int DiagnosticManager::CancelCount() const { return m_impl->CancelCount(); }
void DiagnosticManager::StopAnswering() { m_impl->StopAnswering(); }
const DiagnosticManager::Options& DiagnosticManager::GetOptions() const { return m_impl->GetOptions(); }
std::optional<zov::dm::dem::MonitorActionType> DiagnosticManager::LastDtcAction(const std::string& instance) const {
    return m_impl->LastDtcAction(instance);
}
void DiagnosticManager::Reconnect() { m_impl->Reconnect(); }

DiagnosticManager::Options DiagnosticManager::Options::FromConfiguration(const KivConfiguration& configuration) {
    Options options;
    options.genericUdsInstance = configuration.service_instance_id;
    const auto level9 = configuration.securityAccessMapping.find(9);
    if (level9 != configuration.securityAccessMapping.end()) {
        options.securityAccessInstance = level9->second;
    }
    options.diagnosticInfoInstance = configuration.diagnosticInfoInstanceId;
    options.routineInstances = configuration.routineServiceMapping;
    return options;
}

std::map<std::string, std::string> DiagnosticManager::Options::ShippedRoutineInstances() {
    std::map<std::string, std::string> mapping;
    for (const std::string& key : RoutineControl::KnownRoutines()) {
        mapping[key] = "1";
    }
    return mapping;
}

}  // namespace sim
