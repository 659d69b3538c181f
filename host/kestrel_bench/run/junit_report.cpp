// Writing the JUnit report by hand: a handful of elements, every text through xml_text.
// The attributes CI servers read are set on both levels: tests, failures, errors, skipped
// and time on the suite (and the testsuites around it), name, classname, file and time on
// each case.
#include "junit_report.h"

#include <cstdio>
#include <ctime>
#include <fstream>

#include "bench_options.h"
#include "module_lookup.h"

namespace kestrel::bench {
namespace {

// The length of the UTF-8 sequence that starts at text[i], or 0 when it is none (overlong
// forms, surrogates and code points beyond U+10FFFF are none).
std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
    else return 0;
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))) return 0;
    if (code >= 0xD800 && code <= 0xDFFF) return 0;
    if (code == 0xFFFE || code == 0xFFFF) return 0;  // not characters in XML 1.0
    return length;
}

void append_escaped_byte(std::string& out, unsigned char byte) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    out += escape;
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds < 0 ? 0.0 : seconds);
    return text;
}

std::string attribute(const char* name, std::string_view value) {
    return std::string(" ") + name + "=\"" + xml_text(value, XmlPlace::attribute) + "\"";
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

void append_property(std::string& out, const char* indent, const std::string& host) {
    out += indent;
    out += "<properties>\n";
    out += indent;
    out += "  <property" + attribute("name", "host") + attribute("value", host) + "/>\n";
    out += indent;
    out += "</properties>\n";
}

}  // namespace

std::string xml_text(std::string_view text, XmlPlace place) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&apos;"; break;
                case '\n': out += place == XmlPlace::attribute ? "&#10;" : "\n"; break;
                case '\t': out += place == XmlPlace::attribute ? "&#9;" : "\t"; break;
                default:
                    if (c < 0x20 || c == 0x7F) append_escaped_byte(out, c);
                    else out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        if (const std::size_t length = utf8_length(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        append_escaped_byte(out, c);
        ++i;
    }
    return out;
}

std::string junit_xml(const JunitSuite& suite) {
    int failures = 0, errors = 0, skipped = 0;
    for (const JunitCase& each : suite.cases) {
        failures += each.outcome == JunitCase::Outcome::failed;
        errors += each.outcome == JunitCase::Outcome::error;
        skipped += each.outcome == JunitCase::Outcome::skipped;
    }
    const std::string counts = attribute("tests", std::to_string(suite.cases.size())) +
                               attribute("failures", std::to_string(failures)) +
                               attribute("errors", std::to_string(errors)) + attribute("skipped", std::to_string(skipped)) +
                               attribute("time", seconds_text(suite.seconds));
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<testsuites" + attribute("name", suite.name) + counts + ">\n";
    out += "  <testsuite" + attribute("name", suite.name) + counts + attribute("timestamp", suite.timestamp) + ">\n";
    if (!suite.host.empty()) append_property(out, "    ", suite.host);
    for (const JunitCase& each : suite.cases) {
        out += "    <testcase" + attribute("name", each.name) + attribute("classname", each.classname) +
               attribute("file", each.file) + attribute("time", seconds_text(each.seconds)) + ">\n";
        if (!suite.host.empty() && each.outcome != JunitCase::Outcome::skipped) append_property(out, "      ", suite.host);
        switch (each.outcome) {
            case JunitCase::Outcome::passed: break;
            case JunitCase::Outcome::failed:
                for (const std::string& message : each.messages)
                    out += "      <failure" + attribute("message", message) + attribute("type", "expectation") + ">" +
                           xml_text(message) + "</failure>\n";
                break;
            case JunitCase::Outcome::error:
                out += "      <error" + attribute("message", each.messages.empty() ? "" : each.messages.front()) +
                       attribute("type", each.error_type) + ">" + xml_text(joined(each.messages)) + "</error>\n";
                break;
            case JunitCase::Outcome::skipped:
                out += "      <skipped" + attribute("message", joined(each.messages)) + "/>\n";
                break;
        }
        if (!each.output.empty()) out += "      <system-out>" + xml_text(joined(each.output)) + "</system-out>\n";
        if (!each.warnings.empty()) out += "      <system-err>" + xml_text(joined(each.warnings)) + "</system-err>\n";
        out += "    </testcase>\n";
    }
    out += "  </testsuite>\n</testsuites>\n";
    return out;
}

void write_junit(const JunitSuite& suite, const std::filesystem::path& file) {
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    std::ofstream out(file, std::ios::binary);
    const std::string xml = junit_xml(suite);
    if (!out || !out.write(xml.data(), static_cast<std::streamsize>(xml.size())) || !out.flush())
        throw UsageError(display_path(file) + ": cannot write the JUnit report");
}

std::string junit_timestamp_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

}  // namespace kestrel::bench
