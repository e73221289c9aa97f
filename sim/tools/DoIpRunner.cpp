// velmora-doip PORT [ROOT]: lays out a simulated ECU from the shipped
// configuration below ROOT (a fresh temporary directory, removed at the end,
// when none is given), starts the simulated update manager and diagnostic
// manager and the process entry over it, and once the process runs serves the
// diagnostic manager over DoIP on 127.0.0.1:PORT (0: a free port) until
// SIGINT or SIGTERM ends the process. Prints "listening on 127.0.0.1:PORT"
// when a tester may connect. Exit code: the process's, 1 when it did not come
// up, 2 for a usage error.
#include "platform/HostPath.h"
#include "platform/ara/exec/application_client.h"
#include "sim/DiagnosticManager.h"
#include "sim/DoIpServer.h"
#include "sim/SandboxBuilder.h"
#include "sim/UpdateManager.h"
#include "velmora/src/RunVelmora.h"

#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <future>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr std::chrono::seconds kStartupBound{60};

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long value = std::stoul(text);
    if (value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// The sandbox directory; a temporary one goes with the object.
class Root {
public:
    explicit Root(std::string given) : m_path(std::move(given)) {
        if (m_path.empty()) {
            std::string pattern = (std::filesystem::temp_directory_path() / "velmora-doip-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr) {
                throw std::runtime_error("cannot create a temporary directory");
            }
            m_path = pattern;
            m_temporary = true;
        } else {
            std::filesystem::create_directories(m_path);
            m_path = std::filesystem::absolute(m_path).string();
        }
    }
    ~Root() {
        if (m_temporary) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    bool m_temporary = false;
};

int Run(uint16_t port, const std::string& rootArgument) {
    Root root(rootArgument);
    platform::testhook::SetHostRoot(root.Path());
    sim::SandboxBuilder builder(root.Path());
    builder.WriteAll();

    sim::UpdateManager::Options ucmOptions;
    ucmOptions.sessionTablePath = root.Path() + "/ucm-sessions.json";
    sim::UpdateManager ucm(ucmOptions);
    sim::DiagnosticManager dm;

    std::string configPath = builder.ConfigPath();
    auto process = std::async(std::launch::async, [configPath]() mutable {
        char program[] = "velmora";
        std::vector<char*> argv{program, configPath.data(), nullptr};
        return RunVelmora(2, argv.data());
    });
    if (!ara::exec::testhook::WaitForReport(ara::exec::ApplicationState::kRunning, kStartupBound)) {
        std::cerr << "velmora-doip: the process did not reach kRunning\n";
        if (process.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            const int exitCode = process.get();
            return exitCode == 0 ? 1 : exitCode;
        }
        std::quick_exit(1);  // a process stuck in its start-up cannot be joined
    }

    sim::DoIpServer::Options options;
    options.port = port;
    sim::DoIpServer server([&dm](const sim::Bytes& request) { return dm.Uds(request); }, options);
    server.Start();
    std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;

    // The process's own signal handling ends it on SIGINT and SIGTERM.
    const int exitCode = process.get();
    server.Stop();
    std::cout << "velmora-doip: the process ended with " << exitCode << std::endl;
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    if (argc < 2 || argc > 3 || !ParsePort(argv[1], port)) {
        std::cerr << "usage: velmora-doip PORT [ROOT]\n";
        return 2;
    }
    try {
        return Run(port, argc == 3 ? argv[2] : "");
    } catch (const std::exception& error) {
        std::cerr << "velmora-doip: " << error.what() << "\n";
        return 1;
    }
}
