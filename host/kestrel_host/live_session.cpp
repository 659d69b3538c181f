// The live session inside the 32-bit host: loads one module, drives every gauge it has,
// and plays scenario commands read line by line from standard input. Each line gets one
// JSON line back: every gauge's element states and key events, or what went wrong.
#include "live_session.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "driver.h"
#include "executor.h"
#include "json.h"
#include "loader.h"
#include "records.h"
#include "module_lookup.h"
#include "run_status.h"
#include "scenario.h"
#include "services.h"
#include "trace.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace kestrel::scenario;

// A command line longer than this is not one the bench writes.
constexpr std::size_t max_line_length = 4096;
// Updates per command: the bench asks for a few at a time; more is a mistake.
constexpr uint64_t max_updates_per_line = 10'000;
// lookup_var is logged only at the start: a module that asks on every update would
// otherwise grow the log for as long as the session lasts.
constexpr uint64_t lookup_recording_updates = 36;

// What the current command did to one gauge, for the answer.
struct LiveGauge {
    std::unique_ptr<GaugeDriver> driver;
    std::vector<KeyEvent> sent;        // during the current command
    std::optional<std::size_t> area;  // the area the current command's click hit
};

class Session {
public:
    Session(const fs::path& module_path, const fs::path& gauge_info_dir, const std::vector<std::string>& only)
        : module_(LoadedModule::open(module_path)) {
        host_.attach(module_);
        std::vector<GaugeDriver*> drivers;
        const auto asked = [&](const std::string& name) {
            return only.empty() || std::any_of(only.begin(), only.end(), [&](const std::string& wanted) {
                       return same_name(wanted, name);
                   });
        };
        for (const std::string& name : module_.gauge_names()) {
            if (!asked(name)) continue;
            LiveGauge gauge;
            gauge.driver = std::make_unique<GaugeDriver>(module_, host_, name);
            drivers.push_back(gauge.driver.get());
            gauges_.push_back(std::move(gauge));
        }
        if (gauges_.empty()) {
            std::string names;
            for (const std::string& name : module_.gauge_names()) names += (names.empty() ? "" : ", ") + name;
            if (names.empty()) throw HostError(module_.file_name() + ": the module has no gauges");
            throw HostError(module_.file_name() + ": the module has none of the gauges asked for (it has " + names + ")");
        }
        executor_ = std::make_unique<PanelExecutor>(host_, std::move(drivers));
        // The bench reads each gauge's stored fields as the head of a trace, with the
        // trace reader it draws every trace with.
        const std::string module_name = module_path.stem().string();
        for (std::size_t i = 0; i < gauges_.size(); ++i) {
            const GaugeDriver& driver = *gauges_[i].driver;
            for (const ElementEntry& entry : driver.elements()) note_source_tokens(*entry.element);
            trace::TraceWriter writer(gauge_info_dir / (std::to_string(i) + ".jsonl"));
            writer.gauge(gauge_info(driver, "session", module_name, display_path(module_path)));
        }
    }

    std::string greeting() const {
        std::string out = "{\"ok\":true,\"module\":";
        json::append_string(out, module_.file_name());
        out += ",\"module_gauges\":[";
        const std::vector<std::string> names = module_.gauge_names();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0) out += ',';
            json::append_string(out, names[i]);
        }
        out += "],\"gauges\":[";
        for (std::size_t i = 0; i < gauges_.size(); ++i) {
            const GaugeDriver& driver = *gauges_[i].driver;
            if (i > 0) out += ',';
            out += "{\"name\":";
            json::append_string(out, driver.name());
            out += ",\"areas\":[";
            bool first = true;
            for (const MouseListEntry& entry : driver.mouse_list()) {
                const uint32_t kind = entry.record->rect_kind;
                if (kind != mouse_parent && kind != mouse_child) continue;
                if (!first) out += ',';
                first = false;
                out += "{\"index\":";
                json::append_integer(out, static_cast<int64_t>(entry.index));
                out += ",\"kind\":";
                json::append_string(out, kind == mouse_parent ? "parent" : "child");
                out += ",\"parent\":";
                if (entry.parent) json::append_integer(out, static_cast<int64_t>(*entry.parent));
                else out += "null";
                out += ",\"box\":[";
                json::append_integer(out, entry.box.x);
                out += ',';
                json::append_integer(out, entry.box.y);
                out += ',';
                json::append_integer(out, entry.box.width);
                out += ',';
                json::append_integer(out, entry.box.height);
                out += "],\"whole\":";
                out += entry.whole_gauge ? "true" : "false";
                out += ",\"cursor\":";
                json::append_integer(out, entry.record->cursor);
                out += ",\"help\":";
                json::append_integer(out, entry.record->help_id);
                out += ",\"flags\":";
                json::append_integer(out, entry.record->mouse_flags);
                if (entry.tooltip != nullptr) {
                    // Windows-1252 bytes; the page wants UTF-8, which append_string keeps as is
                    // only after conversion.
                    out += ",\"tooltip\":";
                    json::append_utf8(out, cp1252_to_utf8(entry.tooltip));
                }
                out += '}';
            }
            out += "]}";
        }
        out += "]}";
        return out;
    }

    // Plays one line; returns the answer.
    std::string play(const std::string& line) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) return failure("expected GAUGE-INDEX COMMAND");
        std::size_t gauge_index = 0;
        const std::string index_text = line.substr(0, space);
        if (index_text.empty() || index_text.size() > 3 || index_text.find_first_not_of("0123456789") != std::string::npos)
            return failure("the gauge index is not a number");
        gauge_index = std::stoul(index_text);
        if (gauge_index >= gauges_.size()) return failure("the module has no gauge " + index_text);
        LiveGauge& gauge = gauges_[gauge_index];

        Scenario parsed;
        try {
            parsed = parse_scenario("module M\ngauge " + gauge.driver->name() + "\n" + line.substr(space + 1), "session");
        } catch (const ScenarioError& error) {
            // The message names the line of the wrapped text; the page wants only the reason.
            const std::string what = error.what();
            const std::string place = "session:" + std::to_string(error.line()) + ": ";
            return failure(what.rfind(place, 0) == 0 ? what.substr(place.size()) : what);
        }
        if (parsed.commands.size() != 1) return failure("expected one command");
        for (LiveGauge& each : gauges_) {
            each.sent.clear();
            each.area.reset();
        }
        const Action& action = parsed.commands.front().action;
        if (const std::string refused = refusal(action); !refused.empty()) return failure(refused);
        const std::optional<ActionReport> report = executor_->apply(gauge_index, action);
        if (!report) return failure("a live session takes set, update, click, service and key commands");
        if (const auto* set = std::get_if<SetVariable>(&action)) tokens_.insert(set->token);
        if (std::holds_alternative<RunUpdates>(action)) {
            if (executor_->update_count() >= lookup_recording_updates) host_.record_lookups(false);
            for (const uint32_t token : host_.lookups()) tokens_.insert(token);
        }
        for (std::size_t g = 0; g < gauges_.size(); ++g) gauges_[g].sent = report->sent[g];
        gauge.area = report->area;
        return state();
    }

    // Every gauge's elements, key events of the last command, and the host variables known.
    std::string state() const {
        std::string out = "{\"ok\":true,\"updates\":";
        json::append_integer(out, static_cast<int64_t>(executor_->update_count()));
        out += ",\"listeners\":";
        json::append_integer(out, static_cast<int64_t>(host_.listeners().size()));
        out += ",\"gauges\":[";
        for (std::size_t g = 0; g < gauges_.size(); ++g) {
            const LiveGauge& gauge = gauges_[g];
            if (g > 0) out += ',';
            out += "{\"elements\":[";
            for (const ElementEntry& entry : gauge.driver->elements()) {
                if (entry.index > 0) out += ',';
                out += "{\"flags\":";
                json::append_integer(out, entry.element->image_flags);
                if (const std::optional<double>& value = executor_->value(g, entry.index)) {
                    out += ",\"value\":";
                    json::append_number(out, *value);
                }
                if (entry.element->element_kind == string_element) {
                    out += ",\"text\":";
                    json::append_string(out, gauge.driver->text(entry.index));
                }
                out += '}';
            }
            out += "],\"sent\":";
            trace::append_key_events(out, gauge.sent);
            out += ",\"area\":";
            if (gauge.area) json::append_integer(out, static_cast<int64_t>(*gauge.area));
            else out += "null";
            out += '}';
        }
        out += "],\"vars\":[";
        bool first = true;
        for (const uint32_t token : tokens_) {
            if (!first) out += ',';
            first = false;
            out += '[';
            json::append_integer(out, token);
            out += ',';
            json::append_number(out, host_.var(token));
            out += ']';
        }
        out += "]}";
        return out;
    }

private:
    static std::string failure(const std::string& message) {
        std::string out = "{\"ok\":false,\"error\":";
        json::append_utf8(out, message);
        out += '}';
        return out;
    }

    void note_source_tokens(const ElementHeader& element) {
        auto note = [&](const ModuleVar& var) {
            if (var.token != 0) tokens_.insert(var.token);
        };
        if (element.element_kind == needle_element) note(reinterpret_cast<const NeedleElement&>(element).source_var);
        if (element.element_kind == icon_element) note(reinterpret_cast<const IconElement&>(element).source_var);
        if (element.element_kind == string_element)
            for (const ModuleVar& var : reinterpret_cast<const StringElement&>(element).source_vars) note(var);
    }

    // What the live panel refuses before anything runs: the bench asks for a few updates
    // at a time, and more is a mistake.
    static std::string refusal(const Action& action) {
        if (const auto* updates = std::get_if<RunUpdates>(&action); updates && updates->count > max_updates_per_line)
            return "at most " + std::to_string(max_updates_per_line) + " updates per command";
        return {};
    }

    PanelHost host_;
    LoadedModule module_;
    std::vector<LiveGauge> gauges_;
    std::unique_ptr<PanelExecutor> executor_;
    std::set<uint32_t> tokens_;
};

}  // namespace

int run_live_session(const std::filesystem::path& module_file, const std::filesystem::path& gauge_info_dir,
                     const std::vector<std::string>& only) {
    // A fault inside the module ends the session: its state can no longer be trusted. The
    // bench sees the answer, then the end of the pipe, and offers a fresh start.
    std::unique_ptr<Session> session;
    try {
        session = std::make_unique<Session>(module_file, gauge_info_dir, only);
    } catch (const std::exception& error) {
        std::cout << "{\"ok\":false,\"fatal\":true,\"error\":";
        std::string text;
        json::append_string(text, error.what());
        std::cout << text << "}" << std::endl;
        return run_host_error;
    }
    std::cout << session->greeting() << '\n' << session->state() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > max_line_length) {
            std::cout << "{\"ok\":false,\"error\":\"line too long\"}" << std::endl;
            continue;
        }
        if (line == "quit") break;
        try {
            std::cout << session->play(line) << std::endl;
        } catch (const std::exception& error) {
            std::string text;
            json::append_string(text, error.what());
            std::cout << "{\"ok\":false,\"fatal\":true,\"error\":" << text << "}" << std::endl;
            return run_host_error;
        }
    }
    return run_passed;
}

}  // namespace kestrel
