#include "KivLibrary/Persistency/AraPersistency.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"

using ara::per::KvsType;

namespace {

template <typename T>
KvsType ToKvsType(const T& value) {
    return KvsType(value);
}

KvsType ToKvsType(const std::vector<uint8_t>& value) { return KvsType(value.data(), value.size()); }

}  // namespace

std::vector<uint8_t> ConvertKvsTypeToBytes(KvsType& value) {
    std::vector<uint8_t> bytes;
    value.ResetArrayItemGetter();
    if (value.IsArray() || value.GetType() != KvsType::Type::kBinary) {
        const std::size_t count = value.GetNumberOfArrayItems();
        bytes.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            bytes.push_back(static_cast<uint8_t>(value.GetNextArrayItem().GetUInt64()));
        }
    } else {
        bytes = value.GetBinaryArray();
    }
    return bytes;
}

template <typename S>
bool AraPersistency<S>::IsEmpty() {
    // A listing that failed says nothing about the content: answering "empty"
    // would let the open stamp a fresh database over stored (legacy) state.
    std::vector<std::string> keys;
    const bool listed = TryExecute("GetAllKeys", [this, &keys]() { keys = m_storage.GetAllKeys(); });
    const bool empty = listed && keys.empty();
    LogInfo() << "IsEmpty"
              << ": " << empty;
    return empty;
}

template <typename S>
uint64_t AraPersistency<S>::GetSize() {
    const uint64_t size = GetAllKeys().size();
    LogInfo() << "GetSize"
              << ": " << size;
    return size;
}

template <typename S>
bool AraPersistency<S>::Has(const std::string& key) {
    const bool present = TryExecuteBool("Has", [this, &key]() { return m_storage.HasKey(key); });
    LogInfo() << "Has"
              << ": " << present;
    return present;
}

template <typename S>
std::vector<std::string> AraPersistency<S>::GetAllKeys() {
    std::vector<std::string> keys;
    if (!TryExecute("GetAllKeys", [this, &keys]() { keys = m_storage.GetAllKeys(); })) {
        keys.clear();
    }
    LoggingStream stream = LogInfo();
    stream << "GetAllKeys"
           << ": ";
    for (const std::string& key : keys) {
        stream << key << ",";
    }
    return keys;
}

template <typename S>
bool AraPersistency<S>::GetKvsTypeValue(const std::string& key, KvsType& value) {
    if (!Has(key)) {
        return false;
    }
    return TryExecute("GetKvsTypeValue", [this, &key, &value]() { value = m_storage.GetValue(key); });
}

template <typename S>
bool AraPersistency<S>::SetKvsTypeValue(const std::string& key, const KvsType& value) {
    return TryExecute("SetKvsTypeValue", [this, &key, &value]() { m_storage.SetValue(key, value); });
}

template <typename S>
template <typename T, typename Convert>
bool AraPersistency<S>::GetTyped(const std::string& key, T& value, KvsType::Type type, Convert convert) {
    KvsType stored;
    bool ok = GetKvsTypeValue(key, stored) && stored.GetType() == type;
    if (ok) {
        // The conversion runs on a copy so a failure cannot leave a half-written output.
        ok = TryExecute("GetKvsTypeValue", [&stored, &value, &convert]() {
            T converted = convert(stored);
            value = std::move(converted);
        });
    }
    LogInfo() << "Get"
              << ": key = " << key << ", value = " << value << ": " << ok;
    return ok;
}

template <typename S>
template <typename T>
bool AraPersistency<S>::SetTyped(const std::string& key, const T& value) {
    // Building the platform value may throw as well, so it runs inside the guard.
    const bool ok =
        TryExecute("SetKvsTypeValue", [this, &key, &value]() { m_storage.SetValue(key, ToKvsType(value)); });
    LogInfo() << "Set"
              << ": key = " << key << ", value = " << value << ": " << ok;
    return ok;
}

template <typename S>
bool AraPersistency<S>::Get(const std::string& key, bool& value) {
    return GetTyped(key, value, KvsType::Type::kBoolean, [](KvsType& v) { return v.GetBool(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, uint8_t& value) {
    return GetTyped(key, value, KvsType::Type::kUInt8, [](KvsType& v) { return static_cast<uint8_t>(v.GetUInt()); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, uint16_t& value) {
    return GetTyped(key, value, KvsType::Type::kUInt16, [](KvsType& v) { return static_cast<uint16_t>(v.GetUInt()); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, uint32_t& value) {
    return GetTyped(key, value, KvsType::Type::kUInt32, [](KvsType& v) { return v.GetUInt(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, uint64_t& value) {
    return GetTyped(key, value, KvsType::Type::kUInt64, [](KvsType& v) { return v.GetUInt64(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, int8_t& value) {
    return GetTyped(key, value, KvsType::Type::kSInt8, [](KvsType& v) { return static_cast<int8_t>(v.GetSInt()); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, int16_t& value) {
    return GetTyped(key, value, KvsType::Type::kSInt16, [](KvsType& v) { return static_cast<int16_t>(v.GetSInt()); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, int32_t& value) {
    return GetTyped(key, value, KvsType::Type::kSInt32, [](KvsType& v) { return v.GetSInt(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, int64_t& value) {
    return GetTyped(key, value, KvsType::Type::kSInt64, [](KvsType& v) { return v.GetSInt64(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, float& value) {
    return GetTyped(key, value, KvsType::Type::kFloat, [](KvsType& v) { return v.GetFloat(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, double& value) {
    return GetTyped(key, value, KvsType::Type::kDouble, [](KvsType& v) { return v.GetDouble(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, std::string& value) {
    return GetTyped(key, value, KvsType::Type::kString, [](KvsType& v) { return v.GetString(); });
}
template <typename S>
bool AraPersistency<S>::Get(const std::string& key, std::vector<uint8_t>& value) {
    return GetTyped(key, value, KvsType::Type::kBinary, [](KvsType& v) { return ConvertKvsTypeToBytes(v); });
}

template <typename S>
bool AraPersistency<S>::Clear() {
    const bool ok = TryExecute("Clear", [this]() { m_storage.RemoveAllKeys(); });
    LogInfo() << "Clear"
              << ": " << ok;
    return ok;
}

template <typename S>
bool AraPersistency<S>::Remove(const std::string& key) {
    const bool ok = TryExecute("Remove", [this, &key]() { m_storage.RemoveKey(key); });
    LogInfo() << "Remove"
              << " key = " << key << ": " << ok;
    return ok;
}

template <typename S>
bool AraPersistency<S>::Set(const std::string& key, bool value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, uint8_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, uint16_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, uint32_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, uint64_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, int8_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, int16_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, int32_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, int64_t value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, float value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, double value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, const std::string& value) {
    return SetTyped(key, value);
}
template <typename S>
bool AraPersistency<S>::Set(const std::string& key, const std::vector<uint8_t>& value) {
    return SetTyped(key, value);
}

template <typename S>
bool AraPersistency<S>::Persist() {
    const bool ok = TryExecute("Persist", [this]() { m_storage.SyncToStorage(); });
    LogInfo() << "Persist"
              << ": " << ok;
    return ok;
}

template class AraPersistency<ara::per::KeyValueStorage>;

std::shared_ptr<PermanentStorage> CreateAraPersistency(const std::string& database) {
    return std::make_shared<AraPersistency<ara::per::KeyValueStorage>>(database);
}
