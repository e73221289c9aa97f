#include "KivLibrary/Persistency/AraPersistency.h"

#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

namespace {

using ara::per::KvsType;
using Bytes = std::vector<uint8_t>;
namespace hook = ara::per::testhook;

class AraPersistencyTest : public ::testing::Test {
protected:
    void SetUp() override { hook::Reset(); }
    void TearDown() override { hook::Reset(); }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    std::shared_ptr<PermanentStorage> storage_ = CreateAraPersistency("db");
};

template <typename T>
void ExpectRoundTrip(PermanentStorage& storage, const std::string& key, const T& value) {
    ASSERT_TRUE(storage.Set(key, value)) << key;
    T read{};
    ASSERT_TRUE(storage.Get(key, read)) << key;
    EXPECT_EQ(read, value) << key;
}

TEST_F(AraPersistencyTest, EveryTypeRoundTripsAndSurvivesARestart) {
    ExpectRoundTrip(*storage_, "bool", true);
    ExpectRoundTrip(*storage_, "u8", static_cast<uint8_t>(200));
    ExpectRoundTrip(*storage_, "u16", static_cast<uint16_t>(60000));
    ExpectRoundTrip(*storage_, "u32", static_cast<uint32_t>(4000000000U));
    ExpectRoundTrip(*storage_, "u64", static_cast<uint64_t>(1) << 63);
    ExpectRoundTrip(*storage_, "s8", static_cast<int8_t>(-100));
    ExpectRoundTrip(*storage_, "s16", static_cast<int16_t>(-30000));
    ExpectRoundTrip(*storage_, "s32", static_cast<int32_t>(-2000000000));
    ExpectRoundTrip(*storage_, "s64", static_cast<int64_t>(-4611686018427387904LL));
    ExpectRoundTrip(*storage_, "float", 0.25f);
    ExpectRoundTrip(*storage_, "double", -1e300);
    ExpectRoundTrip(*storage_, "string", std::string("abc"));
    ExpectRoundTrip(*storage_, "bytes", Bytes{0x00, 0x01, 0xFF});
    EXPECT_EQ(storage_->GetSize(), 13U);
    ASSERT_TRUE(storage_->Persist());
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kInfo, "Persist: true"));

    storage_ = CreateAraPersistency("db");
    int16_t value = 0;
    ASSERT_TRUE(storage_->Get("s16", value));
    EXPECT_EQ(value, -30000);
    Bytes bytes;
    ASSERT_TRUE(storage_->Get("bytes", bytes));
    EXPECT_EQ(bytes, (Bytes{0x00, 0x01, 0xFF}));
}

TEST_F(AraPersistencyTest, AnotherTypeOrAMissingKeyReadsAsFalse) {
    ASSERT_TRUE(storage_->Set("k", static_cast<uint32_t>(5)));
    int32_t other = 42;
    EXPECT_FALSE(storage_->Get("k", other));
    EXPECT_EQ(other, 42);
    std::string text = "unchanged";
    EXPECT_FALSE(storage_->Get("missing", text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kInfo, "Get: key = missing, value = unchanged: false"));
    EXPECT_TRUE(capture_.Contains("Has: false"));
}

TEST_F(AraPersistencyTest, MessagesNameTheOperation) {
    capture_.Clear();
    ASSERT_TRUE(storage_->Set("a", static_cast<uint16_t>(7)));
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kInfo, "Set: key = a, value = 7: true"));
    EXPECT_TRUE(storage_->Remove("a"));
    EXPECT_TRUE(capture_.Contains("Remove key = a: true"));
    ASSERT_TRUE(storage_->Set("b", true));
    ASSERT_TRUE(storage_->Set("c", true));
    EXPECT_EQ(storage_->GetAllKeys(), (std::vector<std::string>{"b", "c"}));
    EXPECT_TRUE(capture_.Contains("GetAllKeys: b,c,"));
    EXPECT_FALSE(storage_->IsEmpty());
    EXPECT_TRUE(capture_.Contains("IsEmpty: false"));
    EXPECT_TRUE(storage_->Clear());
    EXPECT_TRUE(storage_->IsEmpty());
    for (const auto& message : capture_.Messages()) {
        EXPECT_EQ(message.text.find("[AraPersistency"), std::string::npos) << message.text;
    }
}

// The answer is the platform's: a strict platform refuses the removal of an absent key.
TEST_F(AraPersistencyTest, RemovingAnAbsentKeyAnswersAsThePlatform) {
    EXPECT_EQ(storage_->Remove("never-written"), !hook::IsStrictRemoval());
}

TEST_F(AraPersistencyTest, PlatformFailuresBecomeFalse) {
    ASSERT_TRUE(storage_->Set("k", true));
    hook::InjectFailure(hook::Operation::kSyncToStorage, 1);
    EXPECT_FALSE(storage_->Persist());
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kError, "Persist -> Exception: "));
    EXPECT_TRUE(storage_->Persist());

    // A storage that cannot list its keys is not reported as empty.
    hook::InjectFailure(hook::Operation::kGetAllKeys, 2);
    EXPECT_FALSE(storage_->IsEmpty());
    EXPECT_EQ(storage_->GetSize(), 0U);

    hook::InjectFailure(hook::Operation::kHasKey, 1);
    EXPECT_FALSE(storage_->Has("k"));
    hook::InjectFailure(hook::Operation::kGetValue, 1);
    bool value = false;
    EXPECT_FALSE(storage_->Get("k", value));
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kError, "GetKvsTypeValue -> Exception: "));
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(storage_->Set("k", false));
    hook::InjectFailure(hook::Operation::kRemoveKey, 1);
    EXPECT_FALSE(storage_->Remove("k"));
    hook::InjectFailure(hook::Operation::kRemoveAllKeys, 1);
    EXPECT_FALSE(storage_->Clear());
    EXPECT_TRUE(storage_->Get("k", value));
    EXPECT_TRUE(value);
}

TEST_F(AraPersistencyTest, ADamagedDatabaseThrowsFromTheFactory) {
    box_.WriteFile("var/lib/velmora/per/broken.kvs", "not a database");
    EXPECT_THROW(CreateAraPersistency("broken"), ara::per::KvsException);
}

TEST_F(AraPersistencyTest, ArrayValuesConvertToOneBytePerItem) {
    KvsType array(std::vector<KvsType>{KvsType(static_cast<uint8_t>(0x01)), KvsType(static_cast<uint16_t>(0x1234)),
                                       KvsType(static_cast<uint64_t>(0xFF))});
    EXPECT_EQ(ConvertKvsTypeToBytes(array), (Bytes{0x01, 0x34, 0xFF}));
    const uint8_t raw[] = {9, 8, 7};
    KvsType binary(raw, sizeof(raw));
    EXPECT_EQ(ConvertKvsTypeToBytes(binary), (Bytes{9, 8, 7}));
}

}  // namespace
