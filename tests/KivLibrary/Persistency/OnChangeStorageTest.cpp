#include "KivLibrary/Persistency/AraPersistency.h"
#include "KivLibrary/Persistency/OnChangeStorage.h"
#include "KivLibrary/Persistency/SafePersistency.h"
#include "KivLibrary/Persistency/Serialization.h"

#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;
namespace hook = ara::per::testhook;

// Counts the writes that reach the platform through the "Set: key = " message
// of the bottom layer.
class OnChangeStorageTest : public ::testing::Test {
protected:
    void SetUp() override { hook::Reset(); }
    void TearDown() override { hook::Reset(); }

    size_t PlatformWrites(const std::string& key) const { return capture_.Count("Set: key = " + key + ","); }

    testsupport::Sandbox box_{true};
    testsupport::LogCapture capture_;
    std::shared_ptr<PermanentStorage> raw_ = CreateAraPersistency("db");
    std::shared_ptr<OnChangeStorage> cache_ = std::make_shared<OnChangeStorage>(raw_);
};

TEST_F(OnChangeStorageTest, UnchangedBytesAreWrittenOnce) {
    EXPECT_TRUE(cache_->Set("k", Bytes{1, 2}));
    EXPECT_TRUE(cache_->Set("k", Bytes{1, 2}));
    EXPECT_EQ(PlatformWrites("k"), 1U);
    EXPECT_EQ(capture_.Count("Stored key 'k'"), 2U);
    EXPECT_TRUE(cache_->Set("k", Bytes{1, 3}));
    EXPECT_TRUE(cache_->Set("k", Bytes{1, 3, 0}));
    EXPECT_EQ(PlatformWrites("k"), 3U);
    EXPECT_TRUE(cache_->Set("empty", Bytes{}));
    EXPECT_TRUE(cache_->Set("empty", Bytes{}));
    EXPECT_EQ(PlatformWrites("empty"), 1U);
}

TEST_F(OnChangeStorageTest, TypedValuesAreStoredInTheirEncoding) {
    EXPECT_TRUE(cache_->Set("n", static_cast<uint16_t>(0x0102)));
    Bytes raw;
    ASSERT_TRUE(raw_->Get("n", raw));
    EXPECT_EQ(raw, (Bytes{0x01, 0x02}));
    EXPECT_TRUE(cache_->Set("n", static_cast<uint16_t>(0x0102)));
    EXPECT_EQ(PlatformWrites("n"), 1U);
    uint16_t value = 0;
    EXPECT_TRUE(cache_->Get("n", value));
    EXPECT_EQ(value, 0x0102);
    std::string text = "x";
    EXPECT_TRUE(cache_->Set("s", std::string("hello")));
    EXPECT_TRUE(cache_->Get("s", text));
    EXPECT_EQ(text, "hello");
}

TEST_F(OnChangeStorageTest, RemoveAndClearForgetTheCache) {
    EXPECT_TRUE(cache_->Set("a", Bytes{1}));
    EXPECT_TRUE(cache_->Remove("a"));
    EXPECT_TRUE(capture_.Contains("Key a is removed"));
    EXPECT_TRUE(cache_->Set("a", Bytes{1}));
    EXPECT_EQ(PlatformWrites("a"), 2U);
    EXPECT_TRUE(cache_->Clear());
    EXPECT_TRUE(capture_.Contains("Map is cleared"));
    EXPECT_TRUE(cache_->Set("a", Bytes{1}));
    EXPECT_EQ(PlatformWrites("a"), 3U);
    EXPECT_EQ(cache_->Remove("never"), !hook::IsStrictRemoval());
}

TEST_F(OnChangeStorageTest, AFailedWriteKeepsTheOldEntryAndIsRetried) {
    EXPECT_TRUE(cache_->Set("k", Bytes{1}));
    hook::InjectFailure(hook::Operation::kSetValue, 1);
    EXPECT_FALSE(cache_->Set("k", Bytes{2}));
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kError, "Failed to store key 'k' !"));
    EXPECT_TRUE(cache_->Set("k", Bytes{2}));
    Bytes raw;
    ASSERT_TRUE(raw_->Get("k", raw));
    EXPECT_EQ(raw, Bytes{2});
    // The old bytes differ from the cached new ones, so they go through too.
    EXPECT_TRUE(cache_->Set("k", Bytes{1}));
    ASSERT_TRUE(raw_->Get("k", raw));
    EXPECT_EQ(raw, Bytes{1});
}

TEST_F(OnChangeStorageTest, HasAndReadsFillTheCacheFromTheStorage) {
    ASSERT_TRUE(raw_->Set("k", Bytes{5, 6}));
    EXPECT_TRUE(cache_->Has("k"));
    EXPECT_TRUE(capture_.Contains("Key k exists in DB"));
    EXPECT_TRUE(cache_->Set("k", Bytes{5, 6}));
    EXPECT_EQ(PlatformWrites("k"), 1U);

    ASSERT_TRUE(raw_->Set("r", Bytes{7}));
    Bytes read;
    EXPECT_TRUE(cache_->Get("r", read));
    EXPECT_EQ(read, Bytes{7});
    EXPECT_TRUE(cache_->Set("r", Bytes{7}));
    EXPECT_EQ(PlatformWrites("r"), 1U);
}

TEST_F(OnChangeStorageTest, FailedOrShortReadsLeaveTheOutput) {
    uint32_t number = 11;
    EXPECT_FALSE(cache_->Get("missing", number));
    EXPECT_TRUE(capture_.Contains(testsupport::Level::kError, "Unable to load key 'missing'"));
    ASSERT_TRUE(raw_->Set("short", Bytes{0, 1}));
    EXPECT_FALSE(cache_->Get("short", number));
    std::string text = "keep";
    ASSERT_TRUE(raw_->Set("lying", Bytes{0x02, 0xFF, 0xFF, 'a'}));
    EXPECT_FALSE(cache_->Get("lying", text));
    EXPECT_EQ(number, 11U);
    EXPECT_EQ(text, "keep");
}

TEST_F(OnChangeStorageTest, AnEmptyStorageIsRefused) {
    EXPECT_THROW(OnChangeStorage(nullptr), MissingStorageException);
    try {
        OnChangeStorage storage(nullptr);
    } catch (const MissingStorageException& e) {
        EXPECT_STREQ(e.what(), "Missing storage!");
    }
}

TEST_F(OnChangeStorageTest, IsDataChangedComparesLengthAndContent) {
    EXPECT_TRUE(cache_->IsDataChanged(Bytes{1}, Bytes{1, 1}));
    EXPECT_TRUE(cache_->IsDataChanged(Bytes{1, 2}, Bytes{1, 3}));
    EXPECT_FALSE(cache_->IsDataChanged(Bytes{}, Bytes{}));
    EXPECT_TRUE(capture_.Contains("OnChangeStorage::IsDataChanged isEqual = true"));
}

// Writers on several threads must never leave the cache believing the storage
// holds bytes it does not: after the race, rewriting every cached value and
// reading the storage must agree.
TEST_F(OnChangeStorageTest, ConcurrentWritersKeepCacheAndStorageInStep) {
    auto safe = std::make_shared<SafePersistency>(SafePersistency::StrategyMap{}, raw_);
    auto cache = std::make_shared<OnChangeStorage>(safe);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([cache, t]() {
            for (uint32_t i = 0; i < 200; ++i) {
                cache->Set("shared", static_cast<uint32_t>(i % 3));
                cache->Set("own" + std::to_string(t), i);
                uint32_t value = 0;
                cache->Get("shared", value);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (uint32_t candidate = 0; candidate < 3; ++candidate) {
        ASSERT_TRUE(cache->Set("shared", candidate));
        Bytes stored;
        ASSERT_TRUE(safe->Get("shared", stored));
        EXPECT_EQ(stored, EncodeValue(candidate));
    }
}

}  // namespace
