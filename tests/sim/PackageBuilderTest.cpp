#include "sim/PackageBuilder.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "signature/SignatureVerifier.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <botan/pubkey.h>
#include <botan/rsa.h>
#include <botan/x509_key.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using sim::BlockDefinition;
using sim::Bytes;
using sim::Defect;
using sim::Package;
using sim::PackageBuilder;
using testsupport::LogCapture;
using testsupport::Sandbox;

Bytes Payload(size_t size, uint8_t seed) {
    Bytes payload(size);
    for (size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return payload;
}

class PackageBuilderTest : public ::testing::Test {
protected:
    PackageBuilderTest() : box(true) {
        SharedMemoryInterface::Instance().SetUseDummyValuesForRcar(false);
        const uint32_t version = SharedMemoryInterface::kInterfaceVersion;
        box.WriteFile("sys/swupd/rcar_magic", "swUpDvCa");
        box.WriteFile("sys/swupd/rcar_version", std::string(reinterpret_cast<const char*>(&version), sizeof(version)));
        box.WriteFile("sys/swupd/rcar_hardware_id", "HWX");

        builder.SetHardwareId({{'H', 'W', 'X'}});
        builder.AddBlock({1, Payload(1000, 1), {{'0', '0', '1', '2'}}, {{'F', '0', '0', '1'}}});
        builder.AddBlock({6, Payload(33, 9), {{'0', '1', '0', '0'}}, {{'F', '0', '0', '6'}}});
    }

    // Feeds the stream the way a download does: header first, then the payload in chunks.
    bool Verifies(const sim::SignedBlock& block, const Bytes& publicKey) {
        SignatureVerifier verifier;
        if (!verifier.Initialize(publicKey)) {
            return false;
        }
        verifier.Update(PackageBuilder::BlockHeader(block.memoryAddress, block.memorySize));
        for (size_t offset = 0; offset < block.payload.size(); offset += 100) {
            const size_t end = std::min(block.payload.size(), offset + 100);
            verifier.Update(Bytes(block.payload.begin() + static_cast<std::ptrdiff_t>(offset),
                                  block.payload.begin() + static_cast<std::ptrdiff_t>(end)));
        }
        return verifier.Verify(block.signature);
    }

    // Runs the record through the real RFS check; returns the result code (0 = accepted).
    uint8_t Check(const Package& package, RFS& rfs) {
        rfs.AppendData(package.dpt.payload);
        uint8_t code = 0;
        const bool converted = rfs.ConvertToDpt(package.installedBlocks, code, package.configuredBlockIds);
        EXPECT_EQ(converted, code == 0);
        return code;
    }

    LogCapture capture;
    Sandbox box;
    PackageBuilder builder;
};

TEST_F(PackageBuilderTest, ValidPackagePassesRfsAndSignatureChecks) {
    const Package package = builder.Build();
    RFS rfs;
    EXPECT_EQ(Check(package, rfs), 0);
    EXPECT_TRUE(rfs.ValidateHwVersion());
    EXPECT_EQ(rfs.GetDowngradeTable(), (RFS::VersionTable{{1, {{'0', '0', '1', '2'}}}, {6, {{'0', '1', '0', '0'}}}}));
    EXPECT_EQ(rfs.GetF1abTable(), (RFS::VersionTable{{1, {{'F', '0', '0', '1'}}}, {6, {{'F', '0', '0', '6'}}}}));

    ASSERT_TRUE(builder.WritePublicKey(box.Path("key.pem")));
    const std::string pem = box.ReadFile("key.pem");
    const Bytes publicKey(pem.begin(), pem.end());
    EXPECT_TRUE(Verifies(package.dpt, publicKey));
    ASSERT_EQ(package.blocks.size(), 2u);
    for (const sim::SignedBlock& block : package.blocks) {
        EXPECT_TRUE(Verifies(block, publicKey));
        EXPECT_TRUE(Verifies(block, builder.PublicKeyDer()));
    }
}

TEST_F(PackageBuilderTest, StreamLayout) {
    const Package package = builder.Build();
    const sim::SignedBlock& block = package.blocks[0];
    EXPECT_EQ(block.memoryAddress, (Bytes{0x00, 0x01}));
    EXPECT_EQ(block.memorySize, 1000u);
    const Bytes header{0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x03, 0xE8};
    ASSERT_EQ(block.stream.size(), 8u + 1000u);
    EXPECT_EQ(Bytes(block.stream.begin(), block.stream.begin() + 8), header);
    EXPECT_EQ(Bytes(block.stream.begin() + 8, block.stream.end()), block.payload);

    EXPECT_EQ(package.dpt.memoryAddress, (Bytes{0x00, 0x0F}));
    EXPECT_EQ(package.dpt.memorySize, 13u + 2 * 9 + 3);
    EXPECT_EQ(PackageBuilder::BlockHeader({0x12, 0x34, 0x56}, 0x01020304),
              (Bytes{0x00, 0x12, 0x34, 0x56, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_THROW(PackageBuilder::BlockHeader({}, 1), std::invalid_argument);
}

TEST_F(PackageBuilderTest, SignatureIsRsaPssSha256WithSalt32) {
    const Package package = builder.Build();
    std::unique_ptr<Botan::Public_Key> key(Botan::X509::load_key(builder.PublicKeyDer()));
    ASSERT_NE(dynamic_cast<Botan::RSA_PublicKey*>(key.get()), nullptr);
    EXPECT_EQ(key->key_length(), 3072u);
    Botan::PK_Verifier strict(*key, "EMSA4(SHA-256,MGF1,32)");
    EXPECT_TRUE(strict.verify_message(package.blocks[1].stream, package.blocks[1].signature));
}

TEST_F(PackageBuilderTest, ChangedByteOrWrongSizeFailsTheSignature) {
    Package package = builder.Build();
    const Bytes key = builder.PublicKeyDer();
    sim::SignedBlock flipped = package.blocks[1];
    flipped.payload[5] ^= 0x80;
    EXPECT_FALSE(Verifies(flipped, key));
    sim::SignedBlock resized = package.blocks[1];
    resized.memorySize += 1;
    EXPECT_FALSE(Verifies(resized, key));
}

TEST_F(PackageBuilderTest, WrongSignatureDefect) {
    const Package package = builder.SetDefect(Defect::kWrongSignature).Build();
    const Bytes key = builder.PublicKeyDer();
    EXPECT_FALSE(Verifies(package.dpt, key));
    for (const sim::SignedBlock& block : package.blocks) {
        EXPECT_FALSE(Verifies(block, key));
    }
    RFS rfs;
    EXPECT_EQ(Check(package, rfs), 0);  // only the signatures are wrong
}

TEST_F(PackageBuilderTest, RecordDefectsAreRefusedByRfs) {
    const std::vector<std::pair<Defect, uint8_t>> cases = {
        {Defect::kRecordTooShort, 0x80}, {Defect::kRecordTooLong, 0x80}, {Defect::kDuplicateBlock, 0x80},
        {Defect::kUnknownBlock, 0x80},   {Defect::kDowngrade, 0x81},
    };
    const Bytes key = builder.PublicKeyDer();
    for (const auto& c : cases) {
        const Package package = builder.SetDefect(c.first).Build();
        RFS rfs;
        EXPECT_EQ(Check(package, rfs), c.second) << static_cast<int>(c.first);
        EXPECT_TRUE(Verifies(package.dpt, key)) << static_cast<int>(c.first);
    }
}

TEST_F(PackageBuilderTest, UnknownHardwareIdFailsTheHardwareCheck) {
    const Package package = builder.SetDefect(Defect::kUnknownHardwareId).Build();
    RFS rfs;
    EXPECT_EQ(Check(package, rfs), 0);
    EXPECT_FALSE(rfs.ValidateHwVersion());
}

TEST_F(PackageBuilderTest, UndescribablePackagesThrow) {
    PackageBuilder empty;
    EXPECT_THROW(empty.Build(), std::invalid_argument);
    empty.AddBlock({3, {1, 2}, {{'0', '0', '0', '1'}}, {}});
    EXPECT_THROW(empty.SetDefect(Defect::kDowngrade).Build(), std::invalid_argument);
    EXPECT_THROW(empty.SetAddressWidth(5), std::invalid_argument);
}

}  // namespace
