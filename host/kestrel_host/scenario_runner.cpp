// The scenario runner inside the 32-bit host: loads the module the scenario names, runs
// each command through the gauge driver, records everything in the trace and checks the
// expectations. Before each command it writes (and flushes) the command's line, so that
// a crash or a hang inside the module can be traced back to the line that caused it.
#include "scenario_runner.h"

#include <cctype>
#include <cstdio>
#include <cstring>
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
#include "loader.h"
#include "module_lookup.h"
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

// Upper bound on a needle table: a count beyond it is a broken record, not a table.
constexpr uint32_t max_table_entries = 4096;

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

// The module file for a scenario's module name in a directory: this build's format, or
// the real Windows module (which the native host maps itself) when asked.
fs::path resolve_module(const fs::path& directory, const std::string& name, bool real_module) {
    return require_module_file(directory, name, real_module ? ".gau" : module_extension);
}

struct Options {
    std::string scenario;
    std::optional<fs::path> trace;
    std::optional<fs::path> modules;
    std::optional<fs::path> module;
    bool real_module = false;
};

Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw ScenarioError("run", 0, "expected a value after " + argument);
            return argv[++i];
        };
        if (argument == "--trace") options.trace = value();
        else if (argument == "--modules") options.modules = value();
        else if (argument == "--module") options.module = value();
        else if (argument == "--real-module") options.real_module = true;
        else if (!argument.empty() && argument[0] == '-') throw ScenarioError("run", 0, "unknown option " + argument);
        else if (options.scenario.empty()) options.scenario = argument;
        else throw ScenarioError("run", 0, "one scenario per run; found a second one, " + argument);
    }
    if (options.scenario.empty())
        throw ScenarioError("run", 0, "expected SCENARIO [--trace FILE] [--modules DIR] [--real-module] [--module FILE]");
    return options;
}

}  // namespace

trace::ElementInfo element_info(const ElementEntry& entry, const RecordBounds& bounds) {
    const ElementHeader& header = *entry.element;
    trace::ElementInfo info;
    info.label = entry.label;
    info.kind = header.element_kind;
    info.resource_id = header.resource_id;
    info.position = {header.position.x, header.position.y};
    info.anchor = {header.anchor.x, header.anchor.y};
    info.image_flags = header.image_flags;
    if (header.element_kind == string_element) {
        const auto& readout = reinterpret_cast<const StringElement&>(header);
        info.width = readout.size.width;
        info.height = readout.size.height;
        info.fore_colour = readout.fore_colour;
        info.back_colour = readout.back_colour;
        info.char_count = readout.char_count;
        info.font_name.assign(readout.font_name, strnlen(readout.font_name, sizeof readout.font_name));
    } else if (header.element_kind == icon_element) {
        const auto& icon = reinterpret_cast<const IconElement&>(header);
        info.icon_count = icon.icon_count;
        info.icon_switch = icon.icon_switch;
    } else if (header.element_kind == needle_element) {
        const auto& needle = reinterpret_cast<const NeedleElement&>(header);
        if (needle.nonlinearity_table != nullptr) {
            if (needle.nonlinearity_count > max_table_entries)
                throw HostError("element " + entry.label + ": nonlinearity_count " +
                                std::to_string(needle.nonlinearity_count) + " is not a plausible table size");
            bounds.check(needle.nonlinearity_table, "element " + entry.label + ": nonlinearity_table",
                         needle.nonlinearity_count);
            for (uint32_t i = 0; i < needle.nonlinearity_count; ++i) {
                const NonlinearityEntry& point = needle.nonlinearity_table[i];
                info.table.push_back({{point.point.x, point.point.y}, point.value});
            }
        }
    }
    return info;
}

namespace {

std::vector<trace::KeyEvent> trace_events(const std::vector<KeyEvent>& events) {
    std::vector<trace::KeyEvent> out;
    out.reserve(events.size());
    for (const KeyEvent& event : events) out.push_back({event.id, event.value});
    return out;
}

std::string format_value(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string format_flags(uint32_t flags) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", flags);
    return text;
}

std::string format_events(const std::vector<KeyEventSpec>& events) {
    if (events.empty()) return "none";
    std::string text;
    for (const KeyEventSpec& event : events) text += (text.empty() ? "" : " ") + format_key_event(event);
    return text;
}

// Plays one scenario. Holds the gauge's current state between commands.
class Runner {
public:
    Runner(const Scenario& scenario, GaugeDriver& driver, PanelHost& host, trace::TraceWriter* trace)
        : scenario_(scenario), driver_(driver), host_(host), trace_(trace) {
        last_values_.resize(driver.elements().size());
    }

    // Every element a command names must exist and suit the command: a scenario error
    // (with its line), found before anything runs.
    void check_element_references() const {
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
                                                    "element " + action.element + " is a " +
                                                        std::string(element_kind_name(kind)) + ", which has no text");
                        }
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
            std::visit([&](const auto& action) { execute(command, action); }, command.action);
        }
        if (trace_) trace_->end(passed_, failed_);
        return failed_;
    }

    int passed() const { return passed_; }
    int failed() const { return failed_; }
    int line() const { return line_; }

private:
    std::size_t find_element(const Command& command, const std::string& label) const {
        for (const ElementEntry& entry : driver_.elements())
            if (entry.label == label) return entry.index;
        std::string known;
        for (const ElementEntry& entry : driver_.elements()) known += (known.empty() ? "" : ", ") + entry.label;
        throw ScenarioError(scenario_.file, command.line,
                            "gauge " + scenario_.gauge + " has no element " + label + " (it has " + known + ")");
    }

    // Refilled in place: a long run takes the states after every update.
    const std::vector<trace::ElementState>& states() {
        states_.resize(driver_.elements().size());
        for (const ElementEntry& entry : driver_.elements()) {
            trace::ElementState& state = states_[entry.index];
            state.value = last_values_[entry.index];
            state.image_flags = entry.element->image_flags;
            if (entry.element->element_kind == string_element) state.text = driver_.text(entry.index);
            else state.text.reset();
        }
        return states_;
    }

    void note_sent(const std::vector<KeyEvent>& events) {
        for (const KeyEvent& event : events) sent_since_expect_keys_.push_back({event.id, event.value});
    }

    void execute(const Command&, const SetVariable& set) {
        host_.set_var(set.token, set.value);
        if (trace_) trace_->set_variable(line_, set.token, set.value);
    }

    void execute(const Command&, const RunUpdates& updates) {
        UpdateResult& result = update_result_;
        for (uint64_t i = 0; i < updates.count; ++i) {
            driver_.update(result);
            ++update_count_;
            for (const ElementSample& sample : result.samples) last_values_[sample.index] = sample.value;
            note_sent(result.key_events);
            if (!trace_) continue;
            // The samples were taken right after each callback; the trace keeps the state
            // after the whole update, as it is drawn.
            trace_->update(line_, update_count_, states(), trace_events(result.key_events));
        }
    }

    void execute(const Command&, const Click& click) {
        ClickResult result = driver_.click(click.x, click.y, click.flags);
        note_sent(result.key_events);
        if (trace_) trace_->click(line_, click.x, click.y, click.flags, result.area, states(), trace_events(result.key_events));
    }

    void execute(const Command&, const CallService& service) {
        GaugeCallbackResult result = driver_.gauge_callback(service.service_id, service.extra);
        note_sent(result.key_events);
        if (trace_)
            trace_->service(line_, service.service_id, service.extra, result.called, states(),
                            trace_events(result.key_events));
    }

    void execute(const Command&, const SendKey& key) {
        const std::size_t log_size = host_.key_events_sent().size();
        host_.send_key_event(key.event.id, key.event.value);
        host_.deliver_pending_key_events();
        driver_.check_text_buffers("a key-event listener");
        const auto& log = host_.key_events_sent();
        const std::vector<KeyEvent> sent(log.begin() + static_cast<std::ptrdiff_t>(log_size), log.end());
        note_sent(sent);
        if (trace_) trace_->key(line_, {key.event.id, key.event.value}, states(), trace_events(sent));
    }

    void execute(const Command&, const TakePicture& picture) {
        if (trace_) trace_->picture(line_, picture.label, update_count_, states());
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

    void execute(const Command& command, const ExpectText& expect) {
        const std::string text = driver_.text(find_element(command, expect.element));
        report(command, text == expect.text, "element " + expect.element + " shows " + quote_text(text));
    }

    void execute(const Command& command, const ExpectValue& expect) {
        const std::size_t index = find_element(command, expect.element);
        const std::optional<double>& value = last_values_[index];
        if (!value) {
            const bool has_callback = value_callback_of(driver_.element(index)) != nullptr;
            report(command, false,
                   "element " + expect.element +
                       (has_callback ? " has no value yet: no update has run" : " has no callback and so no value"));
            return;
        }
        report(command, *value == expect.value, "element " + expect.element + " has the value " + format_value(*value));
    }

    void execute(const Command& command, const ExpectFlags& expect) {
        const uint32_t flags = driver_.element(find_element(command, expect.element)).image_flags;
        report(command, flags == expect.flags, "element " + expect.element + " has image_flags " + format_flags(flags));
    }

    void execute(const Command& command, const ExpectHidden& expect) {
        const uint32_t flags = driver_.element(find_element(command, expect.element)).image_flags;
        const bool hidden = (flags & image_hidden) != 0;
        report(command, hidden == expect.hidden,
               "element " + expect.element + " is " + (hidden ? "hidden" : "shown") + " (image_flags " +
                   format_flags(flags) + ")");
    }

    void execute(const Command& command, const ExpectKeys& expect) {
        const bool same = sent_since_expect_keys_ == expect.events;
        report(command, same, "the module sent " + format_events(sent_since_expect_keys_));
        sent_since_expect_keys_.clear();
    }

    const Scenario& scenario_;
    GaugeDriver& driver_;
    PanelHost& host_;
    trace::TraceWriter* trace_;
    std::vector<std::optional<double>> last_values_;
    std::vector<KeyEventSpec> sent_since_expect_keys_;
    uint64_t update_count_ = 0;
    std::vector<trace::ElementState> states_;
    UpdateResult update_result_;  // refilled by every update
    int line_ = 0;
    int passed_ = 0;
    int failed_ = 0;
};

}  // namespace

int run_command(int argc, char** argv) {
    Scenario scenario;
    Options options;
    try {
        options = parse_options(argc, argv);
        scenario = read_scenario(options.scenario);
    } catch (const ScenarioError& error) {
        std::cerr << error.what() << '\n';
        return run_bad_scenario;
    }

    std::unique_ptr<trace::TraceWriter> trace;
    int line = 0;
    try {
        if (options.trace) trace = std::make_unique<trace::TraceWriter>(*options.trace);
        const fs::path module_path = options.module ? *options.module
                                                    : resolve_module(options.modules.value_or(program_directory() / ".." / "modules"),
                                                                     scenario.module, options.real_module);
        PanelHost host;
        host.record_lookups(false);
        LoadedModule module = LoadedModule::open(module_path);
        host.attach(module);
        GaugeDriver driver(module, host, scenario.gauge);

        Runner runner(scenario, driver, host, trace.get());
        runner.check_element_references();
        if (trace) {
            trace::GaugeInfo gauge{scenario.file, scenario.module, module_path.string(), scenario.gauge, {}};
            for (const ElementEntry& entry : driver.elements()) gauge.elements.push_back(element_info(entry, driver.bounds()));
            trace->gauge(gauge);
        }
        try {
            runner.run();
        } catch (...) {
            line = runner.line();
            throw;
        }
        std::cout << scenario.file << ": " << runner.passed() << " expectations passed, " << runner.failed()
                  << " failed\n";
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
