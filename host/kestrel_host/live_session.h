// `kestrel-host session`: keeps one module loaded and plays scenario commands that arrive
// one per line on standard input, answering each with one JSON line on standard output.
// The bench's live panel talks to the module through it.
#pragma once

#include <filesystem>

namespace kestrel {

// Loads the module, writes each gauge's trace head as gauge_info_dir/N.jsonl, then plays
// lines until the end of input or "quit". Returns a run status.
int run_live_session(const std::filesystem::path& module_file, const std::filesystem::path& gauge_info_dir);

}  // namespace kestrel
