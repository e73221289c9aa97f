// UDS ReadDataByIdentifier (0x22): one to seven DIDs read by the readers of
// the DataIdentifiers directory and answered in ascending DID order, a DID
// named twice answered once. Runs on the binding's method threads; the reader
// map is fixed at construction, so no lock is taken. A request waits while
// the start-up phase still copies UCM state (bounded only by that phase).
#ifndef KIVLIBRARY_FUNCTIONAL_READDATABYIDENTIFIER_H
#define KIVLIBRARY_FUNCTIONAL_READDATABYIDENTIFIER_H

#include "KivLibrary/Functional/DataIdentifiers/DataIdentifiersBase.h"
#include "KivLibrary/Functional/ServiceBase.h"
#include "uds/ReadDataByIdentifier.h"

#include <map>

class ReadDataByIdentifier : public CheckedService<UDS::ReadDataByIdentifierRequest> {
public:
    static constexpr uint8_t kSid = 0x22;
    using DidMap = std::map<uint16_t, std::shared_ptr<DataIdentifiersBase>>;

    ReadDataByIdentifier(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                         std::shared_ptr<PersistentDataStorage> storage);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

private:
    using Request = UDS::ReadDataByIdentifierRequest;
    void InitializeDIDServices(const std::shared_ptr<SessionData>& sessionData,
                               const std::shared_ptr<UCM::UCMAdaptorInterface>& ucmAdaptor,
                               const std::shared_ptr<PersistentDataStorage>& storage);
    CheckResult CheckPreconditions(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckMessageLength(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckDataIdentifierSupport(const Request& request, std::vector<uint8_t>& response);
    CheckResult MultipleDIDCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckResponseLength(const Request& request, std::vector<uint8_t>& response);

    DidMap m_didMap;
};

#endif
