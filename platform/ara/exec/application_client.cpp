#include "platform/ara/exec/application_client.h"

#include <condition_variable>
#include <mutex>

namespace ara {
namespace exec {

namespace {

struct HookState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<testhook::Report> reports;
    std::function<void(ApplicationState)> observer;
    unsigned failConstructions = 0;
    unsigned throwReports = 0;
    unsigned otherAnswers = 0;
    ApplicationReturnType answer = ApplicationReturnType::kSuccess;
};

HookState& Hooks() {
    static HookState state;
    return state;
}

}  // namespace

ApplicationClient::ApplicationClient() {
    HookState& hooks = Hooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    if (hooks.failConstructions > 0) {
        --hooks.failConstructions;
        throw ExecException("execution management not reachable");
    }
}

ApplicationReturnType ApplicationClient::ReportApplicationState(ApplicationState state) {
    HookState& hooks = Hooks();
    ApplicationReturnType answer = ApplicationReturnType::kSuccess;
    std::function<void(ApplicationState)> observer;
    {
        std::lock_guard<std::mutex> lock(hooks.mutex);
        if (hooks.throwReports > 0) {
            --hooks.throwReports;
            throw ExecException("execution state report failed");
        }
        if (hooks.otherAnswers > 0) {
            --hooks.otherAnswers;
            answer = hooks.answer;
        }
        hooks.reports.push_back({state, platform::testhook::NextStamp()});
        observer = hooks.observer;
    }
    hooks.changed.notify_all();
    if (observer) {
        observer(state);
    }
    return answer;
}

namespace testhook {

std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    return Hooks().reports;
}

bool WaitForReport(ApplicationState state, std::chrono::milliseconds timeout) {
    HookState& hooks = Hooks();
    std::unique_lock<std::mutex> lock(hooks.mutex);
    return hooks.changed.wait_for(lock, timeout, [&hooks, state] {
        for (const Report& report : hooks.reports) {
            if (report.state == state) {
                return true;
            }
        }
        return false;
    });
}

void SetReportObserver(std::function<void(ApplicationState)> observer) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    Hooks().observer = std::move(observer);
}

void FailNextConstructions(unsigned count) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    Hooks().failConstructions = count;
}

void ThrowOnNextReports(unsigned count) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    Hooks().throwReports = count;
}

void AnswerNextReports(ApplicationReturnType answer, unsigned count) {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    Hooks().answer = answer;
    Hooks().otherAnswers = count;
}

void Reset() {
    std::lock_guard<std::mutex> lock(Hooks().mutex);
    HookState& hooks = Hooks();
    hooks.reports.clear();
    hooks.observer = nullptr;
    hooks.failConstructions = 0;
    hooks.throwReports = 0;
    hooks.otherAnswers = 0;
    hooks.answer = ApplicationReturnType::kSuccess;
}

}  // namespace testhook

}  // namespace exec
}  // namespace ara
