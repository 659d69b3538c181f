// Checking and expanding the inputs of run and render.
#include "input_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "module_lookup.h"

namespace kestrel::bench {
namespace {

namespace fs = std::filesystem;

constexpr const char* scenario_extension = ".scenario";

}  // namespace

std::vector<fs::path> scenario_files(const std::vector<std::string>& inputs, std::vector<std::string>& problems) {
    std::vector<fs::path> files;
    for (const std::string& input : inputs) {
        const fs::path path = input;
        if (std::string problem = read_problem(path, true); !problem.empty()) {
            problems.push_back(std::move(problem));
            continue;
        }
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            files.push_back(path);
            continue;
        }
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(path, error))
            if (entry.is_regular_file() && entry.path().extension() == scenario_extension) found.push_back(entry.path());
        if (error) problems.push_back(display_path(path) + ": cannot read: " + error.message());
        else if (found.empty()) problems.push_back(display_path(path) + ": no " + scenario_extension + " files in the directory");
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

}  // namespace kestrel::bench
