// The small part of JSON that traces need: writing values into a line of text, and
// reading one line back into a tree of values with errors that say where it went wrong.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrel::json {

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Value;
using Array = std::vector<Value>;
using Object = std::map<std::string, Value, std::less<>>;

struct Value {
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> data;

    bool is_null() const { return std::holds_alternative<std::nullptr_t>(data); }
    bool is_number() const { return std::holds_alternative<double>(data); }
    bool is_string() const { return std::holds_alternative<std::string>(data); }
    bool is_array() const { return std::holds_alternative<Array>(data); }
    bool is_object() const { return std::holds_alternative<Object>(data); }

    // Typed access; each throws JsonError naming what was expected.
    double number() const;  // also "NaN", "Infinity" and "-Infinity", written for such values
    bool boolean() const;
    const std::string& string() const;
    const Array& array() const;
    const Object& object() const;
    // A member of an object; throws JsonError naming the missing key.
    const Value& at(std::string_view key) const;
    const Value* find(std::string_view key) const;
    // Integer members, range-checked.
    int64_t integer() const;
    uint32_t word32() const;
};

// Parses one complete JSON text.
Value parse(std::string_view text);

// Appending JSON to a line under construction.
void append_string(std::string& out, std::string_view bytes);  // bytes >= 0x80 as \u00XX
void append_number(std::string& out, double value);             // shortest exact form
void append_integer(std::string& out, int64_t value);

// JSON strings written by append_string map each byte to one code point below 256;
// this turns such a string back into its bytes (code points >= 256 become '?').
std::string bytes_of(const std::string& utf8);

}  // namespace kestrel::json
