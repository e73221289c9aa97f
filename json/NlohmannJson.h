// The json facade over nlohmann json. Every handle keeps the parsed document
// alive, so a handle stays valid after the parser and the root are released.
#ifndef JSON_NLOHMANNJSON_H
#define JSON_NLOHMANNJSON_H

#include "json/JsonParser.h"

#include <nlohmann/json.hpp>

#include <memory>

class NlohmannJsonParser : public IJsonParser {
public:
    std::shared_ptr<IJsonObject> Parse(std::istream& jsonInput) override;
};

class NlohmannJsonObject : public IJsonObject {
public:
    NlohmannJsonObject(std::shared_ptr<const nlohmann::json> root, const nlohmann::json* value);

    bool HasKey(const std::string& key) const override;
    std::shared_ptr<IJsonObject> GetObject(const std::string& key) const override;
    std::shared_ptr<IJsonArray> GetArray(const std::string& key) const override;
    int64_t GetInt(const std::string& key) const override;
    double GetFloat(const std::string& key) const override;
    std::string GetString(const std::string& key) const override;
    bool GetBool(const std::string& key) const override;

private:
    // Null when the key is absent; find only matches when the value is an object.
    const nlohmann::json* Find(const std::string& key) const;

    std::shared_ptr<const nlohmann::json> m_root;
    const nlohmann::json* m_value;
};

class NlohmannJsonArray : public IJsonArray {
public:
    NlohmannJsonArray(std::shared_ptr<const nlohmann::json> root, const nlohmann::json* value);

    size_t Size() const override;
    std::shared_ptr<IJsonObject> GetObject(size_t index) const override;
    std::shared_ptr<IJsonArray> GetArray(size_t index) const override;
    int64_t GetInt(size_t index) const override;
    double GetFloat(size_t index) const override;
    std::string GetString(size_t index) const override;
    bool GetBool(size_t index) const override;

private:
    const nlohmann::json* At(size_t index) const;

    std::shared_ptr<const nlohmann::json> m_root;
    const nlohmann::json* m_value;
};

#endif
