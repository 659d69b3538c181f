// The live panel's web server: options, the module's live state behind one lock, the
// ticker that runs updates at the host's rate while playing, the recorder that turns the
// session into a scenario, and the HTTP routes the page calls. Every request is checked.
#include "serve.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "host_session.h"
#include "json.h"
#include "module_lookup.h"
#include "png.h"
#include "renderer.h"
#include "scenario.h"
#include "scenario_process.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::serve {

const char* const usage_lines =
    "       kestrel-bench serve [OPTIONS] MODULE   (a module file, or a module name)\n"
    "serve options (with --native, --native-gau, --scale 1|2|4, --root, --host, --modules, --gau-dir, --out,\n"
    "  --timeout SECONDS a command's time limit, after which the module counts as hung (default 10)):\n"
    "  --port N          the port to listen on (default 8018; 0 picks a free one)\n"
    "  --listen ADDRESS  the address to listen on (default 127.0.0.1)\n";

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int exit_bad_input = 2;
constexpr int updates_per_second = 18;
constexpr std::size_t max_body_bytes = 4096;
constexpr std::size_t max_log_entries = 2000;
constexpr std::size_t max_recorded_actions = 20'000;
constexpr double start_timeout_seconds = 120;  // a sanitized host under an emulator starts slowly

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A request the server refuses: the status and the reason the page shows.
struct Refusal {
    int status;
    std::string reason;
};

struct Options {
    fs::path root;
    std::string module;
    bool native = false;      // the twin in the native host
    bool native_gau = false;  // the .gau in the native host, without trying wine first
    bool wine = false;        // decided at start: the .gau under wine
    int port = 8018;
    std::string listen = "127.0.0.1";
    int scale = 2;
    double timeout_seconds = 10;
    std::optional<fs::path> host;
    std::optional<fs::path> modules;
    std::optional<fs::path> gau_dir;
    fs::path out = "out";
};

Options parse_options(int argc, char** argv, const fs::path& root) {
    Options options;
    options.root = root;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(argument + " expects a value");
            return argv[++i];
        };
        auto integer = [&](int low, int high) {
            const std::string text = value();
            int number = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
            if (error != std::errc() || end != text.data() + text.size() || number < low || number > high)
                throw UsageError(argument + " expects a whole number from " + std::to_string(low) + " to " +
                                 std::to_string(high) + ", found '" + text + "'");
            return number;
        };
        if (argument == "--native") options.native = true;
        else if (argument == "--native-gau") options.native_gau = true;
        else if (argument == "--port") options.port = integer(0, 65535);
        else if (argument == "--listen") options.listen = value();
        else if (argument == "--scale") {
            options.scale = integer(1, 4);
            if (options.scale == 3) throw UsageError("--scale expects 1, 2 or 4");
        } else if (argument == "--timeout") options.timeout_seconds = integer(1, 3600);
        else if (argument == "--root") options.root = value();
        else if (argument == "--host") options.host = value();
        else if (argument == "--modules") options.modules = value();
        else if (argument == "--gau-dir") options.gau_dir = value();
        else if (argument == "--out") options.out = value();
        else if (!argument.empty() && argument[0] == '-') throw UsageError("unknown option " + argument);
        else if (options.module.empty()) options.module = argument;
        else throw UsageError("serve shows one module; found a second one, " + argument);
    }
    if (options.module.empty()) throw UsageError("serve expects a module file or name");
    return options;
}

// Where the module's files are: the .gau that the pictures come from (and that the host
// loads unless the twin is asked for) and the file the host loads.
struct ModuleFiles {
    std::string name;  // e.g. KESTREL, as a scenario's module line names it
    fs::path gau;
    fs::path loaded;
};

fs::path find_or_fail(const fs::path& directory, const std::string& name, const std::string& extension) {
    try {
        return require_module_file(directory, name, extension);
    } catch (const ModuleNotFound& error) {
        throw UsageError(error.what());
    }
}

ModuleFiles module_files(const Options& options) {
    ModuleFiles files;
    const fs::path given = options.module;
    const bool is_file = fs::is_regular_file(given);
    files.name = is_file ? given.stem().string() : options.module;
    if (files.name.empty() || files.name.size() > 64 ||
        files.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos)
        throw UsageError("'" + options.module + "' is neither a module file nor a module name");
    const fs::path gau_dir = options.gau_dir ? *options.gau_dir : options.root / "build" / "windows" / "modules";
    files.gau = is_file && given.extension() != ".so" ? given : find_or_fail(gau_dir, files.name, ".gau");
    files.loaded = options.native ? find_or_fail(options.modules.value_or(bench::native_build(options.root) / "modules"),
                                                 files.name, ".so")
                                  : files.gau;
    return files;
}

std::string format_real(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string hex_word(uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", word);
    return text;
}

// A value from the host's answer: a number, or NaN and the infinities as the trace writes them.
double answer_number(const json& value) {
    if (value.is_number()) return value.get<double>();
    const std::string text = value.get<std::string>();
    if (text == "NaN") return std::nan("");
    if (text == "Infinity") return INFINITY;
    if (text == "-Infinity") return -INFINITY;
    throw HostGone("the host sent a value that is not a number: " + text);
}

std::vector<trace::ElementState> element_states(const json& gauge) {
    std::vector<trace::ElementState> states;
    for (const json& item : gauge.at("elements")) {
        trace::ElementState state;
        state.image_flags = item.at("flags").get<uint32_t>();
        if (item.contains("value")) state.value = answer_number(item.at("value"));
        if (item.contains("text")) state.text = kestrel::json::bytes_of(item.at("text").get<std::string>());
        states.push_back(std::move(state));
    }
    return states;
}

// Read-out bytes for the page: each byte as the code point of the same number, as the
// trace writes them; the page shows digits and signs, which are the same in every code page.
std::string latin1_to_utf8(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// JSON for the page; text that is not UTF-8 (a message quoting module bytes) is replaced
// rather than failing the request.
std::string json_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// One step of the session as a scenario states it, and what the gauges showed after it.
struct RecordedStep {
    std::string command;       // a scenario line: set, update, click or key
    std::optional<std::size_t> gauge;  // a click's gauge; nullopt for steps that reach every gauge
    uint64_t updates = 0;      // for merging consecutive update steps
    std::vector<std::vector<trace::ElementState>> states;  // per gauge, after the step
    std::vector<std::vector<scenario::KeyEvent>> sent;  // per gauge, during the step
};

// The live module: the child host, what it last showed, the log and the recording.
class LivePanel {
public:
    LivePanel(Options options, ModuleFiles files) : options_(std::move(options)), files_(std::move(files)) {
        pictures_ = picture::PictureSet::from_module(files_.gau);
        face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
        fs::create_directories(options_.out / "sessions");
        work_ = options_.out / "sessions" / ("live-" + std::to_string(getpid()));
        fs::create_directories(work_);
        start();
    }

    ~LivePanel() {
        stopping_ = true;
        if (ticker_.joinable()) ticker_.join();
    }

    void start_ticker() {
        ticker_ = std::thread([this] { tick(); });
    }

    json info() {
        std::lock_guard lock(mutex_);
        json out;
        out["module"] = files_.gau.filename().string();
        out["module_name"] = files_.name;
        out["loaded"] = files_.loaded.string();
        out["scale"] = options_.scale;
        out["rate"] = updates_per_second;
        out["modifier"] = "Shift";
        out["gauges"] = json::array();
        for (std::size_t i = 0; i < gauges_.size(); ++i)
            out["gauges"].push_back({{"name", gauges_[i].gauge}, {"width", sizes_[i].first}, {"height", sizes_[i].second},
                                     {"areas", areas_.at(i).at("areas")}});
        return out;
    }

    json state(uint64_t log_since) {
        std::lock_guard lock(mutex_);
        json out;
        out["running"] = running_;
        out["reason"] = reason_;
        out["playing"] = playing_;
        out["updates"] = updates_;
        out["serial"] = serial_;
        out["steps"] = steps_.size();
        out["vars"] = json::array();
        for (const auto& [token, value] : vars_) out["vars"].push_back({{"token", token}, {"value", format_real(value)}});
        // What the read-outs show, by element label, as text the page can print.
        out["readouts"] = json::array();
        for (std::size_t g = 0; g < gauges_.size(); ++g) {
            json readouts = json::object();
            for (std::size_t e = 0; e < gauges_[g].elements.size(); ++e)
                if (states_[g][e].text) readouts[gauges_[g].elements[e].label] = latin1_to_utf8(*states_[g][e].text);
            out["readouts"].push_back(std::move(readouts));
        }
        out["log"] = json::array();
        for (const auto& [number, text] : log_)
            if (number > log_since) out["log"].push_back({{"serial", number}, {"text", text}});
        return out;
    }

    std::vector<uint8_t> frame_png(std::size_t gauge) {
        std::lock_guard lock(mutex_);
        if (gauge >= gauges_.size()) throw Refusal{400, "no gauge " + std::to_string(gauge)};
        return picture::encode_png(render(gauge));
    }

    void set_playing(bool playing) {
        std::lock_guard lock(mutex_);
        require_running();
        playing_ = playing;
        last_tick_ = std::chrono::steady_clock::now();
    }

    void step() {
        std::lock_guard lock(mutex_);
        require_running();
        playing_ = false;
        command("0 update 1", "update 1", std::nullopt, 1);
    }

    void click(std::size_t gauge, int x, int y, bool modifier) {
        std::lock_guard lock(mutex_);
        require_running();
        if (gauge >= gauges_.size()) throw Refusal{400, "no gauge " + std::to_string(gauge)};
        if (x < 0 || y < 0 || x >= sizes_[gauge].first || y >= sizes_[gauge].second)
            throw Refusal{400, "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is outside gauge " +
                                   gauges_[gauge].gauge + " (" + std::to_string(sizes_[gauge].first) + " by " +
                                   std::to_string(sizes_[gauge].second) + ")"};
        const uint32_t flags = modifier ? 0x80000000u : scenario::default_click_flags;
        const std::string line = "click " + std::to_string(x) + " " + std::to_string(y) + " " + hex_word(flags);
        command(std::to_string(gauge) + " " + line, line, gauge, 0);
    }

    void call_service(std::size_t gauge, int32_t id) {
        std::lock_guard lock(mutex_);
        require_running();
        if (gauge >= gauges_.size()) throw Refusal{400, "no gauge " + std::to_string(gauge)};
        const std::string line = "service " + std::to_string(id);
        command(std::to_string(gauge) + " " + line, line, gauge, 0);
    }

    void set_variable(uint32_t token, double value) {
        std::lock_guard lock(mutex_);
        require_running();
        const std::string line = "set " + hex_word(token) + " " + format_real(value);
        command("0 " + line, line, std::nullopt, 0);
    }

    void send_key(uint32_t id, uint32_t value) {
        std::lock_guard lock(mutex_);
        require_running();
        const std::string line = "key " + hex_word(id) + " " + hex_word(value);
        note("the page sent " + scenario::format_key_event({id, value}) + " to the " + std::to_string(listeners_) +
             " listener(s)");
        command("0 " + line, line, std::nullopt, 0);
    }

    void restart() {
        std::lock_guard lock(mutex_);
        start();
    }

    // The session so far as a scenario of one gauge, written into the sessions folder.
    json record(std::size_t gauge) {
        std::lock_guard lock(mutex_);
        if (gauge >= gauges_.size()) throw Refusal{400, "no gauge " + std::to_string(gauge)};
        if (steps_.empty()) throw Refusal{400, "nothing to record yet: play, click or set a variable first"};
        const std::string text = scenario_text(gauge);
        ++recordings_;
        const fs::path file = options_.out / "sessions" /
                              (files_.name + "-" + gauges_[gauge].gauge + "-" + std::to_string(getpid()) + "-" +
                               std::to_string(recordings_) + ".scenario");
        std::ofstream stream(file);
        stream << text;
        if (!stream.flush()) throw Refusal{500, file.string() + ": cannot write the scenario"};
        return {{"file", fs::absolute(file).string()}, {"scenario", text}};
    }

private:
    void require_running() const {
        if (!running_) throw Refusal{409, "the module's host is not running: " + reason_ + " (restart it)"};
    }

    std::vector<std::string> host_argv() const {
        std::vector<std::string> argv;
        if (options_.wine) {
            argv = {(options_.root / "tools" / "wine-run.sh").string(),
                    (options_.root / "build" / "windows" / "host" / "kestrel-host.exe").string()};
            argv.insert(argv.end(), {"session", files_.loaded.string(), "--gauge-info", work_.string()});
            return argv;
        }
        const fs::path program = options_.host ? *options_.host : bench::native_build(options_.root) / "host" / "kestrel-host";
        if (!fs::exists(program)) throw UsageError(program.string() + ": not found (build it with 'make native')");
        argv.push_back(program.string());
        argv.insert(argv.end(), {"session", files_.loaded.string(), "--gauge-info", work_.string()});
        return argv;
    }

    // (Re)starts the host; a failure leaves the panel stopped with the reason shown.
    void start() {
        session_.reset();
        running_ = false;
        playing_ = false;
        steps_.clear();
        updates_ = 0;
        vars_.clear();
        ++serial_;
        try {
            session_ = std::make_unique<HostSession>(host_argv(), bench::native_host_environment, work_ / "host.log");
            const json greeting = session_->read_answer(std::chrono::duration<double>(start_timeout_seconds));
            if (!greeting.value("ok", false)) throw HostGone(greeting.value("error", std::string("the host refused the module")));
            if (gauges_.empty()) {
                for (std::size_t i = 0; i < greeting.at("gauges").size(); ++i) {
                    const trace::TraceSummary summary = trace::read_trace(work_ / (std::to_string(i) + ".jsonl"));
                    if (!summary.gauge) throw HostGone("the host wrote no gauge record");
                    gauges_.push_back(*summary.gauge);
                }
                areas_ = greeting.at("gauges");
            }
            const json first = session_->read_answer(std::chrono::duration<double>(options_.timeout_seconds));
            apply(first);
            if (sizes_.empty())
                for (std::size_t i = 0; i < gauges_.size(); ++i) {
                    const picture::Image image = render(i);
                    sizes_.emplace_back(image.width() / options_.scale, image.height() / options_.scale);
                }
            running_ = true;
            reason_.clear();
            note("host started: " + files_.loaded.string());
        } catch (const std::exception& error) {
            session_.reset();
            reason_ = error.what();
            note("host stopped: " + reason_);
            if (gauges_.empty()) throw;
        }
    }

    picture::Image render(std::size_t gauge) {
        picture::Renderer renderer(pictures_, *face_);
        trace::Frame frame{"live", 0, updates_, states_.at(gauge)};
        return renderer.render(gauges_[gauge], frame, {options_.scale});
    }

    void note(const std::string& text) {
        log_.emplace_back(++log_serial_, text);
        while (log_.size() > max_log_entries) log_.pop_front();
    }

    // Takes an answer's state; returns the key events each gauge sent.
    std::vector<std::vector<scenario::KeyEvent>> apply(const json& answer) {
        std::vector<std::vector<scenario::KeyEvent>> sent;
        const json& gauges = answer.at("gauges");
        if (gauges.size() != gauges_.size()) throw HostGone("the host answered for a different number of gauges");
        states_.clear();
        for (std::size_t i = 0; i < gauges.size(); ++i) {
            states_.push_back(element_states(gauges[i]));
            if (states_.back().size() != gauges_[i].elements.size())
                throw HostGone("the host answered for a different number of elements");
            sent.emplace_back();
            for (const json& event : gauges[i].at("sent"))
                sent.back().push_back({event.at(0).get<uint32_t>(), event.at(1).get<uint32_t>()});
        }
        updates_ = answer.at("updates").get<uint64_t>();
        listeners_ = answer.at("listeners").get<std::size_t>();
        vars_.clear();
        for (const json& pair : answer.at("vars")) vars_.emplace_back(pair.at(0).get<uint32_t>(), answer_number(pair.at(1)));
        ++serial_;
        return sent;
    }

    // Sends one command; records it; a dead host stops the panel with the reason.
    void command(const std::string& line, const std::string& scenario_line, std::optional<std::size_t> gauge, uint64_t updates) {
        json answer;
        try {
            answer = session_->request(line, std::chrono::duration<double>(options_.timeout_seconds + updates / 4.0));
            if (!answer.value("ok", false)) {
                const std::string error = answer.value("error", std::string("refused"));
                if (answer.value("fatal", false)) throw HostGone("the module broke a host rule: " + error);
                throw Refusal{400, error};
            }
            const auto sent = apply(answer);
            for (std::size_t g = 0; g < sent.size(); ++g)
                for (const scenario::KeyEvent& event : sent[g])
                    note(gauges_[g].gauge + " sent " + scenario::format_key_event(event) + " during '" + scenario_line +
                         "', delivered to " + std::to_string(listeners_) + " listener(s)");
            remember(scenario_line, gauge, updates, sent);
        } catch (const HostGone& gone) {
            session_.reset();
            running_ = false;
            playing_ = false;
            reason_ = std::string(gone.what()) + ", during '" + scenario_line + "'";
            note("host stopped: " + reason_);
            ++serial_;
            throw Refusal{409, reason_};
        }
    }

    void remember(const std::string& line, std::optional<std::size_t> gauge, uint64_t updates,
                  std::vector<std::vector<scenario::KeyEvent>> sent) {
        // Consecutive updates become one `update N`, checked once at their end.
        if (updates > 0 && !steps_.empty() && steps_.back().updates > 0) {
            RecordedStep& last = steps_.back();
            last.updates += updates;
            last.command = "update " + std::to_string(last.updates);
            last.states = states_;
            for (std::size_t g = 0; g < sent.size(); ++g)
                last.sent[g].insert(last.sent[g].end(), sent[g].begin(), sent[g].end());
            return;
        }
        if (steps_.size() >= max_recorded_actions) {
            if (!recording_full_) note("the recording is full: later steps are not recorded");
            recording_full_ = true;
            return;
        }
        steps_.push_back({line, gauge, updates, states_, std::move(sent)});
    }

    std::string scenario_text(std::size_t gauge) const {
        const trace::GaugeInfo& info = gauges_[gauge];
        std::ostringstream out;
        out << "# A session in the live panel, recorded for replay with kestrel-bench run.\n";
        out << "module " << files_.name << "\ngauge " << info.gauge << "\n";
        std::vector<trace::ElementState> shown(info.elements.size());
        std::vector<scenario::KeyEvent> keys;
        bool first = true;
        for (const RecordedStep& step : steps_) {
            if (step.gauge && *step.gauge != gauge) continue;  // a click on another gauge of the panel
            out << step.command << '\n';
            const std::vector<trace::ElementState>& now = step.states[gauge];
            for (std::size_t e = 0; e < now.size(); ++e) {
                const std::string& label = info.elements[e].label;
                if (now[e].text && (first || now[e].text != shown[e].text))
                    out << "expect text " << label << ' ' << scenario::quote_text(*now[e].text) << '\n';
                // NaN equals nothing, not even itself: it cannot be expected.
                if (now[e].value && !std::isnan(*now[e].value) &&
                    (first || !shown[e].value || *now[e].value != *shown[e].value))
                    out << "expect value " << label << ' ' << format_real(*now[e].value) << '\n';
            }
            shown = now;
            keys.insert(keys.end(), step.sent[gauge].begin(), step.sent[gauge].end());
            if (!keys.empty() || step.gauge) {
                out << "expect keys";
                if (keys.empty()) out << " none";
                for (const scenario::KeyEvent& event : keys) out << ' ' << scenario::format_key_event(event);
                out << '\n';
                keys.clear();
            }
            first = false;
        }
        return out.str();
    }

    // Runs updates at the host's rate while playing; a slow host gets them in batches.
    void tick() {
        const auto period = std::chrono::microseconds(1'000'000 / updates_per_second);
        while (!stopping_) {
            std::this_thread::sleep_for(period);
            std::lock_guard lock(mutex_);
            if (!playing_ || !running_) continue;
            const auto now = std::chrono::steady_clock::now();
            auto due = static_cast<uint64_t>((now - last_tick_) / period);
            if (due == 0) continue;
            due = std::min<uint64_t>(due, updates_per_second);
            last_tick_ = now;
            try {
                command("0 update " + std::to_string(due), "update " + std::to_string(due), std::nullopt, due);
            } catch (const Refusal&) {
                // The panel is stopped and says why; the page offers a restart.
            }
        }
    }

    Options options_;
    ModuleFiles files_;
    fs::path work_;
    picture::PictureSet pictures_;
    std::unique_ptr<picture::TextFace> face_;
    std::mutex mutex_;
    std::unique_ptr<HostSession> session_;
    std::vector<trace::GaugeInfo> gauges_;
    json areas_;
    std::vector<std::pair<int, int>> sizes_;
    std::vector<std::vector<trace::ElementState>> states_;
    std::vector<std::pair<uint32_t, double>> vars_;
    std::deque<std::pair<uint64_t, std::string>> log_;
    uint64_t log_serial_ = 0;
    std::vector<RecordedStep> steps_;
    bool recording_full_ = false;
    int recordings_ = 0;
    uint64_t updates_ = 0;
    uint64_t serial_ = 0;
    std::size_t listeners_ = 0;
    bool running_ = false;
    bool playing_ = false;
    std::string reason_;
    std::chrono::steady_clock::time_point last_tick_;
    std::atomic<bool> stopping_ = false;
    std::thread ticker_;
};

// Parsing request fields: each failure is a 400 naming the field.
json request_body(const httplib::Request& request) {
    if (request.body.empty()) return json::object();
    try {
        json body = json::parse(request.body);
        if (!body.is_object()) throw Refusal{400, "the body must be a JSON object"};
        return body;
    } catch (const json::exception&) {
        throw Refusal{400, "the body is not JSON"};
    }
}

int64_t integer_field(const json& body, const char* name, int64_t low, int64_t high) {
    if (!body.contains(name)) throw Refusal{400, std::string("missing field '") + name + "'"};
    const json& value = body.at(name);
    if (!value.is_number_integer()) throw Refusal{400, std::string("field '") + name + "' must be a whole number"};
    const int64_t number = value.get<int64_t>();
    if (number < low || number > high)
        throw Refusal{400, std::string("field '") + name + "' must be from " + std::to_string(low) + " to " + std::to_string(high)};
    return number;
}

// A whole number in decimal or 0x hexadecimal, as scenarios write tokens.
uint32_t word_text(const json& body, const char* name, uint32_t low) {
    if (!body.contains(name) || !body.at(name).is_string()) throw Refusal{400, std::string("field '") + name + "' must be a string"};
    std::string text = body.at(name).get<std::string>();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.erase(0, 2);
    }
    uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || number < low || number > 0xFFFFFFFFull)
        throw Refusal{400, std::string("field '") + name + "' must be a whole number from " + std::to_string(low) +
                               " to 0xFFFFFFFF"};
    return static_cast<uint32_t>(number);
}

double real_text(const json& body, const char* name) {
    if (!body.contains(name) || !body.at(name).is_string()) throw Refusal{400, std::string("field '") + name + "' must be a string"};
    std::string text = body.at(name).get<std::string>();
    if (!text.empty() && text[0] == '+') text.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw Refusal{400, "'" + body.at(name).get<std::string>().substr(0, 40) +
                               "' is not a number (write digits, nan, inf or -inf)"};
    return value;
}

bool boolean_field(const json& body, const char* name) {
    if (!body.contains(name)) return false;
    if (!body.at(name).is_boolean()) throw Refusal{400, std::string("field '") + name + "' must be true or false"};
    return body.at(name).get<bool>();
}

std::string read_page_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(file.string() + ": the page file cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

namespace {

int serve(int argc, char** argv, const fs::path& source_root) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that dies mid-write must not end the bench
    Options options;
    ModuleFiles files;
    try {
        options = parse_options(argc, argv, source_root);
        files = module_files(options);
    } catch (const UsageError& error) {
        std::cerr << "kestrel-bench: " << error.what() << '\n';
        return exit_bad_input;
    }
    // The page ships with the bench's sources; the server reads it once.
    const fs::path page = options.root / "host" / "kestrel_bench" / "serve" / "page";
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> page_files;
    for (const auto& [name, type] : {std::pair{"index.html", "text/html; charset=utf-8"},
                                     std::pair{"page.js", "text/javascript; charset=utf-8"},
                                     std::pair{"page.css", "text/css; charset=utf-8"}})
        page_files.push_back({std::string("/") + name, {read_page_file(page / name), type}});

    if (!options.native && !options.native_gau) {
        // As `run` does: the real module under wine where wine runs, else in the native host.
        const fs::path windows_host = options.root / "build" / "windows" / "host" / "kestrel-host.exe";
        const fs::path probe = options.root / "tools" / "wine-works.sh";
        try {
            fs::create_directories(options.out / "logs");
            options.wine = fs::exists(windows_host) && fs::exists(probe) && [&] {
                const auto exit = bench::run_child({probe.string(), windows_host.string(), "--help"},
                                                   options.out / "logs" / "wine-check.log", std::chrono::minutes(5));
                return exit.kind == bench::ChildExit::Kind::exited && exit.code == 0;
            }();
        } catch (const std::exception&) {
            options.wine = false;
        }
        if (!options.wine)
            std::cout << "NOTE: wine cannot run 32-bit Windows programs here; the real module runs in the native host.\n";
    }
    std::cout << "kestrel-bench: starting the host for " << files.loaded.string() << " ..." << std::endl;
    LivePanel panel(options, files);

    httplib::Server server;
    server.set_payload_max_length(max_body_bytes);
    std::string allowed_hosts_port;  // filled once the port is known
    std::vector<std::string> allowed_hosts;
    server.set_pre_routing_handler([&](const httplib::Request& request, httplib::Response& response) {
        // Against DNS rebinding: only the names of this machine's loopback and the
        // listening address itself reach the panel.
        const std::string host = request.get_header_value("Host");
        for (const std::string& allowed : allowed_hosts)
            if (host == allowed) return httplib::Server::HandlerResponse::Unhandled;
        response.status = 403;
        response.set_content("refused: Host '" + host.substr(0, 80) + "' is not this machine's panel address\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });

    // Refusals that the library makes itself (an unknown path, a body too long or without
    // its length) carry a reason too.
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        std::string reason = "HTTP " + std::to_string(response.status);
        if (response.status == 413) reason = "the body is longer than " + std::to_string(max_body_bytes) + " bytes";
        else if (response.status == 404) reason = "no such page or call";
        else if (response.status == 400 || response.status == 411) reason = "malformed request (a POST needs a body with its length)";
        response.set_content(json_text(json{{"error", reason}}), "application/json");
    });
    auto guarded = [&](auto handler) {
        return [&panel, handler](const httplib::Request& request, httplib::Response& response) {
            try {
                handler(request, response);
            } catch (const Refusal& refusal) {
                response.status = refusal.status;
                response.set_content(json_text(json{{"error", refusal.reason}}), "application/json");
            } catch (const std::exception& error) {
                response.status = 500;
                response.set_content(json_text(json{{"error", error.what()}}), "application/json");
            }
        };
    };
    auto reply = [](httplib::Response& response, const json& body) { response.set_content(json_text(body), "application/json"); };

    for (const auto& [path, file] : page_files) {
        const std::string content = file.first;
        const std::string type = file.second;
        server.Get(path, [content, type](const httplib::Request&, httplib::Response& response) { response.set_content(content, type); });
        if (path == "/index.html")
            server.Get("/", [content, type](const httplib::Request&, httplib::Response& response) { response.set_content(content, type); });
    }
    server.Get("/api/info", guarded([&](const httplib::Request&, httplib::Response& response) { reply(response, panel.info()); }));
    server.Get("/api/state", guarded([&](const httplib::Request& request, httplib::Response& response) {
        uint64_t since = 0;
        if (request.has_param("log_since")) {
            const std::string text = request.get_param_value("log_since");
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), since);
            if (text.empty() || error != std::errc() || end != text.data() + text.size())
                throw Refusal{400, "log_since must be a whole number"};
        }
        reply(response, panel.state(since));
    }));
    server.Get("/api/frame", guarded([&](const httplib::Request& request, httplib::Response& response) {
        const std::string text = request.get_param_value("gauge");
        std::size_t gauge = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), gauge);
        if (text.empty() || error != std::errc() || end != text.data() + text.size()) throw Refusal{400, "gauge must be a whole number"};
        const std::vector<uint8_t> png = panel.frame_png(gauge);
        response.set_header("Cache-Control", "no-store");
        response.set_content(std::string(png.begin(), png.end()), "image/png");
    }));
    server.Post("/api/play", guarded([&](const httplib::Request&, httplib::Response& response) {
        panel.set_playing(true);
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/pause", guarded([&](const httplib::Request&, httplib::Response& response) {
        panel.set_playing(false);
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/step", guarded([&](const httplib::Request&, httplib::Response& response) {
        panel.step();
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/click", guarded([&](const httplib::Request& request, httplib::Response& response) {
        const json body = request_body(request);
        panel.click(static_cast<std::size_t>(integer_field(body, "gauge", 0, 255)),
                    static_cast<int>(integer_field(body, "x", -100000, 100000)),
                    static_cast<int>(integer_field(body, "y", -100000, 100000)), boolean_field(body, "modifier"));
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/service", guarded([&](const httplib::Request& request, httplib::Response& response) {
        const json body = request_body(request);
        panel.call_service(static_cast<std::size_t>(integer_field(body, "gauge", 0, 255)),
                           static_cast<int32_t>(integer_field(body, "id", -2147483648ll, 2147483647ll)));
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/set", guarded([&](const httplib::Request& request, httplib::Response& response) {
        const json body = request_body(request);
        panel.set_variable(word_text(body, "token", 1), real_text(body, "value"));
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/key", guarded([&](const httplib::Request& request, httplib::Response& response) {
        const json body = request_body(request);
        panel.send_key(word_text(body, "id", 0), word_text(body, "value", 0));
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/restart", guarded([&](const httplib::Request&, httplib::Response& response) {
        panel.restart();
        reply(response, {{"ok", true}});
    }));
    server.Post("/api/record", guarded([&](const httplib::Request& request, httplib::Response& response) {
        const json body = request_body(request);
        reply(response, panel.record(static_cast<std::size_t>(integer_field(body, "gauge", 0, 255))));
    }));

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.listen);
        if (port < 0) port = 0;
    } else if (!server.bind_to_port(options.listen, port)) {
        port = 0;
    }
    if (port == 0) {
        std::cerr << "kestrel-bench: cannot listen on " << options.listen << ":" << options.port << '\n';
        return exit_bad_input;
    }
    const std::string suffix = ":" + std::to_string(port);
    const bool v6 = options.listen.find(':') != std::string::npos;
    allowed_hosts = {"127.0.0.1" + suffix, "localhost" + suffix, "[::1]" + suffix,
                     (v6 ? "[" + options.listen + "]" : options.listen) + suffix};
    // Ctrl+C or a TERM signal stops the server in order, so that the host is stopped with
    // it; the signals are taken by one thread, blocked in every other (the host unblocks them).
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::thread signal_waiter([&server, stop_signals] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        server.stop();
    });
    signal_waiter.detach();
    panel.start_ticker();
    std::cout << "kestrel-bench: the live panel of " << files.gau.filename().string() << " is at http://"
              << (v6 ? "[" + options.listen + "]" : options.listen == "0.0.0.0" ? std::string("127.0.0.1") : options.listen)
              << suffix << "/" << std::endl;
    server.listen_after_bind();
    std::cout << "kestrel-bench: the live panel stopped" << std::endl;
    return 0;
}

}  // namespace

int serve_main(int argc, char** argv, const fs::path& source_root) {
    try {
        return serve(argc, argv, source_root);
    } catch (const UsageError& error) {
        std::cerr << "kestrel-bench: " << error.what() << '\n';
        return exit_bad_input;
    } catch (const std::exception& error) {
        // The module's pictures, the page or the first start of the host failed.
        std::cerr << "kestrel-bench: " << error.what() << '\n';
        return 1;
    }
}

}  // namespace kestrel::serve
