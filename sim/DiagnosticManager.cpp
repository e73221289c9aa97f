#include "sim/DiagnosticManager.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "platform/com/Types.h"
#include "platform/services/zenqo/services/diagnosticinfo/DiagnosticInfo_proxy.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_skeleton.h"
#include "platform/services/zov/dm/genericuds/GenericUDSService_proxy.h"
#include "platform/services/zov/dm/securityaccess/SecurityAccess_proxy.h"

#include <atomic>
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

constexpr uint8_t kNegative = 0x7F;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kSuppressBit = 0x80;
constexpr uint8_t kGeneralReject = 0x10;
constexpr uint8_t kServiceNotSupported = 0x11;
constexpr uint8_t kSubFunctionNotSupported = 0x12;
constexpr uint8_t kIncorrectLength = 0x13;
constexpr uint8_t kInvalidKey = 0x35;

constexpr uint8_t kSessionControl = 0x10;
constexpr uint8_t kSecurityAccess = 0x27;
constexpr uint8_t kRoutineControl = 0x31;
constexpr uint8_t kTesterPresent = 0x3E;
constexpr uint8_t kControlDtcSetting = 0x85;
constexpr uint8_t kRequestSeed = 0x11;
constexpr uint8_t kSendKey = 0x12;

Bytes Negative(uint8_t sid, uint8_t nrc) { return Bytes{kNegative, sid, nrc}; }

// A proxy found on first use and found again after its service went away
// (Velmora restarted within the process).
template <typename Proxy>
class ProxySlot {
public:
    explicit ProxySlot(std::string instance) : m_instance(std::move(instance)) {}

    std::shared_ptr<Proxy> Get() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_proxy) {
            const auto handles = Proxy::FindService(m_instance);
            if (!handles.empty()) {
                m_proxy = std::make_shared<Proxy>(handles.front());
            }
        }
        return m_proxy;
    }

    void Drop(const std::shared_ptr<Proxy>& stale) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_proxy == stale) {
            m_proxy.reset();
        }
    }

private:
    const std::string m_instance;
    std::mutex m_mutex;
    std::shared_ptr<Proxy> m_proxy;
};

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
            m_owner.OnCancel();
            return jux::com::MakeReadyFuture();
        }

    private:
        Impl& m_owner;
    };

    explicit Impl(Options options)
        : m_options(std::move(options)),
          m_uds(m_options.genericUdsInstance),
          m_securityAccess(m_options.securityAccessInstance),
          m_diagnosticInfo(m_options.diagnosticInfoInstance) {
        m_status = ConversationStatus{0, kDefaultSession, kLocked};
        m_conversation = std::make_unique<Conversation>(*this, m_options.conversationInstance);
        m_conversation->Status.Update(m_status);
        m_conversation->Identifier.Update(zov::dm::types::DiagnosticConversationIdentifierType{0x0E80, 0x1234, 1});
        m_conversation->OfferService();
    }

    std::optional<zenqo::services::diagnosticinfo::datatypes::DT_identificationData> IdentificationData() {
        return Invoke(m_diagnosticInfo, 0, "identificationData",
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
                // Routines are mapped onto their routine services in a later step.
                return Negative(sid, kServiceNotSupported);
            default:
                return HandleMessage(request);
        }
    }

    ConversationStatus Status() const {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        return m_status;
    }

    int CancelCount() const { return m_cancelCount.load(); }
    const Options& GetOptions() const { return m_options; }

    void OnCancel() {
        ++m_cancelCount;
        LogInfo() << "DM: conversation cancelled by the application" << VLMR_FILE_LINE;
        SetStatus(ConversationStatus{1, kDefaultSession, kLocked});
    }

private:
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

    // Calls the method on a proxy of the slot, finding the service again once
    // when the cached proxy's service went away. Empty when it cannot answer
    // (logged); a UDSServiceFailed is rethrown to the caller.
    template <typename Proxy, typename Call>
    auto Invoke(ProxySlot<Proxy>& slot, uint8_t sid, const char* method, Call call)
        -> std::optional<decltype(call(std::declval<Proxy&>()).get())> {
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto proxy = slot.Get();
            if (!proxy) {
                LogError() << "DM: " << method << " not offered, SID " << static_cast<uint32_t>(sid) << VLMR_FILE_LINE;
                return std::nullopt;
            }
            try {
                auto future = call(*proxy);
                if (future.wait_for(m_options.callTimeout) != jux::com::future_status::ready) {
                    LogError() << "DM: " << method << " did not answer within " << m_options.callTimeout.count()
                               << " ms" << VLMR_FILE_LINE;
                    return std::nullopt;
                }
                return future.get();
            } catch (const UDSServiceFailed&) {
                throw;
            } catch (const zov::com::Service_not_available_exception&) {
                slot.Drop(proxy);
            } catch (...) {
                LogError() << "DM: " << method << " failed: " << ExceptionText(std::current_exception())
                           << VLMR_FILE_LINE;
                return std::nullopt;
            }
        }
        LogError() << "DM: " << method << " not available" << VLMR_FILE_LINE;
        return std::nullopt;
    }

    Bytes SecurityAccess(const Bytes& request) {
        const uint8_t sid = request.front();
        if (request.size() < 2) {
            return Negative(sid, kIncorrectLength);
        }
        const uint8_t sub = request[1];
        const Bytes data(request.begin() + 2, request.end());
        if (sub == kRequestSeed) {
            const auto seed = Invoke(m_securityAccess, sid, "GetSeed",
                                     [&](SecurityAccessProxy& proxy) { return proxy.GetSeed(data, MetaInfo()); });
            if (!seed) {
                return Negative(sid, kGeneralReject);
            }
            Bytes response{static_cast<uint8_t>(sid + kPositiveOffset), sub};
            response.insert(response.end(), seed->seed.begin(), seed->seed.end());
            return response;
        }
        if (sub == kSendKey) {
            const auto result = Invoke(m_securityAccess, sid, "CompareKey",
                                       [&](SecurityAccessProxy& proxy) { return proxy.CompareKey(data, MetaInfo()); });
            if (!result) {
                return Negative(sid, kGeneralReject);
            }
            if (result->result != 0) {
                return Negative(sid, kInvalidKey);
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

    Bytes HandleMessage(const Bytes& request) {
        const uint8_t sid = request.front();
        const Bytes data(request.begin() + 1, request.end());
        try {
            const auto output = Invoke(m_uds, sid, "HandleMessage", [&](GenericUDSServiceProxy& proxy) {
                return proxy.HandleMessage(sid, data, MetaInfo());
            });
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
    mutable std::mutex m_statusMutex;
    ConversationStatus m_status;  // m_statusMutex
    std::atomic<int> m_cancelCount{0};
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
const DiagnosticManager::Options& DiagnosticManager::GetOptions() const { return m_impl->GetOptions(); }

}  // namespace sim
