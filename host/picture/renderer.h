// Drawing a gauge as the host would: the root picture first, then every element in
// drawing order, from a trace frame and the module's own bitmap resources.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "png.h"
#include "text_face.h"
#include "trace.h"

namespace kestrel::picture {

// The host's convention for element pictures drawn over each other: a pixel of pure
// black is not drawn. Every picture the renderer draws goes through this rule.
constexpr bool is_transparent_pixel(Rgb pixel) { return pixel == Rgb{0, 0, 0}; }

// A module's pictures by resource id.
class PictureSet {
public:
    void add(uint32_t id, Image picture) { pictures_[id] = std::move(picture); }
    // Throws ImageError naming the id (and where the pictures came from) when it is missing.
    const Image& at(uint32_t id) const;
    bool contains(uint32_t id) const { return pictures_.count(id) != 0; }

    // Every bitmap resource of a Windows module file (always the .gau: the native twin
    // carries no resources). Throws the PE reader's error naming the file.
    static PictureSet from_module(const std::filesystem::path& gau_file);

    std::string source = "pictures";  // for messages

private:
    std::map<uint32_t, Image> pictures_;
};

// Needle geometry, in degrees clockwise from straight up.

// The direction a needle picture points as drawn: from its pivot towards the picture's
// centre, to the nearest quarter turn (straight up for a picture centred on its pivot).
double needle_rest_direction(int width, int height, trace::Point pivot);
// The direction a needle table gives for a value: the direction from the centre to each
// table point, interpolated between the two points around the value along the shorter
// turn; values beyond the table take its first or last point; NaN gives NaN (not drawn).
double table_direction(const std::vector<trace::TablePoint>& table, trace::Point centre, double value);

// Which of an icon's pictures its value shows (0 for resource_id, 1 for the next), or
// none. One picture with icon_switch 0: a positive value shows it, any other hides it.
// Otherwise the value truncated is the picture's index, shown when within icon_count.
std::optional<uint32_t> icon_picture_index(uint32_t icon_count, uint32_t icon_switch, double value);

struct RenderOptions {
    int scale = 1;  // 1, 2 or 4: every pixel of the gauge becomes scale by scale pixels
};

// Something drawn other than the trace says, e.g. a read-out character that no font has:
// the scenario line of the frame where it was first seen, and what happened.
struct RenderWarning {
    int line = 0;
    std::string message;
};

class Renderer {
public:
    Renderer(const PictureSet& pictures, TextFace& readout_face) : pictures_(pictures), readout_face_(readout_face) {}

    // Throws ImageError for a frame that does not match the gauge or names missing pictures.
    Image render(const trace::GaugeInfo& gauge, const trace::Frame& frame, RenderOptions options = {});

    // What this renderer drew other than asked, once per element over all its frames.
    const std::vector<RenderWarning>& warnings() const { return warnings_; }

private:
    void draw_picture(Image& canvas, const Image& picture, trace::Point at, int scale) const;
    void draw_needle(Image& canvas, const Image& picture, trace::Point centre, trace::Point pivot, double direction,
                     int scale) const;
    void draw_readout(Image& canvas, std::size_t index, const trace::ElementInfo& info, const std::string& text,
                      int scale, int line);

    const PictureSet& pictures_;
    TextFace& readout_face_;
    std::vector<RenderWarning> warnings_;
    std::set<std::size_t> warned_elements_;
};

// A panel view: several gauges of one module side by side, as a panel window shows them.

// One gauge of a panel: where its trace came from (for messages), its stored fields and
// the frames to draw it in.
struct PanelGauge {
    std::string source;
    trace::GaugeInfo gauge;
    std::vector<trace::Frame> frames;
};

// Gauge pixels between two neighbours on a panel, and the panel behind them.
inline constexpr int panel_gap = 8;
inline constexpr Rgb panel_colour{28, 30, 34};

// Pictures left to right, top-aligned, gap pixels apart, on the panel colour.
Image side_by_side(const std::vector<Image>& pictures, int gap);

// Frame k of the panel shows frame k of every gauge, in the order given (a gauge with
// fewer frames keeps showing its last), scaled as the options say, gauges panel_gap
// gauge pixels apart. Its label is the gauges' frame labels joined by '+', or their one
// label where they agree. Throws ImageError when the gauges belong to different modules
// or one of them has no frame.
std::vector<std::pair<std::string, Image>> panel_frames(Renderer& renderer, const std::vector<PanelGauge>& gauges,
                                                        RenderOptions options = {});

}  // namespace kestrel::picture
