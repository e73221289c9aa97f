// Interface description of the diagnostic manager's DiagnosticConversation
// service: one instance per tester conversation, consumed by the application
// to follow the conversation's session and security level and to cancel it.
#ifndef PLATFORM_SERVICES_ZOV_DM_DIAGNOSTICCONVERSATION_DIAGNOSTICCONVERSATION_COMMON_H
#define PLATFORM_SERVICES_ZOV_DM_DIAGNOSTICCONVERSATION_DIAGNOSTICCONVERSATION_COMMON_H

#include <cstdint>
#include <string>

namespace zov {
namespace dm {
namespace types {

// activityStatus 0 = active, any other value = inactive; the session and the
// security level are decimal texts ("2" is the programming session).
struct DiagnosticConversationStatusType {
    uint8_t activityStatus = 1;
    std::string diagnosticSession;
    std::string diagnosticSecurityLevel;

    bool operator==(const DiagnosticConversationStatusType& other) const {
        return activityStatus == other.activityStatus && diagnosticSession == other.diagnosticSession &&
               diagnosticSecurityLevel == other.diagnosticSecurityLevel;
    }
    bool operator!=(const DiagnosticConversationStatusType& other) const { return !(*this == other); }
};

// Who talks to whom over which connection.
struct DiagnosticConversationIdentifierType {
    uint16_t sourceAddress = 0;
    uint16_t targetAddress = 0;
    uint16_t connectionId = 0;

    bool operator==(const DiagnosticConversationIdentifierType& other) const {
        return sourceAddress == other.sourceAddress && targetAddress == other.targetAddress &&
               connectionId == other.connectionId;
    }
    bool operator!=(const DiagnosticConversationIdentifierType& other) const { return !(*this == other); }
};

}  // namespace types

namespace diagnosticconversation {
namespace DiagnosticConversation {

inline constexpr const char* kServiceName = "zov::dm::diagnosticconversation::DiagnosticConversation";

// Ends the conversation at the diagnostic manager's side.
struct Cancel {
    static constexpr const char* kName = "Cancel";
    using Signature = void();
};

struct Status {
    static constexpr const char* kName = "Status";
    using FieldType = zov::dm::types::DiagnosticConversationStatusType;
};

struct Identifier {
    static constexpr const char* kName = "Identifier";
    using FieldType = zov::dm::types::DiagnosticConversationIdentifierType;
};

}  // namespace DiagnosticConversation
}  // namespace diagnosticconversation
}  // namespace dm
}  // namespace zov

#endif
