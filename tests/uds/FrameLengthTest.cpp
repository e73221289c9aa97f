// Every accessor against every truncation of a frame: shorter than it needs throws the
// size-mismatch exception, exactly as long as it needs answers.
#include "tests/uds/FrameBytes.h"
#include "uds/CommunicationControl.h"
#include "uds/EcuReset.h"
#include "uds/ReadDataByIdentifier.h"
#include "uds/RequestDownload.h"
#include "uds/RequestTransferExit.h"
#include "uds/TransferData.h"
#include "uds/WriteDataByIdentifier.h"

#include <gtest/gtest.h>

#include <functional>

using udstest::Bytes;
using udstest::MessageOf;

namespace {

struct AccessorCase {
    const char* name;
    Bytes frame;
    size_t needed;
    std::function<void(UDS::Message&&)> access;
};

template <typename T, typename Fn>
std::function<void(UDS::Message&&)> On(Fn fn) {
    return [fn](UDS::Message&& message) {
        const T typed(std::move(message));
        fn(typed);
    };
}

std::vector<AccessorCase> Cases() {
    using namespace UDS;
    return {
        {"Message::GetSid", {0x22}, 1, On<Message>([](const Message& m) { m.GetSid(); })},
        {"Message::toString", {0x22}, 1, On<Message>([](const Message& m) { (void)m.toString(); })},
        {"NegativeResponse::GetRequestSid", {0x7F, 0x22, 0x31}, 2, On<NegativeResponse>([](const NegativeResponse& m) {
             m.GetRequestSid();
         })},
        {"NegativeResponse::GetNrc", {0x7F, 0x22, 0x31}, 3, On<NegativeResponse>([](const NegativeResponse& m) {
             m.GetNrc();
         })},
        {"ReadDataByIdentifierRequest::GetDataIdentifiers",
         {0x22, 0xF1, 0x87},
         2,
         On<ReadDataByIdentifierRequest>([](const ReadDataByIdentifierRequest& m) { m.GetDataIdentifiers(); })},
        {"ReadDataByIdentifierResponse::GetResponseData",
         {0x62, 0xF1, 0x87, 0x01},
         2,
         On<ReadDataByIdentifierResponse>([](const ReadDataByIdentifierResponse& m) { m.GetResponseData(); })},
        {"ReadDataByIdentifierResponse::toString",
         {0x62, 0xF1, 0x87, 0x01},
         2,
         On<ReadDataByIdentifierResponse>([](const ReadDataByIdentifierResponse& m) { (void)m.toString(); })},
        {"WriteDataByIdentifierRequest::GetDataIdentifier",
         {0x2E, 0xF1, 0x5A, 0x01},
         3,
         On<WriteDataByIdentifierRequest>([](const WriteDataByIdentifierRequest& m) { m.GetDataIdentifier(); })},
        {"WriteDataByIdentifierRequest::GetDataRecord",
         {0x2E, 0xF1, 0x5A, 0x01},
         4,
         On<WriteDataByIdentifierRequest>([](const WriteDataByIdentifierRequest& m) { m.GetDataRecord(); })},
        {"WriteDataByIdentifierResponse::GetDataIdentifier",
         {0x6E, 0xF1, 0x5A},
         3,
         On<WriteDataByIdentifierResponse>([](const WriteDataByIdentifierResponse& m) { m.GetDataIdentifier(); })},
        {"CommunicationControlRequest::GetSubFunction",
         {0x28, 0x04, 0x01, 0x12, 0x34},
         2,
         On<CommunicationControlRequest>([](const CommunicationControlRequest& m) { m.GetSubFunction(); })},
        {"CommunicationControlRequest::GetCommunicationType",
         {0x28, 0x04, 0x01, 0x12, 0x34},
         3,
         On<CommunicationControlRequest>([](const CommunicationControlRequest& m) { m.GetCommunicationType(); })},
        {"CommunicationControlRequest::toString",
         {0x28, 0x04, 0x01, 0x12, 0x34},
         3,
         On<CommunicationControlRequest>([](const CommunicationControlRequest& m) { (void)m.toString(); })},
        {"CommunicationControlResponse::GetSubFunction",
         {0x68, 0x01},
         2,
         On<CommunicationControlResponse>([](const CommunicationControlResponse& m) { m.GetSubFunction(); })},
        {"EcuResetRequest::GetResetType", {0x11, 0x01}, 2, On<EcuResetRequest>([](const EcuResetRequest& m) {
             m.GetResetType();
         })},
        {"EcuResetResponse::GetResetType", {0x51, 0x01, 0x05}, 2, On<EcuResetResponse>([](const EcuResetResponse& m) {
             m.GetResetType();
         })},
        {"EcuResetResponse::GetPowerDownTime",
         {0x51, 0x01, 0x05},
         3,
         On<EcuResetResponse>([](const EcuResetResponse& m) { m.GetPowerDownTime(); })},
        {"RequestDownloadRequest::GetDataFormatIdentifier",
         {0x34, 0x00, 0x44},
         2,
         On<RequestDownloadRequest>([](const RequestDownloadRequest& m) { m.GetDataFormatIdentifier(); })},
        {"RequestDownloadRequest::GetAddressAndLengthFormatIdentifier",
         {0x34, 0x00, 0x44},
         3,
         On<RequestDownloadRequest>([](const RequestDownloadRequest& m) { m.GetAddressAndLengthFormatIdentifier(); })},
        {"RequestDownloadRequest::toString",
         {0x34, 0x00, 0x44},
         3,
         On<RequestDownloadRequest>([](const RequestDownloadRequest& m) { (void)m.toString(); })},
        {"RequestDownloadRequest::GetMemoryAddressAndSize 0x44",
         {0x34, 0x00, 0x44, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x40, 0x00},
         11,
         On<RequestDownloadRequest>([](const RequestDownloadRequest& m) { m.GetMemoryAddressAndSize(); })},
        {"RequestDownloadRequest::GetMemoryAddressAndSize 0x00",
         {0x34, 0x00, 0x00, 0x00},
         4,
         On<RequestDownloadRequest>([](const RequestDownloadRequest& m) { m.GetMemoryAddressAndSize(); })},
        {"RequestDownloadResponse::GetLengthFormatIdentifier",
         {0x74, 0x20, 0x0F, 0xFF},
         2,
         On<RequestDownloadResponse>([](const RequestDownloadResponse& m) { m.GetLengthFormatIdentifier(); })},
        {"RequestDownloadResponse::GetMaxNumberOfBlockLength",
         {0x74, 0x40, 0x00, 0x01, 0x00, 0x00},
         6,
         On<RequestDownloadResponse>([](const RequestDownloadResponse& m) { m.GetMaxNumberOfBlockLength(); })},
        {"TransferDataRequest::GetBlockSequenceCounter",
         {0x36, 0x01, 0xAA},
         2,
         On<TransferDataRequest>([](const TransferDataRequest& m) { m.GetBlockSequenceCounter(); })},
        {"TransferDataRequest::GetTransferRequestParameterRecord",
         {0x36, 0x01, 0xAA},
         3,
         On<TransferDataRequest>([](const TransferDataRequest& m) { m.GetTransferRequestParameterRecord(); })},
        {"TransferDataRequest::toString",
         {0x36, 0x01, 0xAA},
         2,
         On<TransferDataRequest>([](const TransferDataRequest& m) { (void)m.toString(); })},
        {"TransferDataResponse::GetBlockSequenceCounter",
         {0x76, 0x01, 0xAA},
         2,
         On<TransferDataResponse>([](const TransferDataResponse& m) { m.GetBlockSequenceCounter(); })},
        {"TransferDataResponse::GetTransferResponseParameterRecord",
         {0x76, 0x01, 0xAA},
         3,
         On<TransferDataResponse>([](const TransferDataResponse& m) { m.GetTransferResponseParameterRecord(); })},
        {"RequestTransferExitRequest::GetTransferRequestParameterRecord",
         {0x37, 0xAA},
         2,
         On<RequestTransferExitRequest>(
             [](const RequestTransferExitRequest& m) { m.GetTransferRequestParameterRecord(); })},
        {"RequestTransferExitResponse::GetTransferResponseParameterRecord",
         {0x77, 0xAA},
         2,
         On<RequestTransferExitResponse>(
             [](const RequestTransferExitResponse& m) { m.GetTransferResponseParameterRecord(); })},
    };
}

TEST(UdsFrameLength, EveryAccessorRejectsEveryShorterFrame) {
    for (const AccessorCase& entry : Cases()) {
        ASSERT_LE(entry.needed, entry.frame.size()) << entry.name;
        for (size_t length = 0; length < entry.needed; ++length) {
            Bytes truncated(entry.frame.begin(), entry.frame.begin() + static_cast<std::ptrdiff_t>(length));
            try {
                entry.access(MessageOf(truncated));
                ADD_FAILURE() << entry.name << " did not throw for " << length << " bytes";
            } catch (const UDS::FrameSizeMismatchException& error) {
                EXPECT_STREQ("UDS: Size mismatch for UDS Frame.", error.what());
            }
        }
        Bytes exact(entry.frame.begin(), entry.frame.begin() + static_cast<std::ptrdiff_t>(entry.needed));
        EXPECT_NO_THROW(entry.access(MessageOf(exact))) << entry.name << " with " << entry.needed << " bytes";
    }
}

TEST(UdsFrameLength, OptionalPartsAnswerWithoutThrowingOnShortFrames) {
    const Bytes full = {0x28, 0x01, 0x02};
    for (size_t length = 0; length <= full.size(); ++length) {
        const Bytes frame(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_TRUE(UDS::CommunicationControlRequest(MessageOf(frame)).GetNodeIdentificationNumber().empty());
    }
    EXPECT_FALSE(UDS::EcuResetResponse(MessageOf({})).HasPowerDownTime());
    EXPECT_FALSE(UDS::TransferDataRequest(MessageOf({})).HasTransferRequestParameterRecord());
    EXPECT_FALSE(UDS::TransferDataResponse(MessageOf({0x76})).HasTransferResponseParameterRecord());
    EXPECT_FALSE(UDS::RequestTransferExitRequest(MessageOf({})).HasTransferRequestParameterRecord());
    EXPECT_FALSE(UDS::RequestTransferExitResponse(MessageOf({})).HasTransferResponseParameterRecord());
}

TEST(UdsFrameLength, ClassesTakeAnyFrameUncheckedAndConvertByFrame) {
    // A negative response wrapped as a TransferData request: nothing is checked on construction.
    const UDS::NegativeResponse negative(0x36, 0x73);
    const UDS::TransferDataRequest asRequest(negative);
    EXPECT_EQ(negative.GetFrame(), asRequest.GetFrame());
    EXPECT_EQ(0x36, asRequest.GetBlockSequenceCounter());
    EXPECT_EQ("SID=NegativeResponse; BlockSequenceCounter=54", asRequest.toString());

    UDS::TransferDataResponse response(0x05);
    const UDS::Message taken(std::move(response));
    EXPECT_EQ((Bytes{0x76, 0x05}), taken.GetFrame());
    EXPECT_TRUE(response.GetFrame().empty());  // NOLINT(bugprone-use-after-move)
}

}  // namespace
