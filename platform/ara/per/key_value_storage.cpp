#include "platform/ara/per/key_value_storage.h"

#include "platform/HostPath.h"

#include <nlohmann/json.hpp>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ara {
namespace per {
namespace {

using Json = nlohmann::json;

constexpr const char* kDirectory = "/var/lib/velmora/per";
constexpr const char* kExtension = ".kvs";
constexpr const char* kMagic = "VELMORA-KVS 1 crc32=";
constexpr const char* kLengthTag = " length=";
// A database of the process is a few kilobytes; anything far beyond is not ours.
constexpr std::size_t kMaxFileSize = 64U * 1024U * 1024U;
// Arrays of arrays are read recursively; a crafted file must not exhaust the
// stack. Our own values nest two levels at most.
constexpr std::size_t kMaxNesting = 32;

// ---- test hooks --------------------------------------------------------------

constexpr std::size_t kOperationCount = static_cast<std::size_t>(testhook::Operation::kSyncToStorage) + 1;

bool StrictRemovalByDefault() {
    const char* value = std::getenv("VELMORA_KVS_STRICT_REMOVE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

struct Hooks {
    std::mutex mutex;
    std::array<unsigned, kOperationCount> failures{};
    std::atomic<bool> frozen{false};
    std::atomic<bool> strictRemoval{StrictRemovalByDefault()};
};

Hooks& GetHooks() {
    static Hooks hooks;
    return hooks;
}

const char* OperationName(testhook::Operation operation) {
    switch (operation) {
        case testhook::Operation::kOpen:
            return "open";
        case testhook::Operation::kGetValue:
            return "GetValue";
        case testhook::Operation::kSetValue:
            return "SetValue";
        case testhook::Operation::kHasKey:
            return "HasKey";
        case testhook::Operation::kRemoveKey:
            return "RemoveKey";
        case testhook::Operation::kRemoveAllKeys:
            return "RemoveAllKeys";
        case testhook::Operation::kGetAllKeys:
            return "GetAllKeys";
        case testhook::Operation::kSyncToStorage:
            return "SyncToStorage";
    }
    return "unknown";
}

void ThrowIfInjected(testhook::Operation operation) {
    Hooks& hooks = GetHooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    unsigned& remaining = hooks.failures[static_cast<std::size_t>(operation)];
    if (remaining != 0) {
        --remaining;
        throw KvsException(std::string("KeyValueStorage::") + OperationName(operation) + ": injected failure");
    }
}

// Serialises every sync of the process: two syncs of one database must not
// share the temporary file, and a sync must not overtake a newer one.
std::mutex& SyncMutex() {
    static std::mutex mutex;
    return mutex;
}

// ---- checksum ----------------------------------------------------------------

uint32_t Crc32(const std::string& data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 1U) != 0 ? 0xEDB88320U ^ (value >> 1) : value >> 1;
            }
            entries[i] = value;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFU;
    for (char c : data) {
        crc = table[(crc ^ static_cast<uint8_t>(c)) & 0xFFU] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFU;
}

// ---- value <-> json ------------------------------------------------------------

const char kHexDigits[] = "0123456789abcdef";

std::string ToHex(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

[[noreturn]] void Damaged(const std::string& path, const std::string& reason) {
    throw KvsException("KeyValueStorage: database file " + path + " is damaged: " + reason);
}

std::vector<uint8_t> FromHex(const std::string& text, const std::string& path) {
    if (text.size() % 2 != 0) {
        Damaged(path, "odd length of binary value");
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            Damaged(path, "binary value is not hex");
        }
        bytes.push_back(static_cast<uint8_t>((high << 4) | low));
    }
    return bytes;
}

bool IsValidText(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::exception&) {
        return false;
    }
}

// Values must survive the text file unchanged, so text that is not UTF-8 is
// refused when it is set rather than mangled when it is written.
void Validate(const KvsType& value) {
    switch (value.GetType()) {
        case KvsType::Type::kNotSet:
            throw KvsException("KeyValueStorage::SetValue: value without a type");
        case KvsType::Type::kString:
            if (!IsValidText(value.GetString())) {
                throw KvsException("KeyValueStorage::SetValue: string value is not valid UTF-8");
            }
            break;
        case KvsType::Type::kArray:
            for (const KvsType& item : value.GetArrayItems()) {
                Validate(item);
            }
            break;
        default:
            break;
    }
}

Json ToJson(const KvsType& value) {
    Json item;
    item["type"] = static_cast<int32_t>(value.GetType());
    switch (value.GetType()) {
        case KvsType::Type::kBoolean:
            item["value"] = value.GetBool();
            break;
        case KvsType::Type::kSInt8:
        case KvsType::Type::kSInt16:
        case KvsType::Type::kSInt32:
        case KvsType::Type::kSInt64:
            item["value"] = value.GetSInt64();
            break;
        case KvsType::Type::kString:
            item["value"] = value.GetString();
            break;
        case KvsType::Type::kBinary:
            item["value"] = ToHex(value.GetBinaryArray());
            break;
        case KvsType::Type::kArray: {
            Json items = Json::array();
            for (const KvsType& element : value.GetArrayItems()) {
                items.push_back(ToJson(element));
            }
            item["value"] = std::move(items);
            break;
        }
        default:
            item["value"] = value.GetBits();
            break;  // unsigned integers, float and double bit patterns
    }
    return item;
}

uint64_t UnsignedIn(const Json& value, uint64_t max, const std::string& path) {
    if (!value.is_number_unsigned() || value.get<uint64_t>() > max) {
        Damaged(path, "number out of range");
    }
    return value.get<uint64_t>();
}

int64_t SignedIn(const Json& value, int64_t min, int64_t max, const std::string& path) {
    if (!value.is_number_integer()) {
        Damaged(path, "integer expected");
    }
    if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(max)) {
        Damaged(path, "number out of range");
    }
    const int64_t number = value.get<int64_t>();
    if (number < min || number > max) {
        Damaged(path, "number out of range");
    }
    return number;
}

KvsType FromJson(const Json& item, const std::string& path, std::size_t depth = 0) {
    if (depth > kMaxNesting) {
        Damaged(path, "values nested too deeply");
    }
    if (!item.is_object() || item.size() != 2 || !item.contains("type") || !item.contains("value") ||
        !item["type"].is_number_integer()) {
        Damaged(path, "malformed entry");
    }
    const Json& value = item["value"];
    using Type = KvsType::Type;
    const auto type = static_cast<Type>(SignedIn(item["type"], 0, static_cast<int64_t>(Type::kArray), path));
    switch (type) {
        case Type::kBoolean:
            if (!value.is_boolean()) {
                Damaged(path, "bool expected");
            }
            return KvsType(value.get<bool>());
        case Type::kUInt8:
            return KvsType(static_cast<uint8_t>(UnsignedIn(value, UINT8_MAX, path)));
        case Type::kUInt16:
            return KvsType(static_cast<uint16_t>(UnsignedIn(value, UINT16_MAX, path)));
        case Type::kUInt32:
            return KvsType(static_cast<uint32_t>(UnsignedIn(value, UINT32_MAX, path)));
        case Type::kUInt64:
            return KvsType(UnsignedIn(value, UINT64_MAX, path));
        case Type::kSInt8:
            return KvsType(static_cast<int8_t>(SignedIn(value, INT8_MIN, INT8_MAX, path)));
        case Type::kSInt16:
            return KvsType(static_cast<int16_t>(SignedIn(value, INT16_MIN, INT16_MAX, path)));
        case Type::kSInt32:
            return KvsType(static_cast<int32_t>(SignedIn(value, INT32_MIN, INT32_MAX, path)));
        case Type::kSInt64:
            return KvsType(SignedIn(value, INT64_MIN, INT64_MAX, path));
        case Type::kFloat:
            return KvsType::FromBits(type, UnsignedIn(value, UINT32_MAX, path));
        case Type::kDouble:
            return KvsType::FromBits(type, UnsignedIn(value, UINT64_MAX, path));
        case Type::kString:
            if (!value.is_string()) {
                Damaged(path, "string expected");
            }
            return KvsType(value.get<std::string>());
        case Type::kBinary: {
            if (!value.is_string()) {
                Damaged(path, "binary value expected");
            }
            const std::vector<uint8_t> bytes = FromHex(value.get<std::string>(), path);
            return KvsType(bytes.data(), bytes.size());
        }
        case Type::kArray: {
            if (!value.is_array()) {
                Damaged(path, "array expected");
            }
            std::vector<KvsType> items;
            for (const Json& element : value) {
                items.push_back(FromJson(element, path, depth + 1));
            }
            return KvsType(std::move(items));
        }
        case Type::kNotSet:
            break;
    }
    Damaged(path, "unknown value type");
}

// ---- file format ---------------------------------------------------------------
// One header line "VELMORA-KVS 1 crc32=XXXXXXXX length=N" followed by N bytes
// of json; the checksum covers those N bytes.

std::string Serialize(const std::map<std::string, KvsType>& entries) {
    Json root;
    root["entries"] = Json::object();
    for (const auto& entry : entries) {
        root["entries"][entry.first] = ToJson(entry.second);
    }
    std::string body;
    try {
        body = root.dump();
    } catch (const Json::exception& e) {
        throw KvsException(std::string("KeyValueStorage: cannot encode database: ") + e.what());
    }
    char header[64];
    std::snprintf(header, sizeof(header), "%s%08X%s%zu\n", kMagic, Crc32(body), kLengthTag, body.size());
    return header + body;
}

bool ParseHexWord(const std::string& text, uint32_t& value) {
    if (text.size() != 8) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit = (c >= 'A' && c <= 'F') ? c - 'A' + 10 : HexValue(c);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

bool ParseDecimal(const std::string& text, std::size_t& value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

std::map<std::string, KvsType> Deserialize(const std::string& content, const std::string& path) {
    const std::size_t magicLength = std::strlen(kMagic);
    const std::size_t tagLength = std::strlen(kLengthTag);
    const std::size_t newline = content.find('\n');
    if (newline == std::string::npos || newline > 64 || content.compare(0, magicLength, kMagic) != 0 ||
        newline < magicLength + 8 + tagLength || content.compare(magicLength + 8, tagLength, kLengthTag) != 0) {
        Damaged(path, "bad header");
    }
    uint32_t crc = 0;
    std::size_t length = 0;
    if (!ParseHexWord(content.substr(magicLength, 8), crc) ||
        !ParseDecimal(content.substr(magicLength + 8 + tagLength, newline - magicLength - 8 - tagLength), length)) {
        Damaged(path, "bad header");
    }
    const std::string body = content.substr(newline + 1);
    if (body.size() != length) {
        Damaged(path, "length mismatch");
    }
    if (Crc32(body) != crc) {
        Damaged(path, "checksum mismatch");
    }
    Json root;
    try {
        root = Json::parse(body);
    } catch (const Json::exception& e) {
        Damaged(path, e.what());
    }
    if (!root.is_object() || root.size() != 1 || !root.contains("entries") || !root["entries"].is_object()) {
        Damaged(path, "no entries");
    }
    std::map<std::string, KvsType> entries;
    for (auto it = root["entries"].begin(); it != root["entries"].end(); ++it) {
        entries.emplace(it.key(), FromJson(it.value(), path));
    }
    return entries;
}

// ---- file system -----------------------------------------------------------------

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw KvsException("KeyValueStorage: " + what + " " + path + " failed: " + std::strerror(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Closing reports write-back errors of some file systems, so it is checked.
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Returns false when the file does not exist.
bool ReadFile(const std::string& path, std::string& content) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT) {
            return false;
        }
        Fail("opening", path, errno);
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) {
        Fail("reading the size of", path, errno);
    }
    if (!S_ISREG(status.st_mode)) {
        Damaged(path, "not a regular file");
    }
    if (static_cast<uint64_t>(status.st_size) > kMaxFileSize) {
        Damaged(path, "file too large");
    }
    content.clear();
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("reading", path, errno);
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > kMaxFileSize) {
            Damaged(path, "file too large");
        }
    }
    return true;
}

void SyncDirectory(const std::string& directory) {
    FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) {
        Fail("opening directory", directory, errno);
    }
    if (::fsync(fd.Get()) != 0) {
        Fail("fsync of directory", directory, errno);
    }
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the directory and its missing parents; each new entry is made
// durable in its parent, or a power cut could take the database file with it.
void EnsureDirectory(const std::string& directory) {
    struct stat status {};
    if (::stat(directory.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode)) {
            Fail("using directory", directory, ENOTDIR);
        }
        return;
    }
    if (errno != ENOENT) {
        Fail("checking directory", directory, errno);
    }
    const std::string parent = Parent(directory);
    if (parent != directory) {
        EnsureDirectory(parent);
    }
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        Fail("creating directory", directory, errno);
    }
    SyncDirectory(parent);
}

void WriteAll(int fd, const std::string& content, const std::string& path) {
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t done = ::write(fd, content.data() + written, content.size() - written);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("writing", path, errno);
        }
        written += static_cast<std::size_t>(done);
    }
}

void ReplaceFileAtomically(const std::string& path, const std::string& content) {
    const std::string directory = Parent(path);
    EnsureDirectory(directory);
    const std::string temporary = path + ".tmp";
    try {
        FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (fd.Get() < 0) {
            Fail("creating", temporary, errno);
        }
        WriteAll(fd.Get(), content, temporary);
        if (::fsync(fd.Get()) != 0) {
            Fail("fsync of", temporary, errno);
        }
        if (fd.Close() != 0) {
            Fail("closing", temporary, errno);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            Fail("renaming", temporary, errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    SyncDirectory(directory);
}

void CheckDatabaseName(const std::string& database) {
    if (database.empty() || database == "." || database == ".." || database.find('/') != std::string::npos ||
        database.find('\0') != std::string::npos) {
        throw KvsException("KeyValueStorage: invalid database name '" + database + "'");
    }
}

}  // namespace

std::string KeyValueStorage::Directory() { return platform::HostPath(kDirectory); }

std::string KeyValueStorage::FilePath(const std::string& database) {
    CheckDatabaseName(database);
    return Directory() + "/" + database + kExtension;
}

KeyValueStorage::KeyValueStorage(const std::string& database) : path_(FilePath(database)) {
    ThrowIfInjected(testhook::Operation::kOpen);
    std::string content;
    if (ReadFile(path_, content)) {
        entries_ = Deserialize(content, path_);
    }
}

KvsType KeyValueStorage::GetValue(const std::string& key) const {
    ThrowIfInjected(testhook::Operation::kGetValue);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end()) {
        throw KvsException("KeyValueStorage::GetValue: key '" + key + "' not found");
    }
    return it->second;
}

void KeyValueStorage::SetValue(const std::string& key, const KvsType& value) {
    ThrowIfInjected(testhook::Operation::kSetValue);
    if (!IsValidText(key)) {
        throw KvsException("KeyValueStorage::SetValue: key is not valid UTF-8");
    }
    Validate(value);
    KvsType copy(value);
    copy.ResetArrayItemGetter();
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[key] = std::move(copy);
}

bool KeyValueStorage::HasKey(const std::string& key) const {
    ThrowIfInjected(testhook::Operation::kHasKey);
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.count(key) != 0;
}

void KeyValueStorage::RemoveKey(const std::string& key) {
    ThrowIfInjected(testhook::Operation::kRemoveKey);
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.erase(key) == 0 && GetHooks().strictRemoval.load()) {
        throw KvsException("KeyValueStorage::RemoveKey: key '" + key + "' not found");
    }
}

void KeyValueStorage::RemoveAllKeys() {
    ThrowIfInjected(testhook::Operation::kRemoveAllKeys);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

std::vector<std::string> KeyValueStorage::GetAllKeys() const {
    ThrowIfInjected(testhook::Operation::kGetAllKeys);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const auto& entry : entries_) {
        keys.push_back(entry.first);
    }
    return keys;
}

void KeyValueStorage::SyncToStorage() {
    ThrowIfInjected(testhook::Operation::kSyncToStorage);
    std::lock_guard<std::mutex> syncLock(SyncMutex());
    std::string content;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        content = Serialize(entries_);
    }
    if (GetHooks().frozen.load()) {
        return;
    }
    ReplaceFileAtomically(path_, content);
}

namespace testhook {

void InjectFailure(Operation operation, unsigned count) {
    Hooks& hooks = GetHooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    hooks.failures[static_cast<std::size_t>(operation)] = count;
}

void FreezeMedium(bool frozen) { GetHooks().frozen.store(frozen); }

void StrictRemoval(bool strict) { GetHooks().strictRemoval.store(strict); }

bool IsStrictRemoval() { return GetHooks().strictRemoval.load(); }

void Reset() {
    Hooks& hooks = GetHooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    hooks.failures.fill(0);
    hooks.frozen.store(false);
    hooks.strictRemoval.store(StrictRemovalByDefault());
}

}  // namespace testhook

}  // namespace per
}  // namespace ara
