// Running one scenario in a child host process with a time limit, and judging the run from
// its exit and its trace: passed, expectations failed, bad scenario, host error, crashed
// or hung, with the scenario line at fault and the warnings the host printed.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "host_launcher.h"
#include "trace.h"

namespace kestrel::bench {

struct ScenarioRun {
    std::filesystem::path scenario;  // as the user named it
    Host host;
    std::filesystem::path modules;   // folder handed to the host
    // The .gau folder whose pictures give the gauge's size, for a host that runs the twin
    // (empty: the module run is a .gau and holds its own).
    std::filesystem::path pictures;
    std::filesystem::path trace;     // written by the host
    std::filesystem::path log;       // the host's output
    std::chrono::duration<double> timeout = std::chrono::seconds(30);
};

enum class Verdict { passed, failed, bad_scenario, host_error, crashed, hung };
const char* verdict_name(Verdict verdict);  // "PASS", "FAIL", ...
// Bad input: the run ends with exit status 2, not 1.
inline bool is_bad_input(Verdict verdict) { return verdict == Verdict::bad_scenario; }

struct ScenarioOutcome {
    Verdict verdict = Verdict::passed;
    std::vector<std::string> messages;  // "file:line: ..." for each fault found
    std::vector<std::string> warnings;  // the host's "FILE:LINE: warning: ..." lines
    std::optional<trace::TraceSummary> trace;
    std::chrono::duration<double> elapsed{};
};

ScenarioOutcome run_scenario(const ScenarioRun& run);

// A judgement from a finished child and what it left, apart from running it (for tests).
ScenarioOutcome judge_run(const ScenarioRun& run, const ChildExit& exit);

}  // namespace kestrel::bench
