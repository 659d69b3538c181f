// A panel window as one picture: its size in panel units, each gauge's rectangle (its
// entry's w and h, or the defaults its picture and header give), the background stretched
// across it, every gauge's picture scaled into its rectangle, placeholders where a gauge
// did not draw. One panel unit is `scale` pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel_model.h"
#include "png.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::panel {

// One gauge line as the window draws it: its picture, drawn `picture_scale` pixels to the
// gauge's pixel, or why there is none.
struct GaugeDrawing {
    GaugeEntry entry;
    std::optional<picture::Image> picture;
    std::optional<uint32_t> size_x_mm;  // from the gauge header
    std::string problem;                // the placeholder's reason when there is no picture
    std::vector<trace::ClickArea> areas;  // in the gauge's own pixels
    int picture_scale = 1;
};

struct Rect {
    int x = 0;  // panel units (area_box: window pixels)
    int y = 0;
    int width = 0;
    int height = 0;
};

inline bool contains(const Rect& rect, int x, int y) {
    return x >= rect.x && y >= rect.y && x < rect.x + rect.width && y < rect.y + rect.height;
}

// A placeholder's size where neither the entry nor a picture gives one.
inline constexpr int placeholder_width = 120;
inline constexpr int placeholder_height = 60;

// The gauge's rectangle: w from the entry, else the header's size_x_mm, else its picture's
// width; h from the entry, else in proportion to its picture.
Rect gauge_rect(const GaugeDrawing& gauge);

// The window's size: size_mm's W and H; without H, from the background's proportions,
// else down to the lowest gauge; without size_mm, the background's pixel width, else out
// to the rightmost gauge.
struct WindowSize {
    int width = 0;
    int height = 0;
};
WindowSize window_size(const Window& window, const std::vector<GaugeDrawing>& gauges);

// Colours of what the bench adds to a window: the panel behind a window without a
// background, a placeholder's fill and frame.
inline constexpr picture::Rgb placeholder_fill{72, 22, 26};
inline constexpr picture::Rgb placeholder_frame{232, 96, 96};

// What --areas adds: each click area's outline, and its label (tooltip, else help id) on
// a dark ground so that it reads over any gauge.
inline constexpr picture::Rgb area_outline{255, 214, 0};
inline constexpr picture::Rgb area_label_ground{16, 16, 16};
inline constexpr int area_label_size = 9;  // pixels at scale 1

// A box of a gauge's own pixels in window pixels at `scale`: scaled as the gauge's picture,
// pixel_width by pixel_height, is scaled into its rectangle.
Rect scaled_box(const Rect& rect, int pixel_width, int pixel_height, const Rect& box, int scale);
// A click area's box in window pixels: its gauge-pixel box scaled as the gauge's picture
// is into its rectangle; a whole-gauge area is the rectangle.
Rect area_box(const GaugeDrawing& gauge, const trace::ClickArea& area, int scale);
// What is written beside an area: its tooltip, else "help 0x...", else nothing.
std::string area_label(const trace::ClickArea& area);

picture::Image draw_window(const Window& window, const std::vector<GaugeDrawing>& gauges, int scale,
                           picture::TextFace& label_face, bool outline_areas = false);

// Copies the source into the rectangle, each target pixel the mean of the source pixels
// it covers. With black_is_clear, pure black source pixels are not drawn (the host's rule
// for a gauge's pictures) and a target pixel blends by how much of it is covered.
void paint_scaled(picture::Image& canvas, const picture::Image& source, int x, int y, int width, int height,
                  bool black_is_clear);

}  // namespace kestrel::panel
