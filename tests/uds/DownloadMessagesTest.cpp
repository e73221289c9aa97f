#include "tests/uds/FrameBytes.h"
#include "uds/RequestDownload.h"
#include "uds/RequestTransferExit.h"
#include "uds/TransferData.h"

#include <gtest/gtest.h>

#include <sstream>

using udstest::Bytes;
using udstest::MessageOf;

namespace {

TEST(UdsRequestDownload, RequestParsedFromBytes) {
    const UDS::RequestDownloadRequest parsed(
        MessageOf({0x34, 0x00, 0x44, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x40, 0x00}));
    EXPECT_EQ(0x00, parsed.GetDataFormatIdentifier());
    EXPECT_EQ(0x44, parsed.GetAddressAndLengthFormatIdentifier());
    EXPECT_EQ(std::make_pair(uint64_t{0x1000}, uint64_t{0x4000}), parsed.GetMemoryAddressAndSize());
    EXPECT_EQ("SID=RequestDownload; DataFormatIdentifier=0x00; AddressAndLengthFormatIdentifier=0x44",
              parsed.toString());
}

struct AddressSizeCase {
    Bytes frame;
    uint64_t address;
    uint64_t size;
};

TEST(UdsRequestDownload, AddressAndSizeForEveryReadableWidth) {
    const std::vector<AddressSizeCase> cases = {
        {{0x34, 0x11, 0x11, 0xAB, 0xCD}, 0xAB, 0xCD},
        {{0x34, 0x11, 0x21, 0x01, 0x02, 0x03}, 0x01, 0x0203},
        {{0x34, 0x11, 0x33, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0x010203, 0x040506},
        {{0x34, 0x11, 0x62, 0xFF, 0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0xFFEE, 0x010203040506},
        {{0x34, 0x11, 0x18, 0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x42}, 0x8001020304050607, 0x42},
        // Widths 0, 5 and 7 read as 0 once their bytes are present.
        {{0x34, 0x11, 0x00, 0x99}, 0, 0},
        {{0x34, 0x11, 0x15, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0, 0x06},
        {{0x34, 0x11, 0x71, 0x09, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}, 0x09, 0},
        // Trailing bytes after the size are not read.
        {{0x34, 0x11, 0x11, 0x01, 0x02, 0xEE, 0xEE}, 0x01, 0x02},
    };
    for (const AddressSizeCase& entry : cases) {
        const UDS::RequestDownloadRequest request{MessageOf(entry.frame)};
        EXPECT_EQ(std::make_pair(entry.address, entry.size), request.GetMemoryAddressAndSize())
            << UDS::Message(request).toString() << " format " << static_cast<int>(entry.frame[2]);
    }
}

TEST(UdsRequestDownload, FormatThatAnnouncesMissingBytesIsRejected) {
    const std::vector<Bytes> lying = {
        {0x34, 0x00, 0x44, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x40},  // size one byte short
        {0x34, 0x00, 0x44, 0x00, 0x00, 0x10},                          // address short, no size
        {0x34, 0x00, 0xFF, 0x00},                                      // 15-byte fields
        {0x34, 0x00, 0x88, 0x01, 0x02, 0x03},                          // 8-byte fields, 3 bytes
        {0x34, 0x00, 0x50, 0x01, 0x02},                                // width 5 still needs its bytes
        {0x34, 0x00, 0x44},                                            // shorter than 4 bytes
    };
    for (const Bytes& frame : lying) {
        const UDS::RequestDownloadRequest request{MessageOf(frame)};
        EXPECT_THROW(request.GetMemoryAddressAndSize(), UDS::FrameSizeMismatchException) << frame.size();
    }
}

TEST(UdsRequestDownload, FieldsWiderThan64BitsAreRejectedEvenWhenPresent) {
    Bytes nineByteAddress = {0x34, 0x00, 0x19};
    nineByteAddress.insert(nineByteAddress.end(), 10, 0x01);
    EXPECT_THROW(UDS::RequestDownloadRequest(MessageOf(nineByteAddress)).GetMemoryAddressAndSize(),
                 UDS::FrameSizeMismatchException);

    Bytes fifteenByteSize = {0x34, 0x00, 0xF1};
    fifteenByteSize.insert(fifteenByteSize.end(), 16, 0xFF);
    EXPECT_THROW(UDS::RequestDownloadRequest(MessageOf(fifteenByteSize)).GetMemoryAddressAndSize(),
                 UDS::FrameSizeMismatchException);
}

struct BlockLengthCase {
    uint64_t value;
    Bytes frame;
};

TEST(UdsRequestDownload, ResponseChoosesTheNarrowestWidth) {
    const std::vector<BlockLengthCase> cases = {
        {0x00, {0x74, 0x10, 0x00}},
        {0xFF, {0x74, 0x10, 0xFF}},
        {0x100, {0x74, 0x20, 0x01, 0x00}},
        {0x0FFF, {0x74, 0x20, 0x0F, 0xFF}},
        {0xFFFF, {0x74, 0x20, 0xFF, 0xFF}},
        {0x10000, {0x74, 0x40, 0x00, 0x01, 0x00, 0x00}},
        {0xFFFFFFFF, {0x74, 0x40, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x100000000, {0x74, 0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
        {0xFEDCBA9876543210, {0x74, 0x80, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}},
    };
    for (const BlockLengthCase& entry : cases) {
        const UDS::RequestDownloadResponse built(entry.value);
        EXPECT_EQ(entry.frame, built.GetFrame()) << entry.value;
        const UDS::RequestDownloadResponse parsed{MessageOf(entry.frame)};
        EXPECT_EQ(entry.value, parsed.GetMaxNumberOfBlockLength());
        EXPECT_EQ(entry.frame[1], parsed.GetLengthFormatIdentifier());
        EXPECT_EQ(built, parsed);
    }
}

TEST(UdsRequestDownload, ResponseText) {
    const UDS::RequestDownloadResponse built(0x0FFF);
    EXPECT_EQ("SID=RequestDownloadResponse; LengthFormatIdentifier=0x20; MaxNumberOfBlockLength=4095",
              built.toString());
    std::ostringstream stream;
    stream << built;
    EXPECT_EQ(built.toString(), stream.str());
}

TEST(UdsRequestDownload, ResponseOddWidthsAndLyingLengths) {
    EXPECT_EQ(0x010203u,
              UDS::RequestDownloadResponse(MessageOf({0x74, 0x30, 0x01, 0x02, 0x03})).GetMaxNumberOfBlockLength());
    EXPECT_EQ(0u, UDS::RequestDownloadResponse(MessageOf({0x74, 0x50, 0x01, 0x02, 0x03, 0x04, 0x05}))
                      .GetMaxNumberOfBlockLength());
    EXPECT_EQ(0u,
              UDS::RequestDownloadResponse(MessageOf({0x74, 0x70, 1, 2, 3, 4, 5, 6, 7})).GetMaxNumberOfBlockLength());
    EXPECT_EQ(0u, UDS::RequestDownloadResponse(MessageOf({0x74, 0x00, 0x12})).GetMaxNumberOfBlockLength());

    const std::vector<Bytes> lying = {
        {0x74, 0x20, 0x0F},                    // 2 announced, 1 present
        {0x74, 0x80, 0x00, 0x00, 0x00, 0x01},  // 8 announced, 4 present
        {0x74, 0xF0, 0x01, 0x02, 0x03},        // 15 announced
        {0x74, 0x10},                          // no field at all
    };
    for (const Bytes& frame : lying) {
        const UDS::RequestDownloadResponse response{MessageOf(frame)};
        EXPECT_THROW(response.GetMaxNumberOfBlockLength(), UDS::FrameSizeMismatchException);
        EXPECT_THROW(response.toString(), UDS::FrameSizeMismatchException);
    }
    Bytes nineBytes = {0x74, 0x90};
    nineBytes.insert(nineBytes.end(), 9, 0x01);
    EXPECT_THROW(UDS::RequestDownloadResponse(MessageOf(nineBytes)).GetMaxNumberOfBlockLength(),
                 UDS::FrameSizeMismatchException);
}

TEST(UdsTransferData, RequestRoundTrip) {
    const UDS::TransferDataRequest built(0x01, {0xAA, 0xBB});
    EXPECT_EQ((Bytes{0x36, 0x01, 0xAA, 0xBB}), built.GetFrame());

    const UDS::TransferDataRequest parsed(MessageOf({0x36, 0x01, 0xAA, 0xBB}));
    EXPECT_EQ(1, parsed.GetBlockSequenceCounter());
    EXPECT_TRUE(parsed.HasTransferRequestParameterRecord());
    EXPECT_EQ((Bytes{0xAA, 0xBB}), parsed.GetTransferRequestParameterRecord());
    EXPECT_EQ("SID=TransferData; BlockSequenceCounter=1", parsed.toString());
    EXPECT_EQ(built, parsed);
}

TEST(UdsTransferData, RequestWithoutRecord) {
    const UDS::TransferDataRequest built(0x01);
    EXPECT_EQ((Bytes{0x36, 0x01}), built.GetFrame());
    EXPECT_FALSE(built.HasTransferRequestParameterRecord());
    EXPECT_THROW(built.GetTransferRequestParameterRecord(), UDS::FrameSizeMismatchException);
    EXPECT_EQ(built, UDS::TransferDataRequest(0x01, Bytes{}));
}

TEST(UdsTransferData, LargeBlockSurvivesTheRoundTrip) {
    Bytes block(4093);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    const UDS::TransferDataRequest built(0x2A, block);
    ASSERT_EQ(4095u, built.GetFrame().size());
    const UDS::TransferDataRequest parsed{UDS::Message(built)};
    EXPECT_EQ(0x2A, parsed.GetBlockSequenceCounter());
    EXPECT_EQ(block, parsed.GetTransferRequestParameterRecord());
}

TEST(UdsTransferData, ResponseRoundTrip) {
    const UDS::TransferDataResponse built(0xFF);
    EXPECT_EQ((Bytes{0x76, 0xFF}), built.GetFrame());
    EXPECT_EQ("SID=TransferDataResponse; BlockSequenceCounter=255", built.toString());
    EXPECT_FALSE(built.HasTransferResponseParameterRecord());
    EXPECT_THROW(built.GetTransferResponseParameterRecord(), UDS::FrameSizeMismatchException);

    const UDS::TransferDataResponse withRecord(0x02, {0x10});
    EXPECT_EQ((Bytes{0x76, 0x02, 0x10}), withRecord.GetFrame());
    const UDS::TransferDataResponse parsed(MessageOf({0x76, 0x02, 0x10}));
    EXPECT_EQ(2, parsed.GetBlockSequenceCounter());
    EXPECT_TRUE(parsed.HasTransferResponseParameterRecord());
    EXPECT_EQ((Bytes{0x10}), parsed.GetTransferResponseParameterRecord());
    EXPECT_EQ(withRecord, parsed);
}

TEST(UdsRequestTransferExit, RequestRoundTrip) {
    const UDS::RequestTransferExitRequest plain;
    EXPECT_EQ((Bytes{0x37}), plain.GetFrame());
    EXPECT_FALSE(plain.HasTransferRequestParameterRecord());
    EXPECT_THROW(plain.GetTransferRequestParameterRecord(), UDS::FrameSizeMismatchException);
    EXPECT_EQ("SID=RequestTransferExit", plain.toString());

    const UDS::RequestTransferExitRequest built(Bytes{0xC0, 0xFF});
    EXPECT_EQ((Bytes{0x37, 0xC0, 0xFF}), built.GetFrame());
    const UDS::RequestTransferExitRequest parsed(MessageOf({0x37, 0xC0, 0xFF}));
    EXPECT_TRUE(parsed.HasTransferRequestParameterRecord());
    EXPECT_EQ((Bytes{0xC0, 0xFF}), parsed.GetTransferRequestParameterRecord());
    EXPECT_EQ(built, parsed);
}

TEST(UdsRequestTransferExit, ResponseRoundTrip) {
    const UDS::RequestTransferExitResponse plain;
    EXPECT_EQ((Bytes{0x77}), plain.GetFrame());
    EXPECT_EQ("SID=RequestTransferExitResponse", plain.toString());
    EXPECT_FALSE(plain.HasTransferResponseParameterRecord());
    EXPECT_THROW(plain.GetTransferResponseParameterRecord(), UDS::FrameSizeMismatchException);

    const UDS::RequestTransferExitResponse parsed(MessageOf({0x77, 0x01}));
    EXPECT_TRUE(parsed.HasTransferResponseParameterRecord());
    EXPECT_EQ((Bytes{0x01}), parsed.GetTransferResponseParameterRecord());
    EXPECT_EQ(UDS::RequestTransferExitResponse(Bytes{0x01}), parsed);
}

}  // namespace
