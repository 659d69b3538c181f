// kestrel-host: the host's command line, parsed by CLI11 with one subcommand per job.
// Bad input ends with one line on stderr and exit status 2. `inspect` reads the module
// files as stored and never runs them; only `run` and `session` load and drive a module.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "live_session.h"
#include "loader.h"
#include "module_listing.h"
#include "run_status.h"
#include "scenario_runner.h"
#include "stored_module.h"

namespace {

namespace fs = std::filesystem;

int inspect(const std::vector<std::string>& files) {
    for (const std::string& file : files) kestrel::inspect(kestrel::StoredModule::read(file), std::cout);
    return kestrel::run_passed;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kestrel-host: the stand-in for the simulator's panel system. It reads gauge modules, runs\n"
                 "scenarios on them and keeps live sessions for the bench.",
                 "kestrel-host"};
    app.require_subcommand(1);
    // Under wine the bench hands Unix paths ("/work/..."), which Windows-style option
    // parsing would take for options; the subcommands inherit the setting.
    app.allow_windows_style_options(false);

    std::vector<std::string> inspect_files;
    CLI::App* inspect_command =
        app.add_subcommand("inspect", "Print everything the simulator would read from each module file, as stored; "
                                      "never runs the module");
    inspect_command->add_option("MODULE", inspect_files, "a .gau or twin .so module file")->required();

    kestrel::RunOptions run;
    std::string scenario;
    CLI::App* run_command = app.add_subcommand("run", "Play one scenario on the module it names, check its expectations");
    run_command->add_option("SCENARIO", scenario, "the scenario file")->required();
    run_command->add_option("--trace", run.trace, "write the trace of the run to this file");
    run_command->add_option("--modules", run.modules,
                            "look the module up in this folder (default: ../modules beside this program)");
    run_command->add_flag("--real-module", run.real_module, "look up NAME.gau whatever this build's module format");
    run_command->add_option("--module", run.module, "load this module file instead of looking the module up");
    run_command->add_option("--pictures", run.pictures,
                            "the folder of the .gau files whose pictures give each gauge's size, for a twin");

    std::string session_module;
    std::string gauge_info;
    CLI::App* session_command =
        app.add_subcommand("session", "Keep MODULE_FILE loaded and play one command per line from standard input");
    session_command->add_option("MODULE_FILE", session_module, "the module file to load")->required();
    session_command->add_option("--gauge-info", gauge_info, "the folder each gauge's trace head is written to")
        ->required();
    std::vector<std::string> session_gauges;
    session_command->add_option("--gauge", session_gauges,
                                "drive only this gauge, in any letter case (repeatable; default: every gauge), as a "
                                "panel runs only the gauges it shows");

    if (argc < 2) {
        std::cerr << app.help();
        return kestrel::run_bad_scenario;
    }
    const std::vector<CLI::App*> commands = app.get_subcommands({});
    const bool known = std::any_of(commands.begin(), commands.end(), [&](const CLI::App* command) {
        return command->get_name() == argv[1];
    });
    if (argv[1][0] != '-' && !known) {
        std::cerr << "kestrel-host: unknown command \"" << argv[1] << "\" (commands: inspect, run, session)\n";
        return kestrel::run_bad_scenario;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help answers on standard output with status 0; every other fault is bad input.
        if (error.get_exit_code() == 0) return app.exit(error);
        std::cerr << "kestrel-host: " << error.what() << " (kestrel-host --help lists the commands)\n";
        return kestrel::run_bad_scenario;
    }
    try {
        if (*inspect_command) return inspect(inspect_files);
        if (*run_command) {
            run.scenario = scenario;
            return kestrel::run_scenario(run);
        }
        return kestrel::run_live_session(session_module, gauge_info, session_gauges);
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "kestrel-host: " << error.what() << '\n';
        return kestrel::run_bad_scenario;
    }
}
