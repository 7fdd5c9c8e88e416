#include "tools/json_value.h"

#include <cstdlib>
#include <stdexcept>

namespace {

struct Reader {
    const std::string& s;
    std::size_t i = 0;

    [[noreturn]] void fail(const char* why) const {
        throw std::runtime_error(std::string(why) + " at offset " + std::to_string(i));
    }
    void skipSpace() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) {
            ++i;
        }
    }
    void expect(char c) {
        skipSpace();
        if (i >= s.size() || s[i] != c) {
            fail("unexpected character");
        }
        ++i;
    }
    std::string string() {
        expect('"');
        std::string out;
        while (i < s.size() && s[i] != '"') {
            if (s[i] == '\\') {
                ++i;
                if (i >= s.size()) {
                    fail("dangling escape");
                }
                if (s[i] == 'u') {
                    out += static_cast<char>(std::strtol(s.substr(i + 1, 4).c_str(), nullptr, 16));
                    i += 5;
                    continue;
                }
                out += s[i] == 'n' ? '\n' : s[i];
                ++i;
                continue;
            }
            out += s[i++];
        }
        expect('"');
        return out;
    }
    JsonValue value() {
        skipSpace();
        if (i >= s.size()) {
            fail("unexpected end");
        }
        JsonValue v;
        const char c = s[i];
        if (c == '{') {
            v.kind = JsonValue::Object;
            ++i;
            skipSpace();
            if (s[i] == '}') {
                ++i;
                return v;
            }
            for (;;) {
                const std::string name = string();
                expect(':');
                v.fields[name] = value();
                skipSpace();
                if (s[i] == ',') {
                    ++i;
                    continue;
                }
                expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = JsonValue::Array;
            ++i;
            skipSpace();
            if (s[i] == ']') {
                ++i;
                return v;
            }
            for (;;) {
                v.items.push_back(value());
                skipSpace();
                if (s[i] == ',') {
                    ++i;
                    continue;
                }
                expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::String;
            v.text = string();
            return v;
        }
        if (s.compare(i, 4, "true") == 0 || s.compare(i, 5, "false") == 0) {
            v.kind = JsonValue::Bool;
            v.boolean = s[i] == 't';
            i += v.boolean ? 4 : 5;
            return v;
        }
        if (s.compare(i, 4, "null") == 0) {
            i += 4;
            return v;
        }
        char* end = nullptr;
        v.kind = JsonValue::Number;
        v.number = std::strtod(s.c_str() + i, &end);
        if (end == s.c_str() + i) {
            fail("not a value");
        }
        v.text = s.substr(i, static_cast<std::size_t>(end - (s.c_str() + i)));
        i = static_cast<std::size_t>(end - s.c_str());
        return v;
    }
};

} // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
    const auto it = fields.find(name);
    if (it == fields.end()) {
        throw std::runtime_error("no field " + name);
    }
    return it->second;
}

JsonValue parseJson(const std::string& text) {
    Reader reader{text};
    JsonValue v = reader.value();
    reader.skipSpace();
    if (reader.i != text.size()) {
        reader.fail("trailing text");
    }
    return v;
}
