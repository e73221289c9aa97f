// The frame shared by the routines that answer in the calling method thread:
// the log lines around a call, the conversation registration of Start, a
// Cancel that stops nothing, and one exception boundary per call, so that a
// routine method never throws into the binding.
//
// Threading: methods run in the binding's method threads, several at once.
// The base holds only members fixed at construction.
#ifndef KIVLIBRARY_ROUTINES_PLAINROUTINE_H
#define KIVLIBRARY_ROUTINES_PLAINROUTINE_H

#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Routines/RoutineDependencies.h"
#include "platform/com/Future.h"
#include "platform/com/Types.h"
#include "platform/services/zov/dm/types/MetaInfoType.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

template <typename Skeleton>
class PlainRoutine : public Skeleton {
public:
    using MetaInfo = zov::dm::types::MetaInfoType;

    // logName: the routine's name in the log lines ("Start_update", ...).
    PlainRoutine(const std::string& instance, uint8_t mode, const RoutineDependencies& dependencies,
                 std::string logName)
        : Skeleton(instance, static_cast<ara::com::MethodCallProcessingMode>(mode)),
          m_logName(std::move(logName)),
          m_conversation(dependencies.conversation) {}

    jux::com::Future<void> Cancel(const MetaInfo& /*metaInfo*/) override {
        LogInfo() << "Cancel " << m_logName << VLMR_FILE_LINE;
        LogCancelCompleted();
        return jux::com::MakeReadyFuture();
    }

    const std::string& LogName() const { return m_logName; }

protected:
    virtual void LogCancelCompleted() { LogDebug() << "Cancel " << m_logName << " completed" << VLMR_FILE_LINE; }

    // Only Start registers the tester's conversation.
    void RegisterConversation(const MetaInfo& metaInfo) const {
        if (m_conversation) {
            m_conversation->registerConversation(metaInfo);
        } else {
            LogInfo() << "RoutineService:: kivDMConversation NOT FOUND" << VLMR_FILE_LINE;
        }
    }

    // Runs body; an exception it lets out is logged and answered by fallback.
    template <typename T, typename Body, typename Fallback>
    jux::com::Future<T> Guard(const char* method, Body&& body, Fallback&& fallback) const {
        try {
            return body();
        } catch (const std::exception& error) {
            LogError() << method << " " << m_logName << " failed: " << error.what() << VLMR_FILE_LINE;
        } catch (...) {
            LogError() << method << " " << m_logName << " failed: unknown exception" << VLMR_FILE_LINE;
        }
        return fallback();
    }

    template <typename T>
    static jux::com::Future<T> Answer(T value) {
        return jux::com::MakeReadyFuture(std::move(value));
    }

    template <typename T, typename Error>
    static jux::com::Future<T> Refuse(const Error& error) {
        return jux::com::MakeExceptionalFuture<T>(std::make_exception_ptr(error));
    }

    const std::string m_logName;
    const std::shared_ptr<KivDMConversation> m_conversation;
};

#endif
