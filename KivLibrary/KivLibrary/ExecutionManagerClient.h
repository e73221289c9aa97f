// Execution-state reports towards execution management. The platform client
// is created on demand: after a report that threw, the next report creates a
// new one. Used by the runtime thread only; takes no lock.
#ifndef KIVLIBRARY_KIVLIBRARY_EXECUTIONMANAGERCLIENT_H
#define KIVLIBRARY_KIVLIBRARY_EXECUTIONMANAGERCLIENT_H

#include "KivLibrary/KivLibrary/ApplicationStateReporter.h"
#include "platform/ara/exec/application_client.h"

#include <functional>
#include <memory>

class ExecutionManagerClient : public ApplicationStateReporter {
public:
    using ClientFactory = std::function<std::shared_ptr<ara::exec::ApplicationClient>()>;

    // Creates the first client at once; a factory that throws counts as no client.
    explicit ExecutionManagerClient(ClientFactory factory);

    bool ReportState(const ara::exec::ApplicationState& state);
    bool ReportRunning() override;
    bool ReportTerminating() override;

private:
    void CreateClient();

    ClientFactory m_factory;
    std::shared_ptr<ara::exec::ApplicationClient> m_client;
};

std::shared_ptr<ara::exec::ApplicationClient> CreateApplicationClient();
std::shared_ptr<ApplicationStateReporter> CreateExecutionManagerClient();

#endif
