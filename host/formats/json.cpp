// JSON writers for trace lines: strings with every byte kept, doubles exact (shortest
// round-trip form), NaN and the infinities as strings that the reader maps back.
#include "json.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "plain_format.h"

namespace kestrel::json {
namespace {

// Escapes what JSON requires; bytes from 0x7F up either become code points of their own
// number (a trace's bytes) or pass as they are (text that is already UTF-8).
void append_escaped(std::string& out, std::string_view text, bool bytes_as_code_points) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || (bytes_as_code_points && c >= 0x7F)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

}  // namespace

void append_string(std::string& out, std::string_view bytes) { append_escaped(out, bytes, true); }

void append_utf8(std::string& out, std::string_view text) { append_escaped(out, text, false); }

void append_number(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
    } else if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else if (value == 0 && std::signbit(value)) {
        out += "-0.0";  // "-0" would read back as the integer 0, without its sign
    } else {
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        out.append(text, result.ptr);
    }
}

char* write_integer(char* at, int64_t value) {
    const bool negative = value < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (negative) *at++ = '-';
    // The digits are written backwards from their end: count them first, in 32 bits where
    // the number fits, as nearly every number of a trace does.
    std::size_t digits = 1;
    if (magnitude <= UINT32_MAX) {
        for (auto rest = static_cast<uint32_t>(magnitude); rest >= 10; rest /= 10) ++digits;
    } else {
        for (uint64_t rest = magnitude; rest >= 10; rest /= 10) ++digits;
    }
    plain_format::write_digits_before(at + digits, magnitude);
    return at + digits;
}

void append_integer(std::string& out, int64_t value) {
    // Every record has two or three numbers: written two digits at a time, as the
    // read-outs' formatter writes them.
    char text[24];
    out.append(text, write_integer(text, value));
}

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
