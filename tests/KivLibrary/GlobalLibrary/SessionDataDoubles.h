// Test doubles for the collaborators of SessionData that belong to later
// layers (update-manager adaptor, DTC service), a verifier spy that records
// the signed stream, and the real database stack in a sandbox.
#ifndef TESTS_KIVLIBRARY_GLOBALLIBRARY_SESSIONDATADOUBLES_H
#define TESTS_KIVLIBRARY_GLOBALLIBRARY_SESSIONDATADOUBLES_H

#include "KivLibrary/Functional/DTCService.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/Ucm/UCMAdaptorInterface.h"
#include "signature/SignatureVerifierInterface.h"
#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/Sandbox.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace sessiontest {

using Bytes = std::vector<uint8_t>;

// Records the calls SessionData makes; every other operation fails.
class FakeUcmAdaptor : public UCM::UCMAdaptorInterface {
public:
    bool Start(UCM::StartOutput&) override { return false; }
    bool TransferStart(const uint32_t&, const uint32_t&) override { return false; }
    bool TransferData(const uint32_t&, const std::vector<uint8_t>&, const uint32_t&) override { return false; }
    bool TransferExit(const uint32_t& sessionId) override { return Record("TransferExit", sessionId); }
    bool InstallUpdateAsync(const uint32_t&) override { return false; }
    uint8_t GetInstallUpdateState() override { return 0; }
    bool Close(const uint32_t&, bool) override { return false; }
    bool DOClose(const uint32_t& sessionId, bool ignoreInvalidSession) override {
        Record(ignoreInvalidSession ? "DOClose(ignore)" : "DOClose", sessionId);
        return closeResult;
    }
    bool GetProgress(uint32_t, UCM::GetProgressOutput&) override { return false; }
    bool GetLog(uint32_t, UCM::GetLogOutput&) override { return false; }
    bool CommitUpdate(uint32_t, bool) override { return false; }
    bool GetInstallationResult(uint32_t, UCM::GetInstallationResultOutput&) override { return false; }
    bool GetInstallationStatus(uint32_t, UCM::GetInstallationStatusOutput&) override { return false; }
    bool GetSwClusterIntegrity(std::string, bool, std::function<void(SwClusterIntegrity)>) override { return false; }
    bool CancelSwClusterIntegrity(std::string, std::function<void(CancelStatusType)>) override { return false; }
    bool CancelUpdate(uint32_t sessionId) override { return Record("CancelUpdate", sessionId); }
    bool commitUpdate(const uint32_t&, bool) override { return false; }
    bool GetCurrentStatus(UCM::CurrentStatusEventDataType&) override { return false; }

    std::vector<std::pair<std::string, uint32_t>> Calls() const {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

    bool closeResult = true;

private:
    bool Record(const std::string& name, uint32_t sessionId) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.emplace_back(name, sessionId);
        return true;
    }

    mutable std::mutex mutex;
    std::vector<std::pair<std::string, uint32_t>> calls;
};

class FakeDtc : public DTCService {
public:
    bool Startup() override { return true; }
    bool Shutdown() override { return true; }
    bool SetDTCState(int state, unsigned forceSet) override {
        sent.emplace_back(state, forceSet);
        return true;
    }
    bool GetDTCState(uint8_t&) override { return false; }

    std::vector<std::pair<int, unsigned>> sent;
};

// Keeps the bytes of the running computation; Verify compares them with the
// expected stream instead of checking a real signature.
class SpyVerifier : public SignatureVerifierInterface {
public:
    bool IsInitialized() const override { return initializations > 0; }
    void Update(const std::vector<uint8_t>& data) override {
        std::lock_guard<std::mutex> lock(mutex);
        stream.insert(stream.end(), data.begin(), data.end());
    }
    bool Verify(const std::vector<uint8_t>&) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++verifications;
        return stream == expected;
    }
    bool Initialize(const std::vector<uint8_t>& publicKey) override {
        std::lock_guard<std::mutex> lock(mutex);
        key = publicKey;
        ++initializations;
        stream.clear();
        return true;
    }
    Bytes Stream() const {
        std::lock_guard<std::mutex> lock(mutex);
        return stream;
    }

    Bytes key;
    Bytes expected;
    int initializations = 0;
    int verifications = 0;

private:
    mutable std::mutex mutex;
    Bytes stream;
};

using testsupport::DatabaseStack;

// A configuration whose public key file exists in the sandbox, which also
// gets the directory of the shared files.
inline std::shared_ptr<KivConfiguration> MakeConfiguration(const testsupport::Sandbox& box) {
    box.MakeDir("sys/swupd");
    auto configuration = std::make_shared<KivConfiguration>();
    configuration->Public_key_path = box.WriteFile("keys/public.pem", "KEY");
    return configuration;
}

}  // namespace sessiontest

#endif
