#include "platform/ara/phm/phm_client.h"

#include <condition_variable>
#include <mutex>

namespace ara {
namespace phm {

namespace {

struct HookState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<testhook::Checkpoint> checkpoints;
    size_t constructions = 0;
    unsigned failConstructions = 0;
    unsigned throwCheckpoints = 0;
};

HookState& Hooks() {
    static HookState state;
    return state;
}

}  // namespace

Phm_client::Phm_client(const std::string& instance) : m_instance(instance) {
    HookState& hooks = Hooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    if (hooks.failConstructions > 0) {
        --hooks.failConstructions;
        throw PhmException("health management not reachable for " + instance);
    }
    ++hooks.constructions;
}

SupervisionEntity::SupervisionEntity(const Phm_client& client) : m_instance(client.GetInstance()) {}

void SupervisionEntity::CheckpointReached(uint16_t supervisionId, uint16_t checkpoint) {
    HookState& hooks = Hooks();
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        if (hooks.throwCheckpoints > 0) {
            --hooks.throwCheckpoints;
            throw PhmException("checkpoint rejected");
        }
        hooks.checkpoints.push_back({m_instance, supervisionId, checkpoint, platform::testhook::NextStamp()});
    }
    hooks.changed.notify_all();
}

namespace testhook {

std::vector<Checkpoint> Checkpoints() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    return Hooks().checkpoints;
}

bool WaitForCheckpoints(size_t count, std::chrono::milliseconds timeout) {
    HookState& hooks = Hooks();
    std::unique_lock<std::mutex> lock(hooks.mutex);
    return hooks.changed.wait_for(lock, timeout, [&hooks, count] { return hooks.checkpoints.size() >= count; });
}

size_t ClientConstructions() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    return Hooks().constructions;
}

void FailNextConstructions(unsigned count) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    Hooks().failConstructions = count;
}

void ThrowOnNextCheckpoints(unsigned count) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    Hooks().throwCheckpoints = count;
}

void Reset() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    HookState& hooks = Hooks();
    hooks.checkpoints.clear();
    hooks.constructions = 0;
    hooks.failConstructions = 0;
    hooks.throwCheckpoints = 0;
}

}  // namespace testhook

}  // namespace phm
}  // namespace ara
