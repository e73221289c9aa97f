#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/SafePersistency.h"

#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::Level;

class SafePersistencyTest : public ::testing::Test {
protected:
    Bytes Raw(const std::string& key) {
        Bytes bytes;
        EXPECT_TRUE(raw_->Get(key, bytes)) << key;
        return bytes;
    }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    std::shared_ptr<PermanentStorage> raw_ = CreateAraPersistency("db");
    std::shared_ptr<PermanentStorage> safe_ = std::make_shared<SafePersistency>(
        SafePersistency::StrategyMap{{"SER_SwUpdateState", StorageStrategyType::SimpleStorageStrategy}}, raw_);
};

TEST_F(SafePersistencyTest, ValuesGetTheIndicatorInFront) {
    ASSERT_TRUE(safe_->Set("absent-from-map", static_cast<uint32_t>(3)));
    EXPECT_EQ(Raw("absent-from-map"), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x03}));
    ASSERT_TRUE(safe_->Set("SER_SwUpdateState", Bytes{0x00, 0x00, 0x00, 0x2A}));
    EXPECT_EQ(Raw("SER_SwUpdateState"), (Bytes{0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x2A}));
    ASSERT_TRUE(safe_->Set("s", std::string("abc")));
    EXPECT_EQ(Raw("s"), (Bytes{0x00, 0x00, 0x01, 0x03, 0x61, 0x62, 0x63}));
    ASSERT_TRUE(safe_->Set("e", std::string()));
    EXPECT_EQ(Raw("e"), (Bytes{0x00, 0x00, 0x01, 0x00}));
    ASSERT_TRUE(safe_->Set("b", false));
    EXPECT_EQ(Raw("b"), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_TRUE(capture_.Contains(Level::kInfo, "Stored key 's' with strategy 'SimpleStorageStrategy'. Data is '"));
}

TEST_F(SafePersistencyTest, EveryTypeRoundTrips) {
    ASSERT_TRUE(safe_->Set("f", -2.5f));
    ASSERT_TRUE(safe_->Set("i", static_cast<int64_t>(-5)));
    ASSERT_TRUE(safe_->Set("v", Bytes{1, 2, 3}));
    float f = 0;
    int64_t i = 0;
    Bytes v;
    EXPECT_TRUE(safe_->Get("f", f));
    EXPECT_TRUE(safe_->Get("i", i));
    EXPECT_TRUE(safe_->Get("v", v));
    EXPECT_EQ(f, -2.5f);
    EXPECT_EQ(i, -5);
    EXPECT_EQ(v, (Bytes{1, 2, 3}));
    EXPECT_TRUE(capture_.Contains("Restored key 'i' with strategy 'SimpleStorageStrategy'. Value is '-5'."));
}

TEST_F(SafePersistencyTest, StoredBytesAreCheckedBeforeUse) {
    Bytes v{0x77};
    ASSERT_TRUE(raw_->Set("empty", Bytes{}));
    EXPECT_FALSE(safe_->Get("empty", v));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Data loaded for key 'empty' is too small!"));
    ASSERT_TRUE(raw_->Set("one", Bytes{0x00}));
    EXPECT_FALSE(safe_->Get("one", v));
    ASSERT_TRUE(raw_->Set("mismatch", Bytes{0x00, 0x01, 0xFF}));
    EXPECT_FALSE(safe_->Get("mismatch", v));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Detected error in strategy indicator! Unable to load data!"));
    ASSERT_TRUE(raw_->Set("bare", Bytes{0x00, 0x00}));
    EXPECT_FALSE(safe_->Get("bare", v));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Erasing storage strategy indicator failed!"));
    EXPECT_FALSE(safe_->Get("missing", v));
    EXPECT_TRUE(capture_.Contains(Level::kError, "Unable to load key 'missing'"));
    EXPECT_EQ(v, Bytes{0x77});

    ASSERT_TRUE(raw_->Set("ok", Bytes{0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x2A}));
    EXPECT_TRUE(safe_->Get("ok", v));
    EXPECT_EQ(v, (Bytes{0x00, 0x00, 0x00, 0x2A}));
}

TEST_F(SafePersistencyTest, AnUnknownButEqualIndicatorIsReadPlainly) {
    ASSERT_TRUE(raw_->Set("k", Bytes{0x07, 0x07, 0xFF}));
    bool flag = false;
    EXPECT_TRUE(safe_->Get("k", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(capture_.Contains("with strategy '< Unknown storage strategy type >'"));
}

TEST_F(SafePersistencyTest, TruncatedPayloadsReadAsFalseAndLeaveTheOutput) {
    uint32_t number = 9;
    ASSERT_TRUE(raw_->Set("short", Bytes{0x00, 0x00, 0x05}));
    EXPECT_FALSE(safe_->Get("short", number));
    EXPECT_EQ(number, 9U);
    std::string text = "keep";
    ASSERT_TRUE(raw_->Set("lying", Bytes{0x00, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x41}));
    EXPECT_FALSE(safe_->Get("lying", text));
    EXPECT_EQ(text, "keep");
}

TEST_F(SafePersistencyTest, NonByteValuesAtThePlatformReadAsFalse) {
    ASSERT_TRUE(raw_->Set("typed", static_cast<uint32_t>(1)));
    uint32_t number = 4;
    EXPECT_FALSE(safe_->Get("typed", number));
    EXPECT_EQ(number, 4U);
}

TEST_F(SafePersistencyTest, SimpleStoringCopiesWhateverTheCapacity) {
    SimpleStoring strategy;
    Bytes payload;
    payload.reserve(100);
    EXPECT_TRUE(strategy.Decode(payload, Bytes{1, 2, 3}));
    EXPECT_EQ(payload, (Bytes{1, 2, 3}));
    Bytes stored{9};
    EXPECT_TRUE(strategy.Encode(Bytes{4, 5}, stored));
    EXPECT_EQ(stored, (Bytes{9, 4, 5}));
    EXPECT_EQ(ToString(static_cast<StorageStrategyType>(3)), "< Unknown storage strategy type >");
}

TEST_F(SafePersistencyTest, AMissingInnerStorageFailsEveryOperation) {
    SafePersistency safe({}, nullptr);
    bool flag = true;
    EXPECT_FALSE(safe.Set("k", true));
    EXPECT_FALSE(safe.Get("k", flag));
    EXPECT_FALSE(safe.Has("k"));
    EXPECT_FALSE(safe.Persist());
    EXPECT_TRUE(safe.IsEmpty());
}

}  // namespace
