// kestrel-bench: runs scenarios on the real modules (each in its own host process, under
// wine or natively), reports each as passed or failed, and draws the pictures they took
// from their traces and the modules' own bitmaps. `kestrel-bench demo` runs the built-in set.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "module_lookup.h"
#include "renderer.h"
#include "scenario.h"
#include "scenario_process.h"
#include "serve.h"
#include "text_face.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrel;

constexpr int exit_all_passed = 0;
constexpr int exit_some_failed = 1;
constexpr int exit_bad_input = 2;

constexpr const char* scenario_extension = ".scenario";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* const usage_text =
    "usage: kestrel-bench demo [OPTIONS]\n"
    "       kestrel-bench run [OPTIONS] SCENARIO|DIRECTORY...\n"
    "       kestrel-bench render [OPTIONS] TRACE...\n"
    "options:\n"
    "  --native          run on the native 32-bit twin instead of the .gau under wine\n"
    "  --native-gau      run the real .gau in the native 32-bit host instead of under wine\n"
    "  --out DIR         where traces, pictures and logs go (default: out)\n"
    "  --scale N         draw every gauge pixel as N by N pixels: 1, 2 or 4 (default 1; demo 2)\n"
    "  --timeout SECONDS time a scenario may take before it counts as hung (default 30)\n"
    "  --update N        render: draw update N of each trace instead of its pictures\n"
    "  --panel NAME      render: draw the traces, gauges of one module, side by side as one\n"
    "                    panel, frame by frame, into DIR/frames/NAME\n"
    "  --root DIR        the Kestrel source tree (default: the one this bench was built from)\n"
    "  --host PROGRAM    the kestrel-host program to run scenarios with\n"
    "  --modules DIR     the directory the host loads modules from\n"
    "  --gau-dir DIR     the directory of the .gau files whose bitmaps are drawn\n";

struct Options {
    std::string command;
    fs::path root = KESTREL_SOURCE_DIR;
    bool native = false;       // the native host runs the scenarios
    bool native_gau = false;   // ... on the real .gau files rather than the twin
    fs::path out = "out";
    std::optional<int> scale;
    double timeout_seconds = 30;
    std::optional<uint64_t> update;
    std::optional<std::string> panel;
    std::optional<fs::path> host;
    std::optional<fs::path> modules;
    std::optional<fs::path> gau_dir;
    std::vector<fs::path> inputs;
};

double parse_number(const std::string& option, const std::string& text) {
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size()) return value;
    } catch (const std::exception&) {
    }
    throw UsageError(option + " expects a number, found '" + text + "'");
}

Options parse_options(int argc, char** argv) {
    if (argc < 2) throw UsageError("name a command: demo, run or render");
    Options options;
    options.command = argv[1];
    if (options.command != "demo" && options.command != "run" && options.command != "render")
        throw UsageError("unknown command '" + options.command + "' (commands: demo, run, render)");
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(argument + " expects a value");
            return argv[++i];
        };
        if (argument == "--native") {
            options.native = true;
        } else if (argument == "--native-gau") {
            options.native = true;
            options.native_gau = true;
        } else if (argument == "--out") {
            options.out = value();
        } else if (argument == "--scale") {
            const std::string text = value();
            if (text != "1" && text != "2" && text != "4") throw UsageError("--scale expects 1, 2 or 4, found '" + text + "'");
            options.scale = std::stoi(text);
        } else if (argument == "--timeout") {
            options.timeout_seconds = parse_number(argument, value());
            if (!(options.timeout_seconds > 0)) throw UsageError("--timeout expects a positive number of seconds");
        } else if (argument == "--update") {
            const double update = parse_number(argument, value());
            if (!(update >= 1) || update != static_cast<double>(static_cast<uint64_t>(update)))
                throw UsageError("--update expects an update number from 1");
            options.update = static_cast<uint64_t>(update);
        } else if (argument == "--panel") {
            const std::string name = value();
            if (!scenario::is_valid_picture_label(name))
                throw UsageError("--panel expects a name of letters, digits, '-', '_' or '.', found '" + name + "'");
            options.panel = name;
        } else if (argument == "--root") {
            options.root = value();
        } else if (argument == "--host") {
            options.host = value();
        } else if (argument == "--modules") {
            options.modules = value();
        } else if (argument == "--gau-dir") {
            options.gau_dir = value();
        } else if (!argument.empty() && argument[0] == '-') {
            throw UsageError("unknown option " + argument);
        } else {
            options.inputs.emplace_back(argument);
        }
    }
    if (options.command == "demo" && !options.inputs.empty())
        throw UsageError("demo takes no scenarios; use 'kestrel-bench run' for your own");
    if (options.panel && options.command != "render") throw UsageError("--panel goes with the render command");
    if (options.command != "demo" && options.inputs.empty())
        throw UsageError(options.command + " expects at least one " + (options.command == "run" ? "scenario" : "trace"));
    return options;
}

// Scenario files named directly, or every *.scenario file of a directory, in name order.
std::vector<fs::path> scenario_files(const std::vector<fs::path>& inputs) {
    std::vector<fs::path> files;
    for (const fs::path& input : inputs) {
        if (!fs::is_directory(input)) {
            files.push_back(input);
            continue;
        }
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(input))
            if (entry.is_regular_file() && entry.path().extension() == scenario_extension) found.push_back(entry.path());
        if (found.empty()) throw UsageError(input.string() + ": no " + scenario_extension + " files in the directory");
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

// A name used as one file name under --out: picture-label characters (and '+', which
// joins the labels of a panel's gauges), not starting with '.', of a length any file
// system takes.
void require_plain_name(const std::string& name, const char* what) {
    const bool plain = !name.empty() && name.size() <= 200 && name.front() != '.' &&
                       std::all_of(name.begin(), name.end(), [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '+';
                       });
    if (!plain)
        throw UsageError("'" + name + "' cannot be " + what + " (letters, digits, '-', '_', '.' or '+', not first '.', at most 200)");
}

// The work one render may ask for: elements drawn over all frames.
constexpr std::size_t max_elements_drawn = 1'000'000;

fs::path require_file(const fs::path& path, const std::string& hint) {
    if (!fs::exists(path)) throw UsageError(path.string() + ": not found (" + hint + ")");
    return path;
}

// The .gau files whose bitmaps are drawn: the delivered ones in dist/ if they are there,
// else the build's.
fs::path gau_directory(const Options& options) {
    if (options.gau_dir) return *options.gau_dir;
    const fs::path dist = options.root / "dist";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dist, error)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".gau") return dist;
    }
    return options.root / "build" / "windows" / "modules";
}

class Bench {
public:
    explicit Bench(Options options) : options_(std::move(options)) {}

    int run_scenarios(const std::vector<fs::path>& files) {
        // Every scenario is read first: a malformed one stops the bench before anything runs.
        std::vector<scenario::Scenario> scenarios;
        bool malformed = false;
        for (const fs::path& file : files) {
            try {
                scenarios.push_back(scenario::read_scenario(file));
            } catch (const scenario::ScenarioError& error) {
                std::cerr << error.what() << '\n';
                malformed = true;
            }
        }
        if (malformed) return exit_bad_input;

        for (const char* sub : {"traces", "frames", "logs"}) fs::create_directories(options_.out / sub);
        if (!options_.native && !wine_runs()) {
            if (options_.command != "demo")
                throw UsageError("wine cannot run 32-bit Windows programs on this machine (see " +
                                 (options_.out / "logs" / "wine-check.log").string() +
                                 "); run the scenarios on the native twin with --native");
            std::printf("NOTE: wine cannot run 32-bit Windows programs on this machine (see %s);\n"
                        "      the demo runs the real .gau files in the native host instead.\n",
                        (options_.out / "logs" / "wine-check.log").c_str());
            options_.native = true;
            options_.native_gau = true;
        }
        const std::vector<std::string> host = host_command();
        const fs::path modules = options_.modules                        ? *options_.modules
                                 : options_.native && !options_.native_gau ? bench::native_build(options_.root) / "modules"
                                                                           : gau_directory(options_);
        const std::vector<std::string> environment =
            options_.native ? bench::native_host_environment : std::vector<std::string>{};

        int passed = 0;
        int failed = 0;
        std::ofstream key_log(options_.out / "key-events.log");
        key_log << "# scenario:line  updates so far  sent by  during  event=value\n";
        for (const scenario::Scenario& scenario : scenarios) {
            const std::string name = scenario.name();
            bench::ScenarioRun run;
            run.scenario = scenario.file;
            run.host_command = host;
            run.environment = environment;
            run.modules = modules;
            run.real_module = options_.native_gau;
            run.trace = options_.out / "traces" / (name + ".jsonl");
            run.log = options_.out / "logs" / (name + ".log");
            run.timeout = std::chrono::duration<double>(options_.timeout_seconds);
            bench::ScenarioOutcome outcome = bench::run_scenario(run);

            int pictures = 0;
            if (outcome.trace && outcome.trace->gauge) {
                try {
                    pictures = draw_pictures(name, *outcome.trace);
                } catch (const std::exception& error) {
                    outcome.verdict = bench::Verdict::failed;
                    outcome.messages.push_back(scenario.file + ": pictures: " + error.what());
                }
                write_key_log(key_log, name, *outcome.trace);
            }
            const bool ok = outcome.verdict == bench::Verdict::passed;
            (ok ? passed : failed)++;
            std::printf("%-12s %s (%zu expectations, %d pictures, %.2f s)\n", bench::verdict_name(outcome.verdict),
                        name.c_str(), outcome.trace ? outcome.trace->expectations.size() : std::size_t{0}, pictures,
                        outcome.elapsed.count());
            for (const std::string& message : outcome.messages) std::printf("    %s\n", message.c_str());
            std::fflush(stdout);
        }
        if (!sheet_frames_.empty()) {
            picture::TextFace label_face(picture::default_label_font);
            picture::write_png(picture::contact_sheet(sheet_frames_, label_face, 5), options_.out / "contact-sheet.png");
        }
        std::printf("traces:        %s\n", (options_.out / "traces").c_str());
        std::printf("pictures:      %s\n", (options_.out / "frames").c_str());
        if (!sheet_frames_.empty()) std::printf("contact sheet: %s\n", (options_.out / "contact-sheet.png").c_str());
        std::printf("key events:    %s\n", (options_.out / "key-events.log").c_str());
        std::printf("host output:   %s\n", (options_.out / "logs").c_str());
        std::printf("%d passed, %d failed\n", passed, failed);
        return failed == 0 ? exit_all_passed : exit_some_failed;
    }

    int render_traces(const std::vector<fs::path>& traces) {
        fs::create_directories(options_.out / "frames");
        std::vector<picture::PanelGauge> panel;
        for (const fs::path& file : traces) {
            const trace::TraceSummary summary = trace::read_trace(file, options_.update);
            if (!summary.gauge) throw UsageError(file.string() + ": the trace has no gauge record");
            std::vector<trace::Frame> frames = summary.pictures;
            if (frames.size() * summary.gauge->elements.size() > max_elements_drawn)
                throw UsageError(file.string() + ": " + std::to_string(frames.size()) + " pictures of " +
                                 std::to_string(summary.gauge->elements.size()) + " elements are more than one render draws");
            if (options_.update) {
                if (!summary.selected_update)
                    throw UsageError(file.string() + ": the trace has no update " + std::to_string(*options_.update) +
                                     " (it has " + std::to_string(summary.updates) + ")");
                frames = {*summary.selected_update};
            }
            if (options_.panel) {
                panel.push_back({file.string(), *summary.gauge, std::move(frames)});
                continue;
            }
            trace::TraceSummary selected = summary;
            selected.pictures = std::move(frames);
            draw_pictures(file.stem().string(), selected);
        }
        if (options_.panel) {
            picture::Renderer renderer(pictures_of(panel.front().gauge.module), readout_face());
            write_frames(*options_.panel, picture::panel_frames(renderer, panel, {scale()}));
        }
        std::printf("pictures: %s\n", (options_.out / "frames").c_str());
        return exit_all_passed;
    }

private:
    std::vector<std::string> host_command() const {
        if (options_.native) {
            const fs::path host = options_.host ? *options_.host : bench::native_build(options_.root) / "host" / "kestrel-host";
            return {require_file(host, "build it with 'make native'").string()};
        }
        const fs::path host =
            options_.host ? *options_.host : options_.root / "build" / "windows" / "host" / "kestrel-host.exe";
        return {require_file(options_.root / "tools" / "wine-run.sh", "the source tree's wine wrapper").string(),
                require_file(host, "build it with 'make windows'").string()};
    }

    // The project's wine probe: the host must answer --help under wine within its limit
    // (the first run also creates the wine prefix); it clears up after a failed try.
    bool wine_runs() const {
        const std::vector<std::string> host = host_command();
        try {
            const auto exit = bench::run_child(
                {require_file(options_.root / "tools" / "wine-works.sh", "the source tree's wine probe").string(),
                 host.back(), "--help"},
                options_.out / "logs" / "wine-check.log", std::chrono::minutes(5));
            return exit.kind == bench::ChildExit::Kind::exited && exit.code == 0;
        } catch (const std::runtime_error&) {
            return false;
        }
    }

    const picture::PictureSet& pictures_of(const std::string& module) {
        auto it = pictures_.find(module);
        if (it != pictures_.end()) return it->second;
        const fs::path directory = gau_directory(options_);
        fs::path gau = fs::exists(directory) ? find_module_file(directory, module, ".gau") : fs::path();
        if (gau.empty())
            throw UsageError(directory.string() + ": no " + module + ".gau to draw the pictures from (build it with 'make dist')");
        return pictures_.emplace(module, picture::PictureSet::from_module(gau)).first->second;
    }

    picture::TextFace& readout_face() {
        if (!readout_face_) readout_face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
        return *readout_face_;
    }

    int draw_pictures(const std::string& name, const trace::TraceSummary& summary) {
        if (summary.pictures.empty()) return 0;
        const picture::PictureSet& pictures = pictures_of(summary.gauge->module);
        picture::Renderer renderer(pictures, readout_face());
        std::vector<std::pair<std::string, picture::Image>> frames;
        for (const trace::Frame& frame : summary.pictures)
            frames.emplace_back(frame.label, renderer.render(*summary.gauge, frame, {scale()}));
        write_frames(name, std::move(frames));
        return static_cast<int>(summary.pictures.size());
    }

    int scale() const { return options_.scale.value_or(options_.command == "demo" ? 2 : 1); }

    // Writes out/frames/NAME/LABEL.png for each frame and keeps it for the contact sheet.
    // Names and labels come from files the user hands the bench: each must be a plain
    // file name, so that nothing is ever written outside --out.
    void write_frames(const std::string& name, std::vector<std::pair<std::string, picture::Image>> frames) {
        require_plain_name(name, "a trace or scenario name");
        const fs::path directory = options_.out / "frames" / name;
        fs::create_directories(directory);
        for (auto& [label, image] : frames) {
            require_plain_name(label, "a picture label");
            picture::write_png(image, directory / (label + ".png"));
            sheet_frames_.emplace_back(name + ": " + label, std::move(image));
        }
    }

    static void write_key_log(std::ofstream& log, const std::string& name, const trace::TraceSummary& summary) {
        if (summary.key_log.empty()) {
            log << name << ": no key events\n";
            return;
        }
        for (const trace::KeyLogEntry& entry : summary.key_log)
            log << name << ':' << entry.line << "  " << entry.updates << "  " << entry.source << "  " << entry.during
                << "  " << scenario::format_key_event({entry.event.id, entry.event.value}) << '\n';
    }

    Options options_;
    std::map<std::string, picture::PictureSet> pictures_;
    std::unique_ptr<picture::TextFace> readout_face_;
    std::vector<std::pair<std::string, picture::Image>> sheet_frames_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << usage_text << kestrel::serve::usage_lines;
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) return kestrel::serve::serve_main(argc - 2, argv + 2, KESTREL_SOURCE_DIR);
    try {
        Options options = parse_options(argc, argv);
        Bench bench(options);
        if (options.command == "demo") return bench.run_scenarios(scenario_files({options.root / "scenarios"}));
        if (options.command == "run") return bench.run_scenarios(scenario_files(options.inputs));
        return bench.render_traces(options.inputs);
    } catch (const UsageError& error) {
        std::cerr << "kestrel-bench: " << error.what() << " (kestrel-bench --help lists the commands)\n";
        return exit_bad_input;
    } catch (const std::exception& error) {
        // A malformed trace, module file or picture, or output that cannot be written: bad
        // input, not a failed scenario (which alone ends with exit status 1).
        std::cerr << "kestrel-bench: " << error.what() << '\n';
        return exit_bad_input;
    }
}
