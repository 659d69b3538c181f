// kestrel-bench: runs scenarios on the real modules (each in its own host process, under
// wine or natively), judges and draws them, renders traces, and serves the live panel.
// This file is its command line: one CLI11 parser for the five commands and their options.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>

#include "bench_commands.h"
#include "bench_locations.h"
#include "bench_options.h"
#include "run_status.h"
#include "scenario.h"
#include "serve_command.h"
#include "snapshot_command.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel::bench;

std::string number_text(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Validators whose messages say what was expected.
CLI::Validator positive_seconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::size_t used = 0;
            double value = 0;
            try {
                value = std::stod(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != text.size() || !(value > 0) || !std::isfinite(value))
                return "expected a positive number of seconds, found '" + text + "'";
            return "";
        },
        "");
}

CLI::Validator plain_label() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (kestrel::scenario::is_valid_picture_label(text)) return "";
            return "expected a name of letters, digits, '-', '_' or '.', found '" + text + "'";
        },
        "");
}

CLI::Validator whole_number(uint64_t low, uint64_t high, const std::string& what) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            uint64_t value = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
                return "expected " + what + ", found '" + text + "'";
            return "";
        },
        "");
}

CLI::Validator one_of_scales() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text == "1" || text == "2" || text == "4") return "";
            return "expected 1, 2 or 4, found '" + text + "'";
        },
        "");
}

// The options each command takes, with the default it really uses in its help.
void add_out(CLI::App& command, Options& options) {
    command.add_option("--out", options.out, std::string("where traces, pictures and logs go (default ") + default_out + ")")
        ->type_name("DIR");
}

void add_scale(CLI::App& command, Options& options, Command which) {
    // The live panel's page picks the scale that fits its window; --scale fixes it.
    const std::string fallback = which == Command::serve ? std::string("the largest at which the gauges fit the window")
                                                         : std::to_string(default_scale(which));
    command.add_option("--scale", options.scale, "draw every gauge pixel as N by N pixels: 1, 2 or 4 (default " + fallback + ")")
        ->type_name("N")
        ->check(one_of_scales());
}

// A panel's gauges folder, for snapshot and serve --panel alike.
CLI::Option* add_gauges(CLI::App& command, Options& options) {
    return command
        .add_option("--gauges", options.gauges,
                    "the folder the panel's modules are looked up in as MODULE.gau (default: dist, then "
                    "build/windows/modules; installed: PREFIX/lib/kestrel/gau)")
        ->type_name("DIR");
}

void add_lookup(CLI::App& command, Options& options) {
    command.add_option("--root", options.root,
                       "a Kestrel source tree to take the hosts, modules, page and scenarios from "
                       "(default: the build tree this bench runs from, or its install prefix)")
        ->type_name("DIR");
    command.add_option("--gau-dir", options.gau_dir,
                       "the folder of the .gau files whose pictures are drawn (default: dist, then "
                       "build/windows/modules; installed: PREFIX/lib/kestrel/gau)")
        ->type_name("DIR");
}

void add_host(CLI::App& command, Options& options, Command which) {
    command.add_flag("--native", options.native, "run the native 32-bit twin instead of the real .gau");
    command.add_flag("--native-gau", options.native_gau, "run the real .gau in the native 32-bit host without trying wine first");
    command.add_option("--timeout", options.timeout_seconds,
                       (which == Command::serve ? "time a command may take before the module counts as hung (default "
                                                : "time a scenario may take before it counts as hung (default ") +
                           number_text(default_timeout_seconds(which)) + " s)")
        ->type_name("SECONDS")
        ->check(positive_seconds());
    command.add_option("--host", options.host,
                       "the kestrel-host program (default: the optimized native host, or the Windows host under wine)")
        ->type_name("PROGRAM");
    command.add_option("--modules", options.modules,
                       "the folder the host loads modules from (default: the twin's build folder with --native, "
                       "else the .gau folders of --gau-dir)")
        ->type_name("DIR");
}

// What run and demo add to the console: a report for CI, and references brought up to date.
void add_reports(CLI::App& command, Options& options) {
    command.add_option("--junit", options.junit, "write a JUnit XML report of the run to FILE (default: none)")
        ->type_name("FILE");
    command.add_flag("--update-pictures", options.update_pictures,
                     "write the gauge's picture into every reference an expect picture names, and say which changed");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"kestrel-bench: runs scenarios on the Kestrel gauge modules, each in its own host process, judges them\n"
                 "and draws their pictures; renders traces; serves a live panel in the browser."};
    app.footer("Each command answers --help. Exit status: 0 all passed, 1 a scenario failed, 2 bad input.\n");
    app.get_formatter()->column_width(30);
    app.require_subcommand(0, 1);

    CLI::App* demo = app.add_subcommand("demo", "run the built-in demo scenarios and draw their pictures");
    add_host(*demo, options, Command::demo);
    add_out(*demo, options);
    add_scale(*demo, options, Command::demo);
    add_lookup(*demo, options);
    add_reports(*demo, options);

    CLI::App* run = app.add_subcommand("run", "run scenarios, each in its own host process, and judge them");
    add_host(*run, options, Command::run);
    add_out(*run, options);
    add_scale(*run, options, Command::run);
    add_lookup(*run, options);
    add_reports(*run, options);
    run->add_option("SCENARIO", options.inputs, "scenario files, or folders of *.scenario files")->required()->type_name("");

    CLI::App* render = app.add_subcommand("render", "draw the pictures of traces, or a panel of several gauges");
    add_out(*render, options);
    add_scale(*render, options, Command::render);
    add_lookup(*render, options);
    render->add_option("--update", options.update, "draw update N of each trace instead of its pictures")
        ->type_name("N")
        ->check(whole_number(1, std::numeric_limits<uint64_t>::max(), "an update number from 1"));
    render->add_option("--panel", options.panel,
                       "draw the traces, gauges of one module, side by side as one panel, frame by frame, "
                       "into OUT/frames/NAME")
        ->type_name("NAME")
        ->check(plain_label());
    render->add_option("TRACE", options.inputs, "trace files (.jsonl) that run left in OUT/traces")->required()->type_name("");

    CLI::App* serve = app.add_subcommand("serve", "serve a module's gauges, or a panel file's windows, live in the browser");
    add_host(*serve, options, Command::serve);
    add_out(*serve, options);
    add_scale(*serve, options, Command::serve);
    add_lookup(*serve, options);
    serve->add_option("--port", options.port,
                      "the port to listen on (default " + std::to_string(default_port) + "; 0 picks a free one)")
        ->type_name("N")
        ->check(whole_number(0, 65535, "a port number from 0 to 65535"));
    serve->add_option("--listen", options.listen, std::string("the address to listen on (default ") + default_listen_address + ")")
        ->type_name("ADDRESS");
    CLI::Option* served = serve->add_option("MODULE", options.inputs, "a module file, or a module name such as KESTREL")
                              ->expected(1)
                              ->type_name("");
    CLI::Option* served_panel =
        serve->add_option("--panel", options.panel_file,
                          "serve the windows of this panel file (panel.cfg), each module in its own host, instead of a module")
            ->type_name("FILE");
    add_gauges(*serve, options)->needs(served_panel);
    served->excludes(served_panel);

    CLI::App* snapshot = app.add_subcommand("snapshot", "draw the windows of a panel file with every gauge running");
    snapshot->add_option("--panel", options.panel_file, "the panel file (panel.cfg) whose windows are drawn")
        ->required()
        ->type_name("FILE");
    snapshot->add_option("--window", options.window, "draw only this window, by number or title (default: every window)")
        ->type_name("N|TITLE");
    snapshot->add_option("--update", options.update, "draw each window after N updates (default 1)")
        ->type_name("N")
        ->check(whole_number(1, kestrel::scenario::max_updates_per_scenario, "a number of updates from 1"));
    snapshot->add_option("--set", options.variables, "set a host variable by token before the updates (repeatable)")
        ->type_name("TOKEN=VALUE");
    add_gauges(*snapshot, options);
    snapshot->add_flag("--areas", options.areas, "outline every click area and write its tooltip or help id beside it");
    add_scale(*snapshot, options, Command::snapshot);
    add_out(*snapshot, options);
    snapshot->add_flag("--native-gau", options.native_gau, "run the real .gau in the native 32-bit host without trying wine first");
    snapshot->add_option("--timeout", options.timeout_seconds,
                         "time one command to a module's host may take, beyond its updates, before it counts as hung (default " +
                             number_text(default_timeout_seconds(Command::snapshot)) + " s)")
        ->type_name("SECONDS")
        ->check(positive_seconds());
    snapshot->add_option("--root", options.root,
                         "a Kestrel source tree to take the hosts and modules from "
                         "(default: the build tree this bench runs from, or its install prefix)")
        ->type_name("DIR");

    const std::pair<CLI::App*, Command> commands[] = {{demo, Command::demo},
                                                      {run, Command::run},
                                                      {render, Command::render},
                                                      {serve, Command::serve},
                                                      {snapshot, Command::snapshot}};
    // Bad usage: one line that says what was wrong and where the help is, exit status 2.
    auto usage_error = [&commands](const std::string& message) {
        std::string help = "kestrel-bench --help lists the commands";
        for (const auto& [command, which] : commands)
            if (command->parsed()) help = "kestrel-bench " + command->get_name() + " --help lists its options";
        std::cerr << "kestrel-bench: " << message << " (" << help << ")\n";
        return kestrel::run_bad_scenario;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return usage_error(error.what());
    }
    CLI::App* chosen = nullptr;
    for (const auto& [command, which] : commands)
        if (command->parsed()) {
            chosen = command;
            options.command = which;
        }
    if (chosen == nullptr) return usage_error("name a command: demo, run, render, serve or snapshot");
    if (options.native && options.native_gau)
        return usage_error("--native and --native-gau choose different modules: give one of them");

    try {
        const Locations locations = Locations::find(options.root);
        switch (options.command) {
            case Command::demo: return demo_command(options, locations);
            case Command::run: return run_command(options, locations);
            case Command::render: return render_command(options, locations);
            case Command::serve: return kestrel::serve::serve_command(options, locations);
            case Command::snapshot: return kestrel::panel::snapshot_command(options, locations);
        }
    } catch (const std::exception& error) {
        // A malformed trace, module file or picture, or output that cannot be written: bad
        // input, not a failed scenario (which alone ends with exit status 1).
        std::cerr << "kestrel-bench: " << error.what() << '\n';
    }
    return kestrel::run_bad_scenario;
}
