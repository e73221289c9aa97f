// A scripted stand-in for the UCM adaptor at the process boundary: every call
// is logged as "Method(args)" and answered true unless the script says
// otherwise. Thread-safe; a hook runs without the fake's lock held.
#ifndef TESTS_SUPPORT_SCRIPTEDUCM_H
#define TESTS_SUPPORT_SCRIPTEDUCM_H

#include "KivLibrary/Ucm/UCMAdaptorInterface.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class CallLogUcm : public UCM::UCMAdaptorInterface {
public:
    // Answers every call that is not failing; may block or throw.
    void SetScript(std::function<bool(const std::string& call)> hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script = std::move(hook);
    }
    // The call (exact text) answers false.
    void Fail(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failing.insert(call);
    }
    std::atomic<uint32_t> startId{1};
    // The UCM CurrentStatus that GetCurrentStatus reports; changed by the
    // script as UCM would.
    std::atomic<uint8_t> currentStatus{0};

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    void ClearCalls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }
    std::vector<uint8_t> TransferredBytes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }

    bool Start(UCM::StartOutput& output) override {
        output.id = startId;
        return Call("Start");
    }
    bool TransferStart(const uint32_t& id, const uint32_t& size) override {
        return Call("TransferStart(" + std::to_string(id) + "," + std::to_string(size) + ")");
    }
    bool TransferData(const uint32_t& id, const std::vector<uint8_t>& block, const uint32_t& counter) override {
        const bool ok = Call("TransferData(" + std::to_string(id) + "," + std::to_string(block.size()) + "," +
                             std::to_string(counter) + ")");
        if (ok) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bytes.insert(m_bytes.end(), block.begin(), block.end());
        }
        return ok;
    }
    bool TransferExit(const uint32_t& id) override { return Call("TransferExit(" + std::to_string(id) + ")"); }
    bool InstallUpdateAsync(const uint32_t& id) override {
        return Call("InstallUpdateAsync(" + std::to_string(id) + ")");
    }
    uint8_t GetInstallUpdateState() override { return 0; }
    bool Close(const uint32_t& id, bool ignore) override { return Call(Name("Close", id, ignore)); }
    bool DOClose(const uint32_t& id, bool ignore) override { return Call(Name("DOClose", id, ignore)); }
    bool GetProgress(uint32_t id, UCM::GetProgressOutput&) override {
        return Call("GetProgress(" + std::to_string(id) + ")");
    }
    bool GetLog(uint32_t id, UCM::GetLogOutput&) override { return Call("GetLog(" + std::to_string(id) + ")"); }
    bool CommitUpdate(uint32_t id, bool ignore) override { return Call(Name("CommitUpdate", id, ignore)); }
    bool GetInstallationResult(uint32_t id, UCM::GetInstallationResultOutput&) override {
        return Call("GetInstallationResult(" + std::to_string(id) + ")");
    }
    bool GetInstallationStatus(uint32_t id, UCM::GetInstallationStatusOutput&) override {
        return Call("GetInstallationStatus(" + std::to_string(id) + ")");
    }
    bool GetSwClusterIntegrity(std::string cluster, bool, std::function<void(SwClusterIntegrity)>) override {
        return Call("GetSwClusterIntegrity(" + cluster + ")");
    }
    bool CancelSwClusterIntegrity(std::string cluster, std::function<void(CancelStatusType)>) override {
        return Call("CancelSwClusterIntegrity(" + cluster + ")");
    }
    bool CancelUpdate(uint32_t id) override { return Call("CancelUpdate(" + std::to_string(id) + ")"); }
    bool commitUpdate(const uint32_t& id, bool ignore) override { return Call(Name("commitUpdate", id, ignore)); }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType& status) override {
        const bool ok = Call("GetCurrentStatus");
        if (ok) {
            status = currentStatus;
        }
        return ok;
    }

private:
    static std::string Name(const char* method, uint32_t id, bool flag) {
        return std::string(method) + "(" + std::to_string(id) + (flag ? ",true)" : ",false)");
    }

    bool Call(const std::string& call) {
        bool fails = false;
        std::function<bool(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(call);
            fails = m_failing.count(call) != 0;
            hook = m_script;
        }
        if (fails) {
            return false;
        }
        return hook ? hook(call) : true;
    }

    mutable std::mutex m_mutex;
    std::function<bool(const std::string&)> m_script;
    std::set<std::string> m_failing;
    std::vector<std::string> m_calls;
    std::vector<uint8_t> m_bytes;
};

}  // namespace testsupport

#endif
