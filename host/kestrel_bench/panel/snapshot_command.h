// `kestrel-bench snapshot --panel FILE`: every chosen window of a panel file drawn after N
// updates, each gauge run in its own host and drawn at its place and size, into
// OUT/panel/NN-TITLE.png. Returns the bench's exit status (0, or 2 for bad input).
#pragma once

#include "bench_locations.h"
#include "bench_options.h"

namespace kestrel::panel {

int snapshot_command(const bench::Options& options, const bench::Locations& locations);

}  // namespace kestrel::panel
