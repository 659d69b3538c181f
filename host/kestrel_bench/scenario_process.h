// Running one scenario in a child process (the 32-bit host, natively or under wine) with
// a time limit, and judging the run from its exit and its trace: passed, expectations
// failed, bad scenario, host error, crashed or hung, with the scenario line at fault.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "trace.h"

namespace kestrel::bench {

struct ChildExit {
    enum class Kind { exited, signalled, timed_out };
    Kind kind = Kind::exited;
    int code = 0;  // exit status, or the signal's number
    std::chrono::duration<double> elapsed{};
};

// Runs argv[0] with its arguments in a process group of its own, standard output and
// error into log_file, with `environment` (NAME=VALUE) added to the bench's own. On
// timeout the whole group is killed. Throws std::runtime_error when the program cannot
// be started, with the reason (e.g. "Exec format error").
ChildExit run_child(const std::vector<std::string>& argv, const std::filesystem::path& log_file,
                    std::chrono::duration<double> timeout, const std::vector<std::string>& environment = {});

// The native 32-bit build whose host and twin modules the bench runs scenarios with: the
// optimized build (build/native-release, which `make demo` and `make test` build) where
// its host exists, else the sanitized test build (build/native), slower by several times.
std::filesystem::path native_build(const std::filesystem::path& source_root);

// The sanitized native host is built with the address sanitizer, whose leak check at exit cannot
// stop threads under a user-mode emulator and then never ends; leaks are not the bench's
// business, so it is off for every run of the native host.
inline const std::vector<std::string> native_host_environment = {"ASAN_OPTIONS=detect_leaks=0"};

struct ScenarioRun {
    std::filesystem::path scenario;
    std::vector<std::string> host_command;  // the host program, e.g. {wine-run.sh, kestrel-host.exe}
    std::vector<std::string> environment;   // NAME=VALUE for the host
    std::filesystem::path modules;          // directory handed to the host
    bool real_module = false;               // the host loads NAME.gau whatever its own format
    std::filesystem::path trace;            // written by the host
    std::filesystem::path log;              // the host's output
    std::chrono::duration<double> timeout = std::chrono::seconds(30);
};

enum class Verdict { passed, failed, bad_scenario, host_error, crashed, hung };
const char* verdict_name(Verdict verdict);  // "PASS", "FAIL", ...

struct ScenarioOutcome {
    Verdict verdict = Verdict::passed;
    std::vector<std::string> messages;  // "file:line: ..." for each fault found
    std::optional<trace::TraceSummary> trace;
    std::chrono::duration<double> elapsed{};
};

ScenarioOutcome run_scenario(const ScenarioRun& run);

// A judgement from a finished child and what it left, apart from running it (for tests).
ScenarioOutcome judge_run(const ScenarioRun& run, const ChildExit& exit);

}  // namespace kestrel::bench
