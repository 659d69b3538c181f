// The run as a JUnit XML report, the format CI servers read: one testsuite per run, one
// testcase per scenario named by its path, a failure per failed expectation, an error for
// a crash, a hang, a host error or bad input, and the trace's path in system-out.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::bench {

struct JunitCase {
    enum class Outcome { passed, failed, error, skipped };

    std::string name;       // the scenario's output name, e.g. "dirA/x"
    std::string classname;  // MODULE.GAUGE, so that a CI server groups the cases by gauge
    std::string file;       // the scenario file as the user named it
    Outcome outcome = Outcome::passed;
    std::string error_type;             // for an error: "crash", "hang", "host error", "bad input"
    std::vector<std::string> messages;  // failures, or the one error's lines; for skipped, why
    std::vector<std::string> output;    // system-out: where its trace, log and frames are, notes
    std::vector<std::string> warnings;  // system-err
    double seconds = 0;
};

struct JunitSuite {
    std::string name;       // "kestrel-bench run"
    std::string host;       // the host that ran every scenario, or "" when none ran
    std::string timestamp;  // ISO 8601, UTC, e.g. "2024-05-01T10:00:00"
    double seconds = 0;
    std::vector<JunitCase> cases;
};

// Text as XML character data or attribute value: markup characters as entities, bytes
// that are no UTF-8 and characters XML 1.0 forbids as "\xHH", so that any byte a scenario
// or module produces reads back as text. In an attribute, line breaks and tabs become
// character references too, as a parser would otherwise turn them into spaces.
enum class XmlPlace { content, attribute };
std::string xml_text(std::string_view text, XmlPlace place = XmlPlace::content);

std::string junit_xml(const JunitSuite& suite);
// Writes the report, creating its folder; throws UsageError naming the file on failure.
void write_junit(const JunitSuite& suite, const std::filesystem::path& file);

// Now, as a JUnit timestamp.
std::string junit_timestamp_now();

}  // namespace kestrel::bench
