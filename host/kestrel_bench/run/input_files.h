// The files a user hands run or render, checked before anything reads them, so that a
// name that is not there says "FILE: cannot read: reason" rather than a parser's message.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::bench {

// Scenario files named directly, or every *.scenario file of a directory, in name order;
// each input that cannot be read adds its line to `problems`.
std::vector<std::filesystem::path> scenario_files(const std::vector<std::string>& inputs,
                                                  std::vector<std::string>& problems);

}  // namespace kestrel::bench
