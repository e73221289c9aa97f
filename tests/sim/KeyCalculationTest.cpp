// The configured key calculation: the product's interpreter against its
// failure texts and against the tester's own computation.
#include "KivLibrary/SecurityAccess/KeyCalculation.h"
#include "sim/KeyCalculator.h"
#include "sim/SandboxBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <stdexcept>
#include <string>

namespace {

uint32_t Rotl(uint32_t value) { return value << 1 | value >> 31; }

std::string Failure(const std::string& list) {
    try {
        CalculateKey(0x12345678, list);
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "no failure";
}

TEST(KeyCalculationTest, ListsThatCannotRunFailWithTheirReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no operations for calculating key"},
        {"zz4C", "no operations for calculating key"},
        {"81", "too less arguments for operations"},
        {"4C81", "no failure"},
        {"87A5A5A5A5", "too less arguments for operation"},
        {"87A5A5A5A54C", "no failure"},
        {"93000000", "too less arguments for operation"},
        {"68004C", "invalid loop encountered, loop counter must be > 0"},
        {"494C", "invalid loop encountered, loop end counter without stack"},
        {"004C", "invalid operation found"},
        // 255^3 rounds: stopped by the operation bound, not run for minutes.
        {"68FF68FF68FF8149494900", "too many operations for calculating key, limit is 1000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Failure(c.first), c.second) << c.first;
    }
}

TEST(KeyCalculationTest, OperationsAsSpecified) {
    EXPECT_EQ(CalculateKey(0x12345678, "4C"), 0x12345678u);
    // Seeds of 2^31 and above keep their bit pattern.
    EXPECT_EQ(CalculateKey(static_cast<int32_t>(0xF0000001u), "4C"), 0xF0000001u);
    EXPECT_EQ(CalculateKey(static_cast<int32_t>(0x80000001u), "814C"), 0x00000003u);
    EXPECT_EQ(CalculateKey(1, "824C"), 0x80000000u);
    EXPECT_EQ(CalculateKey(1, "680381494C"), 8u);  // a loop of 3 rotates by 3
    EXPECT_EQ(CalculateKey(5, "6B10"), 5u);        // a jump beyond the end ends the run
    // Subtract borrows: no jump, the xor runs; no borrow: it is jumped over.
    EXPECT_EQ(CalculateKey(5, "84000000064A0587000000014C"), 0xFFFFFFFEu);
    EXPECT_EQ(CalculateKey(7, "84000000064A0587000000014C"), 1u);
    // Add overflows: carry set.
    EXPECT_EQ(CalculateKey(static_cast<int32_t>(0xFFFFFFFFu), "93000000014A0587000000F04C"), 0xF0u);
    EXPECT_EQ(CalculateKey(1, "93000000014A0587000000F04C"), 2u);
    EXPECT_EQ(ParseKeyOperations("C4C"), (std::vector<uint8_t>{0x0C, 0x4C}));
}

TEST(KeyCalculationTest, TesterComputesTheSameKeys) {
    std::ifstream file(sim::SandboxBuilder::ShippedConfigurationPath());
    const std::string shipped = nlohmann::json::parse(file)["security_access_settings"]["KeyCalculation"];
    const std::string lists[] = {
        shipped,
        "680381494C",
        "6805870F0F0F0F680293DEADBEEF4A018249494C",
        "84930000004A0687AAAAAAAA4C6B0181",
        "84000000064A0587000000014C",
    };
    for (uint32_t seed : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xDEADBEEFu, 0xFFFFFFFFu, 0x5EED1234u}) {
        for (const std::string& list : lists) {
            EXPECT_EQ(CalculateKey(static_cast<int32_t>(seed), list), sim::TesterKey(seed, list))
                << list << " " << seed;
        }
        EXPECT_EQ(sim::TesterKey(seed, shipped), Rotl((seed ^ 0xA5A5A5A5u) + 0x12345678u));
    }
}

}  // namespace
