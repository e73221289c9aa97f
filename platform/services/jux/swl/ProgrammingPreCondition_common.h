// Interface description of the programming pre-condition service: other
// platform components ask through it whether programming is allowed now.
#ifndef PLATFORM_SERVICES_JUX_SWL_PROGRAMMINGPRECONDITION_COMMON_H
#define PLATFORM_SERVICES_JUX_SWL_PROGRAMMINGPRECONDITION_COMMON_H

#include <cstdint>

namespace jux {
namespace swl {
namespace ProgrammingPreCondition {

inline constexpr const char* kServiceName = "jux::swl::ProgrammingPreCondition";

struct GetPreCondition {
    static constexpr const char* kName = "GetPreCondition";
    static constexpr uint8_t kAllowed = 1;
    static constexpr uint8_t kNotAllowed = 2;
    struct Output {
        uint8_t preCondition = kNotAllowed;
    };
    using Signature = Output();
};

}  // namespace ProgrammingPreCondition
}  // namespace swl
}  // namespace jux

#endif
