// Logging front end: a level function returns a LoggingStream, values go in
// with <<, and the message leaves when the stream is destroyed. The backend is
// exchangeable so tests can capture messages and nothing logs before main.
#ifndef KIVLIBRARY_LOGGER_LOGGING_H
#define KIVLIBRARY_LOGGER_LOGGING_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class LoggingAdapter {
public:
    virtual ~LoggingAdapter() = default;
    virtual void Commit() = 0;
    virtual LoggingAdapter& Write(bool value) = 0;
    virtual LoggingAdapter& Write(uint8_t value) = 0;
    virtual LoggingAdapter& Write(uint16_t value) = 0;
    virtual LoggingAdapter& Write(uint32_t value) = 0;
    virtual LoggingAdapter& Write(uint64_t value) = 0;
    virtual LoggingAdapter& Write(int8_t value) = 0;
    virtual LoggingAdapter& Write(int16_t value) = 0;
    virtual LoggingAdapter& Write(int32_t value) = 0;
    virtual LoggingAdapter& Write(int64_t value) = 0;
    virtual LoggingAdapter& Write(float value) = 0;
    virtual LoggingAdapter& Write(double value) = 0;
    virtual LoggingAdapter& Write(const char* value) = 0;
    virtual LoggingAdapter& Write(const std::string& value) = 0;
};

class LoggingStream {
public:
    explicit LoggingStream(std::shared_ptr<LoggingAdapter> adapter = nullptr);
    ~LoggingStream();
    LoggingStream(const LoggingStream&) = default;
    LoggingStream(LoggingStream&&) = default;
    LoggingStream& operator=(const LoggingStream&) = default;
    LoggingStream& operator=(LoggingStream&&) = default;

    LoggingStream& operator<<(bool value);
    LoggingStream& operator<<(uint8_t value);
    LoggingStream& operator<<(uint16_t value);
    LoggingStream& operator<<(uint32_t value);
    LoggingStream& operator<<(uint64_t value);
    LoggingStream& operator<<(int8_t value);
    LoggingStream& operator<<(int16_t value);
    LoggingStream& operator<<(int32_t value);
    LoggingStream& operator<<(int64_t value);
    LoggingStream& operator<<(float value);
    LoggingStream& operator<<(double value);
    LoggingStream& operator<<(const char* value);
    LoggingStream& operator<<(const std::string& value);

    const std::shared_ptr<LoggingAdapter>& Adapter() const { return adapter_; }

private:
    template <typename T>
    LoggingStream& Put(T value) {
        if (adapter_) {
            adapter_->Write(value);
        }
        return *this;
    }

    std::shared_ptr<LoggingAdapter> adapter_;
};

class LoggingBackend {
public:
    virtual ~LoggingBackend() = default;
    virtual LoggingStream Verbose() = 0;
    virtual LoggingStream Debug() = 0;
    virtual LoggingStream Info() = 0;
    virtual LoggingStream Warn() = 0;
    virtual LoggingStream Error() = 0;
    virtual LoggingStream Fatal() = 0;
    virtual void Flush() = 0;
};

// Drops every message; in place from static initialisation until main
// installs the real backend.
class MutedLoggingBackend : public LoggingBackend {
public:
    LoggingStream Verbose() override { return LoggingStream(); }
    LoggingStream Debug() override { return LoggingStream(); }
    LoggingStream Info() override { return LoggingStream(); }
    LoggingStream Warn() override { return LoggingStream(); }
    LoggingStream Error() override { return LoggingStream(); }
    LoggingStream Fatal() override { return LoggingStream(); }
    void Flush() override {}
};

// Forwards to the platform's ara::log.
class AraLoggingBackend : public LoggingBackend {
public:
    AraLoggingBackend(const std::string& applicationId, const std::string& description);
    LoggingStream Verbose() override;
    LoggingStream Debug() override;
    LoggingStream Info() override;
    LoggingStream Warn() override;
    LoggingStream Error() override;
    LoggingStream Fatal() override;
    void Flush() override;
};

LoggingStream LogVerbose();
LoggingStream LogDebug();
LoggingStream LogInfo();
LoggingStream LogWarn();
LoggingStream LogError();
LoggingStream LogFatal();
void FlushLogs();

std::shared_ptr<LoggingBackend> GetLoggingBackend();
// Not for use while other threads log; an empty pointer mutes logging.
void SetLoggingBackend(std::shared_ptr<LoggingBackend> backend);
// Installs the ara::log backend; only the first call's arguments count.
void InitializeLogging(const std::string& applicationId, const std::string& description);

const char* ExtractFileName(const char* path);
std::string FormatFileLine(const char* file, int line);

bool TryExecute(const std::string& name, const std::function<void()>& function);
bool TryExecuteBool(const std::string& name, const std::function<bool()>& function);

void LogInfoOrError(bool ok, const std::string& okText, const std::string& errorText);

// The "[file(line)]" suffix that ends a message.
#define VLMR_FILE_LINE FormatFileLine(ExtractFileName(__FILE__), __LINE__)

#endif
