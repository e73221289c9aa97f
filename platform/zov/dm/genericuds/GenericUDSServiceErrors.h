// Application error of the generic UDS service interface.
#ifndef PLATFORM_ZOV_DM_GENERICUDS_GENERICUDSSERVICEERRORS_H
#define PLATFORM_ZOV_DM_GENERICUDS_GENERICUDSSERVICEERRORS_H

#include <cstdint>
#include <exception>

namespace zov {
namespace dm {
namespace genericuds {
namespace GenericUDSService {

// Carries the diagnostic manager's code of a negative response; error code 2
// in the service's error domain.
class UDSServiceFailed : public std::exception {
public:
    explicit UDSServiceFailed(uint8_t code) noexcept : m_code(code) {}
    uint8_t GetCode() const noexcept { return m_code; }
    const char* what() const noexcept override { return "GenericUDSService::UDSServiceFailed::2"; }

private:
    uint8_t m_code;
};

}  // namespace GenericUDSService
}  // namespace genericuds
}  // namespace dm
}  // namespace zov

#endif
