// Cold start of the whole process to kRunning, and its clean shutdown, over a
// sandbox laid out from the shipped configuration whose database already
// holds 64 installed and 64 updated logical blocks. Logging is muted so the
// figures do not measure the terminal.
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/CreatePersistentDataStorage.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "platform/HostPath.h"
#include "platform/ara/exec/application_client.h"
#include "sim/SandboxBuilder.h"
#include "velmora/src/RunVelmora.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr size_t kLogicalBlocks = 64;

class BenchSandbox {
public:
    BenchSandbox() {
        char pattern[] = "/tmp/velmora-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("cannot create the sandbox");
        }
        m_root = pattern;
        platform::testhook::SetHostRoot(m_root);
        sim::SandboxBuilder builder(m_root);
        builder.WriteAll();
        m_config = builder.ConfigPath();
        FillDatabase();
    }
    ~BenchSandbox() {
        platform::testhook::SetHostRoot("");
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    const std::string& Config() const { return m_config; }

private:
    void FillDatabase() const {
        auto configuration = std::make_shared<KivConfiguration>();
        configuration->port_name = "KivDatabase";
        auto database = CreatePersistentDataStorage(configuration, StorageFactory(CreateAraPersistency));
        if (!database) {
            throw std::runtime_error("cannot open the database");
        }
        LogicalBlocks blocks(kLogicalBlocks);
        for (size_t i = 0; i < blocks.size(); ++i) {
            blocks[i].m_id = static_cast<uint8_t>(i + 1);
            blocks[i].m_IVD.m_state = 1;
        }
        database->WriteInstalledLogicalBlocks(blocks);
        database->WriteUpdatedLogicalBlocks(blocks);
        database->SyncToStorage();
    }

    std::string m_root;
    std::string m_config;
};

struct Timings {
    std::chrono::duration<double> start;
    std::chrono::duration<double> shutdown;
};

Timings OneRun(const std::string& config) {
    ResetProcessState();
    ara::exec::testhook::Reset();
    VelmoraEntryDependencies deps = ProductionEntryDependencies();
    deps.initializeLogging = [] { SetLoggingBackend(std::make_shared<MutedLoggingBackend>()); };
    std::string path = config;
    const auto begin = std::chrono::steady_clock::now();
    auto process = std::async(std::launch::async, [&deps, &path] {
        char program[] = "velmora";
        char* argv[] = {program, path.data(), nullptr};
        return RunVelmora(2, argv, deps);
    });
    if (!ara::exec::testhook::WaitForReport(ara::exec::ApplicationState::kRunning, std::chrono::seconds(30))) {
        throw std::runtime_error("the process did not reach kRunning");
    }
    const auto running = std::chrono::steady_clock::now();
    RequestTermination();
    if (process.get() != 0) {
        throw std::runtime_error("the process did not end cleanly");
    }
    const auto ended = std::chrono::steady_clock::now();
    return {running - begin, ended - running};
}

void BM_ColdStartToRunning(benchmark::State& state) {
    BenchSandbox sandbox;
    for (auto _ : state) {
        state.SetIterationTime(OneRun(sandbox.Config()).start.count());
    }
}
BENCHMARK(BM_ColdStartToRunning)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CleanShutdown(benchmark::State& state) {
    BenchSandbox sandbox;
    for (auto _ : state) {
        state.SetIterationTime(OneRun(sandbox.Config()).shutdown.count());
    }
}
BENCHMARK(BM_CleanShutdown)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
