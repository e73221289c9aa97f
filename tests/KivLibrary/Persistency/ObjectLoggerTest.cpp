#include "KivLibrary/Persistency/ObjectLogger.h"

#include "tests/KivLibrary/Persistency/DatabaseStackSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using testsupport::Level;

std::vector<std::string> Chunks(const std::string& text) {
    std::vector<std::string> chunks;
    std::stringstream stream(text);
    std::string chunk;
    while (std::getline(stream, chunk, '\n')) {
        chunks.push_back(chunk);
    }
    return chunks;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += digits[c >> 4];
        text += digits[c & 0x0F];
    }
    return text;
}

std::string DefaultBlockText() {
    return "{m_id={255, 0xFF},m_programmingAttempts=0,m_lockValue=0,"
           "m_fingerPrint={m_serial={[      ] 0x(00 00 00 00 00 00)},m_date={[   ] 0x(00 01 01)},"
           "m_status={1, 0x01}},m_rfsMinVersion={[0001] 0x(30 30 30 31)},"
           "m_IVD={m_state=0,m_data={[" +
           std::string(32, ' ') + "] 0x(" + Hex(std::string(32, '\0')) + ")}}}";
}

std::string LastMessage(const testsupport::LogCapture& capture) {
    const auto messages = capture.Messages();
    return messages.empty() ? std::string() : messages.back().text;
}

TEST(ObjectLoggerTest, ABlockDumpIsSplitIntoChunksWithoutSplittingItems) {
    testsupport::LogCapture capture;
    LogInfo() << LogicalBlock();
    const std::string text = LastMessage(capture);
    const auto chunks = Chunks(text);
    // A chunk is emitted as soon as the next item would take it past 200
    // characters; the next chunk starts with that item.
    ASSERT_EQ(chunks.size(), 3U) << text;
    EXPECT_EQ(chunks[0].size(), 160U);
    EXPECT_EQ(chunks[1].rfind(",m_rfsMinVersion={[0001] 0x(30 30 30 31)},m_IVD={m_state=0", 0), 0U);
    EXPECT_EQ(chunks[2].rfind(",m_data={[", 0), 0U);
    for (const auto& chunk : chunks) {
        EXPECT_LE(chunk.size(), 200U);
    }
    EXPECT_EQ(chunks[0] + chunks[1] + chunks[2], DefaultBlockText());
    EXPECT_NE(text.back(), '\n');
}

std::string DefaultBlockDump() {
    std::string text = DefaultBlockText();
    text.insert(text.find(",m_data="), "\n");
    text.insert(text.find(",m_rfsMinVersion="), "\n");
    return text;
}

TEST(ObjectLoggerTest, FieldsUseTheirFormats) {
    LogicalBlock block;
    block.m_id = 0x2A;
    block.m_programmingAttempts = 65535;
    block.m_fingerPrint.m_serial = {{'A', 'B', 1, 1, 1, 1}};
    block.m_fingerPrint.m_status = 0;
    block.m_rfsMinVersion = {{'1', '2', 0x7F, '~'}};
    block.m_IVD.m_state = 2;
    testsupport::LogCapture capture;
    LogInfo() << block;
    const std::string text = LastMessage(capture);
    EXPECT_NE(text.find("m_id={42, 0x2A}"), std::string::npos) << text;
    EXPECT_NE(text.find("m_programmingAttempts=65535"), std::string::npos);
    EXPECT_NE(text.find("m_serial={[AB    ] 0x(41 42 01 01 01 01)}"), std::string::npos);
    EXPECT_NE(text.find("m_status={0, 0x00}"), std::string::npos);
    EXPECT_NE(text.find("m_rfsMinVersion={[12 ~] 0x(31 32 7F 7E)}"), std::string::npos);
    EXPECT_NE(text.find("m_state=2\n,m_data="), std::string::npos) << text;
}

TEST(ObjectLoggerTest, ListsEcuInfoStatesAndPartitions) {
    testsupport::LogCapture capture;
    LogInfo() << LogicalBlocks{};
    EXPECT_EQ(LastMessage(capture), "Count: 0");
    LogInfo() << LogicalBlocks{LogicalBlock(), LogicalBlock()};
    EXPECT_EQ(LastMessage(capture), "Count: 2\n" + DefaultBlockDump() + "\n" + DefaultBlockDump());
    LogInfo() << EcuInfo::ReprogrammableAndConsistent;
    EXPECT_EQ(LastMessage(capture), "{info=ReprogrammableAndConsistent}");
    LogInfo() << EcuInfo::ProgrammingNotConsistent << " " << static_cast<EcuInfo>(0x00);
    EXPECT_EQ(LastMessage(capture), "{info=ProgrammingNotConsistent} {info=ProgrammingNotConsistent}");
    LogInfo() << SWupdateState::UPDATE_IN_PROGRESS_CLOSE << "/" << PartitionEnum::B;
    EXPECT_EQ(LastMessage(capture), "UPDATE_IN_PROGRESS_CLOSE/B");
    LogInfo() << static_cast<SWupdateState>(11);
    EXPECT_TRUE(capture.Contains(Level::kError, "invalid input state: toString(SWupdateState)"));
    EXPECT_EQ(LastMessage(capture), "");

    std::ostringstream stream;
    stream << EcuInfo::ReprogrammableAndConsistent << "|" << static_cast<EcuInfo>(0x41);
    EXPECT_EQ(stream.str(), "ReprogrammableAndConsistent|ProgrammingNotConsistent");
}

TEST(ObjectLoggerTest, PrintsThePersistedBlocksPerList) {
    testsupport::Sandbox box(true);
    auto database = testsupport::DatabaseStack("db").database;
    LogicalBlock first;
    first.m_id = 1;
    LogicalBlock second;
    second.m_id = 2;
    ASSERT_TRUE(database->WriteInstalledLogicalBlocks({first, second}));

    testsupport::LogCapture capture;
    PrintPersistedLogicalBlocks(database);
    std::vector<std::string> printed;
    for (const auto& message : capture.Messages()) {
        if (message.text.rfind("[INSTALLED]", 0) == 0 || message.text.rfind("[UPDATED]", 0) == 0) {
            EXPECT_EQ(message.level, Level::kInfo);
            printed.push_back(message.text);
        }
    }
    ASSERT_EQ(printed.size(), 2U);
    EXPECT_EQ(printed[0].rfind("[INSTALLED]{m_id={1, 0x01},", 0), 0U) << printed[0];
    EXPECT_EQ(printed[1].rfind("[INSTALLED]{m_id={2, 0x02},", 0), 0U) << printed[1];
    EXPECT_NE(printed[1].find("[ObjectLogger.cpp("), std::string::npos);
    PrintPersistedLogicalBlocks(nullptr);
}

}  // namespace
