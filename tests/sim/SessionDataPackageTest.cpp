// Signed test packages downloaded through the session's bookkeeping and
// checked by the real signature verifier, as RequestDownload, TransferData,
// RequestTransferExit and routine 0x0202 drive them.
#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "signature/SignatureVerifier.h"
#include "sim/PackageBuilder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using sim::BlockDefinition;
using sim::Bytes;
using sim::Package;
using sim::PackageBuilder;
using sim::SignedBlock;
using testsupport::Level;

constexpr uint8_t kFormat = 0x42;  // 4 memorySize bytes, 2 memoryAddress bytes

Bytes Payload(size_t size, uint8_t seed) {
    Bytes payload(size);
    for (size_t i = 0; i < size; ++i) {
        payload[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return payload;
}

class SessionDataPackageTest : public ::testing::Test {
protected:
    SessionDataPackageTest() {
        box.MakeDir("keys");
        configuration->Public_key_path = box.Path("keys/public.pem");
        EXPECT_TRUE(builder.WritePublicKey(configuration->Public_key_path));
        session = std::make_shared<SessionData>(configuration, nullptr, std::make_shared<SignatureVerifier>());
        builder.AddBlock(BlockDefinition{0x01, Payload(1000, 1), {{'0', '0', '1', '0'}}, {{'A', 'B', '0', '1'}}})
            .AddBlock(BlockDefinition{0x02, Payload(1, 2), {{'0', '0', '0', '1'}}, {{'A', 'B', '0', '2'}}})
            .AddBlock(BlockDefinition{0x03, Payload(4096, 3), {{'9', '9', '9', '9'}}, {{'A', 'B', '0', '3'}}});
    }

    // One RequestDownload, its TransferData chunks and RequestTransferExit;
    // false when a chunk would exceed the announced size.
    bool Download(const SignedBlock& block, const Bytes& payload, size_t chunkSize, uint32_t announcedSize) {
        session->SetSignatureResult(0);
        session->StartBlockTransfer(announcedSize, block.memoryAddress, kFormat);
        session->SetRequestDownloadFinished(false);
        for (size_t offset = 0; offset < payload.size(); offset += chunkSize) {
            const size_t count = std::min(chunkSize, payload.size() - offset);
            if (count > session->GetRemainingSize(true)) {
                return false;
            }
            session->DecreaseRemainingSize(true, static_cast<uint32_t>(count));
            session->AddTransferredData(Bytes(payload.begin() + static_cast<std::ptrdiff_t>(offset),
                                              payload.begin() + static_cast<std::ptrdiff_t>(offset + count)));
        }
        session->FinishBlockTransfer(true);
        session->SetRequestDownloadFinished(true);
        return true;
    }

    bool Download(const SignedBlock& block, size_t chunkSize) {
        return Download(block, block.payload, chunkSize, block.memorySize);
    }

    testsupport::Sandbox box{true};
    testsupport::LogCapture capture;
    PackageBuilder builder;
    std::shared_ptr<KivConfiguration> configuration = std::make_shared<KivConfiguration>();
    std::shared_ptr<SessionData> session;
};

TEST_F(SessionDataPackageTest, EveryBlockDownloadedInChunksVerifies) {
    const Package package = builder.Build();
    ASSERT_EQ(package.blocks.size(), 3U);
    const size_t chunkSizes[] = {128, 1, 4096};
    for (size_t i = 0; i < package.blocks.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(Download(package.blocks[i], chunkSizes[i]));
        EXPECT_TRUE(session->IsSignatureValid(package.blocks[i].signature));
        EXPECT_EQ(session->GetSignatureResult(), 1);
        EXPECT_EQ(session->GetRemainingSize(true), 0U);
    }
    EXPECT_EQ(capture.Count("check passed"), 3U);
    const auto entries = session->GetDownloadedLogicalBlocks();
    ASSERT_EQ(entries.size(), 3U);
    EXPECT_TRUE(std::all_of(entries.begin(), entries.end(), [](const auto& entry) { return entry.finished; }));
}

TEST_F(SessionDataPackageTest, FlippedByteOrWrongSizeFailsOnlyThatBlock) {
    const Package package = builder.Build();
    Bytes flipped = package.blocks[0].payload;
    flipped[517] ^= 0x20;
    ASSERT_TRUE(Download(package.blocks[0], flipped, 100, package.blocks[0].memorySize));
    EXPECT_FALSE(session->IsSignatureValid(package.blocks[0].signature));
    EXPECT_EQ(session->GetSignatureResult(), 2);
    EXPECT_TRUE(capture.Contains(Level::kInfo, "check failed"));

    // The header carries the announced size: announcing more than was signed fails
    // although every byte of the payload is right.
    const SignedBlock& second = package.blocks[1];
    ASSERT_TRUE(Download(second, second.payload, 1, second.memorySize + 1));
    EXPECT_FALSE(session->IsSignatureValid(second.signature));

    // A block started afterwards is checked on its own bytes alone.
    ASSERT_TRUE(Download(package.blocks[2], 1000));
    EXPECT_TRUE(session->IsSignatureValid(package.blocks[2].signature));
}

TEST_F(SessionDataPackageTest, SignatureOverOtherBytesFails) {
    builder.SetDefect(sim::Defect::kWrongSignature);
    const Package package = builder.Build();
    for (const SignedBlock& block : package.blocks) {
        ASSERT_TRUE(Download(block, 512));
        EXPECT_FALSE(session->IsSignatureValid(block.signature));
    }
    EXPECT_EQ(capture.Count("check passed"), 0U);
}

TEST_F(SessionDataPackageTest, DptRecordIsSignedAndConvertedAfterItsDownload) {
    const Package package = builder.Build();
    const auto rfs = session->GetRFS();
    rfs->SetTransferActive(true);
    rfs->ClearData();
    ASSERT_TRUE(Download(package.dpt, 7));
    EXPECT_TRUE(session->IsSignatureValid(package.dpt.signature));
    EXPECT_EQ(rfs->GetData(), package.dpt.payload);
    rfs->SetTransferActive(false);
    EXPECT_TRUE(session->GetDownloadedLogicalBlocks().empty());

    // With no logical block in the session the record is fed again as one block.
    session->SetSignatureResult(0);
    session->FeedRfsToSignature();
    EXPECT_TRUE(session->IsSignatureValid(package.dpt.signature));

    uint8_t result = 0;
    ASSERT_TRUE(rfs->ConvertToDpt(package.installedBlocks, result, package.configuredBlockIds));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rfs->GetDowngradeTable().size(), 3U);

    // The logical blocks announced by the record then go their own way.
    ASSERT_TRUE(Download(package.blocks[0], 333));
    EXPECT_TRUE(session->IsSignatureValid(package.blocks[0].signature));
    EXPECT_EQ(rfs->GetData(), package.dpt.payload);
}

}  // namespace
