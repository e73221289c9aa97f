#include "KivLibrary/Helper/HelperTypes.h"
#include "platform/zov/dm/genericuds/GenericUDSServiceErrors.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using testsupport::Level;

TEST(HelperTypesTest, EveryTabledNrcMapsToItself) {
    const std::set<uint8_t> tabled = {0x10, 0x11, 0x12, 0x13, 0x22, 0x24, 0x31, 0x33, 0x35,
                                      0x36, 0x37, 0x70, 0x71, 0x72, 0x73, 0x78, 0x7E, 0x7F};
    for (unsigned nrc = 0; nrc <= 0xFF; ++nrc) {
        const uint8_t expected = tabled.count(static_cast<uint8_t>(nrc)) != 0 ? static_cast<uint8_t>(nrc) : 0xFF;
        EXPECT_EQ(ConvertUdsNrcToDmCode(static_cast<uint8_t>(nrc)), expected) << "nrc " << nrc;
    }
}

TEST(HelperTypesTest, NrcConversionLogs) {
    testsupport::LogCapture capture;
    EXPECT_EQ(ConvertUdsNrcToDmCode(0x78), 0x78);
    EXPECT_TRUE(capture.Contains(Level::kDebug, "Converting from uds code to dm specific code["));
    EXPECT_FALSE(capture.Contains(Level::kError, "mapping does not exist"));

    EXPECT_EQ(ConvertUdsNrcToDmCode(0x14), 0xFF);
    EXPECT_TRUE(capture.Contains(Level::kError, "KivServiceImpl: nrc code mapping does not exist: 20["));
    EXPECT_EQ(ConvertUdsNrcToDmCode(0x00), 0xFF);
    EXPECT_TRUE(capture.Contains(Level::kError, "KivServiceImpl: nrc code mapping does not exist: 0["));
}

TEST(HelperTypesTest, VmIdByNameMatchesWholeNameExactly) {
    const std::pair<const char*, uint8_t> cases[] = {
        {"vm_adaptive", 1}, {"vm_housekeeping", 3}, {"vm_java", 2}, {"vm_invalid", 0}, {"VM_JAVA", 0},
        {"vm_java ", 0},    {" vm_java", 0},        {"vm_jav", 0},  {"", 0},           {"qemu", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetVmIdByName(c.first), c.second) << '"' << c.first << '"';
    }
}

TEST(HelperTypesTest, VmNameById) {
    const std::pair<uint8_t, const char*> cases[] = {
        {0, "vm_invalid"}, {1, "vm_adaptive"}, {2, "vm_java"},       {3, "vm_housekeeping"},
        {4, "vm_invalid"}, {7, "vm_invalid"},  {0xFF, "vm_invalid"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetVmNameById(c.first), c.second) << unsigned(c.first);
    }
}

TEST(HelperTypesTest, UdsServiceFailedCarriesCode) {
    using zov::dm::genericuds::GenericUDSService::UDSServiceFailed;
    try {
        throw UDSServiceFailed(ConvertUdsNrcToDmCode(0x33));
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "GenericUDSService::UDSServiceFailed::2");
        ASSERT_NE(dynamic_cast<const UDSServiceFailed*>(&error), nullptr);
        EXPECT_EQ(dynamic_cast<const UDSServiceFailed&>(error).GetCode(), 0x33);
    }
}

}  // namespace
