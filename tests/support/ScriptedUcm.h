// A scripted stand-in for the UCM adaptor: each operation answers what the
// test set (result and out-values) and every call is logged by name, so a
// test can check which UCM calls a component made. Thread-safe.
#ifndef TESTS_SUPPORT_SCRIPTEDUCM_H
#define TESTS_SUPPORT_SCRIPTEDUCM_H

#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class ScriptedUcm : public UCM::UCMAdaptorInterface {
public:
    // Operations without a scripted result succeed.
    void SetResult(const std::string& operation, bool result) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_results[operation] = result;
    }
    void SetInstallState(uint8_t state) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_installState = state;
    }
    void SetProgress(uint8_t progress) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_progress = progress;
    }
    void SetInstallationResult(uint8_t result) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_installationResult = result;
    }
    void SetInstallationStatus(const InstallationStatusResult& status) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_installationStatus = status;
    }
    void SetLog(const std::vector<LogEntryType>& log) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log = log;
    }
    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    size_t CallCount(const std::string& operation) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<size_t>(std::count(m_calls.begin(), m_calls.end(), operation));
    }
    void ClearCalls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }

    bool Start(UCM::StartOutput& output) override {
        output.id = 1;
        return Call("Start");
    }
    bool TransferStart(const uint32_t&, const uint32_t&) override { return Call("TransferStart"); }
    bool TransferData(const uint32_t&, const std::vector<uint8_t>&, const uint32_t&) override {
        return Call("TransferData");
    }
    bool TransferExit(const uint32_t&) override { return Call("TransferExit"); }
    bool InstallUpdateAsync(const uint32_t&) override {
        const bool result = Call("InstallUpdateAsync");
        if (result) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_installState = 2;
        }
        return result;
    }
    uint8_t GetInstallUpdateState() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_installState;
    }
    bool Close(const uint32_t&, bool) override { return Call("Close"); }
    bool DOClose(const uint32_t&, bool) override { return Call("DOClose"); }
    bool GetProgress(uint32_t, UCM::GetProgressOutput& output) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        output.progress = m_progress;
        return CallLocked("GetProgress");
    }
    bool GetLog(uint32_t, UCM::GetLogOutput& output) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        output.log = m_log;
        return CallLocked("GetLog");
    }
    bool CommitUpdate(uint32_t, bool) override { return Call("CommitUpdate"); }
    bool GetInstallationResult(uint32_t, UCM::GetInstallationResultOutput& output) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        output.result = m_installationResult;
        return CallLocked("GetInstallationResult");
    }
    bool GetInstallationStatus(uint32_t, UCM::GetInstallationStatusOutput& output) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        output = m_installationStatus;
        return CallLocked("GetInstallationStatus");
    }
    bool GetSwClusterIntegrity(std::string, bool, std::function<void(SwClusterIntegrity)>) override {
        return Call("GetSwClusterIntegrity");
    }
    bool CancelSwClusterIntegrity(std::string, std::function<void(CancelStatusType)>) override {
        return Call("CancelSwClusterIntegrity");
    }
    bool CancelUpdate(uint32_t) override { return Call("CancelUpdate"); }
    bool commitUpdate(const uint32_t&, bool) override { return Call("commitUpdate"); }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType& status) override {
        status = 0;
        return Call("GetCurrentStatus");
    }

private:
    bool Call(const std::string& operation) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CallLocked(operation);
    }
    bool CallLocked(const std::string& operation) {
        m_calls.push_back(operation);
        const auto scripted = m_results.find(operation);
        return scripted == m_results.end() || scripted->second;
    }

    mutable std::mutex m_mutex;
    std::map<std::string, bool> m_results;
    std::vector<std::string> m_calls;
    uint8_t m_installState = 0;
    uint8_t m_progress = 0;
    uint8_t m_installationResult = 0;
    InstallationStatusResult m_installationStatus;
    std::vector<LogEntryType> m_log;
};

}  // namespace testsupport

#endif
