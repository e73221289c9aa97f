#include "KivLibrary/Persistency/DatabaseItems.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

LogicalBlock SampleBlock() {
    LogicalBlock block;
    block.m_id = 0x21;
    block.m_programmingAttempts = 0x0102;
    block.m_lockValue = 0xA0B0;
    block.m_fingerPrint.m_serial = {{'S', 'E', 'R', 'I', 'A', 'L'}};
    block.m_fingerPrint.m_date = {{0x24, 0x05, 0x17}};
    block.m_fingerPrint.m_status = 0x03;
    block.m_rfsMinVersion = {{'0', '1', '0', '2'}};
    block.m_IVD.m_state = 2;
    for (uint8_t i = 0; i < 32; ++i) {
        block.m_IVD.m_data[i] = static_cast<uint8_t>(0xC0 + i);
    }
    return block;
}

Bytes SampleBlockBytes() {
    Bytes bytes{0x01, 0x01, 0x21, 0x01, 0x02, 0xA0, 0xB0,                 // marker, id, attempts, lock
                0x01, 0x01, 0x01, 0x06, 'S',  'E',  'R',  'I', 'A', 'L',  // fingerprint marker, serial
                0x01, 0x03, 0x24, 0x05, 0x17, 0x03,                       // date, status
                0x01, 0x04, '0',  '1',  '0',  '2',                        // RFS minimum version
                0x01, 0x01, 0x02, 0x01, 0x20};                            // IVD marker, state, data length
    for (uint8_t i = 0; i < 32; ++i) {
        bytes.push_back(static_cast<uint8_t>(0xC0 + i));
    }
    return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(DatabaseItemsTest, ScalarItemsHaveTheirFixedBytes) {
    EXPECT_EQ(EncodeUcmSessionId(0x01020304), (Bytes{0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(EncodeSWupdateState(SWupdateState::INSTALL_COMPLETE), (Bytes{0x00, 0x00, 0x00, 0x04}));
    EXPECT_EQ(EncodeUpdateForPartition(PartitionEnum::B), (Bytes{0x01}));
    EXPECT_EQ(EncodeUpdateForPartition(PartitionEnum::INVALID), (Bytes{0x03}));
    EXPECT_EQ(EncodeEcuInfo(EcuInfo::ReprogrammableAndConsistent), (Bytes{0x01, 0x01, 0x40}));
    EXPECT_EQ(EncodeEcuInfo(EcuInfo::ProgrammingNotConsistent), (Bytes{0x01, 0x01, 0x44}));
    Bytes format{0x01, 0x18};
    for (char c : std::string("Serialization-Layout_1.0")) {
        format.push_back(static_cast<uint8_t>(c));
    }
    EXPECT_EQ(EncodeDatabaseFormat(kDatabaseFormatIdentifier), format);
}

TEST(DatabaseItemsTest, ALogicalBlockListHasItsRecordLayout) {
    EXPECT_EQ(EncodeLogicalBlocks({}), (Bytes{0x01, 0x01, 0x01, 0x00}));
    const Bytes encoded = EncodeLogicalBlocks({SampleBlock(), LogicalBlock()});
    Bytes defaults{0x01, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06, 0,   0,    0,    0,    0,    0,
                   0x01, 0x03, 0x00, 0x01, 0x01, 0x01, 0x01, 0x04, '0',  '0',  '0',  '1', 0x01, 0x01, 0x00, 0x01, 0x20};
    defaults.resize(defaults.size() + 32, 0x00);
    EXPECT_EQ(SampleBlockBytes().size(), 66U);
    EXPECT_EQ(encoded, Concat({{0x01, 0x01, 0x01, 0x02}, SampleBlockBytes(), defaults}));

    const Bytes many = EncodeLogicalBlocks(LogicalBlocks(300));
    ASSERT_EQ(many.size(), 2U + 3U + 300U * 66U);
    EXPECT_EQ(Bytes(many.begin(), many.begin() + 5), (Bytes{0x01, 0x01, 0x02, 0x01, 0x2C}));
}

TEST(DatabaseItemsTest, EveryItemReadsBackUnchanged) {
    LogicalBlocks blocks{SampleBlock(), LogicalBlock(), SampleBlock()};
    blocks[2].m_id = 0x7F;
    LogicalBlocks read{LogicalBlock()};
    ASSERT_TRUE(DecodeLogicalBlocks(EncodeLogicalBlocks(blocks), read));
    EXPECT_EQ(read, blocks);
    ASSERT_TRUE(DecodeLogicalBlocks(EncodeLogicalBlocks({}), read));
    EXPECT_TRUE(read.empty());

    uint32_t session = 0;
    ASSERT_TRUE(DecodeUcmSessionId(EncodeUcmSessionId(0xFFFFFFFE), session));
    EXPECT_EQ(session, 0xFFFFFFFEU);
    SWupdateState state = SWupdateState::IDLE;
    ASSERT_TRUE(DecodeSWupdateState(Bytes{0x00, 0x00, 0x00, 0x0A}, state));
    EXPECT_EQ(state, SWupdateState::INSTALL_COMPLETE_PREPARED4SD);
    // Any stored number is representable, known state or not.
    ASSERT_TRUE(DecodeSWupdateState(Bytes{0xFF, 0xFF, 0xFF, 0xFF}, state));
    EXPECT_EQ(static_cast<uint32_t>(state), 0xFFFFFFFFU);
    PartitionEnum partition = PartitionEnum::A;
    ASSERT_TRUE(DecodeUpdateForPartition(Bytes{0xEE}, partition));
    EXPECT_EQ(static_cast<uint8_t>(partition), 0xEE);
    EcuInfo info = EcuInfo::ReprogrammableAndConsistent;
    ASSERT_TRUE(DecodeEcuInfo(Bytes{0x01, 0x01, 0x44}, info));
    EXPECT_EQ(info, EcuInfo::ProgrammingNotConsistent);
    std::string format;
    ASSERT_TRUE(DecodeDatabaseFormat(EncodeDatabaseFormat(kDatabaseFormatIdentifier), format));
    EXPECT_EQ(format, kDatabaseFormatIdentifier);
}

TEST(DatabaseItemsTest, MarkersOtherThanOneAreSkippedAsTheLayoutSays) {
    EcuInfo info = EcuInfo::ProgrammingNotConsistent;
    EXPECT_TRUE(DecodeEcuInfo(Bytes{0x01, 0x02, 0x40}, info));
    EXPECT_EQ(info, EcuInfo::ProgrammingNotConsistent);

    LogicalBlocks blocks{SampleBlock()};
    EXPECT_TRUE(DecodeLogicalBlocks(Bytes{0x01, 0x02, 0x01, 0x00}, blocks));
    EXPECT_EQ(blocks, LogicalBlocks{SampleBlock()});

    // A serial of length 5 is consumed and dropped; the rest still decodes.
    Bytes element = SampleBlockBytes();
    element[10] = 0x05;
    element.erase(element.begin() + 11);
    ASSERT_TRUE(DecodeLogicalBlocks(Concat({{0x01, 0x01, 0x01, 0x01}, element}), blocks));
    LogicalBlock expected = SampleBlock();
    expected.m_fingerPrint.m_serial = LogicalBlock().m_fingerPrint.m_serial;
    EXPECT_EQ(blocks, LogicalBlocks{expected});

    // Without the fingerprint marker the fingerprint is not read, the RFS
    // version still is; without the IVD marker the element ends there.
    const Bytes noFingerprintNoIvd{0x01, 0x01, 0x01, 0x01,                    // list marker, count
                                   0x01, 0x01, 0x09, 0x00, 0x03, 0x00, 0x04,  // element marker, id, attempts, lock
                                   0x01, 0x00,                                // fingerprint marker 0
                                   0x01, 0x04, 'A',  'B',  'C',  'D',         // RFS minimum version
                                   0x01, 0x00};                               // IVD marker 0
    ASSERT_TRUE(DecodeLogicalBlocks(noFingerprintNoIvd, blocks));
    LogicalBlock partial;
    partial.m_id = 0x09;
    partial.m_programmingAttempts = 3;
    partial.m_lockValue = 4;
    partial.m_rfsMinVersion = {{'A', 'B', 'C', 'D'}};
    EXPECT_EQ(blocks, LogicalBlocks{partial});

    // Bytes after the last element are ignored.
    ASSERT_TRUE(DecodeLogicalBlocks(Concat({EncodeLogicalBlocks({SampleBlock()}), {0xDE, 0xAD}}), blocks));
    EXPECT_EQ(blocks, LogicalBlocks{SampleBlock()});
}

// Another writer may put any width byte in front of a marker, count or
// length: 1, 2 and 4 are that width, every other byte means eight.
TEST(DatabaseItemsTest, WiderFieldsOfAnotherWriterReadTheSame) {
    const Bytes wideBlock = Concat({{0x02, 0x00, 0x01, 0x21, 0x01, 0x02, 0xA0, 0xB0},                 // marker, id, ...
                                    {0x04, 0x00, 0x00, 0x00, 0x01},                                   // fingerprint
                                    {0x00, 0, 0, 0, 0, 0, 0, 0, 0x06, 'S', 'E', 'R', 'I', 'A', 'L'},  // serial
                                    {0x02, 0x00, 0x03, 0x24, 0x05, 0x17, 0x03},                       // date, status
                                    {0x08, 0, 0, 0, 0, 0, 0, 0, 0x04, '0', '1', '0', '2'},            // RFS version
                                    {0x03, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02},  // IVD marker, state
                                    {0x04, 0x00, 0x00, 0x00, 0x20}});         // data length
    const Bytes sample = SampleBlockBytes();
    const Bytes value = Concat({{0x02, 0x00, 0x01, 0x08, 0, 0, 0, 0, 0, 0, 0, 0x02},  // list marker, count
                                wideBlock,
                                Bytes(sample.end() - 32, sample.end()),
                                sample});
    LogicalBlocks blocks;
    ASSERT_TRUE(DecodeLogicalBlocks(value, blocks));
    EXPECT_EQ(blocks, (LogicalBlocks{SampleBlock(), SampleBlock()}));

    EcuInfo info = EcuInfo::ReprogrammableAndConsistent;
    ASSERT_TRUE(DecodeEcuInfo(Bytes{0x04, 0x00, 0x00, 0x00, 0x01, 0x44}, info));
    EXPECT_EQ(info, EcuInfo::ProgrammingNotConsistent);
    std::string format;
    ASSERT_TRUE(DecodeDatabaseFormat(Bytes{0x02, 0x00, 0x02, 'o', 'k'}, format));
    EXPECT_EQ(format, "ok");
}

TEST(DatabaseItemsTest, TruncatedValuesReadAsFalseAndLeaveTheTarget) {
    uint32_t session = 5;
    SWupdateState state = SWupdateState::IDLE;
    PartitionEnum partition = PartitionEnum::A;
    EcuInfo info = EcuInfo::ReprogrammableAndConsistent;
    std::string format = "keep";
    LogicalBlocks blocks{SampleBlock()};
    const LogicalBlocks original = blocks;

    EXPECT_FALSE(DecodeUcmSessionId(Bytes{0x00, 0x00, 0x01}, session));
    EXPECT_FALSE(DecodeSWupdateState(Bytes{}, state));
    EXPECT_FALSE(DecodeUpdateForPartition(Bytes{}, partition));
    EXPECT_FALSE(DecodeEcuInfo(Bytes{0x01, 0x01}, info));
    EXPECT_FALSE(DecodeDatabaseFormat(Bytes{0x01, 0x18, 'S'}, format));
    EXPECT_EQ(session, 5U);
    EXPECT_EQ(state, SWupdateState::IDLE);
    EXPECT_EQ(partition, PartitionEnum::A);
    EXPECT_EQ(info, EcuInfo::ReprogrammableAndConsistent);
    EXPECT_EQ(format, "keep");

    const Bytes full = EncodeLogicalBlocks({SampleBlock(), SampleBlock()});
    for (std::size_t length = 0; length < full.size(); ++length) {
        EXPECT_FALSE(DecodeLogicalBlocks(Bytes(full.begin(), full.begin() + static_cast<long>(length)), blocks))
            << length;
    }
    EXPECT_EQ(blocks, original);

    // A huge count reserves nothing and fails.
    EXPECT_FALSE(DecodeLogicalBlocks(Bytes{0x01, 0x01, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, blocks));
    EXPECT_FALSE(DecodeLogicalBlocks(Concat({{0x01, 0x01, 0x04, 0x10, 0x00, 0x00, 0x00}, SampleBlockBytes()}), blocks));
    // An element of an unknown layout cannot be skipped.
    Bytes unknownElement = EncodeLogicalBlocks({SampleBlock()});
    unknownElement[5] = 0x02;
    EXPECT_FALSE(DecodeLogicalBlocks(unknownElement, blocks));
    EXPECT_EQ(blocks, original);
}

TEST(DatabaseItemsTest, RandomGarbageNeverCrashes) {
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> byte(0, 255);
    const Bytes valid = EncodeLogicalBlocks({SampleBlock(), LogicalBlock(), SampleBlock()});
    for (int round = 0; round < 3000; ++round) {
        Bytes data;
        if (round % 2 == 0) {
            data.resize(static_cast<std::size_t>(round % 97));
            for (auto& b : data) {
                b = static_cast<uint8_t>(byte(random));
            }
        } else {
            data = valid;
            for (int flips = 0; flips < 3; ++flips) {
                data[static_cast<std::size_t>(random() % data.size())] = static_cast<uint8_t>(byte(random));
            }
            data.resize(static_cast<std::size_t>(random() % (data.size() + 1)));
        }
        LogicalBlocks blocks;
        EcuInfo info{};
        std::string format;
        uint32_t session = 0;
        (void)DecodeLogicalBlocks(data, blocks);
        (void)DecodeEcuInfo(data, info);
        (void)DecodeDatabaseFormat(data, format);
        (void)DecodeUcmSessionId(data, session);
        EXPECT_LE(blocks.size(), data.size() / 13);
        EXPECT_LE(format.size(), data.size());
    }
}

}  // namespace
