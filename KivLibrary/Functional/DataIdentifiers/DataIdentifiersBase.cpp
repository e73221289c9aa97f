#include "KivLibrary/Functional/DataIdentifiers/DataIdentifiersBase.h"

#include "KivLibrary/GlobalLibrary/LogicalBlockCacheData.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"

#include <cstdio>

DataIdentifiersBase::DataIdentifiersBase(std::shared_ptr<SessionData> sessionData,
                                         std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                         std::shared_ptr<PersistentDataStorage> storage)
    : m_sessionData(std::move(sessionData)), m_ucmAdaptor(std::move(ucmAdaptor)), m_storage(std::move(storage)) {
    m_readSteps.push_back([this](DidAnswer& answer) { return Read(answer); });
}

DataIdentifiersBase::~DataIdentifiersBase() = default;

std::shared_ptr<LogicalBlockCacheData> DataIdentifiersBase::CurrentLogistics() const {
    if (!m_sessionData) {
        return nullptr;
    }
    if (m_sessionData->IsSWDownloadFinished()) {
        if (std::shared_ptr<LogicalBlockCacheData> updated = m_sessionData->GetUpdatedLogistics()) {
            return updated;
        }
        LogWarn() << "no UPDATED logistics although the download is finished; reading the INSTALLED ones"
                  << VLMR_FILE_LINE;
    }
    return m_sessionData->GetInstalledLogistics();
}

std::vector<uint32_t> DataIdentifiersBase::ConfiguredBlocks() const {
    if (!m_sessionData || !m_sessionData->GetConfiguration()) {
        return {};
    }
    return m_sessionData->GetConfiguration()->flashBlocks;
}

bool RunDataIdentifierSteps(const DataIdentifiersBase& reader, DidAnswer& answer) {
    for (const DataIdentifiersBase::ReadStep& step : reader.ReadSteps()) {
        if (!step(answer)) {
            return false;
        }
    }
    return true;
}

std::string DidText(uint16_t did) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(did));
    return text;
}
