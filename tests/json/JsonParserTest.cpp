#include "json/JsonParser.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::shared_ptr<IJsonObject> ParseText(const std::string& text) {
    std::istringstream stream(text);
    return CreateJsonParser()->Parse(stream);
}

// Runs the call and returns the JsonException text; fails when nothing is thrown.
template <typename Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const JsonException& error) {
        return error.what();
    }
    ADD_FAILURE() << "no JsonException";
    return {};
}

const char* const kDocument = R"({
    "int": 5, "negative": -7, "big": 4294967296, "float": 5.0, "string": "text",
    "bool": true, "null": null, "object": {"inner": 1}, "array": [1, 2.5, "s", false, {"k": "v"}, [3]],
    "empty": []
})";

class JsonObjectTest : public ::testing::Test {
protected:
    std::shared_ptr<IJsonObject> root = ParseText(kDocument);
};

TEST_F(JsonObjectTest, GettersReturnValuesOfTheirType) {
    EXPECT_EQ(root->GetInt("int"), 5);
    EXPECT_EQ(root->GetInt("negative"), -7);
    EXPECT_EQ(root->GetInt("big"), 4294967296LL);
    EXPECT_DOUBLE_EQ(root->GetFloat("float"), 5.0);
    EXPECT_EQ(root->GetString("string"), "text");
    EXPECT_TRUE(root->GetBool("bool"));
    EXPECT_EQ(root->GetObject("object")->GetInt("inner"), 1);
    EXPECT_EQ(root->GetArray("array")->Size(), 6u);
}

TEST_F(JsonObjectTest, HasKeyFindsNullMembersButNotMissingOnes) {
    EXPECT_TRUE(root->HasKey("null"));
    EXPECT_TRUE(root->HasKey("int"));
    EXPECT_FALSE(root->HasKey("missing"));
    EXPECT_FALSE(root->HasKey("inner"));  // only direct members
}

TEST_F(JsonObjectTest, WrongTypeAndMissingKeyThrowTheSameText) {
    struct Case {
        const char* key;
        std::function<void(const std::string&)> call;
        const char* what;
    };
    const std::vector<Case> cases = {
        {"string", [this](const std::string& k) { root->GetObject(k); }, "object"},
        {"object", [this](const std::string& k) { root->GetArray(k); }, "array"},
        {"float", [this](const std::string& k) { root->GetInt(k); }, "int"},
        {"int", [this](const std::string& k) { root->GetFloat(k); }, "float"},
        {"null", [this](const std::string& k) { root->GetString(k); }, "string"},
        {"int", [this](const std::string& k) { root->GetBool(k); }, "bool"},
    };
    for (const auto& c : cases) {
        const std::string expectedWrong = std::string("Couldn't get ") + c.what + " \"" + c.key + "\"";
        EXPECT_EQ(ErrorOf([&] { c.call(c.key); }), expectedWrong);
        EXPECT_EQ(ErrorOf([&] { c.call("missing"); }), std::string("Couldn't get ") + c.what + " \"missing\"");
    }
}

TEST_F(JsonObjectTest, ArrayGettersCheckTypeAndIndex) {
    const auto array = root->GetArray("array");
    EXPECT_EQ(array->GetInt(0), 1);
    EXPECT_DOUBLE_EQ(array->GetFloat(1), 2.5);
    EXPECT_EQ(array->GetString(2), "s");
    EXPECT_FALSE(array->GetBool(3));
    EXPECT_EQ(array->GetObject(4)->GetString("k"), "v");
    EXPECT_EQ(array->GetArray(5)->GetInt(0), 3);

    EXPECT_EQ(ErrorOf([&] { array->GetString(array->Size()); }), "Couldn't get string with index: 6");
    EXPECT_EQ(ErrorOf([&] { array->GetInt(std::numeric_limits<size_t>::max()); }),
              "Couldn't get int with index: " + std::to_string(std::numeric_limits<size_t>::max()));
    EXPECT_EQ(ErrorOf([&] { array->GetInt(1); }), "Couldn't get int with index: 1");
    EXPECT_EQ(ErrorOf([&] { array->GetFloat(0); }), "Couldn't get float with index: 0");
    EXPECT_EQ(ErrorOf([&] { array->GetObject(5); }), "Couldn't get object with index: 5");
    EXPECT_EQ(ErrorOf([&] { array->GetArray(4); }), "Couldn't get array with index: 4");
    EXPECT_EQ(ErrorOf([&] { array->GetBool(0); }), "Couldn't get bool with index: 0");
    EXPECT_EQ(ErrorOf([&] { array->GetString(3); }), "Couldn't get string with index: 3");

    EXPECT_EQ(root->GetArray("empty")->Size(), 0u);
    EXPECT_EQ(ErrorOf([&] { root->GetArray("empty")->GetObject(0); }), "Couldn't get object with index: 0");
}

TEST(JsonParserTest, InvalidTextThrowsParseError) {
    for (const char* text : {"", "{", "{\"a\": 1,}", "{\"a\": 1} // comment", "/* c */ {}"}) {
        const std::string error = ErrorOf([&] { ParseText(text); });
        EXPECT_EQ(error.rfind("Couldn't parse jsonInput: ", 0), 0u) << text << " -> " << error;
        EXPECT_GT(error.size(), std::string("Couldn't parse jsonInput: ").size()) << text;
    }
}

TEST(JsonParserTest, ParsesFromTheStreamPosition) {
    std::istringstream stream("garbage{\"a\": 2}");
    stream.seekg(7);
    EXPECT_EQ(CreateJsonParser()->Parse(stream)->GetInt("a"), 2);
}

TEST(JsonParserTest, NonObjectRootFindsNoKey) {
    for (const char* text : {"[1, 2]", "42", "\"text\"", "null"}) {
        const auto root = ParseText(text);
        EXPECT_FALSE(root->HasKey("0")) << text;
        EXPECT_EQ(ErrorOf([&] { root->GetInt("0"); }), "Couldn't get int \"0\"") << text;
    }
}

TEST(JsonParserTest, HandlesOutliveParserAndRoot) {
    std::shared_ptr<IJsonObject> inner;
    std::shared_ptr<IJsonArray> array;
    {
        auto parser = CreateJsonParser();
        std::istringstream stream(R"({"outer": {"inner": {"name": "kept"}}, "list": ["x", "y"]})");
        auto root = parser->Parse(stream);
        inner = root->GetObject("outer")->GetObject("inner");
        array = root->GetArray("list");
    }
    EXPECT_EQ(inner->GetString("name"), "kept");
    EXPECT_EQ(array->GetString(1), "y");
}

}  // namespace
