// Stand-in for state management's component client: a component registers a
// callback for machine-state notifications and confirms each one with its
// sequence number. Notifications run on a state-management thread of their
// own. The test hooks record registrations and confirmations and let a test
// send a state text. Thread-safe.
#ifndef PLATFORM_ARA_STM_COMPONENT_CLIENT_H
#define PLATFORM_ARA_STM_COMPONENT_CLIENT_H

#include "platform/testhook/Sequence.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ara {
namespace stm {

enum class ComponentClientReturnType : uint8_t { kSuccess = 0, kGeneralError = 1, kPending = 2, kInvalid = 3 };

class ComponentClient {
public:
    using StateCallback = std::function<void(const ComponentClient&, unsigned int, const std::string&)>;

    ComponentClient(std::string component, StateCallback callback);
    // Unregisters: no notification starts afterwards.
    ~ComponentClient();
    ComponentClient(const ComponentClient&) = delete;
    ComponentClient& operator=(const ComponentClient&) = delete;

    const std::string& GetComponentName() const { return m_component; }
    void confirmComponentState(unsigned int seqNr, const std::string& state, ComponentClientReturnType result) const;

    // Used by the notification thread.
    const StateCallback& Callback() const { return m_callback; }

private:
    std::string m_component;
    StateCallback m_callback;
};

// Registers the component; the registration lasts as long as the client.
std::shared_ptr<ComponentClient> createComponentClient(const std::string& component,
                                                       ComponentClient::StateCallback callback);

namespace testhook {

struct Registration {
    std::string component;
    bool registered = false;  // false: the client was destroyed
    platform::testhook::Stamp stamp;
};

struct Confirmation {
    std::string component;
    unsigned int seqNr = 0;
    std::string state;
    ComponentClientReturnType result = ComponentClientReturnType::kSuccess;
};

std::vector<Registration> Registrations();
bool IsRegistered(const std::string& component);
// Waits until the component is registered; false on time-out.
bool WaitForRegistration(const std::string& component, std::chrono::milliseconds timeout);
// Notifies the component of a state on a state-management thread with the
// next sequence number and waits for the callback to return. False when the
// component is not registered or the callback did not return in time.
bool SendState(const std::string& component, const std::string& state, std::chrono::milliseconds timeout);
std::vector<Confirmation> Confirmations();
void Reset();

}  // namespace testhook

}  // namespace stm
}  // namespace ara

#endif
