// Names of the update manager's numbers in log lines, and the log helpers
// shared by the adaptor, the runtime and the routines. Stateless; callable
// from any thread.
#ifndef KIVLIBRARY_UCM_UCMNAMES_H
#define KIVLIBRARY_UCM_UCMNAMES_H

#include <cstdint>
#include <string>

#include "KivLibrary/Ucm/UcmTypes.h"

namespace UCM {

// 1 "GeneralReject" .. 5 "Reserved"; any other code an empty text.
std::string UcmErrorCodeToString(uint8_t code);

// The name of a CurrentStatus byte: "READY", "BUSY", "RESERVED" for the rest.
std::string CurrentStatusToString(CurrentStatusType status);

// True only for 0; every other value logs its error line.
bool LogTransferDataResult(TransferDataReturnType result);
// True only for 0; every other value logs its error line.
bool LogTransferExitResult(TransferExitReturnType result);

void LogInstallationStatus(const GetInstallationStatusOutput& status);

}  // namespace UCM

// 0 "IntegrityMismatch" .. 7 "Success"; any other value logs an error and is empty.
std::string ConvertInstallStatusTypeToString(uint8_t status);

#endif
