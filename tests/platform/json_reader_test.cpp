#include "platform/json_reader.h"

#include <gtest/gtest.h>

#include <string>

using platform::Json;

namespace {

std::string ParseError(const std::string& text) {
    Json value;
    std::string error;
    EXPECT_FALSE(platform::ParseJson(text, "f.json", value, error)) << text;
    return error;
}

}  // namespace

TEST(JsonReader, HostileTextIsOneLineNamingTheFileAndWhere) {
    EXPECT_EQ(ParseError("{\"a\": 1e400}"),
              "f.json: line 1, column 11: number overflow parsing '1e400'");
    EXPECT_EQ(ParseError("{\n  \"a\": -1e999\n}").rfind("f.json: line 2, column", 0), 0u);
    // Bytes after the value, a NUL byte among them, are not ignored.
    EXPECT_EQ(ParseError(std::string("{}\0garbage", 10)),
              "f.json: line 1, column 3: a zero byte, not JSON text");
    EXPECT_NE(ParseError("{} {}").find("expected end of input"), std::string::npos);
    // Nesting far deeper than any real file stops the parse, not the stack.
    EXPECT_NE(ParseError(std::string(1000000, '[')).find("nested deeper than 64"),
              std::string::npos);
    EXPECT_NE(ParseError("").find("f.json: line 1, column 1"), std::string::npos);

    Json value;
    std::string error;
    EXPECT_TRUE(platform::ParseJson("[1.5, {\"b\": \"x\"}]", "f.json", value, error)) << error;
    EXPECT_EQ(value[1]["b"], "x");
}

TEST(JsonReader, CheckerKeepsTheFirstProblemWithItsField) {
    Json value;
    std::string error;
    ASSERT_TRUE(platform::ParseJson(R"({"n": 5, "s": 3, "a": [1, 2, 3]})", "", value, error));
    platform::JsonChecker check("p.json");
    double n = 0;
    std::string s;
    const Json* items = nullptr;
    EXPECT_TRUE(check.Number(value, "", "n", 0, 10, n));
    EXPECT_TRUE(check.Number(value, "", "missing", 0, 10, n));
    EXPECT_EQ(n, 5);
    EXPECT_FALSE(check.Array(value, "", "a", 2, items));
    EXPECT_FALSE(check.Text(value, "", "s", 10, s));
    EXPECT_EQ(check.Error(), "p.json: a: has 3 entries, more than the 2 allowed");
}
