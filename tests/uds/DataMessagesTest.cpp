#include "tests/uds/FrameBytes.h"
#include "uds/CommunicationControl.h"
#include "uds/EcuReset.h"
#include "uds/ReadDataByIdentifier.h"
#include "uds/WriteDataByIdentifier.h"

#include <gtest/gtest.h>

#include <sstream>

using udstest::Bytes;
using udstest::MessageOf;

namespace {

TEST(UdsReadDataByIdentifier, RequestBuiltFromIdentifiersAndParsedBack) {
    const UDS::ReadDataByIdentifierRequest built({0xF187, 0xF189});
    EXPECT_EQ((Bytes{0x22, 0xF1, 0x87, 0xF1, 0x89}), built.GetFrame());

    const UDS::ReadDataByIdentifierRequest parsed(MessageOf({0x22, 0xF1, 0x87, 0xF1, 0x89}));
    EXPECT_EQ((std::vector<uint16_t>{0xF187, 0xF189}), parsed.GetDataIdentifiers());
    EXPECT_EQ("SID=ReadDataByIdentifier; DataIdentifiers=61831, 61833", parsed.toString());
    EXPECT_EQ(built, parsed);
    EXPECT_EQ(parsed.GetFrame(), UDS::ReadDataByIdentifierRequest(parsed.GetDataIdentifiers()).GetFrame());
}

TEST(UdsReadDataByIdentifier, RequestKeepsTheGivenOrder) {
    const UDS::ReadDataByIdentifierRequest built({0x0102, 0x0001, 0xFFFF});
    EXPECT_EQ((Bytes{0x22, 0x01, 0x02, 0x00, 0x01, 0xFF, 0xFF}), built.GetFrame());
}

TEST(UdsReadDataByIdentifier, RequestReadsWholePairsOnly) {
    EXPECT_EQ((std::vector<uint16_t>{0xF187}),
              UDS::ReadDataByIdentifierRequest(MessageOf({0x22, 0xF1, 0x87, 0x01})).GetDataIdentifiers());
    const UDS::ReadDataByIdentifierRequest noPair(MessageOf({0x22, 0xF1}));
    EXPECT_TRUE(noPair.GetDataIdentifiers().empty());
    EXPECT_EQ("SID=ReadDataByIdentifier; DataIdentifiers=", noPair.toString());
    EXPECT_THROW(UDS::ReadDataByIdentifierRequest(MessageOf({0x22})).GetDataIdentifiers(),
                 UDS::FrameSizeMismatchException);
    EXPECT_THROW(UDS::ReadDataByIdentifierRequest(MessageOf({0x22})).toString(), UDS::FrameSizeMismatchException);
    EXPECT_THROW(UDS::ReadDataByIdentifierRequest(MessageOf({})).GetDataIdentifiers(), UDS::FrameSizeMismatchException);
}

TEST(UdsReadDataByIdentifier, RequestTakesAtMost255Identifiers) {
    const std::vector<uint16_t> most(255, 0xF190);
    const UDS::ReadDataByIdentifierRequest built(most);
    EXPECT_EQ(1u + 2u * 255u, built.GetFrame().size());
    EXPECT_EQ(most, built.GetDataIdentifiers());

    const std::vector<uint16_t> tooMany(256, 0xF190);
    EXPECT_THROW(UDS::ReadDataByIdentifierRequest{tooMany}, UDS::InvalidArgumentException);
}

TEST(UdsReadDataByIdentifier, ResponseOrdersRecordsByIdentifier) {
    const UDS::ReadDataByIdentifierResponse built({{0xF189, {0x01, 0x02}}, {0xF187, {0xAA}}});
    EXPECT_EQ((Bytes{0x62, 0xF1, 0x87, 0xAA, 0xF1, 0x89, 0x01, 0x02}), built.GetFrame());
    EXPECT_EQ((Bytes{0xF1, 0x87, 0xAA, 0xF1, 0x89, 0x01, 0x02}), built.GetResponseData());
    EXPECT_EQ("SID=ReadDataByIdentifierResponse; Data=0xF187AAF1890102", built.toString());

    const UDS::ReadDataByIdentifierResponse parsed(MessageOf({0x62, 0xF1, 0x87, 0xAA, 0xF1, 0x89, 0x01, 0x02}));
    EXPECT_EQ(built, parsed);
    std::ostringstream stream;
    stream << parsed;
    EXPECT_EQ(built.toString(), stream.str());
}

TEST(UdsReadDataByIdentifier, ResponseEdgeRecords) {
    const UDS::ReadDataByIdentifierResponse empty(std::map<uint16_t, std::vector<uint8_t>>{});
    EXPECT_EQ((Bytes{0x62}), empty.GetFrame());
    EXPECT_THROW(empty.GetResponseData(), UDS::FrameSizeMismatchException);
    EXPECT_THROW(empty.toString(), UDS::FrameSizeMismatchException);

    const UDS::ReadDataByIdentifierResponse noData(std::map<uint16_t, Bytes>{{0x0100, Bytes{}}});
    EXPECT_EQ((Bytes{0x62, 0x01, 0x00}), noData.GetFrame());
}

TEST(UdsWriteDataByIdentifier, RequestRoundTrip) {
    const UDS::WriteDataByIdentifierRequest built(0xF15A, {0x01, 0x02, 0x03});
    EXPECT_EQ((Bytes{0x2E, 0xF1, 0x5A, 0x01, 0x02, 0x03}), built.GetFrame());
    EXPECT_EQ("SID=WriteDataByIdentifier; DataIdentifier=61786", built.toString());

    const UDS::WriteDataByIdentifierRequest parsed(MessageOf({0x2E, 0xF1, 0x5A, 0x01, 0x02, 0x03}));
    EXPECT_EQ(0xF15A, parsed.GetDataIdentifier());
    EXPECT_EQ((Bytes{0x01, 0x02, 0x03}), parsed.GetDataRecord());
    EXPECT_EQ(built, parsed);
}

TEST(UdsWriteDataByIdentifier, RequestWithoutRecord) {
    const UDS::WriteDataByIdentifierRequest parsed(MessageOf({0x2E, 0xF1, 0x5A}));
    EXPECT_EQ(0xF15A, parsed.GetDataIdentifier());
    EXPECT_THROW(parsed.GetDataRecord(), UDS::FrameSizeMismatchException);
    EXPECT_EQ((Bytes{0x2E, 0xF1, 0x5A}), UDS::WriteDataByIdentifierRequest(0xF15A, {}).GetFrame());
}

TEST(UdsWriteDataByIdentifier, ResponseNeedsExactlyThreeBytes) {
    const UDS::WriteDataByIdentifierResponse built(0xF15A);
    EXPECT_EQ((Bytes{0x6E, 0xF1, 0x5A}), built.GetFrame());
    EXPECT_EQ(0xF15A, built.GetDataIdentifier());
    EXPECT_EQ("SID=WriteDataByIdentifierResponse; DataIdentifier=61786", built.toString());

    const UDS::WriteDataByIdentifierResponse tooLong(MessageOf({0x6E, 0xF1, 0x5A, 0x00}));
    EXPECT_THROW(tooLong.GetDataIdentifier(), UDS::FrameSizeMismatchException);
    EXPECT_THROW(tooLong.toString(), UDS::FrameSizeMismatchException);
}

TEST(UdsCommunicationControl, RequestParsedWithSuppressBit) {
    const UDS::CommunicationControlRequest parsed(MessageOf({0x28, 0x83, 0x01}));
    EXPECT_EQ(3, parsed.GetSubFunction());
    EXPECT_EQ(1, parsed.GetCommunicationType());
    EXPECT_TRUE(parsed.GetNodeIdentificationNumber().empty());
    EXPECT_EQ(
        "SID=CommunicationControl; Subfunction=disableRxAndDisableTx; CommunicationType=1; "
        "NodeIdentificationNumber=",
        parsed.toString());
}

TEST(UdsCommunicationControl, RequestWithNodeIdentificationNumber) {
    const UDS::CommunicationControlRequest built(4, 0x03, {0x12, 0x34});
    EXPECT_EQ((Bytes{0x28, 0x04, 0x03, 0x12, 0x34}), built.GetFrame());
    EXPECT_EQ((Bytes{0x12, 0x34}), built.GetNodeIdentificationNumber());
    EXPECT_EQ(
        "SID=CommunicationControl; Subfunction=enableRxAndDisableTxWithEnhancedAddressInformation; "
        "CommunicationType=3; NodeIdentificationNumber=0x1234",
        built.toString());
    EXPECT_EQ(built, UDS::CommunicationControlRequest(MessageOf({0x28, 0x04, 0x03, 0x12, 0x34})));

    // Whatever follows offset 3 is the number, however long.
    EXPECT_EQ((Bytes{0xAB}),
              UDS::CommunicationControlRequest(MessageOf({0x28, 0x05, 0x01, 0xAB})).GetNodeIdentificationNumber());
}

TEST(UdsCommunicationControl, RequestValueConstructorChecksNodeIdentificationNumber) {
    for (uint8_t controlType : {uint8_t{4}, uint8_t{5}, uint8_t{0x84}, uint8_t{0x85}}) {
        EXPECT_THROW(UDS::CommunicationControlRequest(controlType, 1), UDS::InvalidArgumentException);
        EXPECT_THROW(UDS::CommunicationControlRequest(controlType, 1, {}), UDS::InvalidArgumentException);
        EXPECT_THROW(UDS::CommunicationControlRequest(controlType, 1, {0x01}), UDS::InvalidArgumentException);
        try {
            UDS::CommunicationControlRequest(controlType, 1, {0x01, 0x02, 0x03});
            FAIL() << "three bytes must be rejected";
        } catch (const UDS::InvalidArgumentException& error) {
            EXPECT_STREQ("UDS: The size of nodeIdentificationNumber is not as expected. Expect is a count of 2",
                         error.what());
        }
    }
    // The suppress-positive-response bit keeps the number of types 4 and 5.
    const struct {
        uint8_t controlType;
        Bytes frame;
    } built[] = {
        {0x04, {0x28, 0x04, 0x01, 0x12, 0x34}},
        {0x84, {0x28, 0x84, 0x01, 0x12, 0x34}},
        {0x05, {0x28, 0x05, 0x01, 0x12, 0x34}},
        {0x85, {0x28, 0x85, 0x01, 0x12, 0x34}},
        {0x81, {0x28, 0x81, 0x01}},
        {0x83, {0x28, 0x83, 0x01}},
    };
    for (const auto& row : built) {
        const UDS::CommunicationControlRequest request(row.controlType, 1, {0x12, 0x34});
        EXPECT_EQ(row.frame, request.GetFrame()) << int{row.controlType};
        EXPECT_EQ(row.controlType & 0x7F, request.GetSubFunction());
    }
    // Other control types ignore the number.
    EXPECT_EQ((Bytes{0x28, 0x01, 0x02}), UDS::CommunicationControlRequest(1, 2, {0x01, 0x02, 0x03}).GetFrame());
    EXPECT_EQ((Bytes{0x28, 0x00, 0x01}), UDS::CommunicationControlRequest(0, 1).GetFrame());
}

TEST(UdsCommunicationControl, ResponseKeepsByteUnmasked) {
    const UDS::CommunicationControlResponse built(3);
    EXPECT_EQ((Bytes{0x68, 0x03}), built.GetFrame());
    EXPECT_EQ("SID=CommunicationControlResponse; Subfunction=disableRxAndDisableTx", built.toString());

    const UDS::CommunicationControlResponse parsed(MessageOf({0x68, 0x83}));
    EXPECT_EQ(0x83, parsed.GetSubFunction());
    EXPECT_EQ("SID=CommunicationControlResponse; Subfunction=Unknown CcLev: 131", parsed.toString());
}

TEST(UdsEcuReset, RequestRoundTrip) {
    const UDS::EcuResetRequest parsed(MessageOf({0x11, 0x81}));
    EXPECT_EQ(1, parsed.GetResetType());
    EXPECT_EQ("SID=EcuReset; Subfunction=HardReset", parsed.toString());

    const UDS::EcuResetRequest built(3);
    EXPECT_EQ((Bytes{0x11, 0x03}), built.GetFrame());
    EXPECT_EQ("SID=EcuReset; Subfunction=SoftReset", built.toString());
}

TEST(UdsEcuReset, ResponseWithAndWithoutPowerDownTime) {
    const UDS::EcuResetResponse plain(1);
    EXPECT_EQ((Bytes{0x51, 0x01}), plain.GetFrame());
    EXPECT_FALSE(plain.HasPowerDownTime());
    EXPECT_THROW(plain.GetPowerDownTime(), UDS::FrameSizeMismatchException);
    EXPECT_EQ("SID=EcuResetResponse; Subfunction=HardReset", plain.toString());

    const UDS::EcuResetResponse withTime(4, 0x0A);
    EXPECT_EQ((Bytes{0x51, 0x04, 0x0A}), withTime.GetFrame());
    EXPECT_TRUE(withTime.HasPowerDownTime());
    EXPECT_EQ(0x0A, withTime.GetPowerDownTime());

    const UDS::EcuResetResponse parsed(MessageOf({0x51, 0x82}));
    EXPECT_EQ(0x82, parsed.GetResetType());
    EXPECT_EQ("SID=EcuResetResponse; Subfunction=Unknown ErLev: 130", parsed.toString());
}

}  // namespace
