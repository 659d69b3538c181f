// JSON reading and writing for traces: a recursive-descent reader with a depth bound,
// and writers that keep every double exact (shortest round-trip form).
#include "json.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kestrel::json {
namespace {

constexpr int max_depth = 64;

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    Value document() {
        Value value = parse_value(0);
        skip_blanks();
        if (at_ < text_.size()) fail("unexpected text after the value");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw JsonError("at byte " + std::to_string(at_ + 1) + ": " + what);
    }

    void skip_blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }

    bool consume(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    Value parse_value(int depth) {
        if (depth > max_depth) fail("values nested too deeply");
        skip_blanks();
        if (at_ >= text_.size()) fail("expected a value, found the end of the line");
        const char c = text_[at_];
        if (c == '{') return parse_object(depth);
        if (c == '[') return parse_array(depth);
        if (c == '"') return Value{parse_string()};
        if (consume("true")) return Value{true};
        if (consume("false")) return Value{false};
        if (consume("null")) return Value{nullptr};
        return Value{parse_number()};
    }

    Value parse_object(int depth) {
        ++at_;
        Object object;
        skip_blanks();
        if (consume("}")) return Value{std::move(object)};
        for (;;) {
            skip_blanks();
            if (at_ >= text_.size() || text_[at_] != '"') fail("expected a member name in double quotes");
            std::string key = parse_string();
            skip_blanks();
            if (!consume(":")) fail("expected ':' after a member name");
            object.insert_or_assign(std::move(key), parse_value(depth + 1));
            skip_blanks();
            if (consume("}")) return Value{std::move(object)};
            if (!consume(",")) fail("expected ',' or '}' in an object");
        }
    }

    Value parse_array(int depth) {
        ++at_;
        Array array;
        skip_blanks();
        if (consume("]")) return Value{std::move(array)};
        for (;;) {
            array.push_back(parse_value(depth + 1));
            skip_blanks();
            if (consume("]")) return Value{std::move(array)};
            if (!consume(",")) fail("expected ',' or ']' in an array");
        }
    }

    unsigned hex4() {
        if (at_ + 4 > text_.size()) fail("expected four hexadecimal digits after \\u");
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') code |= static_cast<unsigned>(c - 'A' + 10);
            else fail("expected four hexadecimal digits after \\u");
        }
        return code;
    }

    static void append_utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::string parse_string() {
        ++at_;
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("expected a closing '\"'");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) fail("expected an escape after '\\'");
            const char e = text_[at_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code = hex4();
                    if (code >= 0xD800 && code < 0xDC00 && consume("\\u")) {
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low >= 0xE000) fail("unpaired surrogate in \\u escape");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    append_utf8(out, code);
                    break;
                }
                default: fail(std::string("unknown escape '\\") + e + "'");
            }
        }
    }

    double parse_number() {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.' ||
                                      text_[at_] == 'e' || text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-'))
            ++at_;
        double value = 0;
        const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + at_, value);
        if (start == at_ || error != std::errc() || end != text_.data() + at_) {
            at_ = start;
            fail("expected a value (object, array, string, number, true, false or null)");
        }
        return value;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

double Value::number() const {
    if (const double* n = std::get_if<double>(&data)) return *n;
    if (const std::string* s = std::get_if<std::string>(&data)) {
        if (*s == "NaN") return std::numeric_limits<double>::quiet_NaN();
        if (*s == "Infinity") return std::numeric_limits<double>::infinity();
        if (*s == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    throw JsonError("expected a number");
}

bool Value::boolean() const {
    if (const bool* b = std::get_if<bool>(&data)) return *b;
    throw JsonError("expected true or false");
}

const std::string& Value::string() const {
    if (const std::string* s = std::get_if<std::string>(&data)) return *s;
    throw JsonError("expected a string");
}

const Array& Value::array() const {
    if (const Array* a = std::get_if<Array>(&data)) return *a;
    throw JsonError("expected an array");
}

const Object& Value::object() const {
    if (const Object* o = std::get_if<Object>(&data)) return *o;
    throw JsonError("expected an object");
}

const Value* Value::find(std::string_view key) const {
    const Object& members = object();
    const auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
}

const Value& Value::at(std::string_view key) const {
    if (const Value* member = find(key)) return *member;
    throw JsonError("missing member \"" + std::string(key) + "\"");
}

int64_t Value::integer() const {
    const double n = number();
    if (!(n >= -9007199254740992.0 && n <= 9007199254740992.0) || n != std::trunc(n))
        throw JsonError("expected an integer");
    return static_cast<int64_t>(n);
}

uint32_t Value::word32() const {
    const int64_t n = integer();
    if (n < 0 || n > 0xFFFFFFFFll) throw JsonError("expected an unsigned 32-bit number");
    return static_cast<uint32_t>(n);
}

Value parse(std::string_view text) { return Parser(text).document(); }

void append_string(std::string& out, std::string_view bytes) {
    out += '"';
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void append_number(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
    } else if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        out.append(text, result.ptr);
    }
}

void append_integer(std::string& out, int64_t value) { out += std::to_string(value); }

std::string bytes_of(const std::string& utf8) {
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes += static_cast<char>(c);
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            bytes += code < 0x100 ? static_cast<char>(code) : '?';
            i += 2;
        } else {
            bytes += '?';
            ++i;
            while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
        }
    }
    return bytes;
}

}  // namespace kestrel::json
