#include "studio_json.h"

#include <cstdint>

namespace {

struct Reader {
    const std::string& text;
    size_t at = 0;
    std::string error = {};

    bool fail(const std::string& what)
    {
        if (error.empty()) error = what + " at byte " + std::to_string(at);
        return false;
    }
    void skip_blanks()
    {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
            ++at;
    }
    bool take(char c)
    {
        skip_blanks();
        if (at < text.size() && text[at] == c) return ++at, true;
        return false;
    }
    bool word(const char* w)
    {
        const std::string_view v(w);
        if (text.compare(at, v.size(), v) != 0) return false;
        at += v.size();
        return true;
    }

    bool hex4(uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i, ++at) {
            if (at >= text.size()) return fail("a \\u escape cut short");
            const char c = text[at];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return fail("a \\u escape needs four hex digits");
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    }

    static void append_utf8(std::string& out, uint32_t c)
    {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    // \uXXXX, a surrogate pair taken whole.
    bool unicode_escape(std::string& out)
    {
        uint32_t c = 0;
        if (!hex4(c)) return false;
        if (c >= 0xDC00 && c <= 0xDFFF) return fail("a lone low surrogate");
        if (c >= 0xD800 && c <= 0xDBFF) {
            uint32_t low = 0;
            if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return fail("a high surrogate without its low one");
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(out, c);
        return true;
    }

    bool string(std::string& out)
    {
        if (!take('"')) return fail("expected a string");
        for (;;) {
            if (at >= text.size()) return fail("a string without its closing quote");
            const char c = text[at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= text.size()) return fail("an escape cut short");
            const char e = text[at++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': if (!unicode_escape(out)) return false; break;
            default: return fail(std::string("an unknown escape \\") + e);
            }
        }
    }

    bool digits()
    {
        const size_t from = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        return at > from;
    }

    bool number(std::string& out)
    {
        const size_t from = at;
        if (text[at] == '-') ++at;
        if (at < text.size() && text[at] == '0') ++at;  // no other digit may follow a leading 0
        else if (!digits()) return fail("a malformed number");
        if (at < text.size() && text[at] == '.' && (++at, !digits())) return fail("a malformed number");
        if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
            ++at;
            if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
            if (!digits()) return fail("a malformed number");
        }
        out = text.substr(from, at - from);
        return true;
    }

    bool value(JsonValue& v)
    {
        skip_blanks();
        if (at >= text.size()) return fail("a value missing");
        const char c = text[at];
        if (c == '"') return v.kind = JsonValue::Kind::string, string(v.text);
        if (c == '-' || (c >= '0' && c <= '9')) return v.kind = JsonValue::Kind::number, number(v.text);
        if (word("true")) return v.kind = JsonValue::Kind::boolean, v.flag = true, true;
        if (word("false")) return v.kind = JsonValue::Kind::boolean, true;
        if (word("null")) return v.kind = JsonValue::Kind::null, true;
        if (c == '{' || c == '[') return fail("a nested object or list (members are strings, numbers, true, false or null)");
        return fail("not a JSON value");
    }

    bool member(JsonObject& object)
    {
        std::string name;
        if (!string(name)) return false;
        if (!take(':')) return fail("expected ':'");
        JsonValue v;
        if (!value(v)) return false;
        if (!object.emplace(std::move(name), std::move(v)).second) return fail("a member given twice");
        return true;
    }

    bool object(JsonObject& object)
    {
        if (!take('{')) return fail("expected a JSON object");
        if (!take('}')) {
            do {
                if (!member(object)) return false;
            } while (take(','));
            if (!take('}')) return fail("expected ',' or '}'");
        }
        skip_blanks();
        return at == text.size() || fail("text after the object");
    }
};

}  // namespace

bool parse_json_object(const std::string& text, JsonObject& object, std::string& error)
{
    Reader reader{text};
    object.clear();
    if (reader.object(object)) return true;
    error = reader.error;
    return false;
}
