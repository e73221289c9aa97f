#include "signature/SignatureVerification.h"
#include "signature/SignatureVerifier.h"
#include "tests/support/LogCapture.h"

#include <botan/auto_rng.h>
#include <botan/ec_group.h>
#include <botan/ecdsa.h>
#include <botan/pkcs8.h>
#include <botan/pubkey.h>
#include <botan/rsa.h>
#include <botan/x509_key.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::Level;
using testsupport::LogCapture;
using Bytes = std::vector<uint8_t>;

constexpr const char* kNotInitialized = "SignatureVerifier is not initialized";
constexpr const char* kInitFailed = "SignatureCalculation::CreateVeryfierInstance() failed with exception.";

// Key generation is slow (3072 bits), so each key is made once per process
// and only by the tests that need it.
struct TestKey {
    explicit TestKey(Botan::RandomNumberGenerator& rng) : key(rng, 3072) {}
    Botan::RSA_PrivateKey key;

    Bytes Der() const { return Botan::X509::BER_encode(key); }
    Bytes Pem() const {
        const std::string pem = Botan::X509::PEM_encode(key);
        return Bytes(pem.begin(), pem.end());
    }
};

class SignatureVerifierTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rng_ = std::make_unique<Botan::AutoSeeded_RNG>();
        signer_ = std::make_unique<TestKey>(*rng_);
    }
    static void TearDownTestSuite() {
        other_.reset();
        signer_.reset();
        rng_.reset();
    }

    static const TestKey& Signer() { return *signer_; }
    static const TestKey& Other() {
        if (!other_) {
            other_ = std::make_unique<TestKey>(*rng_);
        }
        return *other_;
    }

    static Bytes Sign(const TestKey& key, const Bytes& message, const std::string& padding = "PSSR(SHA-256,MGF1,32)") {
        Botan::PK_Signer signer(key.key, *rng_, padding, Botan::IEEE_1363);
        return signer.sign_message(message, *rng_);
    }

    static Bytes Message(size_t size) {
        Bytes message(size);
        for (size_t i = 0; i < size; ++i) {
            message[i] = static_cast<uint8_t>((i * 131u + 7u) ^ (i >> 8));
        }
        return message;
    }

    // Feeds the message in pieces of the given sizes (cycled) and verifies.
    static bool FeedAndVerify(SignatureVerifier& verifier, const Bytes& message, const std::vector<size_t>& pieces,
                              const Bytes& signature) {
        size_t offset = 0;
        size_t index = 0;
        while (offset < message.size()) {
            const size_t length = std::min(pieces[index++ % pieces.size()], message.size() - offset);
            verifier.Update(Bytes(message.begin() + offset, message.begin() + offset + length));
            offset += length;
        }
        return verifier.Verify(signature);
    }

    static std::unique_ptr<Botan::AutoSeeded_RNG> rng_;
    static std::unique_ptr<TestKey> signer_;
    static std::unique_ptr<TestKey> other_;
};

std::unique_ptr<Botan::AutoSeeded_RNG> SignatureVerifierTest::rng_;
std::unique_ptr<TestKey> SignatureVerifierTest::signer_;
std::unique_ptr<TestKey> SignatureVerifierTest::other_;

TEST_F(SignatureVerifierTest, ValidSignaturePassesForAnySplitOfTheStream) {
    const Bytes message = Message(100000);
    const Bytes signature = Sign(Signer(), message);
    const std::vector<std::vector<size_t>> splits = {
        {message.size()}, {4093}, {1}, {0, 7, 0, 65536, 3}, {8, 1024, 4093, 1}};
    for (const auto& pieces : splits) {
        LogCapture capture;
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(Signer().Der()));
        EXPECT_TRUE(FeedAndVerify(verifier, message, pieces, signature)) << "first piece " << pieces.front();
        EXPECT_TRUE(capture.Contains(Level::kInfo, "check passed"));
        EXPECT_FALSE(capture.Contains("check failed"));
    }
}

TEST_F(SignatureVerifierTest, KeyLoadsFromPemAndDer) {
    const Bytes message = Message(3000);
    const Bytes signature = Sign(Signer(), message);

    Bytes crlfPem;
    for (uint8_t c : Signer().Pem()) {
        if (c == '\n') {
            crlfPem.push_back('\r');
        }
        crlfPem.push_back(c);
    }
    for (const Bytes& key : {Signer().Der(), Signer().Pem(), crlfPem}) {
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(key));
        EXPECT_TRUE(verifier.IsInitialized());
        EXPECT_TRUE(FeedAndVerify(verifier, message, {512}, signature));
    }
}

TEST_F(SignatureVerifierTest, ChangedDataOrSignatureFails) {
    const Bytes message = Message(10000);
    const Bytes signature = Sign(Signer(), message);
    LogCapture capture;

    for (size_t position : {size_t{0}, message.size() / 2, message.size() - 1}) {
        Bytes changed = message;
        changed[position] ^= 0x01;
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(Signer().Der()));
        EXPECT_FALSE(FeedAndVerify(verifier, changed, {4093}, signature)) << "data byte " << position;
    }
    for (size_t position : {size_t{0}, signature.size() / 2, signature.size() - 1}) {
        Bytes changed = signature;
        changed[position] ^= 0x80;
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(Signer().Der()));
        EXPECT_FALSE(FeedAndVerify(verifier, message, {4093}, changed)) << "signature byte " << position;
    }
    // A stream that misses its last byte or has one extra must not pass either.
    Bytes longer = message;
    longer.push_back(0x00);
    for (const Bytes& stream : {Bytes(message.begin(), message.end() - 1), longer}) {
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(Signer().Der()));
        EXPECT_FALSE(FeedAndVerify(verifier, stream, {4093}, signature));
    }
    EXPECT_TRUE(capture.Contains(Level::kInfo, "check failed"));
    EXPECT_FALSE(capture.Contains("check passed"));
}

TEST_F(SignatureVerifierTest, SignatureOfAnotherSchemeOrKeyFails) {
    const Bytes message = Message(5000);
    struct Case {
        const char* name;
        Bytes signature;
    };
    const std::vector<Case> cases = {
        {"PKCS#1 v1.5", Sign(Signer(), message, "EMSA3(SHA-256)")},
        {"PSS over SHA-1", Sign(Signer(), message, "EMSA4(SHA-1)")},
        {"other key", Sign(Other(), message)},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(Signer().Der()));
        EXPECT_FALSE(FeedAndVerify(verifier, message, {4093}, c.signature)) << c.name;
        EXPECT_FALSE(capture.Contains("check passed")) << c.name;
    }
    // And the other way round: the right signature under the wrong public key.
    SignatureVerifier verifier;
    ASSERT_TRUE(verifier.Initialize(Other().Pem()));
    EXPECT_FALSE(FeedAndVerify(verifier, message, {4093}, Sign(Signer(), message)));
}

TEST_F(SignatureVerifierTest, MalformedSignatureIsFalseWithoutThrowing) {
    const Bytes message = Message(2000);
    const Bytes signature = Sign(Signer(), message);
    ASSERT_EQ(signature.size(), 384u);

    Bytes longer = signature;
    longer.push_back(0x00);
    struct Case {
        const char* name;
        Bytes signature;
    };
    const std::vector<Case> cases = {
        {"truncated by one", Bytes(signature.begin(), signature.end() - 1)},
        {"half", Bytes(signature.begin(), signature.begin() + 192)},
        {"empty", Bytes()},
        {"one byte longer", longer},
        {"all zero", Bytes(384, 0x00)},
        {"all 0xFF (not below the modulus)", Bytes(384, 0xFF)},
        {"far too long", Bytes(4096, 0x5A)},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        SignatureVerifier verifier;
        ASSERT_TRUE(verifier.Initialize(Signer().Der()));
        bool result = true;
        EXPECT_NO_THROW(result = FeedAndVerify(verifier, message, {4093}, c.signature)) << c.name;
        EXPECT_FALSE(result) << c.name;
        EXPECT_FALSE(capture.Contains("check passed")) << c.name;
    }
}

// Each block's signature covers the bytes since its Initialize, and Verify ends
// the computation.
TEST_F(SignatureVerifierTest, VerifyCoversOnlyTheBytesSinceInitialize) {
    const Bytes message = Message(6000);
    const Bytes signature = Sign(Signer(), message);
    SignatureVerifier verifier;

    ASSERT_TRUE(verifier.Initialize(Signer().Der()));
    EXPECT_FALSE(verifier.Verify(signature));  // no Update at all
    ASSERT_TRUE(verifier.Initialize(Signer().Der()));
    EXPECT_TRUE(verifier.Verify(Sign(Signer(), Bytes())));

    ASSERT_TRUE(verifier.Initialize(Signer().Der()));
    verifier.Update(Message(333));
    ASSERT_TRUE(verifier.Initialize(Signer().Der()));
    EXPECT_TRUE(FeedAndVerify(verifier, message, {1000}, signature));
    // The same signature again without a restart must not pass a second time.
    EXPECT_FALSE(verifier.Verify(signature));
}

TEST_F(SignatureVerifierTest, BadKeyLeavesVerifierUninitialisedUntilAGoodKey) {
    const Bytes message = Message(1500);
    const Bytes signature = Sign(Signer(), message);
    const Bytes der = Signer().Der();
    Bytes truncatedDer(der.begin(), der.end() - 10);
    Bytes corruptedPem = Signer().Pem();
    corruptedPem[40] = '*';
    std::string privatePem = Botan::PKCS8::PEM_encode(Signer().key);

    const std::vector<std::pair<const char*, Bytes>> badKeys = {
        {"empty", Bytes()},
        {"garbage", Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}},
        {"truncated DER", truncatedDer},
        {"corrupted PEM", corruptedPem},
        {"private key PEM", Bytes(privatePem.begin(), privatePem.end())},
    };
    for (const auto& bad : badKeys) {
        LogCapture capture;
        SignatureVerifier verifier;
        // A good key first: a failed re-initialisation must not leave the old one usable.
        ASSERT_TRUE(verifier.Initialize(der));
        EXPECT_FALSE(verifier.Initialize(bad.second)) << bad.first;
        EXPECT_TRUE(capture.Contains(Level::kError, kInitFailed)) << bad.first;
        EXPECT_FALSE(verifier.IsInitialized()) << bad.first;

        capture.Clear();
        verifier.Update(message);
        EXPECT_TRUE(capture.Contains(Level::kError, kNotInitialized)) << bad.first;
        EXPECT_FALSE(verifier.Verify(signature)) << bad.first;

        ASSERT_TRUE(verifier.Initialize(der)) << bad.first;
        EXPECT_TRUE(FeedAndVerify(verifier, message, {700}, signature)) << bad.first;
    }
}

TEST_F(SignatureVerifierTest, UpdateFailureMakesTheBlockFail) {
    struct FailingUpdate : SignatureVerifier {
        bool fail = false;
        void DoUpdate(const Bytes& data) override {
            if (fail) {
                throw std::runtime_error("out of resources");
            }
            SignatureVerifier::DoUpdate(data);
        }
    };
    const Bytes message = Message(2000);
    const Bytes signature = Sign(Signer(), message);
    LogCapture capture;
    FailingUpdate verifier;
    ASSERT_TRUE(verifier.Initialize(Signer().Der()));
    verifier.Update(Bytes(message.begin(), message.begin() + 1000));
    verifier.fail = true;
    EXPECT_NO_THROW(verifier.Update(Bytes(message.begin() + 1000, message.end())));
    EXPECT_TRUE(capture.Contains(Level::kError, "SignatureVerifier::update() got exception: out of resources"));
    EXPECT_FALSE(verifier.Verify(signature));
}

TEST_F(SignatureVerifierTest, VerifyExceptionsBecomeLoggedFalse) {
    struct Throwing : SignatureVerifier {
        bool standard = true;
        bool DoVerify(const Bytes&) override {
            if (standard) {
                throw std::runtime_error("bad signature encoding");
            }
            throw 42;
        }
    };
    LogCapture capture;
    Throwing verifier;
    ASSERT_TRUE(verifier.Initialize(Signer().Der()));
    bool result = true;
    EXPECT_NO_THROW(result = verifier.Verify(Bytes(384, 1)));
    EXPECT_FALSE(result);
    EXPECT_TRUE(capture.Contains(Level::kError, "SignatureVerifier::verify() got exception: bad signature encoding"));

    verifier.standard = false;
    result = true;
    EXPECT_NO_THROW(result = verifier.Verify(Bytes(384, 1)));
    EXPECT_FALSE(result);
    EXPECT_TRUE(capture.Contains(Level::kError, "Unknown Exception in: verify:"));
    EXPECT_FALSE(capture.Contains("check passed"));
}

// Tests that need no key pair.

TEST(SignatureVerifierWithoutKey, UseBeforeInitializeIsLoggedFalse) {
    LogCapture capture;
    SignatureVerifier verifier;
    EXPECT_FALSE(verifier.IsInitialized());
    verifier.Update(Bytes{1, 2, 3});
    EXPECT_EQ(capture.Count(kNotInitialized), 1u);
    EXPECT_FALSE(verifier.Verify(Bytes(384, 0x11)));
    EXPECT_EQ(capture.Count(kNotInitialized), 2u);
    EXPECT_TRUE(capture.Contains(Level::kError, kNotInitialized));
    EXPECT_FALSE(capture.Contains("check"));
}

TEST(SignatureVerifierWithoutKey, NonRsaKeyIsRejected) {
    Botan::AutoSeeded_RNG rng;
    Botan::ECDSA_PrivateKey ecKey(rng, Botan::EC_Group("secp256r1"));
    LogCapture capture;
    SignatureVerifier verifier;
    EXPECT_FALSE(verifier.Initialize(Botan::X509::BER_encode(ecKey)));
    EXPECT_TRUE(capture.Contains(Level::kError, kInitFailed));
    EXPECT_THROW(CreateSignatureVerification(Botan::X509::BER_encode(ecKey)), std::exception);
}

}  // namespace
