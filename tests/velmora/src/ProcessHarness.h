// Runs the process entry in-process over a sandbox laid out from the shipped
// configuration, with the logging captured and every time value shrunk, and
// gives tests doubles for the components that are not part of the build yet.
#ifndef TESTS_VELMORA_SRC_PROCESSHARNESS_H
#define TESTS_VELMORA_SRC_PROCESSHARNESS_H

#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/KivLibrary/KivRuntime.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "platform/ara/exec/application_client.h"
#include "platform/ara/per/key_value_storage.h"
#include "platform/ara/phm/phm_client.h"
#include "platform/ara/stm/component_client.h"
#include "sim/SandboxBuilder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "velmora/src/RunVelmora.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

constexpr std::chrono::milliseconds kBound{10000};

// Offers and withdrawals of the doubles, in the order they happened.
class OfferLog {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back({entry, platform::testhook::NextStamp()});
    }
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> out;
        for (const auto& entry : m_entries) {
            if (entry.first.rfind(prefix, 0) == 0) {
                out.push_back(entry.first.substr(prefix.size()));
            }
        }
        return out;
    }
    uint64_t Sequence(const std::string& entry) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& item : m_entries) {
            if (item.first == entry) {
                return item.second.sequence;
            }
        }
        return 0;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::string, platform::testhook::Stamp>> m_entries;
};

// A service double that records its offer and withdrawal.
inline KivRuntimeDependencies::ServiceFactory RecordingService(OfferLog& log, const std::string& name) {
    return [&log, name](const KivRuntimeContext&) {
        OfferedService service;
        service.name = name;
        service.offer = [&log, name] {
            log.Add("offer " + name);
            return true;
        };
        service.stopOffer = [&log, name] { log.Add("stop " + name); };
        service.object = std::make_shared<int>(0);
        return service;
    };
}

class RecordingDtc : public DTCService {
public:
    RecordingDtc(OfferLog& log, std::string instance) : m_log(log), m_instance(std::move(instance)) {}
    bool Startup() override {
        m_log.Add("offer DTC " + m_instance);
        return true;
    }
    bool Shutdown() override {
        m_log.Add("stop DTC " + m_instance);
        return true;
    }
    bool SetDTCState(int, unsigned) override { return true; }
    bool GetDTCState(uint8_t&) override { return false; }

private:
    OfferLog& m_log;
    std::string m_instance;
};

// An update manager that answers every request at once, except TransferExit
// while its gate is closed.
class GatedUcmAdaptor : public UCM::UCMAdaptorInterface {
public:
    void CloseGate() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateOpen = false;
    }
    void OpenGate() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateOpen = true;
        m_changed.notify_all();
    }
    bool WaitForCalls(const std::string& method, size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kBound, [&] { return CountLocked(method) >= count; });
    }
    size_t Count(const std::string& method) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CountLocked(method);
    }

    bool TransferExit(const uint32_t&) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_calls.push_back("TransferExit");
        m_changed.notify_all();
        return m_changed.wait_for(lock, kBound, [this] { return m_gateOpen; });
    }
    bool DOClose(const uint32_t&, bool) override { return Record("DOClose"); }
    bool Start(UCM::StartOutput&) override { return Record("Start"); }
    bool TransferStart(const uint32_t&, const uint32_t&) override { return Record("TransferStart"); }
    bool TransferData(const uint32_t&, const std::vector<uint8_t>&, const uint32_t&) override {
        return Record("TransferData");
    }
    bool InstallUpdateAsync(const uint32_t&) override { return Record("InstallUpdateAsync"); }
    uint8_t GetInstallUpdateState() override { return 0; }
    bool Close(const uint32_t&, bool) override { return Record("Close"); }
    bool GetProgress(uint32_t, UCM::GetProgressOutput&) override { return Record("GetProgress"); }
    bool GetLog(uint32_t, UCM::GetLogOutput&) override { return Record("GetLog"); }
    bool CommitUpdate(uint32_t, bool) override { return Record("CommitUpdate"); }
    bool GetInstallationResult(uint32_t, UCM::GetInstallationResultOutput&) override { return Record("Result"); }
    bool GetInstallationStatus(uint32_t, UCM::GetInstallationStatusOutput&) override { return Record("Status"); }
    bool GetSwClusterIntegrity(std::string, bool, std::function<void(SwClusterIntegrity)>) override { return false; }
    bool CancelSwClusterIntegrity(std::string, std::function<void(CancelStatusType)>) override { return false; }
    bool CancelUpdate(uint32_t) override { return Record("CancelUpdate"); }
    bool commitUpdate(const uint32_t&, bool) override { return Record("commitUpdate"); }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType&) override { return false; }

private:
    bool Record(const std::string& method) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(method);
        m_changed.notify_all();
        return true;
    }
    size_t CountLocked(const std::string& method) const {
        size_t count = 0;
        for (const std::string& call : m_calls) {
            count += call == method ? 1 : 0;
        }
        return count;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_calls;
    bool m_gateOpen = true;
};

// Every case starts from a fresh process state and a complete sandbox.
class ProcessTest : public ::testing::Test {
protected:
    ProcessTest() {
        ResetProcessState();
        ara::per::testhook::Reset();
        ara::exec::testhook::Reset();
        ara::phm::testhook::Reset();
        ara::stm::testhook::Reset();
        builder.WriteAll();
    }
    ~ProcessTest() override {
        ResetProcessState();
        ara::per::testhook::Reset();
        ara::exec::testhook::Reset();
        ara::phm::testhook::Reset();
    }

    // Production dependencies, logging left to the capture, times shrunk.
    VelmoraEntryDependencies Deps() const {
        VelmoraEntryDependencies deps = ProductionEntryDependencies();
        deps.initializeLogging = [] {};
        deps.runtime.alivePeriod = std::chrono::milliseconds(20);
        deps.runtime.terminationPollInterval = std::chrono::milliseconds(5);
        return deps;
    }

    int Run(const VelmoraEntryDependencies& deps, std::string configPath = "") {
        if (configPath.empty()) {
            configPath = builder.ConfigPath();
        }
        char program[] = "velmora";
        std::vector<char*> argv{program, configPath.data(), nullptr};
        return RunVelmora(2, argv.data(), deps);
    }

    // Runs the process on a thread of its own.
    std::future<int> Start(const VelmoraEntryDependencies& deps) {
        return std::async(std::launch::async, [this, deps] { return Run(deps); });
    }

    // Asks the process to stop and waits (bounded) for its exit code.
    static int Stop(std::future<int>& process) {
        RequestTermination();
        if (process.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "the process did not stop";
            std::abort();
        }
        return process.get();
    }

    static bool WaitRunning() {
        return ara::exec::testhook::WaitForReport(ara::exec::ApplicationState::kRunning, kBound);
    }

    LogCapture capture;
    Sandbox box{true};
    sim::SandboxBuilder builder{box.Root()};
};

}  // namespace testsupport

#endif
