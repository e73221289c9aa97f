#include "KivLibrary/Helper/ByteFormat.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sequence(size_t count) {
    Bytes bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<uint8_t>(i));
    }
    return bytes;
}

std::string Logged(const Bytes& bytes) {
    testsupport::LogCapture capture;
    LogInfo() << bytes;
    const auto texts = capture.Texts();
    return texts.size() == 1 ? texts.front() : "<" + std::to_string(texts.size()) + " messages>";
}

TEST(ByteFormatTest, HexForms) {
    EXPECT_EQ(ToHexString({0x01, 0xAB}), "{v_size=2, 0x(01 AB)}");
    EXPECT_EQ(ToHexString({}), "{v_size=0, 0x()}");
    EXPECT_EQ(ToHexString({0x0A}), "{v_size=1, 0x(0A)}");

    EXPECT_EQ(BytesToHexString({0x00, 0x0F, 0xF0, 0xFF}), "000FF0FF");
    EXPECT_EQ(BytesToHexString({}), "");
    EXPECT_EQ(BytesToPrefixedHexString({}), "");
    EXPECT_EQ(BytesToPrefixedHexString({0x00}), "0x00");
    EXPECT_EQ(BytesToPrefixedHexString({0xDE, 0xAD}), "0xDEAD");
}

TEST(ByteFormatTest, HexDump) {
    const uint8_t data[] = {0x01, 0xFE};
    EXPECT_EQ(ToHexDump("blk", data, 2), "blk  size=2 0x[01 FE ]");
    EXPECT_EQ(ToHexDump("blk", data, 0), "blk  size=0 0x[]");
    EXPECT_EQ(ToHexDump("blk", nullptr, 5), "blk  size=5 0x[]");
}

TEST(ByteFormatTest, PrintableReplacesControlAndHighBytes) {
    EXPECT_EQ(ToPrintableString({'A', 31, 32, 126, 127, 0xFF, 0x00, 'z'}), "{v_size=8, [A  ~   z]}");
    EXPECT_EQ(ToPrintableString({}), "{v_size=0, []}");
}

TEST(ByteFormatTest, WriteHexByteRestoresStream) {
    std::ostringstream stream;
    WriteHexByte(stream, 0x0A);
    WriteHexByte(stream, 0xBC);
    stream << ' ' << 255 << ' ' << 1e10;
    EXPECT_EQ(stream.str(), "0ABC 255 1e+10");
}

TEST(ByteFormatTest, LoggingStreamShowsAtMostTenBytes) {
    EXPECT_EQ(Logged({}), "size: 0, data: {}");
    EXPECT_EQ(Logged({0x0A, 0xFF}), "size: 2, data: {[0A][FF]}");
    EXPECT_EQ(Logged(Sequence(10)), "size: 10, data: {[00][01][02][03][04][05][06][07][08][09]}");
    EXPECT_EQ(Logged(Sequence(11)), "size: 11, data: {[00][01][02][03][04][05][06][07][08][09]...}");
}

TEST(ByteFormatTest, FromBigEndianAcceptedLengths) {
    EXPECT_EQ(FromBigEndian({}), 0u);
    EXPECT_EQ(FromBigEndian({0xAB}), 0xABu);
    EXPECT_EQ(FromBigEndian({0x12, 0x34}), 0x1234u);
    EXPECT_EQ(FromBigEndian({0x12, 0x34, 0x56}), 0x123456u);
    EXPECT_EQ(FromBigEndian({0xFF, 0xFE, 0xFD, 0xFC}), 0xFFFEFDFCu);
    EXPECT_EQ(FromBigEndian({1, 2, 3, 4, 5}), 0u);
    EXPECT_EQ(FromBigEndian({1, 2, 3, 4, 5, 6}), 0x010203040506u);
    EXPECT_EQ(FromBigEndian({1, 2, 3, 4, 5, 6, 7}), 0u);
    EXPECT_EQ(FromBigEndian({0xFF, 2, 3, 4, 5, 6, 7, 8}), 0xFF02030405060708u);
    EXPECT_EQ(FromBigEndian(Bytes(9, 1)), 0u);
    Bytes long257(257, 0x11);
    long257[0] = 0x7C;
    EXPECT_EQ(FromBigEndian(long257), 0x7Cu);
    EXPECT_EQ(FromBigEndian(Bytes(256, 0x11)), 0u);
}

TEST(ByteFormatTest, BigEndianRoundTrips) {
    EXPECT_EQ(Uint32ToBigEndian(0x12345678u), (Bytes{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Uint16ToBigEndian(0xA0B1u), (Bytes{0xA0, 0xB1}));
    EXPECT_EQ(ReadUint32BigEndian({0xFF, 0x00, 0x80, 0x01, 0x99}), 0xFF008001u);
    EXPECT_EQ(ReadUint16BigEndian({0x80, 0x01, 0x99}), 0x8001u);
    EXPECT_EQ(ReadUint32BigEndian(Uint32ToBigEndian(0xCAFEBABEu)), 0xCAFEBABEu);
    EXPECT_EQ(BytesToUint16(0xFF, 0x01), 0xFF01u);
    EXPECT_EQ(HighNibble(0xA5), 0x0A);
    EXPECT_EQ(LowNibble(0xA5), 0x05);
    EXPECT_EQ(HighNibble(0x0F), 0x00);
}

TEST(ByteFormatTest, AppendAndPad) {
    EXPECT_EQ(AppendBytes({1, 2}, {3}), (Bytes{1, 2, 3}));
    EXPECT_EQ(AppendBytes({}, {}), Bytes{});
    EXPECT_EQ(PadBytes({1}, 0xFF, 3), (Bytes{1, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(PadBytes({1}, 0xFF, 0), (Bytes{1}));
}

TEST(ByteFormatTest, ReplaceAllNeverRescansReplacement) {
    std::string text = "aXbXc";
    EXPECT_EQ(ReplaceAll(text, "X", "XX"), "aXXbXXc");
    EXPECT_EQ(text, "aXXbXXc");

    text = "aaa";
    EXPECT_EQ(ReplaceAll(text, "a", "ba"), "bababa");
    text = "abab";
    EXPECT_EQ(ReplaceAll(text, "ab", ""), "");
    text = "same";
    EXPECT_EQ(ReplaceAll(text, "", "x"), "same");
}

TEST(ByteFormatTest, TrimClassicWhitespace) {
    std::string text = " \t\n\v\f\r";
    Trim(text);
    EXPECT_EQ(text, "");

    text = " \tin side\r\n";
    TrimLeft(text);
    EXPECT_EQ(text, "in side\r\n");
    TrimRight(text);
    EXPECT_EQ(text, "in side");

    text = "\xA0x\xA0";  // not classic whitespace
    Trim(text);
    EXPECT_EQ(text, "\xA0x\xA0");
}

TEST(ByteFormatTest, TryExecuteSilently) {
    testsupport::LogCapture capture;
    bool ran = false;
    EXPECT_TRUE(TryExecuteSilently([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(TryExecuteSilently([] { throw std::runtime_error("x"); }));
    EXPECT_FALSE(TryExecuteSilently([] { throw 5; }));
    EXPECT_TRUE(capture.Messages().empty());
}

}  // namespace
