// Stand-in for platform health management: a client per supervised instance
// and its supervision entity, on which the process reports alive checkpoints.
// The test hooks record every checkpoint with its time and let a test make the
// client or a report throw. Thread-safe.
#ifndef PLATFORM_ARA_PHM_PHM_CLIENT_H
#define PLATFORM_ARA_PHM_PHM_CLIENT_H

#include "platform/testhook/Sequence.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ara {
namespace phm {

class PhmException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Phm_client {
public:
    // Throws PhmException when a test asked for it.
    explicit Phm_client(const std::string& instance);
    const std::string& GetInstance() const { return m_instance; }

private:
    std::string m_instance;
};

class SupervisionEntity {
public:
    explicit SupervisionEntity(const Phm_client& client);
    // Throws PhmException when a test asked for it; otherwise records it.
    void CheckpointReached(uint16_t supervisionId, uint16_t checkpoint);

private:
    std::string m_instance;
};

namespace testhook {

struct Checkpoint {
    std::string instance;
    uint16_t supervisionId = 0;
    uint16_t checkpoint = 0;
    platform::testhook::Stamp stamp;
};

std::vector<Checkpoint> Checkpoints();
// Waits until at least `count` checkpoints were recorded; false on time-out.
bool WaitForCheckpoints(size_t count, std::chrono::milliseconds timeout);
// Number of Phm_client constructions that succeeded.
size_t ClientConstructions();
void FailNextConstructions(unsigned count);
void ThrowOnNextCheckpoints(unsigned count);
void Reset();

}  // namespace testhook

}  // namespace phm
}  // namespace ara

#endif
