#include "platform/ara/per/key_value_storage.h"

#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

using ara::per::KeyValueStorage;
using ara::per::KvsException;
using ara::per::KvsType;
namespace hook = ara::per::testhook;

namespace {

class KeyValueStorageTest : public ::testing::Test {
protected:
    void SetUp() override { hook::Reset(); }
    void TearDown() override { hook::Reset(); }

    bool FileExists(const std::string& path) const {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0;
    }
    std::string ReadRaw(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    void WriteRaw(const std::string& path, const std::string& content) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }

    testsupport::Sandbox box_{true};
};

std::vector<std::pair<std::string, KvsType>> EveryKind() {
    const uint8_t bytes[] = {0x00, 0xFF, 0x7F, 0x80};
    return {
        {"bool", KvsType(true)},
        {"u8", KvsType(static_cast<uint8_t>(0xFE))},
        {"u16", KvsType(static_cast<uint16_t>(0xBEEF))},
        {"u32", KvsType(static_cast<uint32_t>(0xDEADBEEF))},
        {"u64", KvsType(static_cast<uint64_t>(0xFFFFFFFFFFFFFFFFULL))},
        {"s8", KvsType(static_cast<int8_t>(-128))},
        {"s16", KvsType(static_cast<int16_t>(-2))},
        {"s32", KvsType(static_cast<int32_t>(-2147483647 - 1))},
        {"s64", KvsType(static_cast<int64_t>(-9000000000000000000LL))},
        {"float", KvsType(-1.5f)},
        {"nan", KvsType(std::nanf("0x1234"))},
        {"double", KvsType(3.141592653589793)},
        {"string", KvsType(std::string("text with \"quotes\" and \xC3\xA4"))},
        {"emptyString", KvsType(std::string())},
        {"binary", KvsType(bytes, sizeof(bytes))},
        {"emptyBinary", KvsType(bytes, 0)},
        {"array", KvsType(std::vector<KvsType>{KvsType(static_cast<uint8_t>(1)), KvsType(std::string("x"))})},
    };
}

TEST_F(KeyValueStorageTest, EveryKindRoundTripsThroughTheMedium) {
    {
        KeyValueStorage storage("db");
        for (const auto& entry : EveryKind()) {
            storage.SetValue(entry.first, entry.second);
        }
        storage.SyncToStorage();
    }
    KeyValueStorage reopened("db");
    EXPECT_EQ(reopened.GetAllKeys().size(), EveryKind().size());
    for (const auto& entry : EveryKind()) {
        const KvsType value = reopened.GetValue(entry.first);
        EXPECT_EQ(value.GetType(), entry.second.GetType()) << entry.first;
        EXPECT_TRUE(value == entry.second) << entry.first;
    }
    EXPECT_EQ(reopened.GetValue("s16").GetSInt(), -2);
    EXPECT_EQ(reopened.GetValue("u64").GetUInt64(), 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(reopened.GetValue("double").GetDouble(), 3.141592653589793);
    EXPECT_EQ(reopened.GetValue("binary").GetBinaryArray(), (std::vector<uint8_t>{0x00, 0xFF, 0x7F, 0x80}));
}

TEST_F(KeyValueStorageTest, RestartKeepsSyncedAndDropsUnsyncedChanges) {
    {
        KeyValueStorage storage("db");
        storage.SetValue("kept", KvsType(static_cast<uint32_t>(1)));
        storage.SyncToStorage();
        storage.SetValue("kept", KvsType(static_cast<uint32_t>(2)));
        storage.SetValue("lost", KvsType(true));
        storage.RemoveAllKeys();
    }
    KeyValueStorage reopened("db");
    EXPECT_EQ(reopened.GetAllKeys(), std::vector<std::string>{"kept"});
    EXPECT_EQ(reopened.GetValue("kept").GetUInt(), 1U);
}

TEST_F(KeyValueStorageTest, OpeningNeverWritesAndAMissingDatabaseIsEmpty) {
    KeyValueStorage storage("fresh");
    EXPECT_TRUE(storage.GetAllKeys().empty());
    EXPECT_FALSE(storage.HasKey("x"));
    EXPECT_FALSE(FileExists(KeyValueStorage::Directory()));
    EXPECT_THROW(storage.GetValue("x"), KvsException);
    storage.SyncToStorage();
    EXPECT_TRUE(FileExists(KeyValueStorage::FilePath("fresh")));
    EXPECT_EQ(KeyValueStorage::FilePath("fresh").rfind(box_.Root(), 0), 0U);
}

TEST_F(KeyValueStorageTest, RemovingAnAbsentKeyFailsOnlyWhenStrict) {
    for (const bool strict : {false, true}) {
        hook::StrictRemoval(strict);
        KeyValueStorage storage(strict ? "strict" : "lenient");
        if (strict) {
            EXPECT_THROW(storage.RemoveKey("absent"), KvsException);
        } else {
            EXPECT_NO_THROW(storage.RemoveKey("absent"));
        }
        storage.SetValue("k", KvsType(true));
        EXPECT_NO_THROW(storage.RemoveKey("k")) << strict;
        EXPECT_FALSE(storage.HasKey("k")) << strict;
        EXPECT_EQ(strict, [&storage]() {
            try {
                storage.RemoveKey("k");
                return false;
            } catch (const KvsException&) {
                return true;
            }
        }()) << "a second removal of the same key";
    }
    hook::Reset();
}

TEST_F(KeyValueStorageTest, DamagedFilesAreRefusedAtOpen) {
    {
        KeyValueStorage storage("db");
        storage.SetValue("key", KvsType(static_cast<uint32_t>(0x01020304)));
        storage.SetValue("blob", KvsType(std::string("abc")));
        storage.SyncToStorage();
    }
    const std::string path = KeyValueStorage::FilePath("db");
    const std::string good = ReadRaw(path);
    ASSERT_FALSE(good.empty());

    std::vector<std::string> damaged;
    for (std::size_t i = 0; i < good.size(); i += 3) {
        std::string flipped = good;
        flipped[i] = static_cast<char>(flipped[i] ^ 0x01);
        damaged.push_back(flipped);
    }
    for (std::size_t length = 0; length < good.size(); length += 5) {
        damaged.push_back(good.substr(0, length));
    }
    damaged.push_back(good + " ");
    damaged.push_back("garbage");
    damaged.push_back(std::string(100, '\0'));
    for (const std::string& content : damaged) {
        WriteRaw(path, content);
        EXPECT_THROW(KeyValueStorage("db"), KvsException) << content;
    }
    WriteRaw(path, good);
    EXPECT_EQ(KeyValueStorage("db").GetValue("key").GetUInt(), 0x01020304U);
}

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFU;
    for (char c : data) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? 0xEDB88320U ^ (crc >> 1) : crc >> 1;
        }
    }
    return crc ^ 0xFFFFFFFFU;
}

// A well-formed file with a valid checksum whose one value nests `depth`
// arrays (type 14) around a boolean.
std::string NestedDatabase(std::size_t depth) {
    std::string value = R"({"type":13,"value":true})";
    std::string body = R"({"entries":{"k":)";
    for (std::size_t i = 0; i < depth; ++i) {
        body += R"({"type":14,"value":[)";
    }
    body += value;
    for (std::size_t i = 0; i < depth; ++i) {
        body += "]}";
    }
    body += "}}";
    char header[64];
    std::snprintf(header, sizeof(header), "VELMORA-KVS 1 crc32=%08X length=%zu\n", Crc32(body), body.size());
    return header + body;
}

TEST_F(KeyValueStorageTest, DeeplyNestedValuesAreDamageNotACrash) {
    const std::string path = KeyValueStorage::FilePath("db");
    box_.MakeDir("var/lib/velmora/per");
    const struct {
        std::size_t depth;
        bool readable;
    } cases[] = {{0, true}, {2, true}, {32, true}, {33, false}, {1000, false}, {30000, false}};
    for (const auto& c : cases) {
        WriteRaw(path, NestedDatabase(c.depth));
        if (c.readable) {
            KvsType value = KeyValueStorage("db").GetValue("k");
            for (std::size_t i = 0; i < c.depth; ++i) {
                ASSERT_TRUE(value.IsArray()) << c.depth;
                KvsType inner = value.GetNextArrayItem();
                value = inner;
            }
            EXPECT_TRUE(value.GetBool()) << c.depth;
        } else {
            EXPECT_THROW(KeyValueStorage("db"), KvsException) << c.depth;
        }
    }
}

TEST_F(KeyValueStorageTest, AStaleTemporaryFileIsIgnored) {
    {
        KeyValueStorage storage("db");
        storage.SetValue("a", KvsType(true));
        storage.SyncToStorage();
    }
    WriteRaw(KeyValueStorage::FilePath("db") + ".tmp", "half written");
    KeyValueStorage storage("db");
    EXPECT_TRUE(storage.GetValue("a").GetBool());
    storage.SetValue("b", KvsType(false));
    storage.SyncToStorage();
    EXPECT_FALSE(FileExists(KeyValueStorage::FilePath("db") + ".tmp"));
    EXPECT_FALSE(KeyValueStorage("db").GetValue("b").GetBool());
}

TEST_F(KeyValueStorageTest, InvalidNamesAndValuesAreRefused) {
    EXPECT_THROW(KeyValueStorage(""), KvsException);
    EXPECT_THROW(KeyValueStorage("../escape"), KvsException);
    EXPECT_THROW(KeyValueStorage(".."), KvsException);
    KeyValueStorage storage("db");
    EXPECT_THROW(storage.SetValue("k", KvsType()), KvsException);
    EXPECT_THROW(storage.SetValue("k", KvsType(std::string("\xFF\xFE"))), KvsException);
    EXPECT_THROW(storage.SetValue(std::string("\xC0"), KvsType(true)), KvsException);
    EXPECT_FALSE(storage.HasKey("k"));
}

TEST_F(KeyValueStorageTest, GettersRefuseOtherKinds) {
    const KvsType text(std::string("x"));
    EXPECT_THROW(text.GetUInt(), KvsException);
    EXPECT_THROW(KvsType(true).GetBinaryArray(), KvsException);
    EXPECT_THROW(KvsType(1.0).GetFloat(), KvsException);
    KvsType array(std::vector<KvsType>{KvsType(static_cast<uint8_t>(7))});
    EXPECT_EQ(array.GetNextArrayItem().GetUInt64(), 7U);
    EXPECT_THROW(array.GetNextArrayItem(), KvsException);
    array.ResetArrayItemGetter();
    EXPECT_EQ(array.GetNextArrayItem().GetUInt(), 7U);
}

TEST_F(KeyValueStorageTest, InjectedFailuresHitTheNextCallsOnly) {
    KeyValueStorage storage("db");
    hook::InjectFailure(hook::Operation::kSetValue, 2);
    EXPECT_THROW(storage.SetValue("k", KvsType(true)), KvsException);
    EXPECT_THROW(storage.SetValue("k", KvsType(true)), KvsException);
    EXPECT_NO_THROW(storage.SetValue("k", KvsType(true)));

    hook::InjectFailure(hook::Operation::kSyncToStorage, 1);
    EXPECT_THROW(storage.SyncToStorage(), KvsException);
    EXPECT_FALSE(FileExists(KeyValueStorage::FilePath("db")));
    storage.SyncToStorage();
    EXPECT_TRUE(KeyValueStorage("db").HasKey("k"));

    hook::InjectFailure(hook::Operation::kOpen, 1);
    EXPECT_THROW(KeyValueStorage("db"), KvsException);
    for (auto operation : {hook::Operation::kGetValue, hook::Operation::kHasKey, hook::Operation::kRemoveKey,
                           hook::Operation::kRemoveAllKeys, hook::Operation::kGetAllKeys}) {
        hook::InjectFailure(operation, 1);
    }
    EXPECT_THROW(storage.GetValue("k"), KvsException);
    EXPECT_THROW(storage.HasKey("k"), KvsException);
    EXPECT_THROW(storage.RemoveKey("k"), KvsException);
    EXPECT_THROW(storage.RemoveAllKeys(), KvsException);
    EXPECT_THROW(storage.GetAllKeys(), KvsException);
    EXPECT_TRUE(storage.HasKey("k"));
}

TEST_F(KeyValueStorageTest, AFrozenMediumKeepsThePreviousState) {
    {
        KeyValueStorage storage("db");
        storage.SetValue("state", KvsType(static_cast<uint32_t>(1)));
        storage.SyncToStorage();
        hook::FreezeMedium(true);
        storage.SetValue("state", KvsType(static_cast<uint32_t>(2)));
        EXPECT_NO_THROW(storage.SyncToStorage());
    }
    hook::FreezeMedium(false);
    EXPECT_EQ(KeyValueStorage("db").GetValue("state").GetUInt(), 1U);
}

TEST_F(KeyValueStorageTest, AFailingWriteThrowsAndKeepsThePreviousState) {
    KeyValueStorage storage("db");
    storage.SetValue("k", KvsType(static_cast<uint32_t>(1)));
    storage.SyncToStorage();
    box_.MakeDir("var/lib/velmora/per/db.kvs.tmp");
    storage.SetValue("k", KvsType(static_cast<uint32_t>(2)));
    EXPECT_THROW(storage.SyncToStorage(), KvsException);
    EXPECT_EQ(KeyValueStorage("db").GetValue("k").GetUInt(), 1U);
}

TEST_F(KeyValueStorageTest, ABrokenDirectoryIsAnErrorNotAnEmptyDatabase) {
    box_.WriteFile("var/lib/velmora/per", "a file where the directory should be");
    EXPECT_THROW(KeyValueStorage("db"), KvsException);
}

TEST_F(KeyValueStorageTest, ConcurrentCallsOnOneObjectAreSafe) {
    KeyValueStorage storage("db");
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&storage, t]() {
            const std::string key = "k" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                storage.SetValue(key, KvsType(static_cast<int32_t>(i)));
                (void)storage.HasKey(key);
                (void)storage.GetAllKeys();
                EXPECT_EQ(storage.GetValue(key).GetSInt(), i);
                if (i % 50 == 0) {
                    storage.SyncToStorage();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    storage.SyncToStorage();
    KeyValueStorage reopened("db");
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(reopened.GetValue("k" + std::to_string(t)).GetSInt(), kRounds - 1);
    }
}

// The child writes and syncs a growing counter and reports each completed
// sync through a pipe; it is killed at a random moment. Afterwards the store
// must open and hold the last acknowledged counter or the one after it.
[[noreturn]] void CounterWriter(int reportFd) {
    try {
        KeyValueStorage storage("crash");
        uint64_t counter = storage.HasKey("counter") ? storage.GetValue("counter").GetUInt64() : 0;
        const std::vector<uint8_t> filler(512, 0xA5);
        for (;;) {
            ++counter;
            storage.SetValue("counter", KvsType(counter));
            storage.SetValue("filler", KvsType(filler.data(), filler.size()));
            storage.SyncToStorage();
            if (::write(reportFd, &counter, sizeof(counter)) != static_cast<ssize_t>(sizeof(counter))) {
                ::_exit(3);
            }
        }
    } catch (...) {
        ::_exit(2);
    }
}

// Blocks until the writer acknowledges a sync (true) or ends (false); bounded
// so that a writer that never gets going fails the test instead of hanging it.
bool WaitForAcknowledgement(int fd, uint64_t& value) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 30000) != 1) {
        return false;
    }
    return ::read(fd, &value, sizeof(value)) == static_cast<ssize_t>(sizeof(value));
}

TEST_F(KeyValueStorageTest, KilledWritersAlwaysLeaveAReadableStore) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayUs(0, 15000);
    uint64_t lastAcknowledged = 0;
    constexpr int kKills = 40;
    for (int round = 0; round < kKills; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            CounterWriter(fds[1]);
        }
        ::close(fds[1]);
        // A slow machine can take longer for its first sync than the whole
        // kill window: the random delay starts once the writer is writing.
        uint64_t first = 0;
        const bool started = WaitForAcknowledgement(fds[0], first);
        if (started) {
            lastAcknowledged = first;
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself, status " << status;
        ASSERT_TRUE(started) << "round " << round << ": the writer never acknowledged a sync";

        uint64_t value = 0;
        ssize_t got = 0;
        while ((got = ::read(fds[0], &value, sizeof(value))) == static_cast<ssize_t>(sizeof(value))) {
            lastAcknowledged = value;
        }
        ::close(fds[0]);

        uint64_t stored = 0;
        ASSERT_NO_THROW({
            KeyValueStorage storage("crash");
            if (storage.HasKey("counter")) {
                stored = storage.GetValue("counter").GetUInt64();
                EXPECT_EQ(storage.GetValue("filler").GetBinaryArray().size(), 512U);
            }
        }) << "round "
           << round;
        EXPECT_GE(stored, lastAcknowledged) << "round " << round;
        EXPECT_LE(stored, lastAcknowledged + 1) << "round " << round;
        lastAcknowledged = stored;
    }
    EXPECT_GT(lastAcknowledged, 0U);
}

}  // namespace
