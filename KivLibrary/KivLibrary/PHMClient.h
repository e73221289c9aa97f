// Alive supervision towards platform health management. The client and its
// supervision entity are created on demand: a failure to create them or to
// report leaves the entity empty, and the next report connects again.
// Used by the alive thread only; takes no lock.
#ifndef KIVLIBRARY_KIVLIBRARY_PHMCLIENT_H
#define KIVLIBRARY_KIVLIBRARY_PHMCLIENT_H

#include "KivLibrary/KivLibrary/ApplicationAliveReporter.h"
#include "KivLibrary/Logger/Logging.h"
#include "platform/ara/phm/phm_client.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

template <typename PhmClientType, typename SupervisionEntityType>
class PHMClient : public ApplicationAliveReporter {
public:
    PHMClient(std::string instance, uint16_t defaultSupervisionId, uint16_t defaultCheckpoint)
        : m_instance(std::move(instance)),
          m_defaultSupervisionId(defaultSupervisionId),
          m_defaultCheckpoint(defaultCheckpoint) {
        Guarded([this] { Connect(); });
    }

    // Replaces the client and the entity; throws what the platform throws.
    void Connect() {
        m_entity.reset();
        m_client.reset();
        m_client = std::make_shared<PhmClientType>(m_instance);
        m_entity = std::make_shared<SupervisionEntityType>(*m_client);
    }

    void ReportDefaultCheckpoint() override { ReportApplicationIsAlive(m_defaultSupervisionId, m_defaultCheckpoint); }

    void ReportApplicationIsAlive(uint16_t supervisionId, uint16_t checkpoint) override {
        Guarded([this, supervisionId, checkpoint] {
            if (!m_entity) {
                LogInfo() << "Creating new connection to PHM." << VLMR_FILE_LINE;
                Connect();
            }
            LogInfo() << "Sending alive supervision for ID " << static_cast<uint32_t>(supervisionId) << ", checkpoint "
                      << static_cast<uint32_t>(checkpoint) << VLMR_FILE_LINE;
            m_entity->CheckpointReached(supervisionId, checkpoint);
        });
    }

    bool IsConnected() const { return m_entity != nullptr; }

private:
    template <typename Function>
    void Guarded(Function function) {
        try {
            function();
        } catch (const std::exception& exception) {
            LogInfo() << "Exception occurred in PHM client: " << exception.what() << VLMR_FILE_LINE;
            m_entity.reset();
        } catch (...) {
            LogInfo() << "Unknown Exception in: "
                      << "ReportApplicationIsAlive"
                      << ":" << VLMR_FILE_LINE;
            m_entity.reset();
        }
    }

    std::shared_ptr<PhmClientType> m_client;
    std::shared_ptr<SupervisionEntityType> m_entity;
    std::string m_instance;
    uint16_t m_defaultSupervisionId;
    uint16_t m_defaultCheckpoint;
};

std::shared_ptr<ApplicationAliveReporter> MakePHMClient(const std::string& instance, uint16_t defaultSupervisionId,
                                                        uint16_t defaultCheckpoint);
std::shared_ptr<ApplicationAliveReporter> CreateAliveReporter(const std::string& instance);

#endif
