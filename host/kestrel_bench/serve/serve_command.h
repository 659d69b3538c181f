// `kestrel-bench serve`: the live panel. One host process keeps a module loaded; a local
// web server shows its gauges as the renderer draws them, passes clicks, host variables
// and key events to it, and turns the session into a scenario on request.
#pragma once

#include "bench_locations.h"
#include "bench_options.h"

#include <cstddef>

namespace kestrel::serve {

// The server's workers and how long a client may take to send a request or read an
// answer: 48 stalled clients leave workers free for the page (serve_command.cpp has the
// figures), and a client on this machine or the next sends a request in milliseconds.
inline constexpr std::size_t server_workers = 64;
inline constexpr long read_timeout_seconds = 2;

// Serves options.inputs[0] until INT or TERM; returns the bench's exit status. Throws
// bench::UsageError for bad input.
int serve_command(const bench::Options& options, const bench::Locations& locations);

}  // namespace kestrel::serve
