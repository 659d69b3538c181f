// Drawing a panel window: layout in panel units, then pixels at the scale asked for.
#include "panel_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "panel_reader.h"
#include "renderer.h"

namespace kestrel::panel {
namespace {

using picture::Image;
using picture::Rgb;

int proportional(int length, int numerator, int denominator) {
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(length) * numerator / denominator)));
}

// The reason in lines of at most `columns` characters, broken at spaces where it can be.
std::vector<std::string> wrapped(const std::string& text, std::size_t columns) {
    std::vector<std::string> lines;
    std::string rest = text;
    while (!rest.empty()) {
        if (rest.size() <= columns) {
            lines.push_back(rest);
            break;
        }
        std::size_t cut = rest.rfind(' ', columns);
        if (cut == std::string::npos || cut == 0) cut = columns;
        lines.push_back(rest.substr(0, cut));
        rest = rest.substr(rest[cut] == ' ' ? cut + 1 : cut);
    }
    return lines;
}

void draw_placeholder(Image& canvas, const GaugeDrawing& gauge, const Rect& rect, int scale, picture::TextFace& face) {
    const int x0 = rect.x * scale, y0 = rect.y * scale, w = rect.width * scale, h = rect.height * scale;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool edge = x < scale || y < scale || x >= w - scale || y >= h - scale;
            canvas.set(x0 + x, y0 + y, edge ? placeholder_frame : placeholder_fill);
        }
    const int size = 10 * scale;
    const int line_height = size + 3 * scale;
    const int average_advance = std::max(1, face.text_width("abcdefghij", size) / 10);
    const std::size_t columns = static_cast<std::size_t>(std::max(8, (w - 4 * scale) / average_advance));
    std::vector<std::string> lines = {gauge.entry.module + "!" + gauge.entry.gauge};
    for (const std::string& line : wrapped(gauge.problem, columns)) lines.push_back(line);
    const std::size_t fit = static_cast<std::size_t>(std::max(1, (h - 2 * scale) / line_height));
    if (lines.size() > fit) lines.resize(fit);
    for (std::size_t i = 0; i < lines.size(); ++i)
        face.draw_centred(canvas, {x0 + 2 * scale, y0 + scale + static_cast<int>(i) * line_height, w - 4 * scale, line_height},
                          lines[i], Rgb{255, 230, 230}, size);
}

void outline(Image& canvas, const Rect& box, int thickness, Rgb colour) {
    for (int y = box.y; y < box.y + box.height; ++y)
        for (int x = box.x; x < box.x + box.width; ++x) {
            const bool edge = x < box.x + thickness || y < box.y + thickness || x >= box.x + box.width - thickness ||
                              y >= box.y + box.height - thickness;
            if (edge && x >= 0 && y >= 0 && x < canvas.width() && y < canvas.height()) canvas.set(x, y, colour);
        }
}

// The label just below the box, left-aligned with it, or above it where the window ends
// below; on its own dark ground.
void draw_area_label(Image& canvas, const Rect& box, const std::string& text, int scale, picture::TextFace& face) {
    const int size = area_label_size * scale;
    const int width = face.text_width(text, size) + 2 * scale;
    const int height = face.line_height(size);
    int y = box.y + box.height + scale;
    if (y + height > canvas.height()) y = std::max(0, box.y - height - scale);
    const int x = std::clamp(box.x, 0, std::max(0, canvas.width() - width));
    for (int row = y; row < std::min(canvas.height(), y + height); ++row)
        for (int column = x; column < std::min(canvas.width(), x + width); ++column) canvas.set(column, row, area_label_ground);
    face.draw_centred(canvas, {x, y, width, height}, text, area_outline, size);
}

void draw_areas(Image& canvas, const GaugeDrawing& gauge, int scale, picture::TextFace& face) {
    for (const trace::ClickArea& area : gauge.areas) {
        const Rect box = area_box(gauge, area, scale);
        if (box.width <= 0 || box.height <= 0) continue;
        outline(canvas, box, std::max(1, scale / 2), area_outline);
    }
    // Labels after every outline, so that no outline crosses a label.
    for (const trace::ClickArea& area : gauge.areas) {
        const Rect box = area_box(gauge, area, scale);
        if (const std::string label = area_label(area); !label.empty() && box.width > 0 && box.height > 0)
            draw_area_label(canvas, box, label, scale, face);
    }
}

}  // namespace

Rect scaled_box(const Rect& rect, int pixel_width, int pixel_height, const Rect& box, int scale) {
    const Rect whole{rect.x * scale, rect.y * scale, rect.width * scale, rect.height * scale};
    if (pixel_width <= 0 || pixel_height <= 0) return whole;
    const double across = static_cast<double>(whole.width) / pixel_width;
    const double down = static_cast<double>(whole.height) / pixel_height;
    // An edge falls before the first pixel whose centre lies at or past it: the pixels
    // inside are those whose centres lie inside, the same that a click there lands in.
    const auto at = [](double origin, double factor, int32_t n) {
        return static_cast<int>(std::ceil(origin + factor * n - 0.5));
    };
    const int left = at(whole.x, across, box.x), top = at(whole.y, down, box.y);
    const int right = at(whole.x, across, box.x + box.width), bottom = at(whole.y, down, box.y + box.height);
    return {left, top, right - left, bottom - top};
}

Rect area_box(const GaugeDrawing& gauge, const trace::ClickArea& area, int scale) {
    const Rect rect = gauge_rect(gauge);
    if (area.whole_gauge || !gauge.picture || gauge.picture->width() <= 0 || gauge.picture->height() <= 0)
        return {rect.x * scale, rect.y * scale, rect.width * scale, rect.height * scale};
    return scaled_box(rect, gauge.picture->width() / gauge.picture_scale, gauge.picture->height() / gauge.picture_scale,
                      {area.x, area.y, area.width, area.height}, scale);
}

std::string area_label(const trace::ClickArea& area) {
    if (area.tooltip && !area.tooltip->empty()) return *area.tooltip;
    if (area.help_id == 0) return "";
    char text[24];
    std::snprintf(text, sizeof text, "help 0x%04X", area.help_id);
    return text;
}

Rect gauge_rect(const GaugeDrawing& gauge) {
    const GaugeEntry& entry = gauge.entry;
    Rect rect{entry.x, entry.y, 0, 0};
    if (entry.width) rect.width = *entry.width;
    else if (gauge.picture && gauge.size_x_mm && *gauge.size_x_mm > 0)
        rect.width = static_cast<int>(std::min<uint32_t>(*gauge.size_x_mm, max_panel_side));
    else if (gauge.picture) rect.width = gauge.picture->width() / gauge.picture_scale;
    else rect.width = placeholder_width;
    if (entry.height) rect.height = *entry.height;
    else if (gauge.picture) rect.height = std::min(max_panel_side, proportional(rect.width, gauge.picture->height(), gauge.picture->width()));
    else rect.height = entry.width ? std::max(placeholder_height, rect.width / 2) : placeholder_height;
    return rect;
}

WindowSize window_size(const Window& window, const std::vector<GaugeDrawing>& gauges) {
    int right = 1;
    int bottom = 1;
    for (const GaugeDrawing& gauge : gauges) {
        const Rect rect = gauge_rect(gauge);
        right = std::max(right, rect.x + rect.width);
        bottom = std::max(bottom, rect.y + rect.height);
    }
    WindowSize size;
    const pe::Picture* background = window.background ? &window.background->picture : nullptr;
    size.width = window.size_width ? *window.size_width : background ? background->width : right;
    if (window.size_height) size.height = *window.size_height;
    else if (background) size.height = proportional(size.width, background->height, background->width);
    else size.height = bottom;
    size.width = std::clamp(size.width, 1, max_panel_side);
    size.height = std::clamp(size.height, 1, max_panel_side);
    return size;
}

void paint_scaled(Image& canvas, const Image& source, int x, int y, int width, int height, bool black_is_clear) {
    if (width <= 0 || height <= 0 || source.width() <= 0 || source.height() <= 0) return;
    const int first_column = std::max(0, -x), last_column = std::min(width, canvas.width() - x);
    const int first_row = std::max(0, -y), last_row = std::min(height, canvas.height() - y);
    for (int ty = first_row; ty < last_row; ++ty) {
        const int sy0 = static_cast<int>(static_cast<int64_t>(ty) * source.height() / height);
        const int sy1 = std::max(sy0 + 1, static_cast<int>(static_cast<int64_t>(ty + 1) * source.height() / height));
        for (int tx = first_column; tx < last_column; ++tx) {
            const int sx0 = static_cast<int>(static_cast<int64_t>(tx) * source.width() / width);
            const int sx1 = std::max(sx0 + 1, static_cast<int>(static_cast<int64_t>(tx + 1) * source.width() / width));
            uint64_t red = 0, green = 0, blue = 0, drawn = 0, all = 0;
            for (int sy = sy0; sy < sy1; ++sy)
                for (int sx = sx0; sx < sx1; ++sx) {
                    const Rgb pixel = source.at(sx, sy);
                    ++all;
                    if (black_is_clear && picture::is_transparent_pixel(pixel)) continue;
                    red += pixel.red;
                    green += pixel.green;
                    blue += pixel.blue;
                    ++drawn;
                }
            if (drawn == 0) continue;
            const Rgb mean{static_cast<uint8_t>(red / drawn), static_cast<uint8_t>(green / drawn),
                           static_cast<uint8_t>(blue / drawn)};
            canvas.blend(x + tx, y + ty, mean, static_cast<uint8_t>(255 * drawn / all));
        }
    }
}

Image draw_window(const Window& window, const std::vector<GaugeDrawing>& gauges, int scale, picture::TextFace& label_face,
                  bool outline_areas) {
    const WindowSize size = window_size(window, gauges);
    Image canvas(size.width * scale, size.height * scale, picture::panel_colour);
    if (window.background) {
        const pe::Picture& from = window.background->picture;
        Image background(from.width, from.height);
        for (int y = 0; y < from.height; ++y)
            for (int x = 0; x < from.width; ++x) background.set(x, y, picture::rgb_of_word(from.at(x, y)));
        paint_scaled(canvas, background, 0, 0, canvas.width(), canvas.height(), false);
    }
    for (const GaugeDrawing& gauge : gauges) {
        const Rect rect = gauge_rect(gauge);
        if (gauge.picture)
            paint_scaled(canvas, *gauge.picture, rect.x * scale, rect.y * scale, rect.width * scale, rect.height * scale, true);
        else
            draw_placeholder(canvas, gauge, rect, scale, label_face);
    }
    // Over every gauge, so that a neighbour drawn later hides no area.
    if (outline_areas)
        for (const GaugeDrawing& gauge : gauges)
            if (gauge.picture) draw_areas(canvas, gauge, scale, label_face);
    return canvas;
}

}  // namespace kestrel::panel
