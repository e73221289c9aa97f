#include "communication/Connect.h"

#include <chrono>
#include <exception>
#include <sstream>
#include <thread>

#include "KivLibrary/Logger/Logging.h"

bool AttemptConnection(const std::string& name, const ConnectFindFunction& find, const ConnectCheckFunction& check) {
    const std::string instance = find();
    const bool ok = check();
    if (ok) {
        LogInfo() << name << "Connection attempt succeeded. Created proxy for service '" << instance << "'";
    } else {
        LogWarn() << name << "Connection attempt failed";
    }
    return ok;
}

namespace {

// Whole seconds as before ("1"), shorter intervals as a fraction ("0.01").
std::string IntervalText(std::chrono::milliseconds interval) {
    std::ostringstream text;
    if (interval.count() % 1000 == 0) {
        text << interval.count() / 1000;
    } else {
        text << static_cast<double>(interval.count()) / 1000.0;
    }
    return text.str();
}

bool Sleep(std::chrono::milliseconds interval) {
    if (interval.count() > 0) {
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace

void ConnectWithoutTimeout(const std::string& name, int32_t repetitionIntervalSeconds, const ConnectFindFunction& find,
                           const ConnectCheckFunction& check) {
    ConnectWithoutTimeout(name, std::chrono::seconds(repetitionIntervalSeconds), find, check, Sleep);
}

bool ConnectWithoutTimeout(const std::string& name, std::chrono::milliseconds repetitionInterval,
                           const ConnectFindFunction& find, const ConnectCheckFunction& check,
                           const ConnectWaitFunction& wait) {
    LogDebug() << name << "Try to connect without timeout, repetition interval is " << IntervalText(repetitionInterval);
    while (!AttemptConnection(name, find, check)) {
        if (!wait(repetitionInterval)) {
            return false;
        }
    }
    return true;
}

void ConnectWithTimeout(const std::string& name, int32_t repetitionIntervalSeconds, int32_t timeoutSeconds,
                        const ConnectFindFunction& find, const ConnectCheckFunction& check) {
    LogDebug() << name << "Try to connect with timeout of " << timeoutSeconds << " seconds, repetition interval is "
               << repetitionIntervalSeconds;
    const auto start = std::chrono::steady_clock::now();
    while (!AttemptConnection(name, find, check)) {
        const auto elapsed = static_cast<int64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
        if (elapsed > timeoutSeconds) {
            LogError() << name << "Connection timeout. Aborting!";
            throw std::exception();
        }
        LogDebug() << name << "Duration: " << elapsed << ", timeout " << timeoutSeconds;
        Sleep(std::chrono::seconds(repetitionIntervalSeconds));
    }
}

void LogAsyncConnectStart(const std::string& name, const std::string& handleId) {
    LogInfo() << name << "Async connect starts for handle '" << handleId << "'";
}

void LogAsyncConnectStop(const std::string& name, const std::string& handleId) {
    LogInfo() << name << "Async connect stops for handle '" << handleId << "'";
}

void LogAsyncConnectSuccess(const std::string& name, const std::string& instanceId) {
    LogInfo() << name << "Async connect success for instance id '" << instanceId << "'";
}

void LogSuccessOrFailure(bool success, const std::string& successText, const std::string& failureText) {
    if (success) {
        LogInfo() << successText;
    } else {
        LogError() << failureText;
    }
}
