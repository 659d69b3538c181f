// `run` and `demo`: every scenario is read first (a malformed one stops the bench before
// anything runs), then each runs in its own host process on the host chosen once for all,
// is judged, has its pictures drawn and its key events logged, and gets a verdict line.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <system_error>

#include "bench_commands.h"
#include "frame_writer.h"
#include "host_launcher.h"
#include "input_files.h"
#include "module_lookup.h"
#include "output_names.h"
#include "run_status.h"
#include "scenario.h"
#include "scenario_process.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

std::string counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The closing line, printed whatever happened before it.
void print_summary(int passed, int failed, int bad) {
    std::printf("%d passed, %d failed", passed, failed);
    if (bad > 0) std::printf(", %s", counted(static_cast<std::size_t>(bad), "bad scenario", "bad scenarios").c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void write_key_log(std::ofstream& log, const std::string& name, const trace::TraceSummary& summary) {
    if (summary.key_log.empty()) {
        log << name << ": no key events\n";
        return;
    }
    for (const trace::KeyLogEntry& entry : summary.key_log)
        log << name << ':' << entry.line << "  " << entry.updates << "  " << entry.source << "  " << entry.during << "  "
            << scenario::format_key_event({entry.event.id, entry.event.value}) << '\n';
}

int run_scenarios(const Options& options, const Locations& locations, const std::vector<std::string>& inputs) {
    std::vector<std::string> problems;
    const std::vector<fs::path> files = scenario_files(inputs, problems);
    std::vector<scenario::Scenario> scenarios;
    for (const fs::path& file : files) {
        try {
            scenarios.push_back(scenario::read_scenario(file));
            scenarios.back().file = display_path(file);
        } catch (const scenario::ScenarioError& error) {
            problems.push_back(error.what());
        }
    }
    std::vector<std::string> names;
    if (problems.empty()) {
        try {
            names = output_names(files);
        } catch (const UsageError& error) {
            problems.push_back(error.what());
        }
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems) std::cerr << problem << '\n';
        std::printf("0 passed, 0 failed: nothing ran (%s above)\n", counted(problems.size(), "bad input", "bad inputs").c_str());
        return run_bad_scenario;
    }

    for (const char* sub : {"traces", "frames", "logs"}) fs::create_directories(options.out / sub);
    const Host host = choose_host(options, locations, std::cout);
    std::printf("host: %s\n", host.description().c_str());
    const std::vector<fs::path> folders = module_folders(options, locations, host.kind);
    const std::vector<fs::path> picture_folders = gau_folders(options, locations);
    FrameWriter frames(picture_folders, options.out, options.scale_or_default());

    int passed = 0;
    int failed = 0;
    int bad = 0;
    std::ofstream key_log(options.out / "key-events.log");
    key_log << "# scenario:line  updates so far  sent by  during  event=value\n";
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        const scenario::Scenario& scenario = scenarios[i];
        const std::string& name = names[i];
        ScenarioRun run;
        run.scenario = files[i];
        run.host = host;
        run.modules = module_folder_for(folders, scenario.module, host.module_extension());
        if (host.module_extension() != std::string(".gau")) {
            // The twin holds no pictures: the host sizes the gauge from the .gau beside it,
            // where there is one (else it says that clicks go unchecked).
            for (const fs::path& folder : picture_folders) {
                std::error_code missing;
                if (fs::is_directory(folder, missing) && !find_module_file(folder, scenario.module, ".gau").empty()) {
                    run.pictures = folder;
                    break;
                }
            }
        }
        run.trace = options.out / "traces" / (name + ".jsonl");
        run.log = options.out / "logs" / (name + ".log");
        run.timeout = std::chrono::duration<double>(options.timeout_or_default());
        fs::create_directories(run.trace.parent_path());
        fs::create_directories(run.log.parent_path());
        ScenarioOutcome outcome = run_scenario(run);

        int pictures = 0;
        if (outcome.trace && outcome.trace->gauge) {
            try {
                pictures = frames.draw(name, *outcome.trace);
            } catch (const std::exception& error) {
                outcome.verdict = Verdict::failed;
                outcome.messages.push_back(scenario.file + ": pictures: " + error.what());
            }
            write_key_log(key_log, name, *outcome.trace);
        }
        if (outcome.verdict == Verdict::passed) ++passed;
        else if (is_bad_input(outcome.verdict)) ++bad;
        else ++failed;
        const std::size_t expectations = outcome.trace ? outcome.trace->expectations.size() : 0;
        std::printf("%-12s %s (%s, %s, %.2f s)\n", verdict_name(outcome.verdict), name.c_str(),
                    counted(expectations, "expectation", "expectations").c_str(),
                    counted(static_cast<std::size_t>(pictures), "picture", "pictures").c_str(), outcome.elapsed.count());
        for (const std::string& message : outcome.messages) std::printf("    %s\n", message.c_str());
        for (const std::string& warning : outcome.warnings) std::printf("    %s\n", warning.c_str());
        std::fflush(stdout);
    }
    const bool sheet = frames.write_contact_sheet(options.out / "contact-sheet.png");
    std::printf("traces:        %s\n", display_path(options.out / "traces").c_str());
    std::printf("pictures:      %s\n", display_path(options.out / "frames").c_str());
    if (sheet) std::printf("contact sheet: %s\n", display_path(options.out / "contact-sheet.png").c_str());
    std::printf("key events:    %s\n", display_path(options.out / "key-events.log").c_str());
    std::printf("host output:   %s\n", display_path(options.out / "logs").c_str());
    print_summary(passed, failed, bad);
    if (bad > 0) return run_bad_scenario;
    return failed == 0 ? run_passed : run_expectation_failed;
}

}  // namespace

int run_command(const Options& options, const Locations& locations) {
    return run_scenarios(options, locations, options.inputs);
}

int demo_command(const Options& options, const Locations& locations) {
    return run_scenarios(options, locations, {locations.demo_scenarios().string()});
}

}  // namespace kestrel::bench
