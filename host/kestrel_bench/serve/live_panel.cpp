// The live panel's state and its commands to the host. Each command the page asks for is
// one session line to the host; its answer replaces the gauges' states, its key events go
// to the log, and the step to the recorder. A host that dies stops the panel with the
// reason, and a restart starts it afresh.
#include "live_panel.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "json.h"
#include "module_lookup.h"
#include "numbers.h"
#include "png.h"
#include "trace.h"

namespace kestrel::serve {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t max_log_entries = 2000;
constexpr double start_timeout_seconds = 120;  // a sanitized host under an emulator starts slowly

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

bool has_extension(const fs::path& file, const std::string& extension) {
    std::string found = file.extension().string();
    for (char& c : found) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return found == extension;
}

}  // namespace

ServedModule served_module(const std::string& argument, const bench::Options& options, const bench::Locations& locations,
                           bench::HostKind kind) {
    ServedModule module;
    const fs::path given = argument;
    std::error_code error;
    const bool is_file = fs::is_regular_file(given, error);
    module.name = is_file ? given.stem().string() : argument;
    if (module.name.empty() || module.name.size() > 64 ||
        module.name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos)
        throw bench::UsageError("'" + argument + "' is neither a module file nor a module name");
    if (is_file && has_extension(given, ".so") && kind != bench::HostKind::twin)
        throw bench::UsageError(display_path(given) + " is a native twin module: serve it with --native");
    const std::string extension = kind == bench::HostKind::twin ? ".so" : ".gau";
    const bool given_loads = is_file && has_extension(given, extension);
    module.loaded = given_loads ? given : bench::find_module(bench::module_folders(options, locations, kind), module.name, extension);
    module.pictures = is_file && has_extension(given, ".gau")
                          ? given
                          : bench::find_module(bench::gau_folders(options, locations), module.name, ".gau");
    return module;
}

LivePanel::LivePanel(PanelSettings settings, ServedModule module, bench::Host host)
    : settings_(std::move(settings)), module_(std::move(module)), host_(std::move(host)) {
    pictures_ = picture::PictureSet::from_module(module_.pictures);
    face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
    fs::create_directories(settings_.out / "sessions");
    work_ = settings_.out / "sessions" / ("live-" + std::to_string(getpid()));
    fs::create_directories(work_);
    std::lock_guard talking(host_mutex_);
    start();
}

LivePanel::~LivePanel() {
    stopping_ = true;
    abandon_ = true;
    if (ticker_.joinable()) ticker_.join();
}

void LivePanel::start_ticker() {
    ticker_ = std::thread([this] { tick(); });
}

json LivePanel::info() {
    std::lock_guard lock(mutex_);
    json out;
    // The page is titled by the file the host really runs: the twin's .so with --native.
    out["module"] = module_.loaded.filename().string();
    out["module_name"] = module_.name;
    out["loaded"] = display_path(module_.loaded);
    out["pictures"] = display_path(module_.pictures);
    out["host"] = host_.description();
    out["scale"] = settings_.scale ? json(*settings_.scale) : json(nullptr);
    out["scales"] = panel_scales;
    out["rate"] = updates_per_second;
    out["timeout"] = settings_.timeout_seconds;
    out["modifier"] = "Shift";
    out["gauges"] = json::array();
    for (std::size_t i = 0; i < gauges_.size(); ++i)
        out["gauges"].push_back({{"name", gauges_[i].gauge}, {"width", sizes_[i].first}, {"height", sizes_[i].second},
                                 {"areas", areas_.at(i).at("areas")}});
    return out;
}

json LivePanel::state(uint64_t log_since) {
    std::lock_guard lock(mutex_);
    json out;
    out["running"] = running_;
    out["starting"] = starting_;
    out["reason"] = reason_;
    out["playing"] = playing_;
    out["updates"] = updates_;
    out["serial"] = serial_;
    out["steps"] = recorder_.size();
    out["last_finished"] = last_finished_;
    // A command the host has not answered yet: the page says so once it takes long.
    out["busy"] = nullptr;
    if (busy_)
        out["busy"] = {{"command", busy_->command},
                       {"seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - busy_->since).count()}};
    out["vars"] = json::array();
    for (const auto& [token, value] : vars_) out["vars"].push_back({{"token", token}, {"value", exact_number(value)}});
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

std::vector<uint8_t> LivePanel::frame_png(std::size_t gauge, int scale) {
    std::vector<trace::ElementState> states;
    uint64_t updates = 0;
    {
        std::lock_guard lock(mutex_);
        require_gauge(gauge);
        states = states_.at(gauge);
        updates = updates_;
    }
    // Drawn outside the state lock: a large frame must not hold up the page's polls.
    return picture::encode_png(render(gauge, states, updates, scale));
}

void LivePanel::set_playing(bool playing) {
    std::lock_guard lock(mutex_);
    require_running();
    playing_ = playing;
    last_tick_ = std::chrono::steady_clock::now();
}

void LivePanel::step() {
    {
        std::lock_guard lock(mutex_);
        require_running();
        playing_ = false;
    }
    command("0 update 1", "update 1", std::nullopt, 1);
}

void LivePanel::click(std::size_t gauge, int x, int y, bool modifier) {
    require_gauge(gauge);
    const scenario::Click click{x, y, 0};
    if (!scenario::click_on_gauge(click, sizes_[gauge].first, sizes_[gauge].second))
        throw Refusal{400, scenario::click_outside_gauge(click, gauges_[gauge].gauge, sizes_[gauge].first,
                                                         sizes_[gauge].second)};
    const uint32_t flags = modifier ? 0x80000000u : scenario::default_click_flags;
    const std::string line = "click " + std::to_string(x) + " " + std::to_string(y) + " " + hex_word(flags);
    command(std::to_string(gauge) + " " + line, line, gauge, 0);
}

void LivePanel::call_service(std::size_t gauge, int32_t id) {
    require_gauge(gauge);
    const std::string line = "service " + std::to_string(id);
    command(std::to_string(gauge) + " " + line, line, gauge, 0);
}

void LivePanel::set_variable(uint32_t token, double value) {
    // Tokens in decimal, as the README's and the demo's scenarios write them.
    const std::string line = "set " + std::to_string(token) + " " + exact_number(value);
    command("0 " + line, line, std::nullopt, 0);
}

void LivePanel::send_key(uint32_t id, uint32_t value) {
    const std::string line = "key " + hex_word(id) + " " + std::to_string(static_cast<int32_t>(value));
    {
        std::lock_guard lock(mutex_);
        note("the page sent " + scenario::format_key_event({id, value}) + " to the " + std::to_string(listeners_) +
             " listener(s)");
    }
    command("0 " + line, line, std::nullopt, 0);
}

void LivePanel::restart() {
    abandon_ = true;  // a command that hangs gives up within abandon_check_period
    std::lock_guard talking(host_mutex_);
    abandon_ = false;
    start();
}

json LivePanel::record(std::size_t gauge) {
    std::lock_guard lock(mutex_);
    require_gauge(gauge);
    if (recorder_.empty()) throw Refusal{400, "nothing to record yet: play, click or set a variable first"};
    const std::string text = recorder_.scenario_text(module_.name, gauges_[gauge], gauge);
    ++recordings_;
    const fs::path file = settings_.out / "sessions" /
                          (module_.name + "-" + gauges_[gauge].gauge + "-" + std::to_string(getpid()) + "-" +
                           std::to_string(recordings_) + ".scenario");
    std::ofstream stream(file);
    stream << text;
    if (!stream.flush()) throw Refusal{500, display_path(file) + ": cannot write the scenario"};
    return {{"file", fs::absolute(file).string()}, {"scenario", text}};
}

void LivePanel::require_running() const {
    if (starting_) throw Refusal{409, "the module's host is starting; wait a moment"};
    if (!running_) throw Refusal{409, "the module's host is not running: " + reason_ + " (restart it)"};
}

void LivePanel::require_gauge(std::size_t gauge) const {
    if (gauge >= gauges_.size()) throw Refusal{400, "no gauge " + std::to_string(gauge)};
}

std::string LivePanel::history() const {
    return last_finished_.empty() ? "it had finished no command since it started"
                                  : "the last command it finished was '" + last_finished_ + "'";
}

// (Re)starts the host, with host_mutex_ held; a failure leaves the panel stopped with the
// reason shown.
void LivePanel::start() {
    session_.reset();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        starting_ = true;
        playing_ = false;
        busy_.reset();
        recorder_.clear();
        recording_full_ = false;
        last_finished_.clear();
        reason_.clear();
        updates_ = 0;
        vars_.clear();
        ++serial_;
    }
    try {
        auto session = std::make_unique<HostSession>(
            host_.command({"session", module_.loaded.string(), "--gauge-info", work_.string()}), host_.environment,
            work_ / "host.log");
        const json greeting = session->read_answer(std::chrono::duration<double>(start_timeout_seconds), abandon_);
        if (!greeting.value("ok", false)) throw HostGone(greeting.value("error", std::string("the host refused the module")));
        if (gauges_.empty()) {
            for (std::size_t i = 0; i < greeting.at("gauges").size(); ++i) {
                const trace::TraceSummary summary = trace::read_trace(work_ / (std::to_string(i) + ".jsonl"));
                if (!summary.gauge) throw HostGone("the host wrote no gauge record");
                gauges_.push_back(*summary.gauge);
            }
            areas_ = greeting.at("gauges");
        }
        const json first = session->read_answer(std::chrono::duration<double>(settings_.timeout_seconds), abandon_);
        std::lock_guard lock(mutex_);
        apply(first);
        if (sizes_.empty())
            for (std::size_t i = 0; i < gauges_.size(); ++i) {
                const picture::Image image = render(i, states_.at(i), updates_, 1);
                sizes_.emplace_back(image.width(), image.height());
            }
        session_ = std::move(session);
        running_ = true;
        starting_ = false;
        note("host started: " + display_path(module_.loaded));
    } catch (const std::exception& error) {
        session_.reset();
        {
            std::lock_guard lock(mutex_);
            starting_ = false;
            reason_ = error.what();
            note("host stopped: " + reason_);
            ++serial_;
        }
        if (gauges_.empty() || sizes_.empty()) throw;
    }
}

// Ends the host session, with host_mutex_ held, and says why: what happened, the command
// it happened during (none: while the host waited for one), and the last one it finished.
void LivePanel::stop_host(const std::string& what, const std::optional<std::string>& during) {
    session_.reset();
    std::lock_guard lock(mutex_);
    running_ = false;
    playing_ = false;
    busy_.reset();
    reason_ = what + (during ? ", during '" + *during + "'" : std::string(" while it waited for a command")) + "; " +
              history();
    note("host stopped: " + reason_);
    ++serial_;
}

picture::Image LivePanel::render(std::size_t gauge, const std::vector<trace::ElementState>& states, uint64_t updates,
                                 int scale) {
    std::lock_guard lock(render_mutex_);
    picture::Renderer renderer(pictures_, *face_);
    trace::Frame frame{"live", 0, updates, states};
    return renderer.render(gauges_[gauge], frame, {scale});
}

void LivePanel::note(const std::string& text) {
    log_.emplace_back(++log_serial_, text);
    while (log_.size() > max_log_entries) log_.pop_front();
}

// Takes an answer's state, with mutex_ held; returns the key events each gauge sent.
GaugeKeys LivePanel::apply(const json& answer) {
    bench::SessionAnswer read = bench::read_session_answer(answer);
    if (read.gauges.size() != gauges_.size()) throw HostGone("the host answered for a different number of gauges");
    GaugeKeys sent;
    GaugeStates states;
    for (std::size_t i = 0; i < read.gauges.size(); ++i) {
        if (read.gauges[i].elements.size() != gauges_[i].elements.size())
            throw HostGone("the host answered for a different number of elements");
        states.push_back(std::move(read.gauges[i].elements));
        sent.push_back(std::move(read.gauges[i].sent));
    }
    states_ = std::move(states);
    vars_ = std::move(read.vars);
    updates_ = read.updates;
    listeners_ = read.listeners;
    ++serial_;
    return sent;
}

// Sends one command and records it. A host that is gone, or goes during the command,
// stops the panel with the reason, and the command is refused with it.
void LivePanel::command(const std::string& line, const std::string& scenario_line, std::optional<std::size_t> gauge,
                        uint64_t updates) {
    std::lock_guard talking(host_mutex_);
    {
        std::lock_guard lock(mutex_);
        require_running();
        busy_ = Busy{scenario_line, std::chrono::steady_clock::now()};
    }
    const auto refuse_stopped = [this] {
        std::lock_guard lock(mutex_);
        return Refusal{409, reason_};
    };
    // A host that ended since the last command is not blamed on this one.
    if (const std::optional<std::string> ended = session_->ended()) {
        stop_host(*ended, std::nullopt);
        throw refuse_stopped();
    }
    json answer;
    try {
        answer = session_->request(line, std::chrono::duration<double>(settings_.timeout_seconds + updates / 4.0), abandon_);
        if (!answer.value("ok", false) && answer.value("fatal", false))
            throw HostGone("the module broke a host rule: " + answer.value("error", std::string("refused")));
    } catch (const HostGone& gone) {
        stop_host(gone.what(), scenario_line);
        throw refuse_stopped();
    }
    std::string misfit;
    {
        std::lock_guard lock(mutex_);
        busy_.reset();
        if (!answer.value("ok", false)) throw Refusal{400, answer.value("error", std::string("refused"))};
        try {
            GaugeKeys sent = apply(answer);
            last_finished_ = scenario_line;
            for (std::size_t g = 0; g < sent.size(); ++g)
                for (const scenario::KeyEvent& event : sent[g])
                    note(gauges_[g].gauge + " sent " + scenario::format_key_event(event) + " during '" + scenario_line +
                         "', delivered to " + std::to_string(listeners_) + " listener(s)");
            if (!recorder_.remember(scenario_line, gauge, updates, states_, std::move(sent)) && !recording_full_) {
                note("the recording is full: later steps are not recorded");
                recording_full_ = true;
            }
            return;
        } catch (const std::exception& error) {
            misfit = error.what();
        }
    }
    // An answer of the wrong shape: this host is not one the bench can follow.
    stop_host("the host's answer does not fit its gauges (" + misfit + ")", scenario_line);
    throw refuse_stopped();
}

// Runs updates at the host's rate while playing (a slow host gets them in batches), and
// between commands looks whether the host ended, so that the page learns of it at once.
void LivePanel::tick() {
    const auto period = std::chrono::microseconds(1'000'000 / updates_per_second);
    while (!stopping_) {
        std::this_thread::sleep_for(period);
        uint64_t due = 0;
        {
            std::lock_guard lock(mutex_);
            if (playing_ && running_) {
                const auto now = std::chrono::steady_clock::now();
                due = std::min<uint64_t>(static_cast<uint64_t>((now - last_tick_) / period), updates_per_second);
                if (due > 0) last_tick_ = now;
            }
        }
        if (due == 0) {
            watch();
            continue;
        }
        try {
            command("0 update " + std::to_string(due), "update " + std::to_string(due), std::nullopt, due);
        } catch (const Refusal&) {
            // The panel is stopped and says why; the page offers a restart.
        }
    }
}

void LivePanel::watch() {
    std::unique_lock talking(host_mutex_, std::try_to_lock);
    if (!talking.owns_lock() || !session_) return;  // a command is in flight: it will notice
    if (const std::optional<std::string> ended = session_->ended()) stop_host(*ended, std::nullopt);
}

}  // namespace kestrel::serve
