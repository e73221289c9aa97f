#include "KivLibrary/Logger/Logging.h"

#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <stdexcept>

using testsupport::Level;
using testsupport::LogCapture;

TEST(Logging, MessageEndsWithFileAndLineSuffix) {
    LogCapture capture;
    const int line = __LINE__ + 1;
    LogInfo() << "value " << uint32_t{42} << " " << true << VLMR_FILE_LINE;
    const auto messages = capture.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, Level::kInfo);
    EXPECT_EQ(messages[0].text, "value 42 true[LoggingTest.cpp(" + std::to_string(line) + ")]\n");
}

TEST(Logging, EveryLevelReachesTheBackendAtItsLevel) {
    LogCapture capture;
    LogVerbose() << "v";
    LogDebug() << "d";
    LogInfo() << "i";
    LogWarn() << "w";
    LogError() << "e";
    LogFatal() << "f";
    const auto messages = capture.Messages();
    ASSERT_EQ(messages.size(), 6u);
    const Level expected[] = {Level::kVerbose, Level::kDebug, Level::kInfo, Level::kWarn, Level::kError, Level::kFatal};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(messages[i].level, expected[i]);
    }
}

TEST(Logging, EmptyBackendMutesAndPreviousBackendIsReleased) {
    LogCapture capture;
    SetLoggingBackend(nullptr);
    LogError() << "dropped";
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_NE(GetLoggingBackend(), nullptr);
}

TEST(Logging, ExtractFileNameHandlesBothSeparatorsAndNull) {
    EXPECT_STREQ(ExtractFileName("a/b/c.cpp"), "c.cpp");
    EXPECT_STREQ(ExtractFileName("a/b\\c.cpp"), "c.cpp");
    EXPECT_STREQ(ExtractFileName("plain.cpp"), "plain.cpp");
    EXPECT_STREQ(ExtractFileName("dir/"), "");
    EXPECT_EQ(ExtractFileName(nullptr), nullptr);
    EXPECT_EQ(FormatFileLine(nullptr, 7), "[(7)]\n");
    EXPECT_EQ(FormatFileLine("x.cpp", 12), "[x.cpp(12)]\n");
}

TEST(Logging, TryExecuteTurnsExceptionsIntoLoggedFalse) {
    LogCapture capture;
    EXPECT_TRUE(TryExecute("ok", [] {}));
    EXPECT_FALSE(TryExecute("std", [] { throw std::runtime_error("boom"); }));
    EXPECT_FALSE(TryExecute("other", [] { throw 5; }));
    EXPECT_FALSE(TryExecute("empty", std::function<void()>()));
    EXPECT_TRUE(TryExecuteBool("bool", [] { return true; }));
    EXPECT_FALSE(TryExecuteBool("bool false", [] { return false; }));
    EXPECT_FALSE(TryExecuteBool("bool throw", []() -> bool { throw std::logic_error("bad"); }));

    const auto texts = capture.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "std -> Exception: boom");
    EXPECT_EQ(texts[1], "other -> Unknown Exception");
    EXPECT_EQ(texts[2], std::string("empty -> Exception: ") + std::bad_function_call().what());
    EXPECT_EQ(texts[3], "bool throw -> Exception: bad");
    for (const auto& message : capture.Messages()) {
        EXPECT_EQ(message.level, Level::kError);
    }
}

TEST(Logging, LogInfoOrErrorPicksLevelAndText) {
    LogCapture capture;
    LogInfoOrError(true, "fine", "broken");
    LogInfoOrError(false, "fine", "broken");
    const auto messages = capture.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].level, Level::kInfo);
    EXPECT_EQ(messages[0].text.rfind("fine[Logging.cpp(", 0), 0u);
    EXPECT_EQ(messages[1].level, Level::kError);
    EXPECT_EQ(messages[1].text.rfind("broken[Logging.cpp(", 0), 0u);
}

// The ara::log stand-in writes "time app-id LEVEL text" to stderr; only the
// first InitializeLogging counts.
TEST(AraLogging, InitializeLoggingInstallsOneBackendOnce) {
    auto before = GetLoggingBackend();
    InitializeLogging("Prog", "Velmora_application");
    auto first = GetLoggingBackend();
    InitializeLogging("Other", "ignored");
    EXPECT_EQ(first, GetLoggingBackend());
    EXPECT_NE(first, before);

    testing::internal::CaptureStderr();
    LogInfo() << "hello " << int32_t{-3};
    LogDebug() << "below threshold";
    FlushLogs();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" Prog INFO hello -3\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("below threshold"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    SetLoggingBackend(before);
}
