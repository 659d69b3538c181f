// A panel window's modules, each in its own child host, driven as one panel: commands go
// to the hosts that must see them, key events one module's code sends are handed to the
// listeners of the others, and what every gauge shows is kept for the checks and pictures.
#include "panel_session.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <type_traits>
#include <variant>

#include "module_lookup.h"
#include "numbers.h"
#include "panel_reader.h"

namespace kestrel::panel {
namespace {

namespace fs = std::filesystem;
using bench::HostGone;

// Updates a host runs for one command line, as its session takes them.
constexpr uint64_t updates_per_line = 10'000;

std::string joined(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
}

// The first folder's MODULE file with the extension, in any letter case; else why not.
fs::path find_in(const std::vector<fs::path>& folders, const std::string& name, const std::string& extension,
                 std::string& missing) {
    for (const fs::path& folder : folders) {
        try {
            return require_module_file(folder, name, extension);
        } catch (const ModuleNotFound& error) {
            missing += (missing.empty() ? "" : "; ") + std::string(error.what());
        }
    }
    if (missing.empty()) missing = "no folder to look for " + name + extension + " in";
    return {};
}

std::string key_line(const KeyEvent& event) {
    return "key " + hex_word(event.id) + " " + std::to_string(static_cast<int32_t>(event.value));
}

}  // namespace

GaugePoint window_to_gauge(const PanelGauge& gauge, int x, int y) {
    const auto back = [](int point, int origin, int length, int pixels) {
        const double inside = (point - origin + 0.5) * pixels / std::max(1, length);
        return static_cast<int>(std::floor(inside));
    };
    return {back(x, gauge.rect.x, gauge.rect.width, gauge.width), back(y, gauge.rect.y, gauge.rect.height, gauge.height)};
}

PanelSession::PanelSession(std::vector<Window> windows, PanelSessionSettings settings)
    : windows_(std::move(windows)), settings_(std::move(settings)),
      abandon_(settings_.abandon != nullptr ? *settings_.abandon : never_) {
    readout_face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
    label_face_ = std::make_unique<picture::TextFace>(picture::default_label_font);
    fs::create_directories(settings_.work);
    const bool twin = settings_.host.kind == bench::HostKind::twin;
    for (std::size_t w = 0; w < windows_.size(); ++w) {
        for (const GaugeEntry& entry : windows_[w].gauges) {
            PanelGauge gauge;
            gauge.window = w;
            gauge.entry = entry;
            auto known = std::find_if(modules_.begin(), modules_.end(),
                                      [&](const PanelModule& module) { return same_name(module.name, entry.module); });
            if (known == modules_.end()) {
                PanelModule module;
                module.name = entry.module;
                std::string missing;
                module.gau = find_in(settings_.gau_folders, entry.module, ".gau", missing);
                if (!module.gau.empty() && twin) module.loaded = find_in(settings_.twin_folders, entry.module, ".so", missing);
                else module.loaded = module.gau;
                if (module.gau.empty() || module.loaded.empty()) module.stopped = missing;
                modules_.push_back(std::move(module));
                known = modules_.end() - 1;
            }
            gauge.module = static_cast<std::size_t>(known - modules_.begin());
            gauges_.push_back(std::move(gauge));
        }
    }
    for (PanelModule& module : modules_)
        if (module.stopped.empty()) start(module);
    refresh_problems();
    // Each gauge's rectangle from its own picture at scale 1, fixed for the session: a
    // host that stops later leaves its gauges where they were.
    std::size_t next = 0;
    for (std::size_t w = 0; w < windows_.size(); ++w) {
        const std::vector<GaugeDrawing> first = drawings(w, 1);
        for (const GaugeDrawing& drawing : first) {
            PanelGauge& gauge = gauges_[next++];
            gauge.rect = gauge_rect(drawing);
            if (drawing.picture) {
                gauge.width = drawing.picture->width();
                gauge.height = drawing.picture->height();
            }
        }
        sizes_.push_back(window_size(windows_[w], first));
    }
}

PanelSession::~PanelSession() {
    for (PanelModule& module : modules_) module.session.reset();
}

void PanelSession::start(PanelModule& module) {
    const std::size_t index = static_cast<std::size_t>(&module - modules_.data());
    const fs::path work = settings_.work / ("module" + std::to_string(index));
    std::error_code ignored;
    fs::remove_all(work, ignored);
    fs::create_directories(work);
    module.session.reset();
    module.stopped.clear();
    module.last_finished.clear();
    try {
        if (!module.pictures) module.pictures = std::make_unique<picture::PictureSet>(picture::PictureSet::from_module(module.gau));
        // Only the gauges the windows show run, as in the simulator: a module's other
        // gauges send no key events into the panel.
        std::vector<std::string> shown;
        for (const PanelGauge& gauge : gauges_)
            if (*gauge.module == index &&
                std::none_of(shown.begin(), shown.end(), [&](const std::string& name) { return same_name(name, gauge.entry.gauge); }))
                shown.push_back(gauge.entry.gauge);
        bench::StartedSession started =
            bench::start_session(settings_.host, module.loaded, work, std::chrono::duration<double>(settings_.timeout_seconds),
                                 abandon_, shown);
        module.module_gauges = std::move(started.module_gauges);
        module.gauges = std::move(started.gauges);
        module.areas = std::move(started.areas);
        module.states.clear();
        for (bench::AnsweredGauge& gauge : started.first.gauges) module.states.push_back(std::move(gauge.elements));
        module.vars = std::move(started.first.vars);
        module.listeners = started.first.listeners;
        module.session = std::move(started.session);
    } catch (const std::exception& error) {
        module.session.reset();
        module.stopped = error.what();
    }
    refresh_problems();
}

void PanelSession::stop(PanelModule& module, const std::string& what, const std::optional<std::string>& during) {
    module.session.reset();
    module.stopped = what + (during ? ", during '" + *during + "'" : std::string(" while it waited for a command")) + "; " +
                     (module.last_finished.empty() ? "it had finished no command since it started"
                                                   : "the last command it finished was '" + module.last_finished + "'");
    refresh_problems();
}

// Each gauge line's reason to be a placeholder: its module's, or a gauge the module lacks.
void PanelSession::refresh_problems() {
    for (PanelGauge& gauge : gauges_) {
        const PanelModule& module = modules_.at(*gauge.module);
        gauge.problem.clear();
        gauge.gauge.reset();
        for (std::size_t g = 0; g < module.gauges.size(); ++g)
            if (same_name(module.gauges[g].gauge, gauge.entry.gauge)) gauge.gauge = g;
        if (!module.stopped.empty()) {
            gauge.problem = module.stopped;
        } else if (!gauge.gauge) {
            const std::vector<std::string>& names = module.module_gauges;
            gauge.problem = module.gau.filename().string() + " has no gauge named " + gauge.entry.gauge + " (it has " +
                            (names.empty() ? "none" : joined(names)) + ")";
        }
    }
}

std::optional<bench::SessionAnswer> PanelSession::request(std::size_t index, const std::string& line,
                                                          const std::string& written, uint64_t updates,
                                                          StepResult& result) {
    PanelModule& module = modules_.at(index);
    if (!module.session) return std::nullopt;
    const auto stopped = [&](const std::string& what, const std::optional<std::string>& during) {
        stop(module, what, during);
        result.stopped.push_back(module.name + ": " + module.stopped);
    };
    // A host that ended since the last command is not blamed on this one.
    if (const std::optional<std::string> ended = module.session->ended()) {
        stopped(*ended, std::nullopt);
        return std::nullopt;
    }
    try {
        const nlohmann::json answer = module.session->request(
            line, std::chrono::duration<double>(settings_.timeout_seconds + static_cast<double>(updates) / 4.0), abandon_);
        if (!answer.value("ok", false)) {
            if (answer.value("fatal", false))
                throw HostGone("the module broke a host rule: " + answer.value("error", std::string("refused")));
            throw StepRefused(module.name + " refused '" + written + "': " + answer.value("error", std::string("refused")));
        }
        bench::SessionAnswer read = bench::read_session_answer(answer);
        if (read.gauges.size() != module.gauges.size()) throw HostGone("the host answered for a different number of gauges");
        for (std::size_t g = 0; g < read.gauges.size(); ++g) {
            if (read.gauges[g].elements.size() != module.gauges[g].elements.size())
                throw HostGone("the host answered for a different number of elements");
            module.states[g] = read.gauges[g].elements;
        }
        module.vars = read.vars;
        module.listeners = read.listeners;
        module.last_finished = written;
        return read;
    } catch (const HostGone& gone) {
        stopped(gone.what(), written);
        return std::nullopt;
    }
}

std::vector<KeyEvent> PanelSession::take_sent(std::size_t module, const bench::SessionAnswer& answer,
                                              StepResult& result) const {
    std::vector<KeyEvent> sent;
    for (std::size_t g = 0; g < answer.gauges.size(); ++g)
        for (const KeyEvent& event : answer.gauges[g].sent) {
            result.sent.push_back({gauge_name(module, g), event});
            sent.push_back(event);
        }
    return sent;
}

void PanelSession::forward(std::vector<std::pair<std::size_t, std::vector<KeyEvent>>> queue, StepResult& result) {
    int rounds = 0;
    while (!queue.empty()) {
        if (++rounds > max_forwarding_rounds)
            throw StepRefused("the modules' listeners answered each other's key events more than " +
                             std::to_string(max_forwarding_rounds) + " times in one step");
        std::vector<std::pair<std::size_t, std::vector<KeyEvent>>> next;
        for (const auto& [from, events] : queue)
            for (const KeyEvent& event : events)
                for (std::size_t to = 0; to < modules_.size(); ++to) {
                    if (to == from || !modules_[to].session || modules_[to].listeners == 0) continue;
                    const std::string line = key_line(event);
                    const std::optional<bench::SessionAnswer> answer = request(to, "0 " + line, line, 0, result);
                    if (!answer) continue;
                    if (std::vector<KeyEvent> sent = take_sent(to, *answer, result); !sent.empty())
                        next.emplace_back(to, std::move(sent));
                }
        queue = std::move(next);
    }
}

StepResult PanelSession::set(uint32_t token, double value) {
    StepResult result;
    const std::string line = "set " + std::to_string(token) + " " + exact_number(value);
    for (std::size_t m = 0; m < modules_.size(); ++m) request(m, "0 " + line, line, 0, result);
    return result;
}

StepResult PanelSession::update(uint64_t count) {
    StepResult result;
    const auto running = [&] {
        std::size_t hosts = 0, listeners = 0;
        for (const PanelModule& module : modules_)
            if (module.session) ++hosts, listeners += module.listeners;
        return std::pair{hosts, listeners};
    };
    uint64_t done = 0;
    while (done < count) {
        // Where a key event could cross from one module to another, the modules run
        // frame by frame so that it reaches the listeners within the frame it was sent in.
        const auto [hosts, listeners] = running();
        if (hosts == 0) break;
        const uint64_t chunk = hosts > 1 && listeners > 0 ? 1 : std::min(count - done, updates_per_line);
        const std::string line = "update " + std::to_string(chunk);
        std::vector<std::pair<std::size_t, std::vector<KeyEvent>>> queue;
        for (std::size_t m = 0; m < modules_.size(); ++m) {
            const std::optional<bench::SessionAnswer> answer = request(m, "0 " + line, line, chunk, result);
            if (!answer) continue;
            if (std::vector<KeyEvent> sent = take_sent(m, *answer, result); !sent.empty())
                queue.emplace_back(m, std::move(sent));
        }
        forward(std::move(queue), result);
        done += chunk;
    }
    updates_ += count;
    return result;
}

std::optional<std::size_t> PanelSession::gauge_at(std::size_t window, int x, int y) const {
    for (std::size_t i = gauges_.size(); i-- > 0;) {
        if (gauges_[i].window != window) continue;
        if (contains(gauges_[i].rect, x, y)) return i;
    }
    return std::nullopt;
}

std::string on_no_gauge(const Window& window, int x, int y) {
    return "point (" + std::to_string(x) + ", " + std::to_string(y) + ") of window " + two_digits(window.number) +
           " is on no gauge";
}

std::optional<std::string> PanelSession::click_refusal(std::size_t window, int x, int y) const {
    if (window >= windows_.size()) return "no window " + std::to_string(window);
    const std::optional<std::size_t> hit = gauge_at(window, x, y);
    if (!hit) return on_no_gauge(windows_[window], x, y);
    const PanelGauge& gauge = gauges_[*hit];
    if (!gauge.problem.empty())
        return "point (" + std::to_string(x) + ", " + std::to_string(y) + ") is on " + gauge.entry.module + "!" +
               gauge.entry.gauge + ", which does not run: " + gauge.problem;
    return std::nullopt;
}

StepResult PanelSession::click(std::size_t window, int x, int y, uint32_t flags) {
    if (const std::optional<std::string> refused = click_refusal(window, x, y)) throw StepRefused(*refused);
    const std::optional<std::size_t> hit = gauge_at(window, x, y);
    const PanelGauge& gauge = gauges_[*hit];
    const GaugePoint point = window_to_gauge(gauge, x, y);
    const std::string line = "click " + std::to_string(point.x) + " " + std::to_string(point.y) + " " + hex_word(flags);
    StepResult result;
    result.gauge = hit;
    const std::optional<bench::SessionAnswer> answer =
        request(*gauge.module, std::to_string(*gauge.gauge) + " " + line, line, 0, result);
    if (!answer) return result;
    result.area = answer->gauges.at(*gauge.gauge).area;
    if (std::vector<KeyEvent> sent = take_sent(*gauge.module, *answer, result); !sent.empty())
        forward({{*gauge.module, std::move(sent)}}, result);
    return result;
}

StepResult PanelSession::service(int32_t id, uint32_t extra) {
    StepResult result;
    const std::string line = "service " + std::to_string(id) + " " + hex_word(extra);
    for (std::size_t m = 0; m < modules_.size(); ++m)
        for (std::size_t g = 0; g < modules_[m].gauges.size(); ++g) {
            const std::optional<bench::SessionAnswer> answer = request(m, std::to_string(g) + " " + line, line, 0, result);
            if (!answer) break;
            if (std::vector<KeyEvent> sent = take_sent(m, *answer, result); !sent.empty())
                forward({{m, std::move(sent)}}, result);
        }
    return result;
}

StepResult PanelSession::key(KeyEvent event) {
    StepResult result;
    const std::string line = key_line(event);
    for (std::size_t m = 0; m < modules_.size(); ++m) {
        const std::optional<bench::SessionAnswer> answer = request(m, "0 " + line, line, 0, result);
        if (!answer) continue;
        if (std::vector<KeyEvent> sent = take_sent(m, *answer, result); !sent.empty())
            forward({{m, std::move(sent)}}, result);
    }
    return result;
}

std::optional<StepResult> PanelSession::apply(const scenario::Action& action, std::size_t window) {
    return std::visit(
        [&](const auto& step) -> std::optional<StepResult> {
            using A = std::decay_t<decltype(step)>;
            if constexpr (std::is_same_v<A, scenario::SetVariable>) return set(step.token, step.value);
            else if constexpr (std::is_same_v<A, scenario::RunUpdates>) return update(step.count);
            else if constexpr (std::is_same_v<A, scenario::Click>) return click(window, step.x, step.y, step.flags);
            else if constexpr (std::is_same_v<A, scenario::CallService>) return service(step.service_id, step.extra);
            else if constexpr (std::is_same_v<A, scenario::SendKey>) return key(step.event);
            else return std::nullopt;
        },
        action);
}

std::string PanelSession::gauge_name(std::size_t module, std::size_t gauge) const {
    return modules_.at(module).name + "!" + modules_.at(module).gauges.at(gauge).gauge;
}

ElementRef PanelSession::element(const scenario::PanelElement& named) const {
    // Only a gauge the windows show: a module's other gauges are none of the panel's.
    const auto placed = std::find_if(gauges_.begin(), gauges_.end(), [&](const PanelGauge& gauge) {
        return same_name(gauge.entry.module, named.module) && same_name(gauge.entry.gauge, named.gauge);
    });
    if (placed == gauges_.end()) {
        std::vector<std::string> names;
        for (const PanelGauge& gauge : gauges_) names.push_back(gauge.entry.module + "!" + gauge.entry.gauge);
        throw StepRefused("the panel shows no gauge " + named.module + "!" + named.gauge + " (it shows " +
                          (names.empty() ? "none" : joined(names)) + ")");
    }
    if (!placed->problem.empty())
        throw StepRefused(placed->entry.module + "!" + placed->entry.gauge + " does not run: " + placed->problem);
    const ElementRef place{*placed->module, *placed->gauge, 0};
    ElementRef ref = place;
    const std::vector<trace::ElementInfo>& elements = modules_.at(ref.module).gauges.at(ref.gauge).elements;
    if (const std::optional<std::size_t> index = scenario::element_index_label(named.element)) {
        if (*index >= elements.size())
            throw StepRefused(gauge_name(ref.module, ref.gauge) + " has no element " + named.element + " (it has [0] to [" +
                             std::to_string(elements.size() - 1) + "])");
        ref.element = *index;
        return ref;
    }
    const auto found = std::find_if(elements.begin(), elements.end(),
                                    [&](const trace::ElementInfo& info) { return info.label == named.element; });
    if (found == elements.end())
        throw StepRefused(gauge_name(ref.module, ref.gauge) + " has no element at tree path " + named.element);
    ref.element = static_cast<std::size_t>(found - elements.begin());
    return ref;
}

const trace::ElementState& PanelSession::state(const ElementRef& element) const {
    return modules_.at(element.module).states.at(element.gauge).at(element.element);
}

picture::Image PanelSession::render(std::size_t module, std::size_t gauge, int scale) {
    const PanelModule& owner = modules_.at(module);
    picture::Renderer renderer(*owner.pictures, *readout_face_);
    const trace::Frame frame{"panel", 0, updates_, owner.states.at(gauge)};
    return renderer.render(owner.gauges.at(gauge), frame, {scale});
}

std::vector<GaugeDrawing> PanelSession::drawings(std::size_t window, int scale) {
    std::vector<GaugeDrawing> drawings;
    for (const PanelGauge& gauge : gauges_) {
        if (gauge.window != window) continue;
        GaugeDrawing drawing{gauge.entry, std::nullopt, std::nullopt, gauge.problem, {}, scale};
        if (gauge.problem.empty() && gauge.gauge) {
            const PanelModule& module = modules_.at(*gauge.module);
            const trace::GaugeInfo& info = module.gauges.at(*gauge.gauge);
            try {
                drawing.picture = render(*gauge.module, *gauge.gauge, scale);
                drawing.size_x_mm = info.size_x_mm;
                drawing.areas = info.areas;
            } catch (const std::exception& error) {
                drawing.problem = std::string("cannot draw: ") + error.what();
            }
        }
        drawings.push_back(std::move(drawing));
    }
    return drawings;
}

picture::Image PanelSession::draw(std::size_t window, int scale, bool outline_areas) {
    std::vector<GaugeDrawing> now = drawings(window, scale);
    // The rectangles were fixed at the start: a gauge whose host stopped since keeps its place.
    std::size_t i = 0;
    for (const PanelGauge& gauge : gauges_) {
        if (gauge.window != window) continue;
        now[i].entry.width = gauge.rect.width;
        now[i].entry.height = gauge.rect.height;
        ++i;
    }
    return draw_window(windows_.at(window), now, scale, *label_face_, outline_areas);
}

std::vector<std::string> PanelSession::watch() {
    std::vector<std::string> ended;
    for (PanelModule& module : modules_) {
        if (!module.session) continue;
        if (const std::optional<std::string> how = module.session->ended()) {
            stop(module, *how, std::nullopt);
            ended.push_back(module.name + ": " + module.stopped);
        }
    }
    return ended;
}

PanelSessionSettings session_settings(const bench::Options& options, const bench::Locations& locations, bench::Host host) {
    PanelSessionSettings settings;
    if (options.gauges) {
        if (std::string problem = read_problem(*options.gauges, true); !problem.empty()) throw bench::UsageError(problem);
        settings.gau_folders = {*options.gauges};
    } else {
        for (const fs::path& folder : bench::gau_folders(options, locations)) {
            std::error_code missing;
            if (fs::is_directory(folder, missing)) settings.gau_folders.push_back(folder);
        }
    }
    settings.twin_folders = bench::module_folders(options, locations, bench::HostKind::twin);
    settings.timeout_seconds = options.timeout_or_default();
    settings.host = std::move(host);
    return settings;
}

}  // namespace kestrel::panel
