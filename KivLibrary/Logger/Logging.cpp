#include "KivLibrary/Logger/Logging.h"

#include "platform/ara/log/logging.h"

#include <cstring>

namespace {

class AraLoggingAdapter : public LoggingAdapter {
public:
    explicit AraLoggingAdapter(ara::log::LogStream (*levelFunction)()) : stream_(levelFunction()) {}

    void Commit() override {}
    LoggingAdapter& Write(bool value) override { return Put(value); }
    LoggingAdapter& Write(uint8_t value) override { return Put(value); }
    LoggingAdapter& Write(uint16_t value) override { return Put(value); }
    LoggingAdapter& Write(uint32_t value) override { return Put(value); }
    LoggingAdapter& Write(uint64_t value) override { return Put(value); }
    LoggingAdapter& Write(int8_t value) override { return Put(value); }
    LoggingAdapter& Write(int16_t value) override { return Put(value); }
    LoggingAdapter& Write(int32_t value) override { return Put(value); }
    LoggingAdapter& Write(int64_t value) override { return Put(value); }
    LoggingAdapter& Write(float value) override { return Put(value); }
    LoggingAdapter& Write(double value) override { return Put(value); }
    LoggingAdapter& Write(const char* value) override { return Put(value); }
    LoggingAdapter& Write(const std::string& value) override { return Put(value.c_str()); }

private:
    template <typename T>
    LoggingAdapter& Put(T value) {
        stream_ << value;
        return *this;
    }

    ara::log::LogStream stream_;
};

std::shared_ptr<LoggingBackend> MutedSingleton() {
    static const std::shared_ptr<LoggingBackend> muted = std::make_shared<MutedLoggingBackend>();
    return muted;
}

std::shared_ptr<LoggingBackend>& Backend() {
    static std::shared_ptr<LoggingBackend> backend = MutedSingleton();
    return backend;
}

// Installs the muted backend during static initialisation.
const bool backendInstalled = (Backend(), true);

LoggingStream MakeAraStream(ara::log::LogStream (*levelFunction)()) {
    return LoggingStream(std::make_shared<AraLoggingAdapter>(levelFunction));
}

}  // namespace

LoggingStream::LoggingStream(std::shared_ptr<LoggingAdapter> adapter) : adapter_(std::move(adapter)) {}

LoggingStream::~LoggingStream() {
    if (adapter_) {
        adapter_->Commit();
        adapter_.reset();
    }
}

LoggingStream& LoggingStream::operator<<(bool value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(uint8_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(uint16_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(uint32_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(uint64_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(int8_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(int16_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(int32_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(int64_t value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(float value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(double value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(const char* value) { return Put(value); }
LoggingStream& LoggingStream::operator<<(const std::string& value) {
    if (adapter_) {
        adapter_->Write(value);
    }
    return *this;
}

AraLoggingBackend::AraLoggingBackend(const std::string& applicationId, const std::string& description) {
    ara::log::InitLogging(applicationId, description, ara::log::LogLevel::kInfo, ara::log::LogMode::kRemote, "");
}

LoggingStream AraLoggingBackend::Verbose() { return MakeAraStream(&ara::log::LogVerbose); }
LoggingStream AraLoggingBackend::Debug() { return MakeAraStream(&ara::log::LogDebug); }
LoggingStream AraLoggingBackend::Info() { return MakeAraStream(&ara::log::LogInfo); }
LoggingStream AraLoggingBackend::Warn() { return MakeAraStream(&ara::log::LogWarn); }
LoggingStream AraLoggingBackend::Error() { return MakeAraStream(&ara::log::LogError); }
LoggingStream AraLoggingBackend::Fatal() { return MakeAraStream(&ara::log::LogFatal); }

void AraLoggingBackend::Flush() {
    for (auto levelFunction : {&ara::log::LogVerbose, &ara::log::LogDebug, &ara::log::LogInfo, &ara::log::LogWarn,
                               &ara::log::LogError, &ara::log::LogFatal}) {
        ara::log::LogStream stream = levelFunction();
        stream.Flush();
    }
}

LoggingStream LogVerbose() { return GetLoggingBackend()->Verbose(); }
LoggingStream LogDebug() { return GetLoggingBackend()->Debug(); }
LoggingStream LogInfo() { return GetLoggingBackend()->Info(); }
LoggingStream LogWarn() { return GetLoggingBackend()->Warn(); }
LoggingStream LogError() { return GetLoggingBackend()->Error(); }
LoggingStream LogFatal() { return GetLoggingBackend()->Fatal(); }
void FlushLogs() { GetLoggingBackend()->Flush(); }

std::shared_ptr<LoggingBackend> GetLoggingBackend() {
    (void)backendInstalled;
    return Backend();
}

void SetLoggingBackend(std::shared_ptr<LoggingBackend> backend) {
    Backend() = backend ? std::move(backend) : MutedSingleton();
}

void InitializeLogging(const std::string& applicationId, const std::string& description) {
    static const std::shared_ptr<LoggingBackend> ara = std::make_shared<AraLoggingBackend>(applicationId, description);
    SetLoggingBackend(ara);
}

const char* ExtractFileName(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    const char* name = path;
    for (const char* cursor = path; *cursor != '\0'; ++cursor) {
        if (*cursor == '/' || *cursor == '\\') {
            name = cursor + 1;
        }
    }
    return name;
}

std::string FormatFileLine(const char* file, int line) {
    std::string text = "[";
    if (file != nullptr) {
        text += file;
    }
    text += "(" + std::to_string(line) + ")]\n";
    return text;
}

bool TryExecute(const std::string& name, const std::function<void()>& function) {
    return TryExecuteBool(name, [&function]() {
        function();
        return true;
    });
}

bool TryExecuteBool(const std::string& name, const std::function<bool()>& function) {
    try {
        return function();
    } catch (const std::exception& e) {
        LogError() << name << " -> Exception: " << e.what();
    } catch (...) {
        LogError() << name << " -> Unknown Exception";
    }
    return false;
}

void LogInfoOrError(bool ok, const std::string& okText, const std::string& errorText) {
    if (ok) {
        LogInfo() << okText << VLMR_FILE_LINE;
    } else {
        LogError() << errorText << VLMR_FILE_LINE;
    }
}
