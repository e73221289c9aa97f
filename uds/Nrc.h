// Negative response codes of ISO 14229-1 that this application sends or
// forwards, and their names for refusal log lines. Constants only.
#ifndef UDS_NRC_H
#define UDS_NRC_H

#include <cstdint>

namespace UDS {

// Enumerators keep the ISO names; the values are the wire bytes.
enum class Nrc : uint8_t {
    generalReject = 0x10,
    serviceNotSupported = 0x11,
    subFunctionNotSupported = 0x12,
    incorrectMessageLengthOrInvalidFormat = 0x13,
    responseTooLong = 0x14,
    conditionsNotCorrect = 0x22,
    requestSequenceError = 0x24,
    requestOutOfRange = 0x31,
    securityAccessDenied = 0x33,
    invalidKey = 0x35,
    exceedNumberOfAttempts = 0x36,
    requiredTimeDelayNotExpired = 0x37,
    uploadDownloadNotAccepted = 0x70,
    transferDataSuspended = 0x71,
    generalProgrammingFailure = 0x72,
    wrongBlockSequenceCounter = 0x73,
    requestCorrectlyReceivedResponsePending = 0x78,
    subFunctionNotSupportedInActiveSession = 0x7E,
    serviceNotSupportedInActiveSession = 0x7F,
};

constexpr uint8_t ToByte(Nrc nrc) { return static_cast<uint8_t>(nrc); }

// First byte of every negative response.
constexpr uint8_t kNegativeResponseSid = 0x7F;
// A positive response's SID is the request's SID plus this.
constexpr uint8_t kPositiveResponseOffset = 0x40;

}  // namespace UDS

#endif
