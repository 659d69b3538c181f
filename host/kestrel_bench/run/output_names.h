// The names under --out that a run's scenarios or a render's traces write to: each file's
// path without its extension, relative to the folder all of them share, so that
// dirA/x.scenario and dirB/x.scenario write dirA/x and dirB/x, and a lone x.scenario x.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::bench {

// Throws UsageError for a file named twice, or a name that is no plain relative path.
std::vector<std::string> output_names(const std::vector<std::filesystem::path>& files);

// A name used as one file name under --out: picture-label characters (and '+', which
// joins the labels of a panel's gauges), not starting with '.', of a length any file
// system takes. `what` says what it names, for the message. Throws UsageError.
void require_plain_name(const std::string& name, const char* what);

// require_plain_name for each '/'-separated part of an output name.
void require_plain_path(const std::string& name, const char* what);

}  // namespace kestrel::bench
