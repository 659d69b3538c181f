// The panel file as the bench read it, in words: each window with its title, background,
// size, the keys kept but not applied, each gauge with where it went or why it did not
// draw, and the sections not drawn.
#pragma once

#include <iosfwd>
#include <vector>

#include "panel_picture.h"
#include "panel_model.h"

namespace kestrel::panel {

void print_window(std::ostream& out, const Window& window, const std::vector<GaugeDrawing>& gauges);
void print_unused(std::ostream& out, const PanelFile& panel);

}  // namespace kestrel::panel
