// Interface description of the update manager's PackageManagement service:
// transfer sessions, installation, commit, rollback and the CurrentStatus field.
#ifndef PLATFORM_SERVICES_ARA_UCM_PACKAGEMANAGEMENT_COMMON_H
#define PLATFORM_SERVICES_ARA_UCM_PACKAGEMANAGEMENT_COMMON_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "platform/services/ara/ucm/UcmTypes.h"

namespace ara {
namespace ucm {
namespace PackageManagement {

inline constexpr const char* kServiceName = "ara::ucm::PackageManagement";

struct Start {
    static constexpr const char* kName = "Start";
    struct Output {
        uint32_t id = 0;  // the new transfer session
    };
    using Signature = Output();
};

struct TransferStart {
    static constexpr const char* kName = "TransferStart";
    struct Output {
        TransferStartReturnType result = 0;
    };
    using Signature = Output(uint32_t /*id*/, uint32_t /*size*/);
};

struct TransferData {
    static constexpr const char* kName = "TransferData";
    struct Output {
        TransferDataReturnType result = 0;
    };
    using Signature = Output(uint32_t /*id*/, std::vector<uint8_t> /*data*/, uint32_t /*blockCounter*/);
};

struct TransferExit {
    static constexpr const char* kName = "TransferExit";
    struct Output {
        TransferExitReturnType result = 0;
    };
    using Signature = Output(uint32_t /*id*/);
};

struct InstallUpdate {
    static constexpr const char* kName = "InstallUpdate";
    using Signature = void(uint32_t /*id*/);
};

struct CommitUpdate {
    static constexpr const char* kName = "CommitUpdate";
    using Signature = void(uint32_t /*id*/);
};

struct CancelUpdate {
    static constexpr const char* kName = "CancelUpdate";
    using Signature = void(uint32_t /*id*/);
};

struct Close {
    static constexpr const char* kName = "Close";
    using Signature = void(uint32_t /*id*/);
};

struct GetProgress {
    static constexpr const char* kName = "GetProgress";
    struct Output {
        uint8_t progress = 0;  // percent
    };
    using Signature = Output(uint32_t /*id*/);
};

struct GetLog {
    static constexpr const char* kName = "GetLog";
    struct Output {
        std::vector<LogEntryType> log;
    };
    using Signature = Output(uint32_t /*id*/);
};

struct GetInstallationResult {
    static constexpr const char* kName = "GetInstallationResult";
    struct Output {
        GetInstallationResultType result = 0;
    };
    using Signature = Output(uint32_t /*id*/);
};

struct CurrentStatus {
    static constexpr const char* kName = "CurrentStatus";
    using FieldType = events::CurrentStatusEventDataType;
};

// Application error: twelve one-byte error codes in the order the service
// sends them; a failing method sets the code at its own position.
class UCMServiceFailed : public std::exception {
public:
    static constexpr std::size_t kFieldCount = 12;
    // Zero-based positions of the methods whose codes the application reads.
    static constexpr std::size_t kCloseIndex = 1;
    static constexpr std::size_t kCommitUpdateIndex = 2;
    static constexpr std::size_t kInstallUpdateIndex = 3;

    using Fields = std::array<uint8_t, kFieldCount>;

    explicit UCMServiceFailed(const Fields& fields = Fields{}) noexcept : m_fields(fields) {}

    const Fields& GetFields() const noexcept { return m_fields; }
    // 0 for a position outside the twelve.
    uint8_t GetField(std::size_t index) const noexcept { return index < kFieldCount ? m_fields[index] : 0; }
    const char* what() const noexcept override { return "PackageManagement::UCMServiceFailed"; }

private:
    Fields m_fields;
};

}  // namespace PackageManagement
}  // namespace ucm
}  // namespace ara

#endif
