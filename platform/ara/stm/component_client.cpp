#include "platform/ara/stm/component_client.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace ara {
namespace stm {

namespace {

struct HookState {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::weak_ptr<ComponentClient>> clients;
    std::vector<testhook::Registration> registrations;
    std::vector<testhook::Confirmation> confirmations;
    unsigned int nextSeqNr = 1;
};

HookState& Hooks() {
    static HookState state;
    return state;
}

}  // namespace

ComponentClient::ComponentClient(std::string component, StateCallback callback)
    : m_component(std::move(component)), m_callback(std::move(callback)) {}

ComponentClient::~ComponentClient() {
    HookState& hooks = Hooks();
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        auto found = hooks.clients.find(m_component);
        // A newer client of the same component keeps its registration.
        if (found != hooks.clients.end() && found->second.expired()) {
            hooks.clients.erase(found);
        }
        hooks.registrations.push_back({m_component, false, platform::testhook::NextStamp()});
    }
    hooks.changed.notify_all();
}

void ComponentClient::confirmComponentState(unsigned int seqNr, const std::string& state,
                                            ComponentClientReturnType result) const {
    HookState& hooks = Hooks();
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        hooks.confirmations.push_back({m_component, seqNr, state, result});
    }
    hooks.changed.notify_all();
}

std::shared_ptr<ComponentClient> createComponentClient(const std::string& component,
                                                       ComponentClient::StateCallback callback) {
    auto client = std::make_shared<ComponentClient>(component, std::move(callback));
    HookState& hooks = Hooks();
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        hooks.clients[component] = client;
        hooks.registrations.push_back({component, true, platform::testhook::NextStamp()});
    }
    hooks.changed.notify_all();
    return client;
}

namespace testhook {

std::vector<Registration> Registrations() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    return Hooks().registrations;
}

bool IsRegistered(const std::string& component) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    auto found = Hooks().clients.find(component);
    return found != Hooks().clients.end() && !found->second.expired();
}

bool WaitForRegistration(const std::string& component, std::chrono::milliseconds timeout) {
    HookState& hooks = Hooks();
    std::unique_lock<std::mutex> lock(hooks.mutex);
    return hooks.changed.wait_for(lock, timeout, [&hooks, &component] {
        auto found = hooks.clients.find(component);
        return found != hooks.clients.end() && !found->second.expired();
    });
}

bool SendState(const std::string& component, const std::string& state, std::chrono::milliseconds timeout) {
    HookState& hooks = Hooks();
    std::shared_ptr<ComponentClient> client;
    unsigned int seqNr = 0;
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        auto found = hooks.clients.find(component);
        if (found == hooks.clients.end()) {
            return false;
        }
        client = found->second.lock();
        seqNr = hooks.nextSeqNr++;
    }
    if (!client || !client->Callback()) {
        return false;
    }
    // The thread owns what it touches, so a callback that outlives the
    // time-out finds everything alive.
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    std::thread([client, seqNr, state, done]() mutable {
        client->Callback()(*client, seqNr, state);
        client.reset();
        std::lock_guard<std::mutex> lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(done->mutex);
    return done->cv.wait_for(lock, timeout, [&done] { return done->done; });
}

std::vector<Confirmation> Confirmations() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    return Hooks().confirmations;
}

void Reset() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    HookState& hooks = Hooks();
    hooks.registrations.clear();
    hooks.confirmations.clear();
    hooks.nextSeqNr = 1;
}

}  // namespace testhook

}  // namespace stm
}  // namespace ara
