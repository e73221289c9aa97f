#include "KivLibrary/Persistency/Serialization.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes Encoded(const T& value) {
    return EncodeValue(value);
}

Bytes Length(uint64_t value) {
    Bytes bytes;
    Serializer(bytes).WriteLength(value);
    return bytes;
}

TEST(SerializationTest, LengthFieldsUseTheSmallestWidth) {
    EXPECT_EQ(Length(0), (Bytes{0x01, 0x00}));
    EXPECT_EQ(Length(255), (Bytes{0x01, 0xFF}));
    EXPECT_EQ(Length(256), (Bytes{0x02, 0x01, 0x00}));
    EXPECT_EQ(Length(65535), (Bytes{0x02, 0xFF, 0xFF}));
    EXPECT_EQ(Length(65536), (Bytes{0x04, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Length(4294967295ULL), (Bytes{0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Length(4294967296ULL), (Bytes{0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
}

TEST(SerializationTest, UnknownWidthBytesMeanEightBytes) {
    for (uint8_t width : {0x00, 0x03, 0x08, 0x09, 0xFF}) {
        const Bytes bytes{width, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02};
        Deserializer reader(bytes);
        uint64_t value = 0;
        ASSERT_TRUE(reader.ReadLength(value)) << int(width);
        EXPECT_EQ(value, 0x0102U);
        EXPECT_EQ(reader.Remaining(), 0U);
    }
}

TEST(SerializationTest, FixedWidthValuesAreBigEndian) {
    EXPECT_EQ(Encoded(true), (Bytes{0xFF}));
    EXPECT_EQ(Encoded(false), (Bytes{0x00}));
    EXPECT_EQ(Encoded(static_cast<int8_t>(-1)), (Bytes{0xFF}));
    EXPECT_EQ(Encoded(static_cast<int16_t>(-2)), (Bytes{0xFF, 0xFE}));
    EXPECT_EQ(Encoded(static_cast<int32_t>(-1)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encoded(static_cast<uint32_t>(0x12345678)), (Bytes{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Encoded(static_cast<uint64_t>(0x0102030405060708ULL)),
              (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));
    EXPECT_EQ(Encoded(1.0f), (Bytes{0x3F, 0x80, 0x00, 0x00}));
    EXPECT_EQ(Encoded(1.0), (Bytes{0x3F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(SerializationTest, StringsAndByteVectorsCarryALength) {
    EXPECT_EQ(Encoded(std::string()), (Bytes{0x01, 0x00}));
    EXPECT_EQ(Encoded(std::string("abc")), (Bytes{0x01, 0x03, 0x61, 0x62, 0x63}));
    const Bytes long300 = Encoded(std::string(300, 'x'));
    ASSERT_EQ(long300.size(), 303U);
    EXPECT_EQ(Bytes(long300.begin(), long300.begin() + 3), (Bytes{0x02, 0x01, 0x2C}));
    EXPECT_EQ(Encoded(Bytes()), (Bytes{0x01, 0x00}));
    EXPECT_EQ(Encoded(Bytes{0x00, 0x00, 0x00, 0x2A}), (Bytes{0x01, 0x04, 0x00, 0x00, 0x00, 0x2A}));
    EXPECT_EQ(EncodedSize(std::string(300, 'x')), 303U);
}

TEST(SerializationTest, ValuesReadBackUnchanged) {
    bool flag = false;
    for (uint8_t byte : {0x01, 0x80, 0xFF}) {
        ASSERT_TRUE(DecodeValue(Bytes{byte}, flag));
        EXPECT_TRUE(flag);
    }
    ASSERT_TRUE(DecodeValue(Bytes{0x00}, flag));
    EXPECT_FALSE(flag);

    int64_t signedValue = 0;
    ASSERT_TRUE(DecodeValue(Encoded(static_cast<int64_t>(-123456789012LL)), signedValue));
    EXPECT_EQ(signedValue, -123456789012LL);
    int16_t shortValue = 0;
    ASSERT_TRUE(DecodeValue(Bytes{0xFF, 0xFE}, shortValue));
    EXPECT_EQ(shortValue, -2);
    double real = 0;
    ASSERT_TRUE(DecodeValue(Encoded(-0.125), real));
    EXPECT_EQ(real, -0.125);
    std::string text = "old";
    ASSERT_TRUE(DecodeValue(Bytes{0x01, 0x00}, text));
    EXPECT_EQ(text, "");
    Bytes bytes{0x09};
    ASSERT_TRUE(DecodeValue(Bytes{0x04, 0x00, 0x00, 0x00, 0x02, 0xAB, 0xCD}, bytes));
    EXPECT_EQ(bytes, (Bytes{0xAB, 0xCD}));
}

TEST(SerializationTest, ShortValuesFailAndLeaveTheTargetUntouched) {
    uint32_t number = 7;
    EXPECT_FALSE(DecodeValue(Bytes{0x00, 0x00, 0x05}, number));
    EXPECT_EQ(number, 7U);
    double real = 2.5;
    EXPECT_FALSE(DecodeValue(Bytes{}, real));
    EXPECT_EQ(real, 2.5);

    std::string text = "keep";
    EXPECT_FALSE(DecodeValue(Bytes{0x01, 0x04, 'a', 'b'}, text));
    EXPECT_FALSE(DecodeValue(Bytes{0x02, 0x01}, text));
    EXPECT_FALSE(DecodeValue(Bytes{0x04}, text));
    EXPECT_EQ(text, "keep");

    // A length up to the full 64-bit range reserves nothing and reads nothing.
    Bytes bytes{0x42};
    EXPECT_FALSE(DecodeValue(Bytes{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, bytes));
    EXPECT_FALSE(DecodeValue(Bytes{0x04, 0xFF, 0xFF, 0xFF, 0xFF}, bytes));
    EXPECT_EQ(bytes, Bytes{0x42});
}

TEST(SerializationTest, AFailedReadStopsEveryLaterRead) {
    const Bytes data{0x01, 0x02, 0x03};
    Deserializer reader(data);
    uint32_t wide = 0;
    uint8_t narrow = 0;
    EXPECT_FALSE(reader.Read(wide));
    EXPECT_TRUE(reader.Failed());
    EXPECT_FALSE(reader.Read(narrow));
    EXPECT_EQ(narrow, 0);
    EXPECT_EQ(reader.Remaining(), 0U);
}

TEST(SerializationTest, GarbageNeverReadsPastTheEnd) {
    // Every prefix of every encoding, read as every type: no read may leave
    // the data (the sanitizer build checks this).
    std::vector<Bytes> samples{Encoded(std::string(300, 'q')), Encoded(Bytes(70000, 1)), Length(4294967296ULL),
                               Bytes{0x08, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const Bytes& sample : samples) {
        for (std::size_t length = 0; length <= sample.size(); length += (length < 16 ? 1 : 997)) {
            const Bytes prefix(sample.begin(), sample.begin() + static_cast<long>(length));
            std::string text;
            Bytes bytes;
            uint64_t wide = 0;
            const bool full = length == sample.size();
            (void)DecodeValue(prefix, wide);
            EXPECT_EQ(DecodeValue(prefix, text) && !full, false) << length;
            EXPECT_EQ(DecodeValue(prefix, bytes) && !full, false) << length;
        }
    }
}

}  // namespace
