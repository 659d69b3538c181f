// A panel file's windows in the live panel: one panel session over every window, a host for
// each module file; each window is a picture of the page, its click areas scaled into
// window coordinates. A module host that stops leaves the others running, its gauges
// drawn as placeholders that say why.
#include <chrono>
#include <map>
#include <mutex>

#include "live_target.h"
#include "module_lookup.h"
#include "panel_picture.h"

namespace kestrel::serve {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// How long a frame waits for a step in flight before it shows the frame drawn last.
constexpr std::chrono::milliseconds frame_wait{200};

// What the page and the recorder need of a started session, fixed until the next start:
// read without the session, so that a host busy in a step holds up no poll.
struct Layout {
    json gauges = json::array();  // the page's pictures: one per window
    json modules = json::array();
    std::vector<std::pair<std::size_t, std::size_t>> recorded;  // module, gauge of each recorded state
    std::vector<std::string> names;                             // "KESTREL!AP" of each
    std::map<std::string, std::size_t> by_name;
    std::vector<std::vector<std::size_t>> shown;    // per window: the recorded gauges it shows
    std::vector<std::vector<std::size_t>> related;  // per window: every gauge of the modules it shows
    std::vector<std::vector<panel::Rect>> rects;     // per window: its gauges' rectangles
    std::vector<panel::WindowSize> sizes;
    std::string started;
};

class WindowsTarget : public LiveTarget {
public:
    WindowsTarget(panel::PanelFile panel, panel::PanelSessionSettings settings)
        : panel_(std::move(panel)), settings_(std::move(settings)) {}

    TargetAnswer start(const std::atomic<bool>& abandon) override {
        std::lock_guard lock(session_mutex_);
        session_.reset();
        frames_.clear();
        // The live panel's own flag, which lives as long as this target: a Restart makes a
        // command that hangs in any module's host give up.
        panel::PanelSessionSettings settings = settings_;
        settings.abandon = &abandon;
        session_ = std::make_unique<panel::PanelSession>(panel_.windows, settings);
        auto layout = std::make_shared<Layout>(lay_out(*session_));
        {
            std::lock_guard shown(layout_mutex_);
            layout_ = layout;
        }
        TargetAnswer first = answer(*layout, {});
        for (const panel::PanelModule& module : session_->modules())
            if (!module.stopped.empty()) first.notes.push_back(module.name + " does not run: " + module.stopped);
        return first;
    }

    void stop() override {
        std::lock_guard lock(session_mutex_);
        session_.reset();
    }

    TargetAnswer step(const TargetStep& step, const std::atomic<bool>&) override {
        std::lock_guard lock(session_mutex_);
        if (!session_) throw HostGone("the panel is not running");
        panel::StepResult result;
        try {
            // A gauge callback's service id reaches every gauge of the panel, as the
            // simulator's panel services do; a click goes to the window it is on.
            result = *session_->apply(step.action, step.picture.value_or(0));
        } catch (const panel::StepRefused& refused) {
            throw Refusal{400, refused.what()};
        }
        return answer(*layout(), result);
    }

    std::optional<std::string> ended(std::vector<std::string>& notes) override {
        std::unique_lock lock(session_mutex_, std::try_to_lock);
        if (!lock.owns_lock() || !session_) return std::nullopt;
        for (const std::string& stopped : session_->watch()) notes.push_back("host stopped: " + stopped);
        return std::nullopt;  // the rest of the panel runs on
    }

    json describe() const override {
        const std::shared_ptr<const Layout> now = layout();
        json out;
        out["module"] = panel_.file.filename().string();
        out["panel"] = display_path(panel_.file);
        out["gauges"] = now->gauges;
        out["modules"] = now->modules;
        return out;
    }

    std::size_t pictures() const override { return panel_.windows.size(); }

    void check_click(std::size_t picture, int x, int y) const override {
        const std::shared_ptr<const Layout> now = layout();
        for (const panel::Rect& rect : now->rects.at(picture))
            if (panel::contains(rect, x, y)) return;
        throw Refusal{400, panel::on_no_gauge(panel_.windows.at(picture), x, y)};
    }

    json readouts(const GaugeStates& states) const override {
        const std::shared_ptr<const Layout> now = layout();
        json out = json::array();
        for (const std::vector<std::size_t>& shown : now->shown) {
            json readouts = json::object();
            for (const std::size_t r : shown)
                for (std::size_t e = 0; r < states.size() && e < states[r].size(); ++e)
                    if (states[r][e].text)
                        readouts[now->names[r] + ":[" + std::to_string(e) + "]"] = latin1_to_utf8(*states[r][e].text);
            out.push_back(std::move(readouts));
        }
        return out;
    }

    std::vector<uint8_t> frame(std::size_t picture, const GaugeStates&, uint64_t, int scale) override {
        const auto key = std::pair{picture, scale};
        std::unique_lock lock(session_mutex_, std::defer_lock);
        if (!lock.try_lock_for(frame_wait)) {
            std::lock_guard cached(frames_mutex_);
            if (const auto found = frames_.find(key); found != frames_.end()) return found->second;
            lock.lock();  // nothing drawn yet: wait for the step
        }
        if (!session_) throw Refusal{409, "the panel is not running"};
        std::vector<uint8_t> png = picture::encode_png(session_->draw(picture, scale, false));
        std::lock_guard cached(frames_mutex_);
        frames_[key] = png;
        return png;
    }

    std::string gauge_name(std::size_t recorded) const override { return layout()->names.at(recorded); }

    std::string started() const override { return layout()->started; }

    std::pair<std::string, std::string> record(std::size_t picture, const SessionRecorder& recorder) const override {
        const std::shared_ptr<const Layout> now = layout();
        const panel::Window& window = panel_.windows.at(picture);
        std::vector<RecordedGauge> gauges;
        for (const std::size_t r : now->related.at(picture)) {
            const bool shown = std::find(now->shown[picture].begin(), now->shown[picture].end(), r) != now->shown[picture].end();
            gauges.push_back({r, now->names[r] + ":", shown});
        }
        // The panel file by its whole path: the recording is written beside the sessions,
        // far from it.
        const std::string header = "panel " + fs::absolute(panel_.file).generic_string() + "\nwindow " +
                                   std::to_string(window.number) + "\n";
        return {recorder.scenario_text(header, gauges, picture),
                panel_.file.stem().string() + "-window" + panel::two_digits(window.number)};
    }

private:
    std::shared_ptr<const Layout> layout() const {
        std::lock_guard lock(layout_mutex_);
        return layout_;
    }

    static Layout lay_out(const panel::PanelSession& session) {
        Layout layout;
        for (std::size_t m = 0; m < session.modules().size(); ++m) {
            const panel::PanelModule& module = session.modules()[m];
            for (std::size_t g = 0; g < module.gauges.size(); ++g) {
                layout.by_name[session.gauge_name(m, g)] = layout.recorded.size();
                layout.recorded.emplace_back(m, g);
                layout.names.push_back(session.gauge_name(m, g));
            }
            layout.modules.push_back({{"name", module.name}, {"loaded", display_path(module.loaded)},
                                      {"stopped", module.stopped}});
            layout.started += (layout.started.empty() ? "hosts started: " : ", ") + module.name +
                              (module.stopped.empty() ? " (" + display_path(module.loaded) + ")" : " does not run");
        }
        const auto recorded_of = [&](std::size_t m, std::size_t g) {
            return layout.by_name.at(session.gauge_name(m, g));
        };
        for (std::size_t w = 0; w < session.windows().size(); ++w) {
            const panel::Window& window = session.windows()[w];
            json areas = json::array();
            std::vector<std::size_t> shown, related;
            std::vector<panel::Rect> rects;
            for (const panel::PanelGauge& gauge : session.gauges()) {
                if (gauge.window != w) continue;
                rects.push_back(gauge.rect);
                const panel::PanelModule& module = session.modules().at(*gauge.module);
                for (std::size_t g = 0; g < module.gauges.size(); ++g)
                    if (std::find(related.begin(), related.end(), recorded_of(*gauge.module, g)) == related.end())
                        related.push_back(recorded_of(*gauge.module, g));
                if (!gauge.gauge || !gauge.problem.empty()) continue;
                const std::size_t r = recorded_of(*gauge.module, *gauge.gauge);
                if (std::find(shown.begin(), shown.end(), r) == shown.end()) shown.push_back(r);
                // The gauge's areas in window units, numbered after those of the gauges
                // before it, so that each keeps its parent.
                const std::size_t offset = areas.size();
                for (const json& area : module.areas.at(*gauge.gauge)) {
                    json placed = area;
                    const json& box = area.at("box");
                    const panel::Rect in_window =
                        area.value("whole", false)
                            ? gauge.rect
                            : panel::scaled_box(gauge.rect, gauge.width, gauge.height,
                                                {box.at(0).get<int>(), box.at(1).get<int>(), box.at(2).get<int>(),
                                                 box.at(3).get<int>()},
                                                1);
                    placed["box"] = {in_window.x, in_window.y, in_window.width, in_window.height};
                    placed["whole"] = false;
                    placed["index"] = offset + area.at("index").get<std::size_t>();
                    if (!area.at("parent").is_null()) placed["parent"] = offset + area.at("parent").get<std::size_t>();
                    placed["gauge"] = session.gauge_name(*gauge.module, *gauge.gauge);
                    areas.push_back(std::move(placed));
                }
            }
            const panel::WindowSize size = session.size(w);
            layout.gauges.push_back({{"name", panel::two_digits(window.number) + " " + window.title},
                                     {"width", size.width}, {"height", size.height}, {"areas", std::move(areas)}});
            layout.shown.push_back(std::move(shown));
            layout.related.push_back(std::move(related));
            layout.rects.push_back(std::move(rects));
            layout.sizes.push_back(size);
        }
        return layout;
    }

    TargetAnswer answer(const Layout& layout, const panel::StepResult& result) const {
        TargetAnswer out;
        std::map<uint32_t, double> vars;
        for (const panel::PanelModule& module : session_->modules()) {
            for (const auto& [token, value] : module.vars) vars.emplace(token, value);
            out.listeners += module.listeners;
        }
        out.vars.assign(vars.begin(), vars.end());
        for (const auto& [m, g] : layout.recorded) out.states.push_back(session_->modules()[m].states.at(g));
        for (const panel::PanelKeyEvent& sent : result.sent)
            if (const auto found = layout.by_name.find(sent.source); found != layout.by_name.end())
                out.sent.push_back({found->second, sent.event});
        out.updates = session_->updates();
        for (const std::string& stopped : result.stopped) out.notes.push_back("host stopped: " + stopped);
        return out;
    }

    panel::PanelFile panel_;
    panel::PanelSessionSettings settings_;
    std::timed_mutex session_mutex_;  // the session, which one step at a time drives
    std::unique_ptr<panel::PanelSession> session_;
    mutable std::mutex layout_mutex_;
    std::shared_ptr<const Layout> layout_ = std::make_shared<Layout>();
    std::mutex frames_mutex_;
    std::map<std::pair<std::size_t, int>, std::vector<uint8_t>> frames_;  // the last drawn, per window and scale
};

}  // namespace

std::unique_ptr<LiveTarget> panel_target(panel::PanelFile panel, panel::PanelSessionSettings settings) {
    return std::make_unique<WindowsTarget>(std::move(panel), std::move(settings));
}

}  // namespace kestrel::serve
