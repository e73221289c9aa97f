// Process-wide part of the in-process binding: service discovery by
// (service name, instance text), the communication runtime object, test hooks.
#ifndef PLATFORM_COM_RUNTIME_H
#define PLATFORM_COM_RUNTIME_H

#include <chrono>
#include <string>

#include "platform/com/Types.h"

namespace zov {
namespace com {

// The instance offered under (serviceName, instanceId), if any (at most one).
ServiceHandleContainer<HandleType> FindService(const std::string& serviceName, const std::string& instanceId);

// Starts an asynchronous search; `handler` runs on a binding thread, calls of
// one search one after the other, first with the current list, then after
// every change. It may call back into the binding (also StopFindService).
FindServiceHandle StartFindService(FindServiceHandler<HandleType> handler, const std::string& serviceName,
                                   const std::string& instanceId);

// Ends a search: no handler call starts afterwards, and a call that is running
// in another thread is waited for (not when called from inside the handler),
// at most the teardown limit. Do not hold a lock that the handler takes while
// calling it.
void StopFindService(FindServiceHandle handle);

namespace runtime {

// The communication runtime of the process, created and destroyed by the
// process entry. Its destruction ends what the process instance left (as
// testing::ResetRegistry does), so that a new instance started in the same
// process finds nothing of the old one. One may exist at a time.
class Component_singleton {
public:
    Component_singleton(bool useOwnThreads, const std::string& name);
    ~Component_singleton();
    Component_singleton(const Component_singleton&) = delete;
    Component_singleton& operator=(const Component_singleton&) = delete;

    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
};

}  // namespace runtime

namespace testing {

// Ends everything of the instance before: every search is stopped, every
// subscriber's receive thread ended, every offered skeleton retired (its calls
// refused, the unanswered ones failed with a broken promise), then the
// binding threads finish their queued work. Each wait is bounded by the
// teardown limit. Call between test cases and between two runs of the
// application in one process.
void ResetRegistry();

// How long each teardown step (stopping a dispatcher, destroying a skeleton,
// StopFindService, UnsetReceiveHandler, ResetRegistry, the runtime's
// destruction) waits for user code before it gives up (default 5 s); a call
// it gives up on ends in a broken promise.
void SetTeardownLimit(std::chrono::milliseconds limit);
std::chrono::milliseconds GetTeardownLimit();

// Waits until the binding threads have nothing queued or running (answers,
// find-service and failure notifications). False on time-out.
bool WaitForBindingIdle(std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testing

}  // namespace com
}  // namespace zov

#endif
