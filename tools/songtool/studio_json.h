// The studio's requests: one JSON object whose members are strings, numbers,
// true, false or null (no nesting), read strictly.
#pragma once
#include <map>
#include <string>

struct JsonValue {
    enum class Kind { string, number, boolean, null } kind = Kind::null;
    std::string text;  // a string's characters (UTF-8), or a number as written
    bool flag = false;
};
using JsonObject = std::map<std::string, JsonValue>;

// False, with what is wrong and where, if `text` is not such an object (or
// names a member twice).
bool parse_json_object(const std::string& text, JsonObject& object, std::string& error);
