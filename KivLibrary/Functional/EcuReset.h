// UDS EcuReset (0x11). The machine is never reset: a HardReset aborts a
// running download or installation, ends the tester's conversation after an
// installation, or answers a "fake reset" by cancelling the conversation; a
// KeyOffOnReset only restarts the conversation outside a programming session
// while no update is under way. Whole requests are serialised by the
// handler's own mutex; nothing else of its own is shared.
#ifndef KIVLIBRARY_FUNCTIONAL_ECURESET_H
#define KIVLIBRARY_FUNCTIONAL_ECURESET_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "KivLibrary/Functional/UdsServiceDependencies.h"
#include "KivLibrary/GlobalLibrary/SWupdateState.h"
#include "uds/EcuReset.h"

#include <mutex>

class EcuReset : public CheckedService<UDS::EcuResetRequest> {
public:
    static constexpr uint8_t kSid = 0x11;
    static constexpr uint8_t kHardReset = 0x01;
    static constexpr uint8_t kKeyOffOnReset = 0x02;

    EcuReset(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck);

    std::vector<uint8_t> Process(const UDS::Message& message) override;

private:
    using Request = UDS::EcuResetRequest;
    CheckResult MessageLengthCheck(const Request& request, std::vector<uint8_t>& response);
    CheckResult CheckSupportedSubfunctions(const Request& request, std::vector<uint8_t>& response);

    CheckResult HandleHardReset();
    CheckResult HandleKeyOffOnReset();
    void ResetProgramming(SWupdateState state);
    CheckResult HandleInstallComplete(SWupdateState state);
    CheckResult FakeHardReset();
    CheckResult FakeKeyOffOnReset();

    std::shared_ptr<KivDMConversation> m_conversation;
    std::shared_ptr<DTCService> m_cleanupErrorDtc;
    AutonomousCheckSlot* m_autonomousCheck;
    std::mutex m_mutex;
};

#endif
