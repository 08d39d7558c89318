// The studio's request reader: JSON strings decoded exactly (escapes,
// surrogate pairs into UTF-8), and everything else refused with its place.
#include <gtest/gtest.h>

#include "studio_json.h"

namespace {

JsonObject parsed(const std::string& text)
{
    JsonObject object;
    std::string error;
    EXPECT_TRUE(parse_json_object(text, object, error)) << text << ": " << error;
    return object;
}

std::string refusal(const std::string& text)
{
    JsonObject object;
    std::string error;
    EXPECT_FALSE(parse_json_object(text, object, error)) << text;
    return error;
}

TEST(StudioJson, DecodesStringsNumbersAndLiterals)
{
    const JsonObject o = parsed(
        " {\"text\": \"a\\\"b\\\\c\\/\\n\\t\\u00e9\\u20ac\\ud83c\\udfb5\", \"from\": -41.5e+2, \"force\": true,"
        " \"solo\": null, \"\": false}\n");
    EXPECT_EQ(o.at("text").text, "a\"b\\c/\n\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
    EXPECT_EQ(o.at("from").kind, JsonValue::Kind::number);
    EXPECT_EQ(o.at("from").text, "-41.5e+2");
    EXPECT_TRUE(o.at("force").flag);
    EXPECT_EQ(o.at("solo").kind, JsonValue::Kind::null);
    EXPECT_EQ(o.at("").kind, JsonValue::Kind::boolean);
    EXPECT_FALSE(o.at("").flag);
    EXPECT_TRUE(parsed("{}").empty());
}

TEST(StudioJson, RefusesWhatIsNotAFlatObjectWithItsPlace)
{
    EXPECT_EQ(refusal(""), "expected a JSON object at byte 0");
    EXPECT_EQ(refusal("[1]"), "expected a JSON object at byte 0");
    EXPECT_EQ(refusal("{\"a\": [1]}"),
              "a nested object or list (members are strings, numbers, true, false or null) at byte 6");
    EXPECT_EQ(refusal("{\"a\": 1, \"a\": 2}"), "a member given twice at byte 15");
    EXPECT_EQ(refusal("{\"a\": 1} x"), "text after the object at byte 9");
    EXPECT_EQ(refusal("{\"a\": 1,}"), "expected a string at byte 8");
    EXPECT_EQ(refusal("{\"a\" 1}"), "expected ':' at byte 5");
    EXPECT_EQ(refusal("{\"a\": \"x\ny\"}"), "a control character in a string at byte 9");
    EXPECT_EQ(refusal("{\"a\": \"\\x\"}"), "an unknown escape \\x at byte 9");
    EXPECT_EQ(refusal("{\"a\": \"\\ud83c\"}"), "a high surrogate without its low one at byte 13");
    EXPECT_EQ(refusal("{\"a\": \"\\udfb5\"}"), "a lone low surrogate at byte 13");
    EXPECT_EQ(refusal("{\"a\": \"\\u12g4\"}"), "a \\u escape needs four hex digits at byte 11");
    EXPECT_EQ(refusal("{\"a\": 01}"), "expected ',' or '}' at byte 7");
    EXPECT_EQ(refusal("{\"a\": -}"), "a malformed number at byte 7");
    EXPECT_EQ(refusal("{\"a\": 1.}"), "a malformed number at byte 8");
    EXPECT_EQ(refusal("{\"a\": tru}"), "not a JSON value at byte 6");
    EXPECT_EQ(refusal("{\"a\": \"open"), "a string without its closing quote at byte 11");
}

}  // namespace
