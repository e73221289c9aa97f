#include "KivLibrary/Helper/HelperTypes.h"

#include "KivLibrary/Logger/Logging.h"

#include <map>
#include <utility>
#include <vector>

namespace {

const uint8_t kNoDmCode = 0xFF;

// UDS NRC -> diagnostic manager's code; filled before main, never changed.
const std::map<uint8_t, uint8_t> kNrcToDmCode = {
    {0x10, 0x10},  // generalReject
    {0x11, 0x11},  // serviceNotSupported
    {0x12, 0x12},  // subFunctionNotSupported
    {0x13, 0x13},  // incorrectMessageLengthOrInvalidFormat
    {0x22, 0x22},  // conditionsNotCorrect
    {0x24, 0x24},  // requestSequenceError
    {0x31, 0x31},  // requestOutOfRange
    {0x33, 0x33},  // securityAccessDenied
    {0x35, 0x35},  // invalidKey
    {0x36, 0x36},  // exceedNumberOfAttempts
    {0x37, 0x37},  // requiredTimeDelayNotExpired
    {0x70, 0x70},  // uploadDownloadNotAccepted
    {0x71, 0x71},  // transferDataSuspended
    {0x72, 0x72},  // generalProgrammingFailure
    {0x73, 0x73},  // wrongBlockSequenceCounter
    {0x78, 0x78},  // requestCorrectlyReceived-ResponsePending
    {0x7E, 0x7E},  // subFunctionNotSupportedInActiveSession
    {0x7F, 0x7F},  // serviceNotSupportedInActiveSession
};

using VmTable = std::vector<std::pair<std::string, uint8_t>>;

// The first entry answers every unknown name or id.
const VmTable& GetVmTable() {
    static const VmTable table = {
        {"vm_invalid", 0},
        {"vm_adaptive", 1},
        {"vm_housekeeping", 3},
        {"vm_java", 2},
    };
    return table;
}

}  // namespace

uint8_t ConvertUdsNrcToDmCode(uint8_t nrc) {
    LogDebug() << "Converting from uds code to dm specific code" << VLMR_FILE_LINE;
    const auto it = kNrcToDmCode.find(nrc);
    if (it != kNrcToDmCode.end() && it->second != kNoDmCode) {
        return it->second;
    }
    LogError() << "KivServiceImpl: nrc code mapping does not exist: " << static_cast<uint32_t>(nrc) << VLMR_FILE_LINE;
    return kNoDmCode;
}

uint8_t GetVmIdByName(const std::string& name) {
    const VmTable& table = GetVmTable();
    for (size_t i = 1; i < table.size(); ++i) {
        if (table[i].first == name) {
            return table[i].second;
        }
    }
    return table.front().second;
}

std::string GetVmNameById(uint8_t id) {
    const VmTable& table = GetVmTable();
    for (size_t i = 1; i < table.size(); ++i) {
        if (table[i].second == id) {
            return table[i].first;
        }
    }
    return table.front().first;
}
