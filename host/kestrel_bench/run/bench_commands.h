// The bench's commands apart from the live panel: `run` and `demo` (scenarios, each in its
// own host process, judged and drawn) and `render` (pictures and panels from traces). Each
// returns the bench's exit status: 0 all passed, 1 a scenario failed, 2 bad input.
#pragma once

#include "bench_locations.h"
#include "bench_options.h"

namespace kestrel::bench {

int run_command(const Options& options, const Locations& locations);
int demo_command(const Options& options, const Locations& locations);
int render_command(const Options& options, const Locations& locations);

}  // namespace kestrel::bench
