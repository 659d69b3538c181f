// `kestrel-bench serve`: the live panel. One host process keeps a module loaded; a local
// web server shows its gauges as the renderer draws them, passes clicks, host variables
// and key events to it, and turns the session into a scenario on request.
#pragma once

#include "bench_locations.h"
#include "bench_options.h"

namespace kestrel::serve {

// Serves options.inputs[0] until INT or TERM; returns the bench's exit status. Throws
// bench::UsageError for bad input.
int serve_command(const bench::Options& options, const bench::Locations& locations);

}  // namespace kestrel::serve
