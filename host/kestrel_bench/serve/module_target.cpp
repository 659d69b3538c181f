// One module's gauges in the live panel: one child `kestrel-host session`, fed one command
// line per step, whose answers give every gauge's state; each gauge is a picture of the
// page, drawn from the module's own pictures.
#include <mutex>

#include "json.h"
#include "live_target.h"
#include "module_lookup.h"
#include "renderer.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::serve {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class ModuleTarget : public LiveTarget {
public:
    ModuleTarget(ServedModule module, bench::Host host, fs::path work, double timeout_seconds)
        : module_(std::move(module)), host_(std::move(host)), work_(std::move(work)), timeout_seconds_(timeout_seconds) {
        pictures_ = picture::PictureSet::from_module(module_.pictures);
        face_ = std::make_unique<picture::TextFace>(picture::default_readout_font);
    }

    TargetAnswer start(const std::atomic<bool>& abandon) override {
        session_.reset();
        bench::StartedSession started =
            bench::start_session(host_, module_.loaded, work_, std::chrono::duration<double>(timeout_seconds_), abandon);
        if (gauges_.empty()) {
            gauges_ = std::move(started.gauges);
            areas_ = std::move(started.areas);
        }
        TargetAnswer first = answer_of(started.first);
        if (sizes_.empty())
            for (std::size_t i = 0; i < gauges_.size(); ++i) {
                const picture::Image image = render(i, first.states.at(i), first.updates, 1);
                sizes_.emplace_back(image.width(), image.height());
            }
        session_ = std::move(started.session);
        return first;
    }

    void stop() override { session_.reset(); }

    TargetAnswer step(const TargetStep& step, const std::atomic<bool>& abandon) override {
        if (!session_) throw HostGone("the host is not running");
        const json answer = session_->request(
            std::to_string(step.picture.value_or(0)) + " " + step.line,
            std::chrono::duration<double>(timeout_seconds_ + static_cast<double>(step.updates) / 4.0), abandon);
        if (!answer.value("ok", false)) {
            if (answer.value("fatal", false))
                throw HostGone("the module broke a host rule: " + answer.value("error", std::string("refused")));
            throw Refusal{400, answer.value("error", std::string("refused"))};
        }
        return answer_of(bench::read_session_answer(answer));
    }

    std::optional<std::string> ended(std::vector<std::string>&) override {
        return session_ ? session_->ended() : std::nullopt;
    }

    json describe() const override {
        json out;
        // The page is titled by the file the host really runs: the twin's .so with --native.
        out["module"] = module_.loaded.filename().string();
        out["module_name"] = module_.name;
        out["loaded"] = display_path(module_.loaded);
        out["pictures"] = display_path(module_.pictures);
        out["gauges"] = json::array();
        for (std::size_t i = 0; i < gauges_.size(); ++i)
            out["gauges"].push_back({{"name", gauges_[i].gauge}, {"width", sizes_[i].first}, {"height", sizes_[i].second},
                                     {"areas", areas_.at(i)}});
        return out;
    }

    std::size_t pictures() const override { return gauges_.size(); }

    void check_click(std::size_t picture, int x, int y) const override {
        const scenario::Click click{x, y, 0};
        if (!scenario::click_on_gauge(click, sizes_.at(picture).first, sizes_.at(picture).second))
            throw Refusal{400, scenario::click_outside_gauge(click, gauges_[picture].gauge, sizes_[picture].first,
                                                             sizes_[picture].second)};
    }

    json readouts(const GaugeStates& states) const override {
        json out = json::array();
        for (std::size_t g = 0; g < gauges_.size(); ++g) {
            json readouts = json::object();
            for (std::size_t e = 0; e < gauges_[g].elements.size(); ++e)
                if (states[g][e].text) readouts[gauges_[g].elements[e].label] = latin1_to_utf8(*states[g][e].text);
            out.push_back(std::move(readouts));
        }
        return out;
    }

    std::vector<uint8_t> frame(std::size_t picture, const GaugeStates& states, uint64_t updates, int scale) override {
        return picture::encode_png(render(picture, states.at(picture), updates, scale));
    }

    std::string gauge_name(std::size_t recorded) const override { return gauges_.at(recorded).gauge; }

    std::string started() const override { return "host started: " + display_path(module_.loaded); }

    std::pair<std::string, std::string> record(std::size_t picture, const SessionRecorder& recorder) const override {
        return {recorder.scenario_text("module " + module_.name + "\ngauge " + gauges_.at(picture).gauge + "\n",
                                       {{picture, "", true}}, picture),
                module_.name + "-" + gauges_[picture].gauge};
    }

private:
    TargetAnswer answer_of(bench::SessionAnswer read) const {
        if (read.gauges.size() != gauges_.size()) throw HostGone("the host answered for a different number of gauges");
        TargetAnswer out;
        for (std::size_t i = 0; i < read.gauges.size(); ++i) {
            if (read.gauges[i].elements.size() != gauges_[i].elements.size())
                throw HostGone("the host answered for a different number of elements");
            out.states.push_back(std::move(read.gauges[i].elements));
            for (const KeyEvent& event : read.gauges[i].sent) out.sent.push_back({i, event});
        }
        out.vars = std::move(read.vars);
        out.updates = read.updates;
        out.listeners = read.listeners;
        return out;
    }

    picture::Image render(std::size_t gauge, const std::vector<trace::ElementState>& states, uint64_t updates, int scale) {
        std::lock_guard lock(render_mutex_);
        picture::Renderer renderer(pictures_, *face_);
        trace::Frame frame{"live", 0, updates, states};
        return renderer.render(gauges_.at(gauge), frame, {scale});
    }

    ServedModule module_;
    bench::Host host_;
    fs::path work_;
    double timeout_seconds_;
    picture::PictureSet pictures_;
    // Written by the first start, before any other thread runs; read-only after.
    std::vector<trace::GaugeInfo> gauges_;
    std::vector<json> areas_;
    std::vector<std::pair<int, int>> sizes_;
    std::unique_ptr<bench::HostSession> session_;
    std::mutex render_mutex_;  // one font face, which draws one text at a time
    std::unique_ptr<picture::TextFace> face_;
};

}  // namespace

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

std::unique_ptr<LiveTarget> module_target(ServedModule module, bench::Host host, fs::path work, double timeout_seconds) {
    return std::make_unique<ModuleTarget>(std::move(module), std::move(host), std::move(work), timeout_seconds);
}

}  // namespace kestrel::serve
