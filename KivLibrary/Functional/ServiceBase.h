// Base of every UDS service handler and the one loop that runs a handler's
// named checks: each check is logged, the first that fails answers
// [7F SID NRC] and stops the request. Handlers are shared by the method
// threads of the binding; the check list is fixed at construction, so the
// base takes no lock.
#ifndef KIVLIBRARY_FUNCTIONAL_SERVICEBASE_H
#define KIVLIBRARY_FUNCTIONAL_SERVICEBASE_H

#include "uds/Message.h"
#include "uds/Nrc.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class SessionData;
class PersistentDataStorage;
namespace UCM {
class UCMAdaptorInterface;
}

// The outcome of one check. A refusal's text begins with the NRC's name and a
// colon; a check may answer another NRC than its entry names (a check that
// decides between two refusals).
class CheckResult {
public:
    // Logged as "<service>: <check> succeeded!" followed by the detail.
    static CheckResult Pass(std::string detail = std::string()) {
        return CheckResult(true, false, UDS::Nrc::generalReject, std::move(detail), false);
    }
    // Logged as the whole line given.
    static CheckResult PassWithLine(std::string line) {
        return CheckResult(true, false, UDS::Nrc::generalReject, std::move(line), true);
    }
    // Answers the NRC of the check's entry.
    static CheckResult Refuse(std::string text) {
        return CheckResult(false, false, UDS::Nrc::generalReject, std::move(text), true);
    }
    static CheckResult Refuse(UDS::Nrc nrc, std::string text) {
        return CheckResult(false, true, nrc, std::move(text), true);
    }

    bool Passed() const { return m_passed; }
    bool HasOwnNrc() const { return m_hasNrc; }
    UDS::Nrc Nrc() const { return m_nrc; }
    const std::string& Text() const { return m_text; }
    bool IsWholeLine() const { return m_wholeLine; }

private:
    CheckResult(bool passed, bool hasNrc, UDS::Nrc nrc, std::string text, bool wholeLine)
        : m_passed(passed), m_hasNrc(hasNrc), m_nrc(nrc), m_text(std::move(text)), m_wholeLine(wholeLine) {}

    bool m_passed;
    bool m_hasNrc;
    UDS::Nrc m_nrc;
    std::string m_text;
    bool m_wholeLine;
};

class ServiceBase {
public:
    ServiceBase(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                std::shared_ptr<PersistentDataStorage> storage);
    virtual ~ServiceBase();
    ServiceBase(const ServiceBase&) = delete;
    ServiceBase& operator=(const ServiceBase&) = delete;

    // The complete response frame, positive or [7F SID NRC]; never empty.
    virtual std::vector<uint8_t> Process(const UDS::Message& message) = 0;

protected:
    // "CurrentStatus event " and UCM's last status, when a session is held.
    void LogCurrentStatus() const;

    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> m_storage;
};

// [7F SID NRC].
std::vector<uint8_t> MakeNegativeFrame(uint8_t sid, UDS::Nrc nrc);
// "<service>: <check> started!" at info level.
void LogServiceCheckStarted(const std::string& service, const std::string& check);
// A pass at debug level, a refusal's text at error level.
void LogServiceCheckResult(const std::string& service, const std::string& check, const CheckResult& result);

// A handler over one request class: it registers its checks in their order
// and lets RunChecks run them.
template <typename Request>
class CheckedService : public ServiceBase {
public:
    // A check may put the positive response into the vector (the last step of
    // a service that builds its answer while it works).
    using CheckFunction = std::function<CheckResult(const Request&, std::vector<uint8_t>&)>;

    struct Check {
        std::string name;
        UDS::Nrc nrc;
        CheckFunction check;
    };

protected:
    CheckedService(std::string serviceName, uint8_t sid, std::shared_ptr<SessionData> sessionData,
                   std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor, std::shared_ptr<PersistentDataStorage> storage)
        : ServiceBase(std::move(sessionData), std::move(ucmAdaptor), std::move(storage)),
          m_serviceName(std::move(serviceName)),
          m_sid(sid) {}

    template <typename Handler>
    void AddCheck(std::string name, UDS::Nrc nrc,
                  CheckResult (Handler::*member)(const Request&, std::vector<uint8_t>&)) {
        Handler* self = static_cast<Handler*>(this);
        m_checks.push_back(
            Check{std::move(name), nrc, [self, member](const Request& request, std::vector<uint8_t>& response) {
                      return (self->*member)(request, response);
                  }});
    }

    // True when every check passed; false with the negative response of the
    // first failing one in `response`, the later checks not run.
    bool RunChecks(const Request& request, std::vector<uint8_t>& response) const {
        for (const Check& entry : m_checks) {
            const CheckResult result = RunOne(entry, request, response);
            if (!result.Passed()) {
                response = MakeNegativeFrame(m_sid, result.HasOwnNrc() ? result.Nrc() : entry.nrc);
                return false;
            }
        }
        return true;
    }

    const std::string& ServiceName() const { return m_serviceName; }
    uint8_t Sid() const { return m_sid; }

private:
    CheckResult RunOne(const Check& entry, const Request& request, std::vector<uint8_t>& response) const {
        LogServiceCheckStarted(m_serviceName, entry.name);
        CheckResult result = entry.check(request, response);
        LogServiceCheckResult(m_serviceName, entry.name, result);
        return result;
    }

    std::vector<Check> m_checks;
    const std::string m_serviceName;
    const uint8_t m_sid;
};

#endif
