// The scenario runner inside the 32-bit host: loads the module the scenario names, applies
// each command through the executor, records everything in the trace and checks the
// expectations. Before each command it writes (and flushes) the command's line, so that
// a crash or a hang inside the module can be traced back to the line that caused it.
#include "scenario_runner.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "driver.h"
#include "executor.h"
#include "expectation_check.h"
#include "loader.h"
#include "module_headers.h"
#include "module_lookup.h"
#include "numbers.h"
#include "pe_image.h"
#include "scenario.h"
#include "services.h"
#include "trace.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace kestrel::scenario;

#ifdef _WIN32
constexpr const char* module_extension = ".gau";
#else
constexpr const char* module_extension = ".so";
#endif

fs::path program_directory() {
#ifdef _WIN32
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return fs::current_path();
    return fs::path(std::string(buffer, length)).parent_path();
#else
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : self.parent_path();
#endif
}

// The gauge's size in pixels: its background picture (the root element's bitmap) as the
// module file stores it. Only a Windows module holds pictures; the twin's come from the
// .gau in `pictures`.
struct GaugeSize {
    int width;
    int height;
};

std::optional<GaugeSize> gauge_size(const fs::path& module_file, const std::optional<fs::path>& pictures,
                                    const std::string& module, const GaugeDriver& driver) {
    fs::path gau;
    if (is_windows_module_file(module_file)) gau = module_file;
    else if (pictures) gau = require_module_file(*pictures, module, ".gau");
    else return std::nullopt;
    const pe::Picture picture = pe::PeImage::read(gau).picture(driver.element(0).resource_id);
    return GaugeSize{picture.width, picture.height};
}

// Plays one scenario through the executor. Holds what the expectations compare between
// commands.
class Runner {
public:
    Runner(const Scenario& scenario, PanelExecutor& executor, trace::TraceWriter* trace)
        : scenario_(scenario), executor_(executor), driver_(executor.driver(0)), trace_(trace) {}

    // Every element a command names must exist and suit the command, and every click
    // must lie on the gauge: a scenario error (with its line), found before anything runs.
    void check_commands(const std::optional<GaugeSize>& size) const {
        for (const Command& command : scenario_.commands) {
            std::visit(
                [&](const auto& action) {
                    using A = std::decay_t<decltype(action)>;
                    if constexpr (requires { action.element; }) {
                        const std::size_t index = find_element(command, action.element);
                        const uint32_t kind = driver_.element(index).element_kind;
                        if constexpr (std::is_same_v<A, ExpectText>) {
                            if (kind != string_element)
                                throw ScenarioError(scenario_.file, command.line,
                                                    "element " + action.element + " is of kind " +
                                                        std::string(element_kind_name(kind)) + ", which has no text");
                        }
                    }
                    if constexpr (std::is_same_v<A, Click>) {
                        if (size && !click_on_gauge(action, size->width, size->height))
                            throw ScenarioError(scenario_.file, command.line,
                                                click_outside_gauge(action, scenario_.gauge, size->width, size->height));
                    }
                },
                command.action);
        }
    }

    // Runs every command; returns the number of failed expectations.
    int run() {
        for (const Command& command : scenario_.commands) {
            line_ = command.line;
            if (trace_) trace_->command(command.line, command.text);
            run_command(command);
        }
        if (trace_) trace_->end(passed_, failed_);
        return failed_;
    }

    int passed() const { return passed_; }
    int failed() const { return failed_; }
    int pictures_for_bench() const { return pictures_for_bench_; }
    int line() const { return line_; }

private:
    std::size_t find_element(const Command& command, const std::string& label) const {
        try {
            return driver_.element_index(label);
        } catch (const HostError& error) {
            throw ScenarioError(scenario_.file, command.line, error.what());
        }
    }

    void run_command(const Command& command) {
        const auto after_update = [&](uint64_t update) {
            // The samples were taken right after each callback; the trace keeps the state
            // after the whole update, as it is drawn.
            if (trace_) {
                const std::vector<trace::ElementState>& states = executor_.states(0);
                trace_->update(line_, update, states, executor_.last_update(0).key_events, executor_.states_version(0));
            }
        };
        const std::optional<ActionReport> report = executor_.apply(0, command.action, after_update);
        if (report) {
            const std::vector<KeyEvent>& sent = report->sent[0];
            sent_since_expect_keys_.insert(sent_since_expect_keys_.end(), sent.begin(), sent.end());
            record(command, *report);
            return;
        }
        std::visit([&](const auto& action) { check(command, action); }, command.action);
    }

    void record(const Command& command, const ActionReport& report) {
        std::visit(
            [&](const auto& action) {
                using A = std::decay_t<decltype(action)>;
                if constexpr (std::is_same_v<A, Click>) {
                    if (!report.area)
                        std::cerr << scenario_.file << ':' << command.line << ": warning: the click at (" << action.x
                                  << ", " << action.y << ") with flags " << hex_word(action.flags, 8)
                                  << " hit no click area of gauge " << scenario_.gauge << '\n';
                }
                if (!trace_) return;
                if constexpr (std::is_same_v<A, SetVariable>) {
                    trace_->set_variable(line_, action.token, action.value);
                } else if constexpr (std::is_same_v<A, Click>) {
                    trace_->click(line_, action.x, action.y, action.flags, report.area, executor_.states(0), report.sent[0]);
                } else if constexpr (std::is_same_v<A, CallService>) {
                    trace_->service(line_, action.service_id, action.extra, report.called, executor_.states(0),
                                    report.sent[0]);
                } else if constexpr (std::is_same_v<A, SendKey>) {
                    trace_->key(line_, action.event, executor_.states(0), report.sent[0]);
                }
            },
            command.action);
    }

    void report(const Command& command, bool passed, const std::string& found) {
        if (passed) {
            ++passed_;
        } else {
            ++failed_;
            std::cerr << scenario_.file << ':' << command.line << ": failed: " << command.text << ": " << found << '\n';
        }
        if (trace_) trace_->expectation(command.line, command.text, passed, passed ? "" : found);
    }

    void check(const Command&, const TakePicture& picture) {
        if (trace_) trace_->picture(line_, picture.label, executor_.update_count(), executor_.states(0));
    }

    // text, value, flags, hidden and shown, on what the element shows now.
    template <typename Expect>
        requires requires(Expect expect) { expect.element; }
    void check(const Command& command, const Expect& expect) {
        const std::size_t index = find_element(command, expect.element);
        const ElementHeader& element = driver_.element(index);
        trace::ElementState state;
        state.value = executor_.value(0, index);
        state.image_flags = element.image_flags;
        if (element.element_kind == string_element) state.text = driver_.text(index);
        const std::optional<Finding> finding =
            check_element(command.action, state, value_callback_of(element) != nullptr);
        report(command, finding->passed, finding->found);
    }

    void check(const Command& command, const ExpectKeys& expect) {
        const Finding finding = check_keys(expect, sent_since_expect_keys_);
        report(command, finding.passed, finding.found);
        sent_since_expect_keys_.clear();
    }

    // The host cannot draw: it records the state for the bench, which draws it at scale 1,
    // compares it with the reference and counts it as passed or failed.
    void check(const Command& command, const ExpectPicture& expect) {
        ++pictures_for_bench_;
        if (trace_)
            trace_->picture_expectation(command.line, command.text, expect.reference, expect.tolerance,
                                        executor_.update_count(), executor_.states(0));
    }

    // Actions the executor applies never reach here.
    template <typename Other>
    void check(const Command&, const Other&) {}

    const Scenario& scenario_;
    PanelExecutor& executor_;
    GaugeDriver& driver_;
    trace::TraceWriter* trace_;
    std::vector<KeyEvent> sent_since_expect_keys_;
    int line_ = 0;
    int passed_ = 0;
    int failed_ = 0;
    int pictures_for_bench_ = 0;
};

// The module file the scenario names: a lookup failure is the scenario's fault, on the
// line of its `module` command.
fs::path module_file(const RunOptions& options, const Scenario& scenario) {
    if (options.module) return *options.module;
    const fs::path folder = options.modules.value_or(program_directory() / ".." / "modules");
    try {
        return require_module_file(folder, scenario.module, options.real_module ? ".gau" : module_extension);
    } catch (const ModuleNotFound& error) {
        throw ScenarioError(scenario.file, scenario.module_line, error.what());
    }
}

void require_gauge(const LoadedModule& module, const Scenario& scenario) {
    const std::vector<std::string> names = module.gauge_names();
    for (const std::string& name : names)
        if (name == scenario.gauge) return;
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    throw ScenarioError(scenario.file, scenario.gauge_line,
                        "module " + display_path(module.path()) + " has no gauge named " + scenario.gauge +
                            (names.empty() ? " (it has none)" : " (it has " + list + ")"));
}

}  // namespace

int run_scenario(const RunOptions& options) {
    Scenario scenario;
    std::unique_ptr<trace::TraceWriter> trace;
    int line = 0;
    try {
        scenario = read_scenario(options.scenario);
        if (scenario.panel)
            throw ScenarioError(scenario.file, scenario.panel->line,
                                "a panel scenario runs in kestrel-bench run, which starts a host for each of its modules");
        if (options.trace) trace = std::make_unique<trace::TraceWriter>(*options.trace);
        const fs::path module_path = module_file(options, scenario);
        PanelHost host;
        host.record_lookups(false);
        // A module file that cannot be loaded, or whose records cannot be driven, is bad
        // input as a wrong name is: the scenario's `module` line names it.
        std::optional<LoadedModule> module;
        try {
            module.emplace(LoadedModule::open(module_path));
        } catch (const HostError& error) {
            throw ScenarioError(scenario.file, scenario.module_line, error.what());
        }
        require_gauge(*module, scenario);
        host.attach(*module);
        std::optional<GaugeDriver> loaded_driver;
        try {
            loaded_driver.emplace(*module, host, scenario.gauge);
        } catch (const HostError& error) {
            throw ScenarioError(scenario.file, scenario.gauge_line, error.what());
        }
        GaugeDriver& driver = *loaded_driver;
        PanelExecutor executor(host, {&driver});

        Runner runner(scenario, executor, trace.get());
        std::optional<GaugeSize> size;
        try {
            size = gauge_size(module_path, options.pictures, scenario.module, driver);
        } catch (const ModuleNotFound& error) {
            throw ScenarioError(scenario.file, scenario.module_line, std::string("--pictures: ") + error.what());
        }
        if (!size)
            std::cerr << scenario.file << ": warning: clicks are not checked against the gauge's size: "
                      << display_path(module_path) << " holds no pictures (name the .gau folder with --pictures)\n";
        runner.check_commands(size);
        if (trace) trace->gauge(gauge_info(driver, scenario.file, scenario.module, display_path(module_path)));
        try {
            runner.run();
        } catch (...) {
            line = runner.line();
            throw;
        }
        std::cout << scenario.file << ": " << runner.passed() << " expectations passed, " << runner.failed()
                  << " failed";
        if (runner.pictures_for_bench() > 0)
            std::cout << "; " << runner.pictures_for_bench() << " picture expectation"
                      << (runner.pictures_for_bench() == 1 ? "" : "s") << " left for kestrel-bench to judge";
        std::cout << '\n';
        return runner.failed() == 0 ? run_passed : run_expectation_failed;
    } catch (const ScenarioError& error) {
        std::cerr << error.what() << '\n';
        return run_bad_scenario;
    } catch (const std::exception& error) {
        const std::string where = scenario.file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": ";
        std::cerr << where << "error: " << error.what() << '\n';
        if (trace) {
            try {
                trace->error(line, error.what());
            } catch (const std::exception&) {
                // The trace itself failed; the message above already says what went wrong.
            }
        }
        return run_host_error;
    }
}

}  // namespace kestrel
