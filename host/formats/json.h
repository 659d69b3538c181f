// Writing JSON values into a line of text, as the trace writer and the live panel do.
// Reading goes through nlohmann-json (trace_reader.cpp); the writer stays by hand because
// it is the hot path of a long run and measured faster (see the README's bench section).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::json {

// Appending JSON to a line under construction.
void append_string(std::string& out, std::string_view bytes);  // bytes >= 0x7F as \u00XX
void append_utf8(std::string& out, std::string_view text);      // text already UTF-8, kept whole
void append_number(std::string& out, double value);             // shortest exact form
void append_integer(std::string& out, int64_t value);
// The same digits at `at`, which has room for 20 characters; returns the end.
char* write_integer(char* at, int64_t value);

// JSON strings written by append_string map each byte to one code point below 256;
// this turns such a string back into its bytes (code points >= 256 become '?').
std::string bytes_of(const std::string& utf8);

}  // namespace kestrel::json
