#include "platform/ara/log/logging.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace ara {
namespace log {
namespace {

struct Settings {
    std::mutex mutex;
    std::string appId{"----"};
    std::atomic<LogLevel> threshold{LogLevel::kInfo};
};

Settings& GetSettings() {
    static Settings settings;
    return settings;
}

const char* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::kFatal:
            return "FATAL";
        case LogLevel::kError:
            return "ERROR";
        case LogLevel::kWarn:
            return "WARN";
        case LogLevel::kInfo:
            return "INFO";
        case LogLevel::kDebug:
            return "DEBUG";
        case LogLevel::kVerbose:
            return "VERBOSE";
        case LogLevel::kOff:
            break;
    }
    return "OFF";
}

void Emit(LogLevel level, const std::string& text) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &parts);

    Settings& settings = GetSettings();
    std::lock_guard<std::mutex> lock(settings.mutex);
    std::fprintf(stderr, "%s.%03lld %s %s %s\n", stamp, static_cast<long long>(millis), settings.appId.c_str(),
                 LevelName(level), text.c_str());
    std::fflush(stderr);
}

}  // namespace

LogStream::LogStream(LogLevel level)
    : level_(level),
      enabled_(level != LogLevel::kOff &&
               static_cast<uint8_t>(level) <= static_cast<uint8_t>(GetSettings().threshold.load())) {}

LogStream::LogStream(LogStream&& other) noexcept
    : level_(other.level_), enabled_(other.enabled_), text_(std::move(other.text_)) {
    other.text_.clear();
}

LogStream::~LogStream() { Flush(); }

void LogStream::Flush() {
    if (!enabled_ || text_.empty()) {
        return;
    }
    Emit(level_, text_);
    text_.clear();
}

LogStream& LogStream::operator<<(bool value) {
    if (enabled_)
        text_ += value ? "true" : "false";
    return *this;
}
LogStream& LogStream::operator<<(uint8_t value) { return *this << static_cast<uint64_t>(value); }
LogStream& LogStream::operator<<(uint16_t value) { return *this << static_cast<uint64_t>(value); }
LogStream& LogStream::operator<<(uint32_t value) { return *this << static_cast<uint64_t>(value); }
LogStream& LogStream::operator<<(uint64_t value) {
    if (enabled_)
        text_ += std::to_string(value);
    return *this;
}
LogStream& LogStream::operator<<(int8_t value) { return *this << static_cast<int64_t>(value); }
LogStream& LogStream::operator<<(int16_t value) { return *this << static_cast<int64_t>(value); }
LogStream& LogStream::operator<<(int32_t value) { return *this << static_cast<int64_t>(value); }
LogStream& LogStream::operator<<(int64_t value) {
    if (enabled_)
        text_ += std::to_string(value);
    return *this;
}
LogStream& LogStream::operator<<(float value) { return *this << static_cast<double>(value); }
LogStream& LogStream::operator<<(double value) {
    if (enabled_) {
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "%g", value);
        text_ += buffer;
    }
    return *this;
}
LogStream& LogStream::operator<<(const char* value) {
    if (enabled_)
        text_ += value != nullptr ? value : "(null)";
    return *this;
}

void InitLogging(std::string appId, std::string /*appDescription*/, LogLevel appDefLogLevel, LogMode /*logMode*/,
                 std::string /*directoryPath*/) {
    Settings& settings = GetSettings();
    std::lock_guard<std::mutex> lock(settings.mutex);
    settings.appId = std::move(appId);
    settings.threshold = appDefLogLevel;
}

LogStream LogFatal() { return LogStream(LogLevel::kFatal); }
LogStream LogError() { return LogStream(LogLevel::kError); }
LogStream LogWarn() { return LogStream(LogLevel::kWarn); }
LogStream LogInfo() { return LogStream(LogLevel::kInfo); }
LogStream LogDebug() { return LogStream(LogLevel::kDebug); }
LogStream LogVerbose() { return LogStream(LogLevel::kVerbose); }

}  // namespace log
}  // namespace ara
