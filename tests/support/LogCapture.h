// Test backend for the logging front end: records every committed message
// with its level so tests can assert on exact texts.
#ifndef TESTS_SUPPORT_LOGCAPTURE_H
#define TESTS_SUPPORT_LOGCAPTURE_H

#include "KivLibrary/Logger/Logging.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

enum class Level { kVerbose, kDebug, kInfo, kWarn, kError, kFatal };

struct LogMessage {
    Level level;
    std::string text;
};

// Each message in flight holds the backend: a thread that outlives its test
// (a worker cut off and detached) may still finish a message after the
// capture is gone.
class CapturingLoggingBackend : public LoggingBackend, public std::enable_shared_from_this<CapturingLoggingBackend> {
public:
    LoggingStream Verbose() override { return Make(Level::kVerbose); }
    LoggingStream Debug() override { return Make(Level::kDebug); }
    LoggingStream Info() override { return Make(Level::kInfo); }
    LoggingStream Warn() override { return Make(Level::kWarn); }
    LoggingStream Error() override { return Make(Level::kError); }
    LoggingStream Fatal() override { return Make(Level::kFatal); }
    void Flush() override {}

    std::vector<LogMessage> Messages() const;
    void Clear();
    void Record(Level level, std::string text);
    void HoldAt(std::string fragment);
    void ReleaseHold();

private:
    LoggingStream Make(Level level);

    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::vector<LogMessage> messages_;
    std::string holdAt_;    // mutex_
    bool holding_ = false;  // mutex_
};

// Installs a capturing backend for the lifetime of the object and restores
// the previous one afterwards.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogMessage> Messages() const { return backend_->Messages(); }
    std::vector<std::string> Texts() const;
    void Clear() { backend_->Clear(); }

    // True when a message contains the fragment (at the given level, if any).
    bool Contains(const std::string& fragment) const;
    bool Contains(Level level, const std::string& fragment) const;
    size_t Count(const std::string& fragment) const;
    // The thread that commits the next message containing the fragment
    // stays in that call, once the message is recorded, until Release (at
    // most 10 s): a test puts other threads' steps before the rest of that
    // thread's, in an order that would otherwise be left to chance.
    void HoldAt(const std::string& fragment) { backend_->HoldAt(fragment); }
    void Release() { backend_->ReleaseHold(); }
    // Polls until a message contains the fragment or the time-out passes.
    bool WaitFor(const std::string& fragment,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    std::string Dump() const;

private:
    std::shared_ptr<CapturingLoggingBackend> backend_;
    std::shared_ptr<LoggingBackend> previous_;
};

}  // namespace testsupport

#endif
