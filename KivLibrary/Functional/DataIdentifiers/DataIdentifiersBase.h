// Base of the data identifier readers of ReadDataByIdentifier: each reader
// computes the data bytes of one DID at the moment of the request. Readers are
// shared by concurrent requests and keep no state between them; they read the
// session, the configuration and the database without locks of their own.
#ifndef KIVLIBRARY_FUNCTIONAL_DATAIDENTIFIERS_DATAIDENTIFIERSBASE_H
#define KIVLIBRARY_FUNCTIONAL_DATAIDENTIFIERS_DATAIDENTIFIERSBASE_H

#include "uds/Nrc.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SessionData;
class PersistentDataStorage;
struct LogicalBlockCacheData;
namespace UCM {
class UCMAdaptorInterface;
}

// What one reader hands to the response assembly: the DID's data bytes, or a
// refusal that becomes the answer to the whole request.
struct DidAnswer {
    std::vector<uint8_t> data;
    bool refused = false;
    UDS::Nrc nrc = UDS::Nrc::generalReject;
};

class DataIdentifiersBase {
public:
    using ReadStep = std::function<bool(DidAnswer&)>;

    DataIdentifiersBase(std::shared_ptr<SessionData> sessionData, std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                        std::shared_ptr<PersistentDataStorage> storage);
    virtual ~DataIdentifiersBase();
    DataIdentifiersBase(const DataIdentifiersBase&) = delete;
    DataIdentifiersBase& operator=(const DataIdentifiersBase&) = delete;

    virtual bool Read(DidAnswer& answer) = 0;

    const std::vector<ReadStep>& ReadSteps() const { return m_readSteps; }

protected:
    // The logistics object the identification DIDs describe: the UPDATED one
    // once the download is finished, else the INSTALLED one. An UPDATED
    // object that is not there falls back to the INSTALLED one; null only
    // when neither exists (the readers then answer their defaults).
    std::shared_ptr<LogicalBlockCacheData> CurrentLogistics() const;
    // The configured logical-block ids of this VM, in configuration order.
    std::vector<uint32_t> ConfiguredBlocks() const;

    std::vector<ReadStep> m_readSteps;
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<PersistentDataStorage> m_storage;
};

// Runs the reader's steps in order; false at the first step that fails.
bool RunDataIdentifierSteps(const DataIdentifiersBase& reader, DidAnswer& answer);

// "0x" and four upper-case hex digits, as the readers log their DID.
std::string DidText(uint16_t did);

#endif
