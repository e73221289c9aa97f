// Texts of service identifiers and sub-function values for log lines. None throws.
#ifndef UDS_SERVICENAMES_H
#define UDS_SERVICENAMES_H

#include <cstdint>
#include <string>

namespace UDS {

// Unknown identifiers give "Unknown SID: 0x" and two lower-case hex digits.
std::string ServiceIdToString(uint8_t sid);

// Unknown values give the function's "Unknown ...: " prefix and the value in decimal.
std::string EcuResetTypeToString(uint8_t value);
std::string CommunicationControlTypeToString(uint8_t value);
std::string RoutineControlTypeToString(uint8_t value);
std::string DiagnosticSessionTypeToString(uint8_t value);
std::string SecurityAccessTypeToString(uint8_t value);
std::string LinkControlTypeToString(uint8_t value);
std::string DtcSettingTypeToString(uint8_t value);
std::string AccessTimingParameterTypeToString(uint8_t value);
std::string ResponseOnEventTypeToString(uint8_t value);
std::string ResponseOnEventStorageStateToString(uint8_t value);
std::string ResponseOnEventTimerRateToString(uint8_t value);
std::string ModeOfOperationToString(uint8_t value);
std::string DynamicallyDefineDataIdentifierTypeToString(uint8_t value);
std::string StateAndConnectionStateToString(uint8_t value);
std::string StateAndConnectionSignalToString(uint8_t value);
std::string StateAndConnectionSignalTypeToString(uint8_t value);
std::string StateAndConnectionResistorInputTypeToString(uint8_t value);
std::string FormulaIdentifierToString(uint8_t value);

// Exactly two upper-case hex digits ("0A").
std::string ByteToHexString(uint8_t value);

}  // namespace UDS

#endif
