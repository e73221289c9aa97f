#include "tests/uds/FrameBytes.h"
#include "uds/Message.h"
#include "uds/ServiceNames.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using udstest::Bytes;
using udstest::MessageOf;

namespace {

const char kSizeMismatchText[] = "UDS: Size mismatch for UDS Frame.";

TEST(UdsExceptions, TextsAndHierarchy) {
    UDS::FrameSizeMismatchException sizeMismatch;
    EXPECT_STREQ(kSizeMismatchText, sizeMismatch.what());
    const UDS::FramesException& asBase = sizeMismatch;
    EXPECT_STREQ(kSizeMismatchText, asBase.what());

    UDS::InvalidArgumentException invalid("bad value");
    EXPECT_STREQ("UDS: bad value", invalid.what());
    const std::runtime_error& asRuntime = invalid;
    EXPECT_STREQ("UDS: bad value", asRuntime.what());
}

TEST(UdsMessage, EmptyFrameRejectsSidAndText) {
    UDS::Message empty;
    EXPECT_THROW(empty.GetSid(), UDS::FrameSizeMismatchException);
    try {
        (void)empty.toString();
        FAIL() << "toString of an empty frame must throw";
    } catch (const UDS::FramesException& error) {
        EXPECT_STREQ(kSizeMismatchText, error.what());
    }
    EXPECT_THROW(empty.SetSid(0x22), UDS::FrameSizeMismatchException);
}

TEST(UdsMessage, ByteAccessStaysInsideTheFrame) {
    UDS::Message message = MessageOf({0x22, 0xF1});
    EXPECT_EQ(0x22, message.GetSid());
    EXPECT_EQ(0xF1, message.GetByte(1));
    EXPECT_THROW(message.GetByte(2), UDS::FrameSizeMismatchException);
    EXPECT_THROW(message.SetByte(2, 0), UDS::FrameSizeMismatchException);
    message.SetByte(1, 0x90);
    message.SetSid(0x2E);
    EXPECT_EQ((Bytes{0x2E, 0x90}), message.GetFrame());
    EXPECT_EQ("SID=WriteDataByIdentifier", message.toString());
}

TEST(UdsMessage, CopyAndMoveSemantics) {
    UDS::Message original = MessageOf({0x36, 0x01, 0xAA});
    UDS::Message copy(original);
    EXPECT_EQ(original, copy);
    copy.SetByte(2, 0xBB);
    EXPECT_NE(original, copy);

    UDS::Message moved(std::move(original));
    EXPECT_EQ((Bytes{0x36, 0x01, 0xAA}), moved.GetFrame());
    EXPECT_TRUE(original.GetFrame().empty());  // NOLINT(bugprone-use-after-move): moved-from state is defined

    UDS::Message assigned;
    assigned = std::move(moved);
    EXPECT_EQ((Bytes{0x36, 0x01, 0xAA}), assigned.GetFrame());
    EXPECT_TRUE(moved.GetFrame().empty());  // NOLINT(bugprone-use-after-move)

    UDS::Message replaced;
    replaced.SetFrame(Bytes{0x11, 0x01});
    EXPECT_EQ("SID=EcuReset", replaced.toString());
}

TEST(UdsMessage, OrderingShorterFirstThenBytewiseUnsigned) {
    const UDS::Message shortFrame = MessageOf({0x01, 0x02});
    const UDS::Message longFrame = MessageOf({0x01, 0x02, 0x03});
    EXPECT_TRUE(shortFrame < longFrame);
    EXPECT_FALSE(longFrame < shortFrame);

    const UDS::Message low = MessageOf({0x01, 0x05});
    const UDS::Message high = MessageOf({0x02, 0x00});
    EXPECT_TRUE(low < high);
    EXPECT_FALSE(high < low);
    EXPECT_FALSE(low < low);

    // Bytes above 0x7F must compare as unsigned values.
    EXPECT_TRUE(MessageOf({0x7F}) < MessageOf({0x80}));
    EXPECT_FALSE(MessageOf({0xFF}) < MessageOf({0x01}));
}

TEST(UdsMessage, StreamWritesTheText) {
    std::ostringstream stream;
    stream << MessageOf({0x37});
    EXPECT_EQ("SID=RequestTransferExit", stream.str());
}

TEST(UdsNegativeResponse, BuiltFromValues) {
    const UDS::NegativeResponse response(0x34, 0x70);
    EXPECT_EQ((Bytes{0x7F, 0x34, 0x70}), response.GetFrame());
    EXPECT_EQ(0x34, response.GetRequestSid());
    EXPECT_EQ(0x70, response.GetNrc());
    EXPECT_EQ("SID=NegativeResponse", response.toString());
    std::ostringstream stream;
    stream << response;
    EXPECT_EQ("SID=NegativeResponse", stream.str());
}

TEST(UdsNegativeResponse, ParsedFromFramesOfEveryLength) {
    const UDS::NegativeResponse full(MessageOf({0x7F, 0x22, 0x13}));
    EXPECT_EQ(0x22, full.GetRequestSid());
    EXPECT_EQ(0x13, full.GetNrc());
    EXPECT_EQ(UDS::Message(full), MessageOf({0x7F, 0x22, 0x13}));

    const UDS::NegativeResponse twoBytes(MessageOf({0x7F, 0x22}));
    EXPECT_EQ(0x22, twoBytes.GetRequestSid());
    EXPECT_THROW(twoBytes.GetNrc(), UDS::FrameSizeMismatchException);

    const UDS::NegativeResponse oneByte(MessageOf({0x7F}));
    EXPECT_THROW(oneByte.GetRequestSid(), UDS::FrameSizeMismatchException);

    UDS::Message source = MessageOf({0x7F, 0x36, 0x73});
    const UDS::NegativeResponse taken(std::move(source));
    EXPECT_EQ(0x73, taken.GetNrc());
    EXPECT_TRUE(source.GetFrame().empty());  // NOLINT(bugprone-use-after-move)
}

TEST(UdsServiceNames, KnownAndUnknownServiceIdentifiers) {
    const std::vector<std::pair<uint8_t, std::string>> cases = {
        {0x10, "DiagnosticSessionControl"},
        {0x11, "EcuReset"},
        {0x22, "ReadDataByIdentifier"},
        {0x28, "CommunicationControl"},
        {0x2E, "WriteDataByIdentifier"},
        {0x34, "RequestDownload"},
        {0x36, "TransferData"},
        {0x37, "RequestTransferExit"},
        {0x51, "EcuResetResponse"},
        {0x62, "ReadDataByIdentifierResponse"},
        {0x68, "CommunicationControlResponse"},
        {0x6E, "WriteDataByIdentifierResponse"},
        {0x74, "RequestDownloadResponse"},
        {0x76, "TransferDataResponse"},
        {0x77, "RequestTransferExitResponse"},
        {0x7E, "TesterPresentResponse"},
        {0x7F, "NegativeResponse"},
        {0x87, "LinkControl"},
        {0xC7, "LinkControlResponse"},
        {0x01, "Unknown SID: 0x01"},
        {0x9A, "Unknown SID: 0x9a"},
        {0xFF, "Unknown SID: 0xff"},
        {0x00, "Unknown SID: 0x00"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(entry.second, UDS::ServiceIdToString(entry.first)) << static_cast<int>(entry.first);
    }
}

TEST(UdsServiceNames, EveryResponseNameIsTheRequestNamePlusResponse) {
    int known = 0;
    for (int sid = 0; sid < 0x40; ++sid) {
        const std::string request = UDS::ServiceIdToString(static_cast<uint8_t>(sid));
        if (request.rfind("Unknown", 0) == 0) {
            continue;
        }
        ++known;
        EXPECT_EQ(request + "Response", UDS::ServiceIdToString(static_cast<uint8_t>(sid + 0x40)));
    }
    for (int sid = 0x83; sid <= 0x87; ++sid) {
        ++known;
        EXPECT_EQ(UDS::ServiceIdToString(static_cast<uint8_t>(sid)) + "Response",
                  UDS::ServiceIdToString(static_cast<uint8_t>(sid + 0x40)));
    }
    EXPECT_EQ(26, known);
}

struct SubFunctionCase {
    const char* function;
    std::function<std::string(uint8_t)> name;
    uint8_t value;
    std::string text;
};

TEST(UdsServiceNames, SubFunctionTextsAndUnknownForms) {
    const std::vector<SubFunctionCase> cases = {
        {"EcuReset", UDS::EcuResetTypeToString, 1, "HardReset"},
        {"EcuReset", UDS::EcuResetTypeToString, 5, "DisableRapidPowerShutDown"},
        {"EcuReset", UDS::EcuResetTypeToString, 0, "Unknown ErLev: 0"},
        {"EcuReset", UDS::EcuResetTypeToString, 0x81, "Unknown ErLev: 129"},
        {"CommunicationControl", UDS::CommunicationControlTypeToString, 0, "enableRxAndTx"},
        {"CommunicationControl", UDS::CommunicationControlTypeToString, 3, "disableRxAndDisableTx"},
        {"CommunicationControl", UDS::CommunicationControlTypeToString, 5,
         "enableRxAndTxWithEnhancedAddressInformation"},
        {"CommunicationControl", UDS::CommunicationControlTypeToString, 6, "Unknown CcLev: 6"},
        {"RoutineControl", UDS::RoutineControlTypeToString, 3, "requestRoutineResults"},
        {"RoutineControl", UDS::RoutineControlTypeToString, 0, "Unknown RcLev: 0"},
        {"DiagnosticSession", UDS::DiagnosticSessionTypeToString, 2, "ProgrammingSession"},
        {"DiagnosticSession", UDS::DiagnosticSessionTypeToString, 255, "Unknown DscLev: 255"},
        {"SecurityAccess", UDS::SecurityAccessTypeToString, 2, "SendKey"},
        {"SecurityAccess", UDS::SecurityAccessTypeToString, 9, "Unknown SaLev: 9"},
        {"LinkControl", UDS::LinkControlTypeToString, 3, "TransitionMode"},
        {"LinkControl", UDS::LinkControlTypeToString, 4, "Unknown LcLev: 4"},
        {"DtcSetting", UDS::DtcSettingTypeToString, 1, "on"},
        {"DtcSetting", UDS::DtcSettingTypeToString, 2, "off"},
        {"DtcSetting", UDS::DtcSettingTypeToString, 3, "Unknown DtcLev: 3"},
        {"AccessTiming", UDS::AccessTimingParameterTypeToString, 4, "SetTimingParametersToGivenValues"},
        {"AccessTiming", UDS::AccessTimingParameterTypeToString, 0, "Unknown ATPLev: 0"},
        {"ResponseOnEvent", UDS::ResponseOnEventTypeToString, 0, "StopResponseOnEvent"},
        {"ResponseOnEvent", UDS::ResponseOnEventTypeToString, 7, "OnComparisonOfValues"},
        {"ResponseOnEvent", UDS::ResponseOnEventTypeToString, 8, "Unknown RoELev: 8"},
        {"RoEStorage", UDS::ResponseOnEventStorageStateToString, 1, "StoreEvent"},
        {"RoEStorage", UDS::ResponseOnEventStorageStateToString, 2, "Unknown RoEStorageState: 2"},
        {"RoETimer", UDS::ResponseOnEventTimerRateToString, 2, "MediumRate"},
        {"RoETimer", UDS::ResponseOnEventTimerRateToString, 0, "Unknown RoEOnTimer: 0"},
        {"ModeOfOperation", UDS::ModeOfOperationToString, 5, "readDir"},
        {"ModeOfOperation", UDS::ModeOfOperationToString, 6, "Unknown modeOfOperation: 6"},
        {"Dddi", UDS::DynamicallyDefineDataIdentifierTypeToString, 3, "ClearDynamicallyDefinedDataIdentifier"},
        {"Dddi", UDS::DynamicallyDefineDataIdentifierTypeToString, 0, "Unknown DddiLev: 0"},
        {"ScState", UDS::StateAndConnectionStateToString, 4, "Active_function2"},
        {"ScState", UDS::StateAndConnectionStateToString, 5, "Unknown StateAndConnectionType_state: 5"},
        {"ScSignal", UDS::StateAndConnectionSignalToString, 2, "SignalAtHighLevel"},
        {"ScSignal", UDS::StateAndConnectionSignalToString, 3, "Unknown StateAndConnectionType_signal: 3"},
        {"ScSignalType", UDS::StateAndConnectionSignalTypeToString, 1, "NotDefined"},
        {"ScSignalType", UDS::StateAndConnectionSignalTypeToString, 2, "Unknown StateAndConnectionType_signalType: 2"},
        {"ScResistor", UDS::StateAndConnectionResistorInputTypeToString, 0,
         "InternalSignalOrViaCanNotExclusivelyAvailableInEcuConnector"},
        {"ScResistor", UDS::StateAndConnectionResistorInputTypeToString, 4,
         "Unknown StateAndConnectionType_resistorInputType: 4"},
        {"Formula", UDS::FormulaIdentifierToString, 0, "y = C0 * x + C1"},
        {"Formula", UDS::FormulaIdentifierToString, 9, "y = x * C0 / C1"},
        {"Formula", UDS::FormulaIdentifierToString, 10, "Unknown formulaIdentifier: 10"},
    };
    for (const SubFunctionCase& entry : cases) {
        EXPECT_EQ(entry.text, entry.name(entry.value)) << entry.function << " " << static_cast<int>(entry.value);
    }
}

TEST(UdsServiceNames, ByteToHexStringIsTwoUpperCaseDigits) {
    EXPECT_EQ("0A", UDS::ByteToHexString(0x0A));
    EXPECT_EQ("7F", UDS::ByteToHexString(0x7F));
    EXPECT_EQ("00", UDS::ByteToHexString(0x00));
    EXPECT_EQ("FF", UDS::ByteToHexString(0xFF));
}

}  // namespace
