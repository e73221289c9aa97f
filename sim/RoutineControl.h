// The diagnostic manager's mapping of UDS 0x31 RoutineControl onto Velmora's
// routine services. Which routines exist comes from the configured mapping
// (routine-id text such as "0xC010" -> service instance); each routine id is
// served by the interface of that id (all eight interfaces of
// zenqo::services::diag are known), so a routine joins by configuration alone.
//  - sub-function 01 Start, 02 Stop, 03 RequestResults (bit 7 suppresses the
//    positive response); another sub-function, or a method the interface
//    lacks: 7F 31 12; fewer than 4 bytes: 7F 31 13;
//  - the bytes after the routine id are the method's arguments in interface
//    order (uint8 one byte, a byte vector the rest); too few or too many:
//    7F 31 13; an unmapped routine id: 7F 31 31;
//  - positive response 71, sub-function, routine id, the outputs in interface
//    order; UDSServiceFailed gives 7F 31 NRC (for the three-byte code of
//    0xC010 and 0x029A, the byte in the method's position: RequestResults 0,
//    Start 1, Stop 2; should that be 0, the first non-zero one);
//  - no answer within the time-out, an absent service or another failure:
//    7F 31 10, logged.
// Thread-safe; no lock is held while a call to Velmora is pending.
// Not part of the product.
#ifndef SIM_ROUTINECONTROL_H
#define SIM_ROUTINECONTROL_H

#include "platform/services/zov/dm/types/MetaInfoType.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class RoutineControl {
public:
    using Bytes = std::vector<uint8_t>;

    // One routine interface as the DM calls it.
    class Endpoint {
    public:
        virtual ~Endpoint() = default;
        // sub-function without bit 7; the response frame.
        virtual Bytes Call(uint8_t subFunction, const Bytes& request, const zov::dm::types::MetaInfoType& meta) = 0;
        virtual void DropProxy() = 0;
    };

    static constexpr uint8_t kStart = 0x01;
    static constexpr uint8_t kStop = 0x02;
    static constexpr uint8_t kRequestResults = 0x03;

    // The mapping keys are the configuration's routine-id texts; a key of no
    // known interface, or not a routine id, is logged and left out.
    RoutineControl(const std::map<std::string, std::string>& mapping, std::chrono::milliseconds callTimeout);
    ~RoutineControl();
    RoutineControl(const RoutineControl&) = delete;
    RoutineControl& operator=(const RoutineControl&) = delete;

    // request starts with 0x31.
    Bytes Handle(const Bytes& request, const zov::dm::types::MetaInfoType& meta);

    // The routine ids served, ascending.
    std::vector<uint16_t> Routines() const;
    // Forgets the found services (after the binding was reset).
    void DropProxies();

    // The known interfaces' routine-id texts.
    static std::vector<std::string> KnownRoutines();

private:
    std::map<uint16_t, std::unique_ptr<Endpoint>> m_endpoints;
};

}  // namespace sim

#endif
