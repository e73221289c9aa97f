// Stand-in for the platform's logging client: a level stream that emits one
// line "time app-id LEVEL text" to stderr when it is destroyed.
#ifndef PLATFORM_ARA_LOG_LOGGING_H
#define PLATFORM_ARA_LOG_LOGGING_H

#include <cstdint>
#include <string>

namespace ara {
namespace log {

enum class LogLevel : uint8_t { kOff = 0, kFatal, kError, kWarn, kInfo, kDebug, kVerbose };
enum class LogMode : uint8_t { kRemote = 0x01, kFile = 0x02, kConsole = 0x04 };

class LogStream {
public:
    explicit LogStream(LogLevel level);
    ~LogStream();
    LogStream(LogStream&& other) noexcept;
    LogStream& operator=(LogStream&&) = delete;
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;

    // Emits what was written so far as one line; an empty stream emits nothing.
    void Flush();

    LogStream& operator<<(bool value);
    LogStream& operator<<(uint8_t value);
    LogStream& operator<<(uint16_t value);
    LogStream& operator<<(uint32_t value);
    LogStream& operator<<(uint64_t value);
    LogStream& operator<<(int8_t value);
    LogStream& operator<<(int16_t value);
    LogStream& operator<<(int32_t value);
    LogStream& operator<<(int64_t value);
    LogStream& operator<<(float value);
    LogStream& operator<<(double value);
    LogStream& operator<<(const char* value);

private:
    LogLevel level_;
    bool enabled_;
    std::string text_;
};

void InitLogging(std::string appId, std::string appDescription, LogLevel appDefLogLevel, LogMode logMode,
                 std::string directoryPath);

LogStream LogFatal();
LogStream LogError();
LogStream LogWarn();
LogStream LogInfo();
LogStream LogDebug();
LogStream LogVerbose();

}  // namespace log
}  // namespace ara

#endif
