// Read-only access to json text. Callers see only these interfaces, never the
// json library. Every failure is a JsonException naming what was asked for.
#ifndef JSON_JSONPARSER_H
#define JSON_JSONPARSER_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>

class JsonException : public std::runtime_error {
public:
    explicit JsonException(const std::string& message) : std::runtime_error(message) {}
};

class IJsonArray;

class IJsonObject {
public:
    virtual ~IJsonObject() = default;
    virtual bool HasKey(const std::string& key) const = 0;
    virtual std::shared_ptr<IJsonObject> GetObject(const std::string& key) const = 0;
    virtual std::shared_ptr<IJsonArray> GetArray(const std::string& key) const = 0;
    virtual int64_t GetInt(const std::string& key) const = 0;
    virtual double GetFloat(const std::string& key) const = 0;
    virtual std::string GetString(const std::string& key) const = 0;
    virtual bool GetBool(const std::string& key) const = 0;
};

class IJsonArray {
public:
    virtual ~IJsonArray() = default;
    virtual size_t Size() const = 0;
    virtual std::shared_ptr<IJsonObject> GetObject(size_t index) const = 0;
    virtual std::shared_ptr<IJsonArray> GetArray(size_t index) const = 0;
    virtual int64_t GetInt(size_t index) const = 0;
    virtual double GetFloat(size_t index) const = 0;
    virtual std::string GetString(size_t index) const = 0;
    virtual bool GetBool(size_t index) const = 0;
};

class IJsonParser {
public:
    virtual ~IJsonParser() = default;
    // Reads from the stream's current position to its end.
    virtual std::shared_ptr<IJsonObject> Parse(std::istream& jsonInput) = 0;
};

std::shared_ptr<IJsonParser> CreateJsonParser();

#endif
