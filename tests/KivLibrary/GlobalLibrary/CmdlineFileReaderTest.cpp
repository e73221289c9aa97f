#include "KivLibrary/GlobalLibrary/CmdlineFileReader.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::Level;

class CmdlineFileReaderTest : public ::testing::Test {
protected:
    std::string Write(const std::string& content) { return box.WriteFile("proc/cmdline", content); }

    testsupport::Sandbox box;
    testsupport::LogCapture capture;
};

TEST_F(CmdlineFileReaderTest, ReadFileReturnsWholeContent) {
    const std::string content = "a=1 b=2\nsecond line\n";
    std::string read = "old";
    ASSERT_TRUE(CmdlineFileReader::ReadFile(Write(content), read));
    EXPECT_EQ(read, content);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Read cmdline file: " + content));
}

TEST_F(CmdlineFileReaderTest, MissingFileKeepsOutParameters) {
    const std::string path = box.Path("no/such/cmdline");
    std::string value = "default";
    EXPECT_FALSE(CmdlineFileReader::ReadFile(path, value));
    EXPECT_FALSE(CmdlineFileReader::ReadHostname(path, value));
    EXPECT_FALSE(CmdlineFileReader::ReadGlobalAbFlag(path, value));
    EXPECT_EQ(value, "default");
    EXPECT_EQ(capture.Count("cmdline file is missing"), 3u);
    EXPECT_EQ(capture.Count("loading cmdline file failed["), 2u);
    // This one message carries no file-and-line suffix.
    for (const auto& message : capture.Messages()) {
        if (message.text.find("cmdline file is missing") != std::string::npos) {
            EXPECT_EQ(message.text, "cmdline file is missing");
            EXPECT_EQ(message.level, Level::kError);
        }
    }
}

TEST_F(CmdlineFileReaderTest, ReadsBothEntries) {
    const std::string path = Write("console=ttyS0 hostname=vm1 global_ab_flag=b quiet\n");
    std::string hostname;
    std::string flag;
    ASSERT_TRUE(CmdlineFileReader::ReadHostname(path, hostname));
    ASSERT_TRUE(CmdlineFileReader::ReadGlobalAbFlag(path, flag));
    EXPECT_EQ(hostname, "vm1");
    EXPECT_EQ(flag, "b");
    EXPECT_TRUE(capture.Contains(Level::kInfo, "reading cmdline file from: " + path + "["));
    EXPECT_TRUE(capture.Contains(Level::kDebug, "read hostname: vm1["));
    EXPECT_TRUE(capture.Contains(Level::kDebug, "read ab_flag: b["));
}

TEST_F(CmdlineFileReaderTest, HostnameValueEndsAtAnySeparatorOrEndOfText) {
    const std::pair<const char*, const char*> cases[] = {
        {"root=/dev/sda hostname=vm_java\n", "vm_java"},
        {"root=/dev/sda hostname=vm_java", "vm_java"},
        {"hostname=vm_java\r\n", "vm_java"},
        {"hostname=vm_java\tquiet", "vm_java"},
        {"hostname=vm_java\nnext=1", "vm_java"},
        {"hostname= quiet", ""},
        {"hostname=\tquiet", ""},
        {"xhostname=vm_adaptive hostname=other", "vm_adaptive"},  // plain substring search, first match
    };
    for (const auto& c : cases) {
        std::string hostname = "default";
        EXPECT_TRUE(CmdlineFileReader::ReadHostname(Write(c.first), hostname)) << c.first;
        EXPECT_EQ(hostname, c.second) << c.first;
    }
}

TEST_F(CmdlineFileReaderTest, HostnameWithoutValueAtLineEndIsMissing) {
    for (const char* content : {"quiet hostname=", "quiet hostname=\n", "hostname=\r\nquiet"}) {
        capture.Clear();
        std::string hostname = "qemu";
        EXPECT_FALSE(CmdlineFileReader::ReadHostname(Write(content), hostname)) << content;
        EXPECT_EQ(hostname, "qemu");
        EXPECT_TRUE(capture.Contains(Level::kError, "missing value for hostname[")) << content;
    }
}

TEST_F(CmdlineFileReaderTest, FlagIsOneCharacter) {
    const std::pair<const char*, const char*> cases[] = {
        {"global_ab_flag=B2 quiet", "B"},
        {"global_ab_flag=a", "a"},
        {"quiet global_ab_flag=", ""},
        {"my_global_ab_flag=b", "b"},
    };
    for (const auto& c : cases) {
        std::string flag = "default";
        EXPECT_TRUE(CmdlineFileReader::ReadGlobalAbFlag(Write(c.first), flag)) << c.first;
        EXPECT_EQ(flag, c.second) << c.first;
    }
}

TEST_F(CmdlineFileReaderTest, AbsentEntriesReportTheirKey) {
    const std::string path = Write("console=ttyS0 quiet\n");
    std::string value = "default";
    EXPECT_FALSE(CmdlineFileReader::ReadHostname(path, value));
    EXPECT_TRUE(capture.Contains(Level::kError, "hostname key doesn't exist["));
    EXPECT_FALSE(CmdlineFileReader::ReadGlobalAbFlag(path, value));
    EXPECT_TRUE(capture.Contains(Level::kError, "global_ab_flag key doesn't exist["));
    EXPECT_EQ(value, "default");

    // Every call reads the file again.
    box.WriteFile("proc/cmdline", "hostname=vm1 global_ab_flag=a");
    EXPECT_TRUE(CmdlineFileReader::ReadHostname(path, value));
    EXPECT_EQ(value, "vm1");
    EXPECT_TRUE(CmdlineFileReader::ReadGlobalAbFlag(path, value));
    EXPECT_EQ(value, "a");
}

}  // namespace
