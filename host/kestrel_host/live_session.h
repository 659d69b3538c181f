// `kestrel-host session`: keeps one module loaded and plays scenario commands that arrive
// one per line on standard input, answering each with one JSON line on standard output.
// The bench's live panel talks to the module through it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel {

// Loads the module, writes each driven gauge's trace head as gauge_info_dir/N.jsonl, then
// plays lines until the end of input or "quit". `only`: the gauges to drive, in any letter
// case (empty: all); the greeting lists every gauge the module has beside those driven.
// Returns a run status.
int run_live_session(const std::filesystem::path& module_file, const std::filesystem::path& gauge_info_dir,
                     const std::vector<std::string>& only = {});

}  // namespace kestrel
