// A small DiagnosticConversation service for the tests: fields set directly,
// Cancel counted, optionally failing or ending the conversation.
#ifndef TESTS_COMMUNICATION_CONVERSATIONSKELETON_H
#define TESTS_COMMUNICATION_CONVERSATIONSKELETON_H

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/com/Future.h"
#include "platform/com/Runtime.h"
#include "platform/services/zov/dm/diagnosticconversation/DiagnosticConversation_skeleton.h"

namespace testsupport {

class ConversationSkeleton : public zov::dm::diagnosticconversation::skeleton::DiagnosticConversationSkeleton {
public:
    using StatusType = zov::dm::types::DiagnosticConversationStatusType;
    using IdentifierType = zov::dm::types::DiagnosticConversationIdentifierType;

    explicit ConversationSkeleton(const std::string& instance, StatusType initial = {1, "1", "0"})
        : DiagnosticConversationSkeleton(instance) {
        Status.Update(initial);
        Identifier.Update(IdentifierType{0x0E80, 0x1234, 1});
    }

    ~ConversationSkeleton() override { Withdraw(); }

    void Withdraw() {
        StopOfferService();
        StopMethodDispatcher();
    }

    jux::com::Future<void> Cancel() override {
        ++cancelCalls;
        if (failCancel) {
            throw std::runtime_error("conversation busy");
        }
        if (endOnCancel) {
            Status.Update(StatusType{1, "1", "0"});
        }
        return jux::com::MakeReadyFuture();
    }

    std::atomic<int> cancelCalls{0};
    std::atomic<bool> failCancel{false};
    std::atomic<bool> endOnCancel{false};
};

}  // namespace testsupport

#endif
