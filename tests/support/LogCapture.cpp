#include "tests/support/LogCapture.h"

#include <thread>

namespace testsupport {
namespace {

class CapturingAdapter : public LoggingAdapter {
public:
    CapturingAdapter(std::shared_ptr<CapturingLoggingBackend> owner, Level level)
        : owner_(std::move(owner)), level_(level) {}
    ~CapturingAdapter() override { owner_->Record(level_, std::move(text_)); }

    void Commit() override {}
    LoggingAdapter& Write(bool value) override { return Append(value ? "true" : "false"); }
    LoggingAdapter& Write(uint8_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(uint16_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(uint32_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(uint64_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(int8_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(int16_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(int32_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(int64_t value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(float value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(double value) override { return Append(std::to_string(value)); }
    LoggingAdapter& Write(const char* value) override { return Append(value != nullptr ? value : "(null)"); }
    LoggingAdapter& Write(const std::string& value) override { return Append(value); }

private:
    LoggingAdapter& Append(const std::string& value) {
        text_ += value;
        return *this;
    }

    std::shared_ptr<CapturingLoggingBackend> owner_;
    Level level_;
    std::string text_;
};

}  // namespace

LoggingStream CapturingLoggingBackend::Make(Level level) {
    return LoggingStream(std::make_shared<CapturingAdapter>(shared_from_this(), level));
}

std::vector<LogMessage> CapturingLoggingBackend::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void CapturingLoggingBackend::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

void CapturingLoggingBackend::Record(Level level, std::string text) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool hold = !holdAt_.empty() && text.find(holdAt_) != std::string::npos;
    messages_.push_back({level, std::move(text)});
    if (hold) {
        holdAt_.clear();
        holding_ = true;
        released_.wait_for(lock, std::chrono::seconds(10), [this] { return !holding_; });
        holding_ = false;
    }
}

void CapturingLoggingBackend::HoldAt(std::string fragment) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdAt_ = std::move(fragment);
}

void CapturingLoggingBackend::ReleaseHold() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holdAt_.clear();
        holding_ = false;
    }
    released_.notify_all();
}

LogCapture::LogCapture() : backend_(std::make_shared<CapturingLoggingBackend>()), previous_(GetLoggingBackend()) {
    SetLoggingBackend(backend_);
}

LogCapture::~LogCapture() {
    backend_->ReleaseHold();
    SetLoggingBackend(previous_);
}

std::vector<std::string> LogCapture::Texts() const {
    std::vector<std::string> texts;
    for (const auto& message : Messages()) {
        texts.push_back(message.text);
    }
    return texts;
}

bool LogCapture::Contains(const std::string& fragment) const { return Count(fragment) > 0; }

bool LogCapture::Contains(Level level, const std::string& fragment) const {
    for (const auto& message : Messages()) {
        if (message.level == level && message.text.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

size_t LogCapture::Count(const std::string& fragment) const {
    size_t count = 0;
    for (const auto& message : Messages()) {
        if (message.text.find(fragment) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

bool LogCapture::WaitFor(const std::string& fragment, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Contains(fragment)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string LogCapture::Dump() const {
    std::string all;
    for (const auto& message : Messages()) {
        all += message.text;
        if (all.empty() || all.back() != '\n') {
            all += '\n';
        }
    }
    return all;
}

}  // namespace testsupport
