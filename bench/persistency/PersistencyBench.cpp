// One persisted write of the SW update state through the whole storage stack
// (typed database, change-only cache, strategy indicator, key-value storage,
// atomic file replacement) against a bare write+fsync+rename of a file of the
// same size, in the same run. Prints the ratio of the two.
#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/PersistentDataStorageImpl.h"
#include "KivLibrary/Persistency/SafePersistency.h"
#include "platform/HostPath.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* kDatabase = "bench";

std::string& SandboxRoot() {
    static std::string root;
    return root;
}

std::shared_ptr<PersistentDataStorage> BuildStack() {
    return std::make_shared<PersistentDataStorageImpl>(
        std::make_shared<OnChangeStorage>(std::make_shared<SafePersistency>(
            SafePersistency::StrategyMap{{"SER_SwUpdateState", StorageStrategyType::SimpleStorageStrategy}},
            CreateAraPersistency(kDatabase))));
}

// A database as the process keeps it: every item present.
void FillDatabase(PersistentDataStorage& database) {
    LogicalBlocks blocks(8);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        blocks[i].m_id = static_cast<uint8_t>(i + 1);
    }
    database.WriteUcmSessionId(42);
    database.WriteSWupdateState(SWupdateState::IDLE);
    database.WriteUpdateForPartition(PartitionEnum::B);
    database.WriteInstalledLogicalBlocks(blocks);
    database.WriteUpdatedLogicalBlocks(blocks);
    database.WriteInstalledEcuInfo(EcuInfo::ReprogrammableAndConsistent);
    database.WriteUpdatedEcuInfo(EcuInfo::ReprogrammableAndConsistent);
    database.WriteDatabaseFormatIdentifier("Serialization-Layout_1.0");
    if (!database.SyncToStorage()) {
        throw std::runtime_error("initial sync failed");
    }
}

void BM_PersistedStateWrite(benchmark::State& state) {
    auto database = BuildStack();
    FillDatabase(*database);
    bool flip = false;
    for (auto _ : state) {
        // Alternate the state so the change-only cache never skips the write.
        flip = !flip;
        const bool ok =
            database->WriteSWupdateState(flip ? SWupdateState::TRANSFER_IN_PROGRESS : SWupdateState::IDLE) &&
            database->SyncToStorage();
        if (!ok) {
            state.SkipWithError("persisted write failed");
            break;
        }
    }
    struct stat status {};
    ::stat(ara::per::KeyValueStorage::FilePath(kDatabase).c_str(), &status);
    state.counters["file_bytes"] = static_cast<double>(status.st_size);
}

void BareWrite(benchmark::State& state, bool syncDirectory) {
    struct stat status {};
    if (::stat(ara::per::KeyValueStorage::FilePath(kDatabase).c_str(), &status) != 0) {
        state.SkipWithError("run BM_PersistedStateWrite first");
        return;
    }
    const std::string content(static_cast<std::size_t>(status.st_size), 'x');
    const std::string path = SandboxRoot() + "/bare.bin";
    const std::string temporary = path + ".tmp";
    for (auto _ : state) {
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = fd >= 0 && ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
                  ::fsync(fd) == 0 && ::close(fd) == 0 && ::rename(temporary.c_str(), path.c_str()) == 0;
        if (ok && syncDirectory) {
            const int dir = ::open(SandboxRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ok = dir >= 0 && ::fsync(dir) == 0 && ::close(dir) == 0;
        }
        if (!ok) {
            state.SkipWithError("bare write failed");
            break;
        }
    }
    state.counters["file_bytes"] = static_cast<double>(content.size());
}

void BM_BareWriteFsyncRename(benchmark::State& state) { BareWrite(state, false); }

// What the storage does at the medium, without any of the layers above it.
void BM_BareWriteFsyncRenameDirFsync(benchmark::State& state) { BareWrite(state, true); }

BENCHMARK(BM_PersistedStateWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BareWriteFsyncRename)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BareWriteFsyncRenameDirFsync)->Unit(benchmark::kMicrosecond)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.iterations > 0) {
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // With --benchmark_repetitions the medians are compared.
    void PrintRatio() const {
        const bool repeated = times_.count("BM_PersistedStateWrite/real_time_median") != 0;
        const std::string suffix = repeated ? "/real_time_median" : "/real_time";
        const auto stack = times_.find("BM_PersistedStateWrite" + suffix);
        const auto bare = times_.find("BM_BareWriteFsyncRename" + suffix);
        const auto bareDir = times_.find("BM_BareWriteFsyncRenameDirFsync" + suffix);
        if (stack != times_.end() && bare != times_.end() && bare->second > 0) {
            std::printf("persisted write / bare write+fsync+rename = %.2f\n", stack->second / bare->second);
        }
        if (stack != times_.end() && bareDir != times_.end() && bareDir->second > 0) {
            std::printf("persisted write / bare write+fsync+rename+directory fsync = %.2f\n",
                        stack->second / bareDir->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
    const char* root = ::mkdtemp(pattern.data());
    if (root == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    SandboxRoot() = root;
    platform::testhook::SetHostRoot(root);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio();
    benchmark::Shutdown();

    std::error_code error;
    std::filesystem::remove_all(SandboxRoot(), error);
    return error ? 1 : 0;
}
