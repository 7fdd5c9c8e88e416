#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

// Just enough JSON reading to check what the tools print.
struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0.0;
    std::string text; // String, and Number's own spelling
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;

    const JsonValue& operator[](const std::string& name) const;
    const JsonValue& operator[](std::size_t index) const { return items.at(index); }
};

// Throws std::runtime_error on malformed input.
JsonValue parseJson(const std::string& text);
