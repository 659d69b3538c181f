// Printing what was read and what was made of it, line numbers included, so that a panel
// builder can find each line of the file in the listing.
#include "panel_listing.h"

#include <ostream>

#include "module_lookup.h"
#include "panel_picture.h"

namespace kestrel::panel {

void print_window(std::ostream& out, const Window& window, const std::vector<GaugeDrawing>& gauges) {
    const WindowSize size = window_size(window, gauges);
    out << "window " << two_digits(window.number) << " \"" << window.title << "\""
        << (window.titled ? "" : " (untitled)") << " (line " << window.line << "): " << size.width << " x " << size.height
        << " panel units";
    if (window.background)
        out << ", background " << display_path(window.background->file) << " (" << window.background->picture.width << " x "
            << window.background->picture.height << ", " << window.background->picture.bits_per_pixel << " bits)";
    else
        out << ", no background";
    out << '\n';
    for (const KeptKey& key : window.kept)
        out << "  line " << key.line << ": " << key.key << "=" << key.value
            << (key.known ? "  (kept, not applied)" : "  (unknown key, kept, not applied)") << '\n';
    for (const GaugeDrawing& gauge : gauges) {
        const Rect rect = gauge_rect(gauge);
        out << "  line " << gauge.entry.line << ": gauge" << two_digits(gauge.entry.number) << ' '
            << gauge.entry.module << '!' << gauge.entry.gauge << " at " << rect.x << ',' << rect.y << ", " << rect.width
            << " x " << rect.height;
        if (gauge.picture)
            out << " (drawn from " << gauge.picture->width() << " x " << gauge.picture->height() << " pixels)\n";
        else
            out << ": placeholder: " << gauge.problem << '\n';
    }
}

void print_unused(std::ostream& out, const PanelFile& panel) {
    for (const KeptKey& key : panel.title_keys)
        out << "line " << key.line << ": [Window Titles] " << key.key << "=" << key.value << "  (unknown key, kept)\n";
    for (const OtherSection& section : panel.not_drawn)
        out << "line " << section.line << ": [" << section.name << "] not drawn (" << section.keys
            << (section.keys == 1 ? " key)" : " keys)") << '\n';
}

}  // namespace kestrel::panel
