#include "json/NlohmannJson.h"

#include <utility>

namespace {

std::string KeyText(const char* what, const std::string& key) {
    return std::string("Couldn't get ") + what + " \"" + key + "\"";
}

std::string IndexText(const char* what, size_t index) {
    return std::string("Couldn't get ") + what + " with index: " + std::to_string(index);
}

}  // namespace

std::shared_ptr<IJsonParser> CreateJsonParser() { return std::make_shared<NlohmannJsonParser>(); }

std::shared_ptr<IJsonObject> NlohmannJsonParser::Parse(std::istream& jsonInput) {
    auto root = std::make_shared<nlohmann::json>();
    try {
        *root = nlohmann::json::parse(jsonInput, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
    } catch (const nlohmann::json::parse_error& error) {
        throw JsonException(std::string("Couldn't parse jsonInput: ") + error.what());
    }
    const nlohmann::json* value = root.get();
    return std::make_shared<NlohmannJsonObject>(std::move(root), value);
}

NlohmannJsonObject::NlohmannJsonObject(std::shared_ptr<const nlohmann::json> root, const nlohmann::json* value)
    : m_root(std::move(root)), m_value(value) {}

const nlohmann::json* NlohmannJsonObject::Find(const std::string& key) const {
    const auto it = m_value->find(key);
    return it == m_value->end() ? nullptr : &*it;
}

bool NlohmannJsonObject::HasKey(const std::string& key) const { return Find(key) != nullptr; }

std::shared_ptr<IJsonObject> NlohmannJsonObject::GetObject(const std::string& key) const {
    const nlohmann::json* member = Find(key);
    if (member == nullptr || !member->is_object()) {
        throw JsonException(KeyText("object", key));
    }
    return std::make_shared<NlohmannJsonObject>(m_root, member);
}

std::shared_ptr<IJsonArray> NlohmannJsonObject::GetArray(const std::string& key) const {
    const nlohmann::json* member = Find(key);
    if (member == nullptr || !member->is_array()) {
        throw JsonException(KeyText("array", key));
    }
    return std::make_shared<NlohmannJsonArray>(m_root, member);
}

int64_t NlohmannJsonObject::GetInt(const std::string& key) const {
    const nlohmann::json* member = Find(key);
    if (member == nullptr || !member->is_number_integer()) {
        throw JsonException(KeyText("int", key));
    }
    return member->get<int64_t>();
}

double NlohmannJsonObject::GetFloat(const std::string& key) const {
    const nlohmann::json* member = Find(key);
    if (member == nullptr || !member->is_number_float()) {
        throw JsonException(KeyText("float", key));
    }
    return member->get<double>();
}

std::string NlohmannJsonObject::GetString(const std::string& key) const {
    const nlohmann::json* member = Find(key);
    if (member == nullptr || !member->is_string()) {
        throw JsonException(KeyText("string", key));
    }
    return member->get<std::string>();
}

bool NlohmannJsonObject::GetBool(const std::string& key) const {
    const nlohmann::json* member = Find(key);
    if (member == nullptr || !member->is_boolean()) {
        throw JsonException(KeyText("bool", key));
    }
    return member->get<bool>();
}

NlohmannJsonArray::NlohmannJsonArray(std::shared_ptr<const nlohmann::json> root, const nlohmann::json* value)
    : m_root(std::move(root)), m_value(value) {}

size_t NlohmannJsonArray::Size() const { return m_value->size(); }

const nlohmann::json* NlohmannJsonArray::At(size_t index) const {
    return index < m_value->size() ? &(*m_value)[index] : nullptr;
}

std::shared_ptr<IJsonObject> NlohmannJsonArray::GetObject(size_t index) const {
    const nlohmann::json* element = At(index);
    if (element == nullptr || !element->is_object()) {
        throw JsonException(IndexText("object", index));
    }
    return std::make_shared<NlohmannJsonObject>(m_root, element);
}

std::shared_ptr<IJsonArray> NlohmannJsonArray::GetArray(size_t index) const {
    const nlohmann::json* element = At(index);
    if (element == nullptr || !element->is_array()) {
        throw JsonException(IndexText("array", index));
    }
    return std::make_shared<NlohmannJsonArray>(m_root, element);
}

int64_t NlohmannJsonArray::GetInt(size_t index) const {
    const nlohmann::json* element = At(index);
    if (element == nullptr || !element->is_number_integer()) {
        throw JsonException(IndexText("int", index));
    }
    return element->get<int64_t>();
}

double NlohmannJsonArray::GetFloat(size_t index) const {
    const nlohmann::json* element = At(index);
    if (element == nullptr || !element->is_number_float()) {
        throw JsonException(IndexText("float", index));
    }
    return element->get<double>();
}

std::string NlohmannJsonArray::GetString(size_t index) const {
    const nlohmann::json* element = At(index);
    if (element == nullptr || !element->is_string()) {
        throw JsonException(IndexText("string", index));
    }
    return element->get<std::string>();
}

bool NlohmannJsonArray::GetBool(size_t index) const {
    const nlohmann::json* element = At(index);
    if (element == nullptr || !element->is_boolean()) {
        throw JsonException(IndexText("bool", index));
    }
    return element->get<bool>();
}
