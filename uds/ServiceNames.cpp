#include "uds/ServiceNames.h"

#include "KivLibrary/Helper/ByteFormat.h"

#include <iomanip>
#include <sstream>
#include <utility>

namespace UDS {

namespace {

using NameEntry = std::pair<const char*, uint8_t>;

template <size_t N>
const char* FindName(const NameEntry (&table)[N], uint8_t value) {
    for (const NameEntry& entry : table) {
        if (entry.second == value) {
            return entry.first;
        }
    }
    return nullptr;
}

std::string Unknown(const char* prefix, uint8_t value) { return prefix + std::to_string(static_cast<unsigned>(value)); }

}  // namespace

std::string ServiceIdToString(uint8_t sid) {
    static const NameEntry kServices[] = {
        {"DiagnosticSessionControl", 0x10},
        {"DiagnosticSessionControlResponse", 0x50},
        {"EcuReset", 0x11},
        {"EcuResetResponse", 0x51},
        {"ClearDiagnosticInformation", 0x14},
        {"ClearDiagnosticInformationResponse", 0x54},
        {"ReadDTCInformation", 0x19},
        {"ReadDTCInformationResponse", 0x59},
        {"ReadDataByIdentifier", 0x22},
        {"ReadDataByIdentifierResponse", 0x62},
        {"ReadMemoryByAddress", 0x23},
        {"ReadMemoryByAddressResponse", 0x63},
        {"ReadScalingDataByIdentifier", 0x24},
        {"ReadScalingDataByIdentifierResponse", 0x64},
        {"SecurityAccess", 0x27},
        {"SecurityAccessResponse", 0x67},
        {"CommunicationControl", 0x28},
        {"CommunicationControlResponse", 0x68},
        {"ReadDataByPeriodicIdentifier", 0x2A},
        {"ReadDataByPeriodicIdentifierResponse", 0x6A},
        {"DynamicallyDefineDataIdentifier", 0x2C},
        {"DynamicallyDefineDataIdentifierResponse", 0x6C},
        {"WriteDataByIdentifier", 0x2E},
        {"WriteDataByIdentifierResponse", 0x6E},
        {"InputOutputControlByIdentifier", 0x2F},
        {"InputOutputControlByIdentifierResponse", 0x6F},
        {"RoutineControl", 0x31},
        {"RoutineControlResponse", 0x71},
        {"RequestDownload", 0x34},
        {"RequestDownloadResponse", 0x74},
        {"RequestUpload", 0x35},
        {"RequestUploadResponse", 0x75},
        {"TransferData", 0x36},
        {"TransferDataResponse", 0x76},
        {"RequestTransferExit", 0x37},
        {"RequestTransferExitResponse", 0x77},
        {"RequestFileTransfer", 0x38},
        {"RequestFileTransferResponse", 0x78},
        {"WriteMemoryByAddress", 0x3D},
        {"WriteMemoryByAddressResponse", 0x7D},
        {"TesterPresent", 0x3E},
        {"TesterPresentResponse", 0x7E},
        {"AccessTimingParameter", 0x83},
        {"AccessTimingParameterResponse", 0xC3},
        {"SecuredDataTransmission", 0x84},
        {"SecuredDataTransmissionResponse", 0xC4},
        {"ControlDTCSetting", 0x85},
        {"ControlDTCSettingResponse", 0xC5},
        {"ResponseOnEvent", 0x86},
        {"ResponseOnEventResponse", 0xC6},
        {"LinkControl", 0x87},
        {"LinkControlResponse", 0xC7},
        {"NegativeResponse", 0x7F},
    };
    if (const char* name = FindName(kServices, sid)) {
        return name;
    }
    std::ostringstream text;
    text << "Unknown SID: 0x" << std::setfill('0') << std::setw(2) << std::hex << static_cast<unsigned>(sid);
    return text.str();
}

std::string EcuResetTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "HardReset";
        case 2:
            return "KeyOffOnReset";
        case 3:
            return "SoftReset";
        case 4:
            return "EnableRapidPowerShutDown";
        case 5:
            return "DisableRapidPowerShutDown";
        default:
            return Unknown("Unknown ErLev: ", value);
    }
}

std::string CommunicationControlTypeToString(uint8_t value) {
    switch (value) {
        case 0:
            return "enableRxAndTx";
        case 1:
            return "enableRxAndDisableTx";
        case 2:
            return "disableRxAndEnableTx";
        case 3:
            return "disableRxAndDisableTx";
        case 4:
            return "enableRxAndDisableTxWithEnhancedAddressInformation";
        case 5:
            return "enableRxAndTxWithEnhancedAddressInformation";
        default:
            return Unknown("Unknown CcLev: ", value);
    }
}

std::string RoutineControlTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "startRoutine";
        case 2:
            return "stopRoutine";
        case 3:
            return "requestRoutineResults";
        default:
            return Unknown("Unknown RcLev: ", value);
    }
}

std::string DiagnosticSessionTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "DefaultSession";
        case 2:
            return "ProgrammingSession";
        case 3:
            return "ExtendedDiagnosticSession";
        case 4:
            return "SafetySystemDiagnosticSession";
        default:
            return Unknown("Unknown DscLev: ", value);
    }
}

std::string SecurityAccessTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "RequestSeed";
        case 2:
            return "SendKey";
        default:
            return Unknown("Unknown SaLev: ", value);
    }
}

std::string LinkControlTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "VerifyModeTransitionWithFixedParameter";
        case 2:
            return "VerifyModeTransitionWithSpecificParameter";
        case 3:
            return "TransitionMode";
        default:
            return Unknown("Unknown LcLev: ", value);
    }
}

std::string DtcSettingTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "on";
        case 2:
            return "off";
        default:
            return Unknown("Unknown DtcLev: ", value);
    }
}

std::string AccessTimingParameterTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "ReadExtendedTimingParameterSet";
        case 2:
            return "SetTimingParametersToDefaultValues";
        case 3:
            return "ReadCurrentlyActiveTimingParameters";
        case 4:
            return "SetTimingParametersToGivenValues";
        default:
            return Unknown("Unknown ATPLev: ", value);
    }
}

std::string ResponseOnEventTypeToString(uint8_t value) {
    switch (value) {
        case 0:
            return "StopResponseOnEvent";
        case 1:
            return "OnDTCStatusChange";
        case 2:
            return "OnTimerInterrupt";
        case 3:
            return "OnChangeOfDataIdentifier";
        case 4:
            return "ReportActivatedEvents";
        case 5:
            return "StartResponseOnEvent";
        case 6:
            return "ClearResponseOnEvent";
        case 7:
            return "OnComparisonOfValues";
        default:
            return Unknown("Unknown RoELev: ", value);
    }
}

std::string ResponseOnEventStorageStateToString(uint8_t value) {
    switch (value) {
        case 0:
            return "DoNotStoreEvent";
        case 1:
            return "StoreEvent";
        default:
            return Unknown("Unknown RoEStorageState: ", value);
    }
}

std::string ResponseOnEventTimerRateToString(uint8_t value) {
    switch (value) {
        case 1:
            return "SlowRate";
        case 2:
            return "MediumRate";
        case 3:
            return "FastRate";
        default:
            return Unknown("Unknown RoEOnTimer: ", value);
    }
}

std::string ModeOfOperationToString(uint8_t value) {
    switch (value) {
        case 1:
            return "addFile";
        case 2:
            return "deleteFile";
        case 3:
            return "replaceFile";
        case 4:
            return "readFile";
        case 5:
            return "readDir";
        default:
            return Unknown("Unknown modeOfOperation: ", value);
    }
}

std::string DynamicallyDefineDataIdentifierTypeToString(uint8_t value) {
    switch (value) {
        case 1:
            return "DefineByIdentifier";
        case 2:
            return "DefineByMemoryAddress";
        case 3:
            return "ClearDynamicallyDefinedDataIdentifier";
        default:
            return Unknown("Unknown DddiLev: ", value);
    }
}

std::string StateAndConnectionStateToString(uint8_t value) {
    switch (value) {
        case 0:
            return "NotActive";
        case 1:
            return "Active_function1";
        case 2:
            return "ErrorDetected";
        case 3:
            return "NotAvailable";
        case 4:
            return "Active_function2";
        default:
            return Unknown("Unknown StateAndConnectionType_state: ", value);
    }
}

std::string StateAndConnectionSignalToString(uint8_t value) {
    switch (value) {
        case 0:
            return "SignalAtLowLevel";
        case 1:
            return "SignalAtMiddleLevel";
        case 2:
            return "SignalAtHighLevel";
        default:
            return Unknown("Unknown StateAndConnectionType_signal: ", value);
    }
}

std::string StateAndConnectionSignalTypeToString(uint8_t value) {
    switch (value) {
        case 0:
            return "InputSignal";
        case 1:
            return "NotDefined";
        default:
            return Unknown("Unknown StateAndConnectionType_signalType: ", value);
    }
}

std::string StateAndConnectionResistorInputTypeToString(uint8_t value) {
    switch (value) {
        case 0:
            return "InternalSignalOrViaCanNotExclusivelyAvailableInEcuConnector";
        case 1:
            return "PullDownResistorInputType";
        case 2:
            return "PullUpResistorInputType";
        case 3:
            return "PullUpAndPullDownResistorInputType";
        default:
            return Unknown("Unknown StateAndConnectionType_resistorInputType: ", value);
    }
}

std::string FormulaIdentifierToString(uint8_t value) {
    static const NameEntry kFormulas[] = {
        {"y = C0 * x + C1", 0}, {"y = C0 * (x + C1)", 1}, {"y = C0 / (x + C1) + C2", 2},
        {"y = x / C0 + C1", 3}, {"y = (x + C0) / C1", 4}, {"y = (x + C0) / C1 + C2", 5},
        {"y = C0 * x", 6},      {"y = x / C0", 7},        {"y = x + C0", 8},
        {"y = x * C0 / C1", 9},
    };
    if (const char* name = FindName(kFormulas, value)) {
        return name;
    }
    return Unknown("Unknown formulaIdentifier: ", value);
}

std::string ByteToHexString(uint8_t value) { return HexDigits(value, 2); }

}  // namespace UDS
