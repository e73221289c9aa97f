#include "signature/Sha256.h"

#include "tests/support/HexText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::LowerHex;

std::vector<uint8_t> FromText(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST(CalculateSha256, KnownVectors) {
    EXPECT_EQ(LowerHex(CalculateSha256(FromText("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(LowerHex(CalculateSha256({})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(LowerHex(CalculateSha256(FromText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(LowerHex(CalculateSha256(std::vector<uint8_t>(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
