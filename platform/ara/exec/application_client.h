// Stand-in for execution management's client: the process reports its
// execution state (kRunning, kTerminating). The test hooks record every report
// and let a test make the client fail. Thread-safe.
#ifndef PLATFORM_ARA_EXEC_APPLICATION_CLIENT_H
#define PLATFORM_ARA_EXEC_APPLICATION_CLIENT_H

#include "platform/testhook/Sequence.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace ara {
namespace exec {

enum class ApplicationState : uint8_t { kRunning = 0, kTerminating = 1 };
enum class ApplicationReturnType : uint8_t { kSuccess = 0, kGeneralError = 1 };

class ExecException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ApplicationClient {
public:
    // Throws ExecException when a test asked for it.
    ApplicationClient();
    // Throws ExecException when a test asked for it; otherwise records the
    // report and answers kSuccess unless a test set another answer.
    ApplicationReturnType ReportApplicationState(ApplicationState state);
};

namespace testhook {

struct Report {
    ApplicationState state;
    platform::testhook::Stamp stamp;
};

std::vector<Report> Reports();
// Waits until a report of the state was recorded; false on time-out.
bool WaitForReport(ApplicationState state, std::chrono::milliseconds timeout);
// Runs after a report was recorded, on the reporting thread.
void SetReportObserver(std::function<void(ApplicationState)> observer);
// The next `count` constructions throw.
void FailNextConstructions(unsigned count);
// The next `count` reports throw (and are not recorded).
void ThrowOnNextReports(unsigned count);
// The next `count` reports answer `answer`.
void AnswerNextReports(ApplicationReturnType answer, unsigned count);
void Reset();

}  // namespace testhook

}  // namespace exec
}  // namespace ara

#endif
