// A small DiagnosticConversation service for the tests: fields set directly,
// Cancel counted, optionally failing or ending the conversation, or holding
// every answer like a manager that hangs.
#ifndef TESTS_COMMUNICATION_CONVERSATIONSKELETON_H
#define TESTS_COMMUNICATION_CONVERSATIONSKELETON_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

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

    // From now on Cancel and the Status getter answer only when released.
    // Both reach the skeleton on a method thread of their own, so a call can
    // still be on its way after its caller has given up on it: count held
    // calls by kind, never by differences of a total.
    void HoldAnswers() {
        std::lock_guard<std::mutex> lock(m_heldMutex);
        m_holding = true;
        Status.RegisterGetHandler([this] {
            std::lock_guard<std::mutex> held(m_heldMutex);
            if (!m_holding || (m_holdStatusFrom && !m_holdStatusFrom())) {
                return jux::com::MakeReadyFuture(m_answer);
            }
            m_heldStatus.emplace_back();
            return m_heldStatus.back().get_future();
        });
    }

    // Answers the held Cancel calls only; status reads stay held.
    void ReleaseHeldCancels() {
        std::vector<jux::com::Promise<void>> cancelAnswers;
        {
            std::lock_guard<std::mutex> lock(m_heldMutex);
            cancelAnswers.swap(m_heldCancel);
        }
        for (auto& answer : cancelAnswers) {
            answer.set_value();
        }
    }

    // Answers the held status reads and the later ones with `status` until
    // `from` is true, and holds them again from then on; Cancel calls stay held. A
    // read that a handler is still about to make must not wait the long
    // time-out meant for the read the test is after, as the next
    // notification waits behind it.
    void AnswerStatusReadsUntil(const StatusType& status, std::function<bool()> from) {
        std::vector<jux::com::Promise<StatusType>> statusAnswers;
        {
            std::lock_guard<std::mutex> lock(m_heldMutex);
            m_answer = status;
            m_holdStatusFrom = std::move(from);
            statusAnswers.swap(m_heldStatus);
        }
        for (auto& answer : statusAnswers) {
            answer.set_value(status);
        }
    }

    // Answers what was held and whatever arrives later: a status read with
    // `status`.
    void StopHolding(const StatusType& status) {
        std::vector<jux::com::Promise<StatusType>> statusAnswers;
        std::vector<jux::com::Promise<void>> cancelAnswers;
        {
            std::lock_guard<std::mutex> lock(m_heldMutex);
            m_holding = false;
            m_answer = status;
            statusAnswers.swap(m_heldStatus);
            cancelAnswers.swap(m_heldCancel);
        }
        for (auto& answer : statusAnswers) {
            answer.set_value(status);
        }
        for (auto& answer : cancelAnswers) {
            answer.set_value();
        }
    }

    std::size_t HeldCancels() {
        std::lock_guard<std::mutex> lock(m_heldMutex);
        return m_heldCancel.size();
    }

    jux::com::Future<void> Cancel() override {
        ++cancelCalls;
        {
            std::lock_guard<std::mutex> lock(m_heldMutex);
            if (m_holding) {
                m_heldCancel.emplace_back();
                return m_heldCancel.back().get_future();
            }
        }
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

private:
    std::mutex m_heldMutex;
    bool m_holding = false;
    std::function<bool()> m_holdStatusFrom;
    StatusType m_answer;
    std::vector<jux::com::Promise<StatusType>> m_heldStatus;
    std::vector<jux::com::Promise<void>> m_heldCancel;
};

}  // namespace testsupport

#endif
