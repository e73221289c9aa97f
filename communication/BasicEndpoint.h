// Shared lifecycle of every client and service endpoint: create, initialize,
// start and the reverse, each step logged and guarded so that no exception
// escapes. Launch, Shutdown and InitializeAndStart run one at a time; a
// Shutdown asked for during a Launch interrupts the Launch's waits
// (WaitUnlessShutdown) and itself waits for the Launch at most
// SetShutdownWaitLimit; a Launch that ends after such a Shutdown undoes
// itself.
#ifndef COMMUNICATION_BASICENDPOINT_H
#define COMMUNICATION_BASICENDPOINT_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "communication/CommunicationEndpoint.h"

class BasicEndpoint : public CommunicationEndpoint {
public:
    BasicEndpoint(std::string instance, std::string kind);
    ~BasicEndpoint() override = default;
    BasicEndpoint(const BasicEndpoint&) = delete;
    BasicEndpoint& operator=(const BasicEndpoint&) = delete;

    bool Launch() override;
    bool Shutdown() override;
    std::string GetInstance() const override { return m_instance; }

    bool TryCreate();
    bool TryDelete();
    bool TryInitialize();
    bool TryUninitialize();
    bool TryStart();
    bool TryStop();

    bool InitializeAndStart();
    std::string GetDescription() const;

    // How long Shutdown waits for a running Launch or start (default 10 s);
    // it answers false when the wait ends without the gate.
    void SetShutdownWaitLimit(std::chrono::milliseconds limit);
    const std::string& GetKind() const { return m_kind; }

protected:
    // The steps report failure only by throwing.
    virtual void Create() = 0;
    virtual void Delete() = 0;
    virtual void Initialize() = 0;
    virtual void Uninitialize() = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;

    // Launch, Shutdown and InitializeAndStart run one at a time, whether the
    // owner or a binding thread starts them. A binding thread enters with
    // EnterLifecycle and gives up (false) once `abandon` holds; `abandon` is
    // evaluated under the gate's lock, and whoever makes it true calls
    // WakeLifecycleWaiters afterwards.
    bool EnterLifecycle(const std::function<bool()>& abandon);
    void LeaveLifecycle();
    void WakeLifecycleWaiters();

    // For a step of Launch: waits up to `interval`; false at once when a
    // Shutdown was asked for since the Launch began.
    bool WaitUnlessShutdown(std::chrono::milliseconds interval);

    // The sequences themselves, for callers already inside the gate.
    bool LaunchSteps();
    bool ShutdownSteps();
    bool InitializeAndStartSteps();

private:
    bool RunStep(const char* name, void (BasicEndpoint::*step)());
    // Runs one of the sequences inside the lifecycle gate.
    bool RunGated(bool (BasicEndpoint::*steps)());

    const std::string m_instance;
    const std::string m_kind;

    mutable std::mutex m_descriptionMutex;
    std::string m_description;

    std::mutex m_lifecycleMutex;
    std::condition_variable m_lifecycleCv;
    bool m_lifecycleBusy = false;
    uint64_t m_shutdownRequests = 0;                       // m_lifecycleMutex
    uint64_t m_shutdownRequestsAtLaunch = 0;               // m_lifecycleMutex
    std::chrono::milliseconds m_shutdownWaitLimit{10000};  // m_lifecycleMutex

    bool ShutdownRequestedSinceLaunch();
};

#endif
