#include "KivLibrary/KivLibrary/ExecutionManagerClient.h"

#include "KivLibrary/Logger/Logging.h"

#include <utility>

namespace {

const char* StateName(ara::exec::ApplicationState state) {
    return state == ara::exec::ApplicationState::kRunning ? "kRunning" : "kTerminating";
}

}  // namespace

ExecutionManagerClient::ExecutionManagerClient(ClientFactory factory) : m_factory(std::move(factory)) {
    CreateClient();
}

void ExecutionManagerClient::CreateClient() {
    m_client.reset();
    if (m_factory) {
        // A platform that refuses the client is the same as no client.
        TryExecute("CreateApplicationClient", [this] { m_client = m_factory(); });
    }
}

bool ExecutionManagerClient::ReportState(const ara::exec::ApplicationState& state) {
    if (!m_client) {
        LogInfo() << "Creating new execution manager client" << VLMR_FILE_LINE;
        CreateClient();
        if (!m_client) {
            LogError() << "Failed to create execution manager client!" << VLMR_FILE_LINE;
            return false;
        }
    }
    const bool ok = TryExecute("ReportState", [this, &state] {
        LogInfo() << "Sending " << StateName(state) << VLMR_FILE_LINE;
        const ara::exec::ApplicationReturnType result = m_client->ReportApplicationState(state);
        LogInfo() << "Result is "
                  << (result == ara::exec::ApplicationReturnType::kSuccess ? "kSuccess" : "kGeneralError")
                  << VLMR_FILE_LINE;
    });
    if (!ok) {
        m_client.reset();
    }
    return ok;
}

bool ExecutionManagerClient::ReportRunning() { return ReportState(ara::exec::ApplicationState::kRunning); }

bool ExecutionManagerClient::ReportTerminating() { return ReportState(ara::exec::ApplicationState::kTerminating); }

std::shared_ptr<ara::exec::ApplicationClient> CreateApplicationClient() {
    return std::make_shared<ara::exec::ApplicationClient>();
}

std::shared_ptr<ApplicationStateReporter> CreateExecutionManagerClient() {
    return std::make_shared<ExecutionManagerClient>(&CreateApplicationClient);
}
