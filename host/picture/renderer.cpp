// The renderer: pictures placed by position minus anchor, needles turned about their
// pivot by inverse mapping (each canvas pixel looks up the picture pixel under it), icons
// chosen by value, read-outs in the seven-segment face centred in their text boxes.
#include "renderer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pe_image.h"
#include "scenario.h"

namespace kestrel::picture {
namespace {

constexpr double degrees_per_radian = 180.0 / std::numbers::pi;

// Clockwise from straight up, with y growing downwards.
double direction_of(double dx, double dy) { return std::atan2(dx, -dy) * degrees_per_radian; }

// An angle difference brought into (-180, 180].
double shorter_turn(double degrees) {
    double turn = std::fmod(degrees, 360.0);
    if (turn > 180.0) turn -= 360.0;
    if (turn <= -180.0) turn += 360.0;
    return turn;
}

}  // namespace

const Image& PictureSet::at(uint32_t id) const {
    const auto it = pictures_.find(id);
    if (it == pictures_.end()) throw ImageError(source + ": no bitmap resource " + std::to_string(id));
    return it->second;
}

PictureSet PictureSet::from_module(const std::filesystem::path& gau_file) {
    const pe::PeImage image = pe::PeImage::read(gau_file);
    PictureSet set;
    set.source = gau_file.string();
    for (uint32_t id : image.bitmap_ids()) {
        const pe::Picture decoded = image.picture(id);
        Image picture(decoded.width, decoded.height);
        for (int y = 0; y < decoded.height; ++y)
            for (int x = 0; x < decoded.width; ++x) picture.set(x, y, rgb_of_word(decoded.at(x, y)));
        set.add(id, std::move(picture));
    }
    return set;
}

double needle_rest_direction(int width, int height, trace::Point pivot) {
    const double dx = (width - 1) / 2.0 - pivot.x;
    const double dy = (height - 1) / 2.0 - pivot.y;
    if (dx == 0 && dy == 0) return 0;
    const double quarter_turns = std::round(direction_of(dx, dy) / 90.0);
    return std::fmod(quarter_turns * 90.0 + 360.0, 360.0);
}

double table_direction(const std::vector<trace::TablePoint>& table, trace::Point centre, double value) {
    if (table.empty()) return 0;
    auto direction_at = [&](std::size_t i) {
        return direction_of(table[i].point.x - centre.x, table[i].point.y - centre.y);
    };
    // A value that is not a number lies nowhere on the scale: no direction, nothing drawn,
    // as for a needle without a table.
    if (std::isnan(value)) return value;
    if (!(value > table.front().value)) return direction_at(0);
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
        const double low = table[i].value;
        const double high = table[i + 1].value;
        if (value > high) continue;
        const double fraction = high > low ? (value - low) / (high - low) : 0.0;
        const double from = direction_at(i);
        return from + fraction * shorter_turn(direction_at(i + 1) - from);
    }
    return direction_at(table.size() - 1);
}

std::optional<uint32_t> icon_picture_index(uint32_t icon_count, uint32_t icon_switch, double value) {
    if (!std::isfinite(value) || icon_count == 0) return std::nullopt;
    if (icon_count == 1 && icon_switch == 0) return value > 0 ? std::optional<uint32_t>(0) : std::nullopt;
    const double index = std::trunc(value);
    if (index < 0 || index >= icon_count) return std::nullopt;
    return static_cast<uint32_t>(index);
}

void Renderer::draw_picture(Image& canvas, const Image& picture, trace::Point at, int scale) const {
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const Rgb pixel = picture.at(x, y);
            if (is_transparent_pixel(pixel)) continue;
            for (int sy = 0; sy < scale; ++sy)
                for (int sx = 0; sx < scale; ++sx) canvas.set((at.x + x) * scale + sx, (at.y + y) * scale + sy, pixel);
        }
    }
}

void Renderer::draw_needle(Image& canvas, const Image& picture, trace::Point centre, trace::Point pivot,
                           double direction, int scale) const {
    const double turn = (direction - needle_rest_direction(picture.width(), picture.height(), pivot)) / degrees_per_radian;
    const double cos_turn = std::cos(turn);
    const double sin_turn = std::sin(turn);
    // Every picture pixel lies within this distance of the pivot, whatever the turn.
    const double reach = std::hypot(std::max(pivot.x, picture.width() - 1 - pivot.x),
                                    std::max(pivot.y, picture.height() - 1 - pivot.y)) + 1.0;
    const int first_x = static_cast<int>(std::floor((centre.x - reach) * scale));
    const int last_x = static_cast<int>(std::ceil((centre.x + reach + 1) * scale));
    const int first_y = static_cast<int>(std::floor((centre.y - reach) * scale));
    const int last_y = static_cast<int>(std::ceil((centre.y + reach + 1) * scale));
    for (int cy = std::max(first_y, 0); cy < std::min(last_y, canvas.height()); ++cy) {
        for (int cx = std::max(first_x, 0); cx < std::min(last_x, canvas.width()); ++cx) {
            // The canvas pixel's centre in gauge pixels, relative to the centre of rotation.
            const double rx = (cx + 0.5) / scale - 0.5 - centre.x;
            const double ry = (cy + 0.5) / scale - 0.5 - centre.y;
            // Turned back by the needle's turn, it lands on the picture pixel drawn here.
            const double px = pivot.x + rx * cos_turn + ry * sin_turn;
            const double py = pivot.y - rx * sin_turn + ry * cos_turn;
            const int sx = static_cast<int>(std::floor(px + 0.5));
            const int sy = static_cast<int>(std::floor(py + 0.5));
            if (!picture.contains(sx, sy)) continue;
            const Rgb pixel = picture.at(sx, sy);
            if (!is_transparent_pixel(pixel)) canvas.set(cx, cy, pixel);
        }
    }
}

void Renderer::draw_readout(Image& canvas, std::size_t index, const trace::ElementInfo& info, const std::string& text,
                            int scale, int line) {
    if (info.width <= 0 || info.height <= 0 || text.empty()) return;
    const int size = readout_face_.fitting_size(info.width * scale, info.height * scale, info.char_count);
    const std::string missing = readout_face_.draw_centred(
        canvas, {info.position.x * scale, info.position.y * scale, info.width * scale, info.height * scale}, text,
        rgb_of_windows_colour(info.fore_colour), size);
    if (missing.empty() || !warned_elements_.insert(index).second) return;
    warnings_.push_back({line, "element [" + std::to_string(index) + "] (" + info.label + ") shows " +
                                   scenario::quote_text(text) + ", and no read-out font draws " +
                                   scenario::quote_text(missing) + ": left blank"});
}

Image Renderer::render(const trace::GaugeInfo& gauge, const trace::Frame& frame, RenderOptions options) {
    if (options.scale != 1 && options.scale != 2 && options.scale != 4)
        throw ImageError("scale " + std::to_string(options.scale) + " is not 1, 2 or 4");
    trace::check_gauge(gauge, "gauge " + gauge.gauge);
    trace::check_frame(gauge, frame, "frame " + frame.label);
    if (gauge.elements.empty() || gauge.elements.front().kind == trace::kind_string)
        throw ImageError("gauge " + gauge.gauge + " has no root picture to draw on");
    const int scale = options.scale;
    const Image& background = pictures_.at(gauge.elements.front().resource_id);
    Image canvas(background.width() * scale, background.height() * scale);

    for (std::size_t i = 0; i < gauge.elements.size(); ++i) {
        const trace::ElementInfo& info = gauge.elements[i];
        const trace::ElementState& state = frame.elements[i];
        if ((state.image_flags & trace::flag_image_hidden) != 0) continue;
        // Before the first update an element has no value; it is drawn as for 0.
        const double value = state.value.value_or(0.0);
        const trace::Point corner{info.position.x - info.anchor.x, info.position.y - info.anchor.y};
        switch (info.kind) {
            case trace::kind_static_image:
                draw_picture(canvas, pictures_.at(info.resource_id), corner, scale);
                break;
            case trace::kind_needle: {
                const double direction = info.table.empty() ? value : table_direction(info.table, info.position, value);
                if (std::isfinite(direction))
                    draw_needle(canvas, pictures_.at(info.resource_id), info.position, info.anchor, direction, scale);
                break;
            }
            case trace::kind_icon:
                if (const auto index = icon_picture_index(info.icon_count, info.icon_switch, value))
                    draw_picture(canvas, pictures_.at(info.resource_id + *index), corner, scale);
                break;
            case trace::kind_string:
                draw_readout(canvas, i, info, state.text.value_or(""), scale, frame.line);
                break;
            default:
                throw ImageError("element " + info.label + " has the unknown kind " + std::to_string(info.kind));
        }
    }
    return canvas;
}

Image side_by_side(const std::vector<Image>& pictures, int gap) {
    if (pictures.empty()) throw ImageError("a panel needs at least one gauge");
    int width = gap * static_cast<int>(pictures.size() - 1);
    int height = 0;
    for (const Image& picture : pictures) {
        width += picture.width();
        height = std::max(height, picture.height());
    }
    Image panel(width, height, panel_colour);
    int x = 0;
    for (const Image& picture : pictures) {
        panel.paste(picture, x, 0);
        x += picture.width() + gap;
    }
    return panel;
}

std::vector<std::pair<std::string, Image>> panel_frames(Renderer& renderer, const std::vector<PanelGauge>& gauges,
                                                        RenderOptions options) {
    if (gauges.empty()) throw ImageError("a panel needs at least one gauge");
    std::size_t frame_count = 0;
    for (const PanelGauge& each : gauges) {
        if (each.gauge.module != gauges.front().gauge.module)
            throw ImageError("a panel shows the gauges of one module: " + gauges.front().source + " is of module " +
                             gauges.front().gauge.module + ", " + each.source + " of module " + each.gauge.module);
        if (each.frames.empty()) throw ImageError(each.source + ": gauge " + each.gauge.gauge + " has no frame to draw");
        frame_count = std::max(frame_count, each.frames.size());
    }
    std::vector<std::pair<std::string, Image>> panels;
    for (std::size_t k = 0; k < frame_count; ++k) {
        std::vector<Image> pictures;
        std::vector<std::string> labels;
        for (const PanelGauge& each : gauges) {
            const trace::Frame& frame = each.frames[std::min(k, each.frames.size() - 1)];
            pictures.push_back(renderer.render(each.gauge, frame, options));
            labels.push_back(frame.label);
        }
        const bool agree = std::all_of(labels.begin(), labels.end(), [&](const std::string& each) { return each == labels.front(); });
        std::string label = labels.front();
        for (std::size_t i = 1; i < labels.size() && !agree; ++i) label += "+" + labels[i];
        panels.emplace_back(std::move(label), side_by_side(pictures, panel_gap * options.scale));
    }
    return panels;
}

}  // namespace kestrel::picture
