// `kestrel-bench serve`: the live panel. One host process keeps a module loaded; a local
// web server shows its gauges as the renderer draws them and passes clicks, host
// variables and key events to it, and turns the session into a scenario on request.
#pragma once

#include <filesystem>

namespace kestrel::serve {

// argv holds the arguments after "serve". Returns the bench's exit status.
int serve_main(int argc, char** argv, const std::filesystem::path& source_root);

extern const char* const usage_lines;

}  // namespace kestrel::serve
