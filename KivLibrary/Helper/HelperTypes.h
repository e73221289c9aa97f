// Translation of UDS negative response codes for the diagnostic manager and
// the names and ids of the virtual machines this application can run on.
#ifndef KIVLIBRARY_HELPER_HELPERTYPES_H
#define KIVLIBRARY_HELPER_HELPERTYPES_H

#include <cstdint>
#include <string>

// The diagnostic manager's code for the NRC; 0xFF (logged) when it has none.
uint8_t ConvertUdsNrcToDmCode(uint8_t nrc);
// Exact, case-sensitive match; 0 ("vm_invalid") for any unknown name.
uint8_t GetVmIdByName(const std::string& name);
// "vm_invalid" for any unknown id.
std::string GetVmNameById(uint8_t id);

#endif
